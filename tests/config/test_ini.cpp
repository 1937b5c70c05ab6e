// The configuration file: private-profile rules, the program's keys and
// their defaults, atomic writes.

#include "config/ConfigIni.h"
#include "config/IniFile.h"

#include "FaultInjection.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>

using namespace t5170;

namespace {

class IniTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("t5170.INI")); }
    void put(const QByteArray& content) const {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    QByteArray get() const {
        QFile f(path());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

TEST(IniPath, ExtensionReplacedOrAppended) {
    const struct {
        const char* exe;
        const char* ini;
    } cases[] = {
        {"/opt/t/bin/t5170", "/opt/t/bin/t5170.INI"},
        {"/opt/t/a.exe", "/opt/t/a.INI"},
        {"/opt/t/prog.v2.bin", "/opt/t/prog.v2.INI"},
        {"/opt/t.d/prog", "/opt/t.d/prog.INI"}, // a dot in the folder is no extension
    };
    for (const auto& c : cases)
        EXPECT_EQ(iniPathFor(QString::fromUtf8(c.exe)), QString::fromUtf8(c.ini)) << c.exe;
}

TEST_F(IniTest, MissingFileGivesEveryDefaultAndCreatesNothing) {
    const IniFile ini(path());
    const MainIni m = readMainKeys(ini);
    EXPECT_EQ(m, MainIni{});
    EXPECT_FALSE(m.IzmU);
    EXPECT_TRUE(m.IzmR);
    EXPECT_TRUE(m.AutoAdd);
    EXPECT_FALSE(m.Period);
    EXPECT_EQ(readComPort(ini), QStringLiteral("COM1"));
    EXPECT_EQ(readComNumber(ini), 0);
    const PeriodIni p = readPeriodKeys(ini);
    EXPECT_EQ(p.TimeInterval, 1);
    EXPECT_EQ(p.TimeIntervalType, 1);
    EXPECT_TRUE(p.TypeNumberIzm);
    EXPECT_EQ(p.NumberIzm, 10);
    EXPECT_FALSE(p.TypeTimeIzm);
    EXPECT_EQ(p.TimeIzm, 1);
    EXPECT_EQ(p.TimeIzmType, 1);
    EXPECT_FALSE(QFile::exists(path()));
}

TEST_F(IniTest, NamesAreComparedWithoutRegardToCase) {
    put("[mAIN]\nizmr=0\nIZMPOL = 1\n[connection]\ncomport = COM5\n");
    const IniFile ini(path());
    const MainIni m = readMainKeys(ini);
    EXPECT_FALSE(m.IzmR);
    EXPECT_TRUE(m.IzmPol);
    EXPECT_EQ(readComPort(ini), QStringLiteral("COM5"));
}

TEST_F(IniTest, FirstSectionAndFirstKeyCount) {
    put("[Main]\nIzmU=1\nIzmU=0\n[Main]\nIzmAbs=1\n");
    const IniFile ini(path());
    EXPECT_TRUE(ini.readBool(u"Main", u"IzmU", false));
    // A key only in a second section of the same name is not seen.
    EXPECT_FALSE(ini.readBool(u"Main", u"IzmAbs", false));
}

TEST_F(IniTest, MalformedValuesReadAsTheKeysDefault) {
    put("[Period]\nTimeInterval=abc\nNumberIzm=12x\nTimeIzm=\nTimeIzmType=99999999999\n"
        "TimeIntervalType= -2 \n[Main]\nIzmR=yes\nAutoAdd=0\nPeriod=7\nIzmU=+1\n");
    const IniFile ini(path());
    const PeriodIni p = readPeriodKeys(ini);
    EXPECT_EQ(p.TimeInterval, 1);
    EXPECT_EQ(p.NumberIzm, 10);
    EXPECT_EQ(p.TimeIzm, 1);
    EXPECT_EQ(p.TimeIzmType, 1);       // beyond 32 bits
    EXPECT_EQ(p.TimeIntervalType, -2); // blanks around a value are not part of it
    const MainIni m = readMainKeys(ini);
    EXPECT_TRUE(m.IzmR);     // "yes" is no number: default true
    EXPECT_FALSE(m.AutoAdd); // 0
    EXPECT_TRUE(m.Period);   // any number but 0
    EXPECT_TRUE(m.IzmU);
}

TEST_F(IniTest, StringValuesAreTakenAsTheyAre) {
    put("[Connection]\nComPort=\n");
    EXPECT_EQ(readComPort(IniFile(path())), QString()); // present but empty: no default
    put("[Connection]\nComPort=\"COM2\"\n");
    EXPECT_EQ(readComPort(IniFile(path())), QStringLiteral("COM2"));
}

TEST_F(IniTest, WriteReplacesInPlaceAndKeepsEveryOtherLine) {
    const QByteArray before = "; hand-written notes\n"
                              "[main]\n"
                              "izmu = 1\n"
                              "Extra=keep me\n"
                              "; comment inside\n"
                              "\n"
                              "[Other]\n"
                              "IzmU=5\n";
    put(before);
    IniFile ini(path());
    MainIni v;
    v.IzmU = false;
    v.IzmR = true;
    v.Period = true;
    ASSERT_TRUE(writeMainKeys(ini, v));
    EXPECT_EQ(get(), QByteArray("; hand-written notes\n"
                                "[main]\n"
                                "IzmU=0\n"
                                "Extra=keep me\n"
                                "; comment inside\n"
                                "IzmR=1\n"
                                "IzmAbs=0\n"
                                "IzmPol=0\n"
                                "AutoAdd=1\n"
                                "Period=1\n"
                                "\n"
                                "[Other]\n"
                                "IzmU=5\n"));
}

TEST_F(IniTest, NewSectionGoesToTheEndAndLineEndingsAreKept) {
    put("[Main]\r\nIzmR=1"); // no final line end
    IniFile ini(path());
    ASSERT_TRUE(writeConnection(ini, QStringLiteral("COM3"), 2));
    EXPECT_EQ(
        get(),
        QByteArray("[Main]\r\nIzmR=1\r\n\r\n[Connection]\r\nComPort=COM3\r\nComNumber=2\r\n"));
    EXPECT_EQ(readComPort(ini), QStringLiteral("COM3"));
    EXPECT_EQ(readComNumber(ini), 2);
}

TEST_F(IniTest, FirstWriteCreatesTheFile) {
    IniFile ini(path());
    PeriodIni p;
    p.TimeInterval = 5;
    p.TimeIntervalType = 0;
    p.TypeNumberIzm = false;
    p.TypeTimeIzm = true;
    ASSERT_TRUE(writePeriodKeys(ini, p));
    EXPECT_EQ(get(), QByteArray("[Period]\nTimeInterval=5\nTimeIntervalType=0\nTypeNumberIzm=0\n"
                                "NumberIzm=10\nTypeTimeIzm=1\nTimeIzm=1\nTimeIzmType=1\n"));
    const PeriodIni back = readPeriodKeys(ini);
    EXPECT_EQ(back.TimeInterval, 5);
    EXPECT_FALSE(back.TypeNumberIzm);
    EXPECT_TRUE(back.TypeTimeIzm);
}

TEST_F(IniTest, EachAccessSeesTheFileAsItIsNow) {
    IniFile ini(path());
    EXPECT_EQ(readComPort(ini), QStringLiteral("COM1"));
    put("[Connection]\nComPort=COM7\n");
    EXPECT_EQ(readComPort(ini), QStringLiteral("COM7"));
}

TEST_F(IniTest, AFailedWriteReportsAndLeavesNoTrace) {
    // A path below a regular file cannot be created, not even by root.
    put("[Main]\nIzmR=1\n");
    IniFile bad(path() + QStringLiteral("/t5170.INI"));
    EXPECT_FALSE(bad.writeBool(u"Main", u"IzmU", true));
    EXPECT_EQ(get(), QByteArray("[Main]\nIzmR=1\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("t5170.INI")});
}

TEST_F(IniTest, WriteLeavesNoTemporaryFileBehind) {
    IniFile ini(path());
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(ini.writeInt(u"Period", u"NumberIzm", i));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("t5170.INI")});
    EXPECT_EQ(ini.readInt(u"Period", u"NumberIzm", -1), 2);
}

TEST(IniParseInt, WholeDecimalNumbersOnly) {
    const struct {
        const char* text;
        std::optional<int> value;
    } cases[] = {
        {"0", 0},
        {"-15", -15},
        {"+7", 7},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", {}},
        {"", {}},
        {"-", {}},
        {"1.5", {}},
        {"0x10", {}},
        {"1 2", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IniFile::parseInt(QString::fromUtf8(c.text)), c.value) << c.text;
}

} // namespace

// Where the configuration file goes: beside a portable copy, in the user's
// folder for an installed one or one whose folder cannot be written.
TEST(IniLocation, BesideTheProgramOrInTheUsersFolder) {
    enum Folder { Writable, ReadOnly, SystemBin };
    const struct {
        const char* name;
        Folder folder;
        bool fileThere;
        bool fileWritable;
        bool userFolderExists;
        bool beside;
    } cases[] = {
        {"portable copy", Writable, false, false, true, true},
        {"portable copy with its file", Writable, true, true, true, true},
        {"read-only folder", ReadOnly, false, false, true, false},
        {"read-only folder, writable file there", ReadOnly, true, true, true, true},
        {"read-only folder, read-only file there", ReadOnly, true, false, true, false},
        {"installed, user folder missing", SystemBin, false, false, false, false},
        {"installed, user folder there", SystemBin, false, false, true, false},
        {"installed, writable file there", SystemBin, true, true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir root;
        ASSERT_TRUE(root.isValid());
        const QString bin = root.filePath(c.folder == SystemBin ? QStringLiteral("usr/bin")
                                                                : QStringLiteral("copy"));
        ASSERT_TRUE(QDir().mkpath(bin));
        const QString exe = QDir(bin).filePath(QStringLiteral("t5170"));
        const QString besideFile = QDir(bin).filePath(QStringLiteral("t5170.INI"));
        if (c.fileThere) {
            QFile f(besideFile);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write("[Main]\r\n");
            f.close();
            if (!c.fileWritable) {
                ASSERT_TRUE(QFile::setPermissions(besideFile, QFile::ReadOwner));
            }
        }
        const QString user = root.filePath(QStringLiteral("home/.config/T5170"));
        if (c.userFolderExists) {
            ASSERT_TRUE(QDir().mkpath(user));
        }

        QString chosen;
        {
            std::optional<t5170::testing::ReadOnlyFolder> ro;
            if (c.folder == ReadOnly || (c.fileThere && !c.fileWritable)) {
                ro.emplace(bin);
                ASSERT_TRUE(ro->effective());
            }
            chosen = chooseIniPath(exe, user);
        }
        EXPECT_EQ(chosen, c.beside ? besideFile : QDir(user).filePath(QStringLiteral("t5170.INI")));
        // The user's folder is there to write into once it is chosen.
        if (!c.beside) {
            EXPECT_TRUE(QFileInfo(user).isDir());
        }
        EXPECT_FALSE(QFile::exists(QDir(user).filePath(QStringLiteral("t5170.INI"))))
            << "choosing writes nothing";
        QFile::setPermissions(besideFile, QFile::ReadOwner | QFile::WriteOwner);
    }
}
