#pragma once
// A plain SQL query over a journal file on a connection of the test's own,
// to compare what the program shows with what the file holds.

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

#include <gtest/gtest.h>

namespace t5170::testing {

// The first column of every row `sql` gives.
inline QVariantList plainColumn(const QString& path, const QString& sql) {
    const QString name = QStringLiteral("test-plain-sql");
    QVariantList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        EXPECT_TRUE(db.open());
        QSqlQuery q(db);
        EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
        while (q.next())
            out << q.value(0);
    }
    QSqlDatabase::removeDatabase(name);
    return out;
}

} // namespace t5170::testing
