// The whole program against a configuration file it cannot write or that is
// full of garbage, and against the instrument unplugged during a settings
// write.

#include "FaultInjection.h"

#include "ShellFixture.h"
#include "config/ConfigIni.h"
#include "config/Setting.h"

#include <QRandomGenerator>

namespace t5170::testing {
namespace {

const QByteArray TypicalIni = "; written by hand\r\n[Main]\r\nIzmU=0\r\nIzmR=0\r\nIzmAbs=1\r\n"
                              "IzmPol=0\r\nAutoAdd=0\r\nPeriod=1\r\n\r\n[Connection]\r\n"
                              "ComPort=/nonexistent/tty\r\nComNumber=3\r\n";

const Box CannotOpenPort{QStringLiteral("Ошибка"), QStringLiteral("Невозможно открыть COM порт")};

class IniFaults : public ShellTest {};

// At shutdown the operator's choices cannot be written: one error box names
// the file, and the file keeps what it had.
TEST_F(IniFaults, FileThatCannotBeWrittenIsReportedAndKeptAsItWas) {
    writeIni(TypicalIni);
    startProgram();
    EXPECT_TRUE(main().RadIzmAbs->isChecked());
    main().RadIzmPol->setChecked(true);
    main().CheckAutoAdd->setChecked(true);
    boxes.clear();
    {
        ReadOnlyFolder ro(dir.path());
        ASSERT_TRUE(ro.effective());
        main().FormClose();
    }
    EXPECT_EQ(boxes, std::vector<Box>({{QStringLiteral("Ошибка"), iniWriteFailedText(iniPath())}}));
    EXPECT_EQ(readIni(), TypicalIni);
    // Nothing left behind but the file and the measurement journal beside it.
    QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    files.removeIf([](const QString& f) { return f.startsWith(QLatin1String("t5170.journal.")); });
    EXPECT_EQ(files, QStringList({QStringLiteral("t5170.INI")}));
}

TEST_F(IniFaults, FolderInPlaceOfTheFileGivesDefaultsAndIsReportedAtShutdown) {
    ASSERT_TRUE(QDir().mkpath(iniPath()));
    startProgram();
    const MainIni defaults;
    EXPECT_EQ(main().RadIzmR->isChecked(), defaults.IzmR);
    EXPECT_EQ(main().CheckAutoAdd->isChecked(), defaults.AutoAdd);
    EXPECT_EQ(main().ComPortName, DefaultComPort);
    boxes.clear();
    main().FormClose();
    EXPECT_EQ(boxes, std::vector<Box>({{QStringLiteral("Ошибка"), iniWriteFailedText(iniPath())}}));
    EXPECT_TRUE(QFileInfo(iniPath()).isDir());
}

QByteArray randomBytes(int size, quint32 seed) {
    QRandomGenerator gen(seed);
    QByteArray b(size, '\0');
    for (char& c : b)
        c = static_cast<char>(gen.bounded(256));
    return b;
}

// Whatever the file holds, the program starts with a usable window, writes
// the main window's choices at shutdown so that they read back, and keeps
// every other byte of the file.
TEST_F(IniFaults, GarbageAndHugeValuesStartTheProgramAndSurviveShutdown) {
    QByteArray manySections;
    for (int i = 0; i < 100000; ++i)
        manySections += "[S" + QByteArray::number(i) + "]\nk=v\n";
    const std::vector<std::pair<const char*, QByteArray>> cases{
        {"random bytes", randomBytes(64 * 1024, 5170)},
        {"NULs and bare CRs", QByteArray("[Main]\rIzmU=1\0\0\r[Connection]\rComPort=\0COM2\r", 40)},
        {"huge numbers",
         "[Main]\nIzmU=99999999999999999999\nIzmR=-99999999999999999999\nIzmAbs=2147483648\n"
         "AutoAdd=1e400\nPeriod=--1\n[Connection]\nComNumber=999999999999\n[Period]\n"
         "TimeInterval=-2147483649\nTimeIntervalType=2147483647\nTypeNumberIzm=7\n"
         "NumberIzm=99999999999\nTimeIzm=-5\nTimeIzmType=-1\n"},
        {"a port name of a megabyte", "[Connection]\nComPort=" + QByteArray(1 << 20, 'A') + "\n"},
        {"a hundred thousand sections", manySections},
        {"a line without end", QByteArray(2 << 20, '[')},
    };
    for (const auto& [what, content] : cases) {
        SCOPED_TRACE(what);
        w = {};
        boxes.clear();
        writeIni(content);
        startProgram();
        ASSERT_TRUE(w.main && w.settings);
        // The port named (if any) does not exist: that is the only message.
        for (const Box& b : boxes)
            EXPECT_EQ(b, CannotOpenPort);
        EXPECT_FALSE(main().ButtonStart->isEnabled());
        QTest::qWait(20);

        boxes.clear();
        main().RadIzmPol->setChecked(true);
        main().CheckAutoAdd->setChecked(false);
        main().FormClose();
        EXPECT_TRUE(boxes.empty());
        const MainIni back = readMainKeys(IniFile(iniPath()));
        EXPECT_TRUE(back.IzmPol);
        EXPECT_FALSE(back.IzmU || back.IzmR || back.IzmAbs);
        EXPECT_FALSE(back.AutoAdd);
        const QByteArray after = readIni();
        if (!content.contains("[Main]")) {
            // Only the new section was added, behind everything that was there.
            EXPECT_TRUE(after.startsWith(content)) << "the file's own content was changed";
        } else {
            // The other sections' keys are untouched.
            EXPECT_EQ(ini::lookup(after, u"Period", u"NumberIzm"),
                      ini::lookup(content, u"Period", u"NumberIzm"));
            EXPECT_EQ(ini::lookup(after, u"Connection", u"ComNumber"),
                      ini::lookup(content, u"Connection", u"ComNumber"));
        }
    }
}

class UnplugFaults : public WithInstrument {};

// "Записать" in the settings dialog sends thirteen bytes through the paced
// channel; the cable is pulled after the fifth. One message, the port
// closed, nothing more sent, the button back, and the window shows the
// instrument as gone.
TEST_F(UnplugFaults, UnpluggedDuringSettingsWrite) {
    startProgram();
    ASSERT_TRUE(waitConnected());
    settle();
    sim.clearLog();
    boxes.clear();
    TFormSettings& settings = *w.settings;
    settings.CSpinTimeDelay->setValue(5);
    settings.ComboLight->setCurrentIndex(1);
    settings.ComboScale->setCurrentIndex(1);
    settings.CSpinUStart->setValue(1000);
    settings.CSpinAbsFull->setValue(60);
    settings.CSpinAbs1->setValue(15);
    settings.CSpinPolFull->setValue(10);
    settings.CSpinPol1->setValue(1);
    const QByteArray write = QByteArray::fromHex("6d05 7105 6fe803 730f3c 75010a");
    int heard = 0;
    QObject::connect(&sim, &sim::PtySimulator::byteReceived, &sim, [&](quint8 b) {
        if (b != 0x55 && ++heard == 5)
            sim.unplug();
    });
    QTest::mouseClick(settings.ButWriteSet, Qt::LeftButton);
    EXPECT_FALSE(settings.ButWriteSet->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return settings.ButWriteSet->isEnabled() && !main().channel().PortOpen; }, 5000));
    EXPECT_EQ(receivedNoPolls(), write.left(receivedNoPolls().size()));
    EXPECT_GE(receivedNoPolls().size(), 5);
    EXPECT_LE(receivedNoPolls().size(), 6);
    EXPECT_EQ(boxes, std::vector<Box>(
                         {{QStringLiteral("Ошибка"), QStringLiteral("Ошибка записи в \"Com\"")}}));
    EXPECT_FALSE(main().DeviceConnected);
    // The next tick shows it.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return main().panelText(1) == QStringLiteral("Отключ"); }, 2000));
    EXPECT_FALSE(main().ButtonStart->isEnabled());
    QTest::qWait(600);
    EXPECT_EQ(boxes.size(), 1u) << "one message, not one per byte or tick";
}

} // namespace
} // namespace t5170::testing
