// The standard dialogs the report shows: their filters, extension and boxes,
// and the question before a save replaces an existing file.

#include "TestData.h"
#include "report/ui/QtReportDialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

using namespace t5170::report;
using t5170::testing::u8;

namespace {

template <class T> T* topLevel() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* t = qobject_cast<T*>(w); t && t->isVisible())
            return t;
    return nullptr;
}

// Calls `step` on the visible top-level T every 20 ms while the driver
// lives. A timer is not fired again while its own slot runs, so a box opened
// from inside `step` needs a driver of its own. A dialog finished before its
// exec() had entered its loop (the timer can fire while the dialog is being
// shown) is finished once more, so that exec() returns.
template <class T> std::unique_ptr<QTimer> drive(std::function<void(T*)> step) {
    auto timer = std::make_unique<QTimer>();
    auto acted = std::make_shared<QPointer<T>>();
    QObject::connect(timer.get(), &QTimer::timeout, [step, acted] {
        if (*acted && !(*acted)->isVisible()) {
            static_cast<QDialog*>(acted->data())->done((*acted)->result());
            return;
        }
        if (T* w = topLevel<T>()) {
            *acted = w;
            step(w);
        }
    });
    timer->start(20);
    return timer;
}

// Types a file name as the operator would (selectFile() leaves a focused
// name field alone).
void typeName(QFileDialog* dialog, const QString& name) {
    auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    ASSERT_TRUE(edit);
    edit->setText(name);
}

// Whatever is still open after a while is cancelled, so that a test fails
// instead of waiting for ever.
std::unique_ptr<QTimer> watchdog() {
    auto timer = std::make_unique<QTimer>();
    QObject::connect(timer.get(), &QTimer::timeout, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible())
                d->reject();
    });
    timer->start(20000);
    return timer;
}

} // namespace

TEST(ReportDialogs, SaveDialogOffersExcelFilesAddsXlsAndConfirmsOverwrite) {
    QFileDialog d;
    prepareSaveDialog(d);
    EXPECT_EQ(d.acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(d.nameFilters(),
              (QStringList{u8("Файлы Excel (*.xls *.xlsx)"), u8("Все файлы (*.*)")}));
    EXPECT_EQ(d.selectedNameFilter(), u8("Файлы Excel (*.xls *.xlsx)"));
    EXPECT_EQ(d.defaultSuffix(), u8("xls"));
    EXPECT_FALSE(d.testOption(QFileDialog::DontConfirmOverwrite));
}

TEST(ReportDialogs, OpenDialogOffersExcelFilesWithoutDefaultExtension) {
    QFileDialog d;
    prepareOpenDialog(d);
    EXPECT_EQ(d.acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(d.nameFilters(),
              (QStringList{u8("Файлы Excel (*.xls *.xlsx)"), u8("Все файлы (*.*)")}));
    EXPECT_EQ(d.selectedNameFilter(), u8("Файлы Excel (*.xls *.xlsx)"));
    EXPECT_TRUE(d.defaultSuffix().isEmpty());
}

TEST(ReportDialogs, BoxesHaveTheirIconsAndButtons) {
    auto error = makeErrorBox(nullptr, u8("Ошибка"), u8("Невозможно сохранить отчет"));
    EXPECT_EQ(error->icon(), QMessageBox::Critical);
    EXPECT_EQ(error->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(error->windowTitle(), u8("Ошибка"));
    EXPECT_EQ(error->text(), u8("Невозможно сохранить отчет"));

    auto ask = makeYesNoBox(nullptr, u8("Предупреждение"), u8("Отчет не сохранен \n Сохранить?"));
    EXPECT_EQ(ask->icon(), QMessageBox::Warning);
    // No Cancel: once asked, the close goes on.
    EXPECT_EQ(ask->standardButtons(), QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(ask->text(), u8("Отчет не сохранен \n Сохранить?"));
}

TEST(ReportDialogs, ErrorBoxesGoWhereTheProgramSendsThem) {
    QStringList shown;
    QtReportDialogs d(
        nullptr, [&](const QString& caption, const QString& text) { shown << caption << text; });
    d.errorBox(u8("Ошибка"), u8("Неправильный формат файла "));
    EXPECT_EQ(shown, (QStringList{u8("Ошибка"), u8("Неправильный формат файла ")}));
}

// Mend: replacing a report without a word would lose its records.
TEST(ReportDialogs, SavingOntoAnExistingFileAsksFirst) {
    QTemporaryDir dir;
    const QString existing = dir.filePath(u8("отчет.xls"));
    {
        QFile f(existing);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("old");
    }
    QtReportDialogs dialogs(nullptr);

    for (bool replace : {false, true}) {
        SCOPED_TRACE(replace);
        QStringList questions;
        auto answer = drive<QMessageBox>([&](QMessageBox* box) {
            questions << box->text();
            box->button(replace ? QMessageBox::Yes : QMessageBox::No)->click();
        });
        auto type = drive<QFileDialog>([&](QFileDialog* fd) {
            if (!questions.isEmpty()) {
                // Refused: the dialog stayed open for another name.
                fd->reject();
                return;
            }
            fd->setDirectory(dir.path());
            typeName(fd, u8("отчет.xls"));
            static_cast<QDialog*>(fd)->accept();
        });
        auto guard = watchdog();
        const std::optional<QString> chosen = dialogs.saveFileName();
        EXPECT_EQ(questions.size(), 1);
        if (replace) {
            ASSERT_TRUE(chosen);
            EXPECT_EQ(*chosen, existing);
        } else {
            EXPECT_FALSE(chosen);
        }
    }
}

TEST(ReportDialogs, ANameWithoutExtensionGetsXlsAndXlsxStays) {
    QTemporaryDir dir;
    QtReportDialogs dialogs(nullptr);
    const struct {
        const char* typed;
        const char* chosen;
    } cases[] = {{"цех1", "цех1.xls"}, {"цех2.xlsx", "цех2.xlsx"}};
    for (const auto& c : cases) {
        auto type = drive<QFileDialog>([&](QFileDialog* fd) {
            fd->setDirectory(dir.path());
            typeName(fd, u8(c.typed));
            static_cast<QDialog*>(fd)->accept();
        });
        auto guard = watchdog();
        const std::optional<QString> chosen = dialogs.saveFileName();
        ASSERT_TRUE(chosen) << c.typed;
        EXPECT_EQ(*chosen, dir.filePath(u8(c.chosen)));
    }
}
