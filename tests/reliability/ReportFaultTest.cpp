// The report against failing disks and files changed behind its back: every
// failure is reported, an open report keeps all its records, and a file
// saved before is never damaged.

#include "FaultInjection.h"
#include "SoakRig.h"

#include "core/Texts.h"
#include "report/ReportLayout.h"
#include "sheet/WorkbookFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace t5170::testing {
namespace {

const QString CannotSave = QStringLiteral("Невозможно сохранить отчет");

// Runs the current test again in a user and mount namespace of its own, in
// which this user is root; succeeds when it passed there.
::testing::AssertionResult passesAsRootOfOwnNamespace() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString filter = QString::fromLatin1(info->test_suite_name()) + QLatin1Char('.') +
                           QString::fromLatin1(info->name());
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("unshare"),
                {QStringLiteral("--map-root-user"), QStringLiteral("--mount"),
                 QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath(),
                 QStringLiteral("--gtest_filter=") + filter});
    if (!child.waitForFinished(120000))
        return ::testing::AssertionFailure()
               << "unshare did not finish: " << qPrintable(child.errorString());
    const QByteArray out = child.readAll();
    if (child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0 &&
        out.contains("[  PASSED  ] 1 test"))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "in a namespace of its own (unshare --map-root-user --mount):\n"
           << out.toStdString();
}

class ReportFaults : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        report.CreateReport();
        ASSERT_TRUE(report.IsOpen);
    }
    void TearDown() override {
        if (report.IsOpen) {
            report.IsSaved = true;
            report.CloseReport();
        }
    }

    QString path(const QString& name) const {
        return dir.filePath(name + QString::fromLatin1(GetParam()));
    }

    // Resistance results, each with its own resistance so rows can be told apart.
    void addRecords(int count) {
        for (int i = 0; i < count; ++i, ++added) {
            tek.Kind = izmR;
            tek.U = 1000;
            const RangedResistance rr = rangeResistance(1000 + added);
            tek.RkOm = rr.kOm;
            tek.R = rr.value;
            tek.RUnit = rr.unit;
            tek.Time = QDateTime(QDate(2026, 3, 1), QTime(9, 0).addSecs(added));
            tek.Valid = true;
            report.AddRecord(report::Which::Latest);
        }
        ASSERT_EQ(report.NextRow[izmR], 2 + added);
    }

    // The report's own Save or Save As; true when no error box came.
    bool saveAs(const QString& to) {
        const auto before = dialogs.errors.size();
        dialogs.saveNames = {to};
        report.SaveReportAs();
        return dialogs.errors.size() == before;
    }
    bool save() {
        const auto before = dialogs.errors.size();
        report.SaveReport();
        return dialogs.errors.size() == before;
    }

    // Records on the resistance sheet of the file at `file`, -1 if it does
    // not open.
    static int rowsInFile(const QString& file) {
        try {
            const sheet::Workbook book = sheet::openWorkbook(file);
            const auto& s =
                book.sheets.at(static_cast<std::size_t>(report::sheetSpec(izmR).position - 1));
            int row = 1;
            while (s.find(row, 0) && s.find(row, 0)->kind != sheet::Cell::Kind::Empty)
                ++row;
            return row - 1;
        } catch (const std::exception&) {
            return -1;
        }
    }

    // Files in `folder` other than `expected`: a failed save must leave no
    // temporary file behind.
    static QStringList strays(const QString& folder, const QStringList& expected) {
        QStringList out;
        for (const QString& f : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
            if (!expected.contains(f))
                out << f;
        return out;
    }

    void expectStillOpenWithAll() {
        EXPECT_TRUE(report.IsOpen);
        EXPECT_FALSE(report.IsSaved);
        EXPECT_EQ(report.NextRow[izmR], 2 + added);
    }

    QTemporaryDir dir;
    TIzmResult tek;
    TIzmResult prev;
    RigView view{tek, prev};
    ScriptedDialogs dialogs;
    report::TRepWorkbook report{view, dialogs};
    int added = 0;
};

