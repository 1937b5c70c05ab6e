#pragma once
// The main window with its report, on the offscreen platform: dialogs that
// answer from a script, error boxes recorded with the status text they were
// shown over, fixtures copied into a temporary folder, results fed to the
// window's own decoder, and a look into the report's workbook.

#include "FailingAutomation.h"
#include "ScriptedDialogs.h"
#include "TestData.h"
#include "Wait.h"
#include "report/TRepWorkbook.h"
#include "sheet/Automation.h"
#include "shell/Conpc.h"
#include "shell/Messages.h"

#include <QByteArray>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// Readable texts in test failures.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QStringList& l, std::ostream* os) {
    *os << '{' << l.join(QStringLiteral("|")).toStdString() << '}';
}

namespace t5170::testing {

// Bytes of a result as the instrument sends them, up to and without 0x5E.
inline QByteArray resultBytes(TIzmType kind, quint16 volts, qint32 kOm = 0, qint32 kOm2 = 0,
                              quint16 koef = 0) {
    QByteArray b;
    auto le = [&b](quint32 v, int n) {
        for (int i = 0; i < n; ++i)
            b.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    b.append(char(0x5D));
    b.append(static_cast<char>(0x5F + kind));
    b.append(char(0x63));
    le(volts, 2);
    if (kind != izmU) {
        b.append(char(0x64));
        le(static_cast<quint32>(kOm), 4);
    }
    if (kind == izmAbs || kind == izmPol) {
        b.append(char(0x65));
        le(static_cast<quint32>(kOm2), 4);
        b.append(char(0x66));
        le(koef, 2);
    }
    return b;
}

class ReportWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        makeForm(QStringLiteral("[Connection]\r\nComPort=%1\r\n").arg(dir.filePath("no-port")));
    }

    void TearDown() override {
        form.reset();
        setErrorBoxHandler({});
    }

    void makeForm(const QString& ini) {
        QFile f(dir.filePath(QStringLiteral("t5170.INI")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(ini.toUtf8());
        f.close();
        setErrorBoxHandler([this](QWidget*, const QString& caption, const QString& text) {
            topLevel.push_back({caption, text, form ? form->panelText(0) : QString()});
        });
        form = std::make_unique<TFormMain>(f.fileName());
        topLevel.clear();
        rep().setDialogs(dialogs);
        dialogs.status = [this] { return form->panelText(0); };
    }

    report::TRepWorkbook& rep() { return form->report(); }
    QString status() const { return form->panelText(0); }

    // Every call from now on goes through a plan that can make it fail.
    automation::FailurePlan& failing() {
        plan = std::make_shared<automation::FailurePlan>();
        rep().setApplicationFactory(automation::failingApplicationFactory(plan));
        return *plan;
    }

    QString path(const QString& name) const { return dir.filePath(name); }
    // A copy of a fixture workbook in the temporary folder.
    QString fixture(const QString& name) const {
        const QString to = path(name);
        QFile::remove(to);
        EXPECT_TRUE(QFile::copy(QStringLiteral(T5170_FIXTURES_DIR "/") + name, to))
            << name.toStdString();
        QFile(to).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        return to;
    }

    // Bytes through the window's own decoder, as one receive pass.
    void feed(const QByteArray& bytes) {
        TComChannel& ch = form->channel();
        ASSERT_LE(ch.RxCount + bytes.size(), TComChannel::RxCapacity);
        std::memcpy(ch.RxBuf.data() + ch.RxCount, bytes.constData(),
                    static_cast<std::size_t>(bytes.size()));
        ch.RxCount += static_cast<int>(bytes.size());
        form->DecodeReceived();
    }

    // The form's report labels, in the order the report resets them.
    QStringList reportTexts() const {
        return {form->LabRepName->text(),    form->LabReportType->text(),
                form->LabReportDate->text(), form->LabRepRecType->text(),
                form->LabRepRecDate->text(), form->LabRepRecTime->text()};
    }
    std::vector<bool> valueLabelsShown() const {
        return {!form->LabRepRecU->isHidden(), !form->LabRepRecR->isHidden(),
                !form->LabRepRecR2->isHidden(), !form->LabRepRecK->isHidden()};
    }
    QStringList valueTexts() const {
        return {form->LabRepRecU->text(), form->LabRepRecR->text(), form->LabRepRecR2->text(),
                form->LabRepRecK->text()};
    }

    // A cell of the open report's sheet for `kind`.
    automation::CellValue cell(TIzmType kind, int row, int column) {
        return rep().sheets()[kind]->Cells(row, column)->Value();
    }

    QTemporaryDir dir;
    ScriptedDialogs dialogs; // outlives the form that points to it
    std::vector<Box> topLevel;
    std::shared_ptr<automation::FailurePlan> plan;
    std::unique_ptr<TFormMain> form;
};

// A workbook file read on its own, with a fresh application.
class Workbook {
public:
    explicit Workbook(const QString& path) {
        app_ = automation::createApplication(QStringLiteral("Excel.Application"));
        book_ = app_->WorkBooks()->Open(path, 0, false, 1);
    }
    ~Workbook() {
        try {
            app_->Quit();
        } catch (...) {
        }
    }
    automation::WorksheetPtr sheet(int position) { return book_->WorkSheets(position); }
    QString text(int position, int row, int column) {
        return sheet(position)->Cells(row, column)->Value().toText();
    }
    // First row from 2 down with an empty column-1 cell.
    int freeRow(int position) {
        int row = 2;
        while (!text(position, row, 1).isEmpty())
            ++row;
        return row;
    }

private:
    automation::ApplicationPtr app_;
    automation::WorkbookPtr book_;
};

} // namespace t5170::testing
