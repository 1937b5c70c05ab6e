// The toolkit's own texts (standard buttons, the file and print dialogs) are
// Russian once the program has set itself up. They come from Qt's
// translation, which the set-up installs; without it these tests fail.

#include "report/ui/QtReportDialogs.h"
#include "shell/Startup.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

namespace t5170 {
namespace {

class ToolkitTexts : public ::testing::Test {
protected:
    static void SetUpTestSuite() { setupApplication(*qApp); }
};

// Every caption, label, button text, tool tip and menu item a dialog shows,
// not what the operator types or the folder's contents.
QStringList shownTexts(const QWidget& dialog) {
    QStringList texts{dialog.windowTitle()};
    for (const QWidget* w : dialog.findChildren<QWidget*>()) {
        if (!w->toolTip().isEmpty())
            texts << w->toolTip();
        if (const auto* l = qobject_cast<const QLabel*>(w))
            texts << l->text();
        else if (const auto* b = qobject_cast<const QAbstractButton*>(w))
            texts << b->text();
        else if (const auto* g = qobject_cast<const QGroupBox*>(w))
            texts << g->title();
        else if (const auto* c = qobject_cast<const QComboBox*>(w); c && !c->isEditable())
            for (int i = 0; i < c->count(); ++i)
                texts << c->itemText(i);
        for (const QAction* a : w->actions())
            texts << a->text() << a->toolTip();
    }
    // Column headers of the file list ("Name", "Size", ...).
    for (const QTreeView* v : dialog.findChildren<QTreeView*>()) {
        const QAbstractItemModel* m = v->model();
        for (int c = 0; m && c < m->columnCount(); ++c)
            texts << m->headerData(c, Qt::Horizontal).toString();
    }
    texts.removeAll(QString());
    return texts;
}

// A Latin word of two letters or more, not an abbreviation such as "PDF";
// what `allowed` lists (our own filter texts, the folder shown) stays out.
QStringList englishTexts(const QStringList& texts, const QStringList& allowed = {}) {
    static const QRegularExpression latinWord(QStringLiteral("\\b(?=[A-Za-z]*[a-z])[A-Za-z]{2,}"));
    QStringList english;
    for (QString t : texts) {
        for (const QString& a : allowed)
            t.remove(a);
        if (t.contains(latinWord))
            english << t;
    }
    return english;
}

TEST_F(ToolkitTexts, TranslationIsInstalled) {
    const QString qm =
        QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_ru.qm");
    EXPECT_TRUE(QFileInfo::exists(qm))
        << qm.toStdString() << " is missing: install qt6-translations-l10n";
}

// A button's text without its mnemonic marker.
QString plain(const QAbstractButton* b) {
    QString t = b->text();
    return t.replace(QStringLiteral("&&"), QStringLiteral("\x01"))
        .remove(QLatin1Char('&'))
        .replace(QLatin1Char('\x01'), QLatin1Char('&'));
}

TEST_F(ToolkitTexts, SavePromptButtons) {
    const auto prompt = report::makeYesNoBox(nullptr, QStringLiteral("Отчет"),
                                             QStringLiteral("Сохранить изменения?"));
    EXPECT_EQ(plain(prompt->button(QMessageBox::Yes)), QStringLiteral("Да"));
    EXPECT_EQ(plain(prompt->button(QMessageBox::No)), QStringLiteral("Нет"));
}

TEST_F(ToolkitTexts, OpenAndSaveDialogsShowNoEnglishWord) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QStringList allowed = report::reportFileFilters() << dir.path();
    for (auto prepare : {report::prepareOpenDialog, report::prepareSaveDialog}) {
        QFileDialog dialog;
        prepare(dialog);
        dialog.setDirectory(dir.path());
        dialog.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        const QStringList english = englishTexts(shownTexts(dialog), allowed);
        EXPECT_TRUE(english.isEmpty()) << dialog.windowTitle().toStdString() << ": "
                                       << english.join(QStringLiteral(" | ")).toStdString();
        dialog.reject();
    }
}

TEST_F(ToolkitTexts, PrintDialogShowsNoEnglishWord) {
    QPrinter printer;
    QPrintDialog dialog(&printer);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    // The printer's own name (such as "Print to File (PDF)" when no printer
    // is configured) comes from the system, not from the toolkit's texts.
    QStringList names;
    if (const auto* printers = dialog.findChild<QComboBox*>(QStringLiteral("printers")))
        for (int i = 0; i < printers->count(); ++i)
            names << printers->itemText(i);
    const QStringList english = englishTexts(shownTexts(dialog), names);
    EXPECT_TRUE(english.isEmpty()) << english.join(QStringLiteral(" | ")).toStdString();
    dialog.reject();
}

} // namespace
} // namespace t5170