TEST_P(ReportFaults, SaveAsIntoReadOnlyFolderIsReportedAndTheReportStaysOpen) {
    addRecords(3);
    const QString folder = dir.filePath(QStringLiteral("ro"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString target = folder + QStringLiteral("/report") + QString::fromLatin1(GetParam());
    {
        ReadOnlyFolder ro(folder);
        ASSERT_TRUE(ro.effective()) << "cannot make a folder read-only here";
        EXPECT_FALSE(saveAs(target));
    }
    EXPECT_EQ(dialogs.errorTexts().value(0), CannotSave);
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_EQ(strays(folder, {}), QStringList());
    expectStillOpenWithAll();
    // Saved elsewhere, nothing is missing.
    ASSERT_TRUE(saveAs(path(QStringLiteral("elsewhere"))));
    EXPECT_EQ(rowsInFile(path(QStringLiteral("elsewhere"))), 3);
}

TEST_P(ReportFaults, SaveIntoFolderThatBecameReadOnlyKeepsThePreviousFile) {
    addRecords(3);
    const QString file = path(QStringLiteral("report"));
    ASSERT_TRUE(saveAs(file));
    addRecords(2);
    {
        ReadOnlyFolder ro(dir.path());
        ASSERT_TRUE(ro.effective());
        EXPECT_FALSE(save());
    }
    EXPECT_EQ(dialogs.errorTexts().value(0), CannotSave);
    EXPECT_EQ(rowsInFile(file), 3);
    EXPECT_EQ(strays(dir.path(), {QFileInfo(file).fileName()}), QStringList());
    expectStillOpenWithAll();
    ASSERT_TRUE(save());
    EXPECT_EQ(rowsInFile(file), 5);
}

TEST_P(ReportFaults, SaveOntoFullDiskKeepsThePreviousFile) {
    addRecords(3);
    const QString file = path(QStringLiteral("report"));
    ASSERT_TRUE(saveAs(file));
    addRecords(200);
    {
        FileSizeLimit full(1024); // no file can grow past 1 KiB
        EXPECT_FALSE(save());
    }
    EXPECT_EQ(dialogs.errorTexts().value(0), CannotSave);
    EXPECT_EQ(rowsInFile(file), 3);
    EXPECT_EQ(strays(dir.path(), {QFileInfo(file).fileName()}), QStringList());
    expectStillOpenWithAll();
    ASSERT_TRUE(save());
    EXPECT_EQ(rowsInFile(file), 203);
}

TEST_P(ReportFaults, SaveOntoFullFileSystemKeepsThePreviousFile) {
    const QString mountPoint = dir.filePath(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkpath(mountPoint));
    // Mounting needs root: another user runs this test again in a user
    // namespace of its own, where it is root.
    if (::geteuid() != 0) {
        ASSERT_TRUE(passesAsRootOfOwnNamespace());
        return;
    }
    SmallTmpfs fs(mountPoint, 256);
    ASSERT_TRUE(fs.mounted()) << "root may not mount a tmpfs here";
    addRecords(3);
    const QString file = mountPoint + QStringLiteral("/report") + QString::fromLatin1(GetParam());
    ASSERT_TRUE(saveAs(file));
    // Fill what is left.
    QFile filler(mountPoint + QStringLiteral("/filler"));
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    const QByteArray block(4096, 'x');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
    filler.close();
    addRecords(200);
    EXPECT_FALSE(save());
    EXPECT_EQ(dialogs.errorTexts().value(0), CannotSave);
    EXPECT_EQ(rowsInFile(file), 3);
    EXPECT_EQ(strays(mountPoint, {QFileInfo(file).fileName(), QStringLiteral("filler")}),
              QStringList());
    expectStillOpenWithAll();
    ASSERT_TRUE(filler.remove());
    ASSERT_TRUE(save());
    EXPECT_EQ(rowsInFile(file), 203);
}

TEST_P(ReportFaults, FileDeletedWhileOpenIsWrittenAgainOnSave) {
    addRecords(3);
    const QString file = path(QStringLiteral("report"));
    ASSERT_TRUE(saveAs(file));
    ASSERT_TRUE(QFile::remove(file));
    addRecords(1);
    ASSERT_TRUE(save());
    EXPECT_EQ(rowsInFile(file), 4);
}

// The report's workbook is what counts: whatever took the file's place is
// replaced by it on the next save.
TEST_P(ReportFaults, FileReplacedWhileOpenGetsTheReportOnSave) {
    const QString fixtures = QStringLiteral(T5170_FIXTURES_DIR);
    const std::vector<std::pair<const char*, std::function<void(const QString&)>>> replacements{
        {"another workbook",
         [&](const QString& f) {
             QFile::remove(f);
             QFile::copy(fixtures + QStringLiteral("/report-with-extras.xls"), f);
         }},
        {"another package",
         [&](const QString& f) {
             QFile::remove(f);
             QFile::copy(fixtures + QStringLiteral("/three-sheets.xlsx"), f);
         }},
        {"garbage",
         [](const QString& f) {
             QFile out(f);
             out.open(QIODevice::WriteOnly | QIODevice::Truncate);
             out.write(QByteArray(5000, '\xA5'));
         }},
        {"an empty file",
         [](const QString& f) {
             QFile out(f);
             out.open(QIODevice::WriteOnly | QIODevice::Truncate);
         }},
    };
    addRecords(2);
    const QString file = path(QStringLiteral("report"));
    ASSERT_TRUE(saveAs(file));
    for (const auto& [what, replace] : replacements) {
        SCOPED_TRACE(what);
        replace(file);
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        addRecords(1);
        ASSERT_TRUE(save()) << dialogs.errorTexts().join('\n').toStdString();
        EXPECT_EQ(rowsInFile(file), added);
    }
}

// A report opened from a file keeps what it needs of that file: replacing or
// deleting the file while it is open loses nothing on the next save.
TEST_P(ReportFaults, OpenedReportSurvivesItsFileReplacedOrDeleted) {
    const QString file = path(QStringLiteral("opened"));
    const QString fixture =
        QStringLiteral(T5170_FIXTURES_DIR "/report-three-kinds") + QString::fromLatin1(GetParam());
    for (const char* what : {"replaced by garbage", "deleted"}) {
        SCOPED_TRACE(what);
        if (report.IsOpen) {
            report.IsSaved = true;
            report.CloseReport();
        }
        QFile::remove(file);
        ASSERT_TRUE(QFile::copy(fixture, file));
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        const int before = rowsInFile(file);
        ASSERT_GE(before, 0);
        report.OpenReport(file);
        ASSERT_TRUE(report.IsOpen) << dialogs.errorTexts().join('\n').toStdString();
        ASSERT_EQ(report.NextRow[izmR], 2 + before);
        QFile::remove(file);
        if (std::string(what) == "replaced by garbage") {
            QFile out(file);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly));
            out.write("PK\x03\x04 not a package at all");
        }
        added = before;
        addRecords(1);
        ASSERT_TRUE(save()) << dialogs.errorTexts().join('\n').toStdString();
        EXPECT_EQ(rowsInFile(file), before + 1);
    }
}

TEST_P(ReportFaults, FileReplacedByFolderOrFolderRemovedIsReported) {
    addRecords(2);
    const QString sub = dir.filePath(QStringLiteral("sub"));
    ASSERT_TRUE(QDir().mkpath(sub));
    const QString file = sub + QStringLiteral("/report") + QString::fromLatin1(GetParam());
    ASSERT_TRUE(saveAs(file));

    ASSERT_TRUE(QFile::remove(file));
    ASSERT_TRUE(QDir().mkpath(file));
    addRecords(1);
    EXPECT_FALSE(save());
    EXPECT_TRUE(QFileInfo(file).isDir());
    expectStillOpenWithAll();

    ASSERT_TRUE(QDir(sub).removeRecursively());
    EXPECT_FALSE(save());
    EXPECT_EQ(dialogs.errorTexts(), QStringList({CannotSave, CannotSave}));
    expectStillOpenWithAll();
    ASSERT_TRUE(saveAs(path(QStringLiteral("elsewhere"))));
    EXPECT_EQ(rowsInFile(path(QStringLiteral("elsewhere"))), 3);
}

// Closing always closes: a report that cannot be saved at the close prompt
// is closed anyway, but the operator is told so, and the file saved before
// keeps everything it held.
TEST_P(ReportFaults, FailedSaveWhenClosingIsReportedAndKeepsTheSavedFile) {
    addRecords(3);
    const QString file = path(QStringLiteral("report"));
    ASSERT_TRUE(saveAs(file));
    addRecords(2);
    dialogs.otherAnswers = true;
    {
        ReadOnlyFolder ro(dir.path());
        ASSERT_TRUE(ro.effective());
        report.CloseReport();
    }
    EXPECT_EQ(dialogs.errorTexts().value(0), CannotSave);
    EXPECT_FALSE(report.IsOpen);
    EXPECT_EQ(rowsInFile(file), 3);
}

INSTANTIATE_TEST_SUITE_P(Formats, ReportFaults, ::testing::Values(".xls", ".xlsx"),
                         [](const auto& info) { return std::string(info.param + 1); });

} // namespace
} // namespace t5170::testing
