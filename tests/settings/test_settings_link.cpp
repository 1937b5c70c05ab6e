// The settings dialog and the periodic series as the main window drives them:
// the instrument's settings on the wire, the port tried from the dialog, the
// dialog's saves, and series of measurements against the simulator. A
// series' clock is the test's own and its pause is ended by calling the timer
// handler, so minutes pass in milliseconds.

#include "ShellFixture.h"

#include "config/ConfigIni.h"
#include "config/IniFile.h"
#include "config/Setting.h"

#include <QDir>
#include <QTimer>

using namespace t5170;
using namespace t5170::testing;

namespace {

// Records what the channel had put on the wire when a button became enabled.
class EnableWatch : public QObject {
public:
    EnableWatch(QWidget* button, TComChannel& channel) {
        button->installEventFilter(this);
        QObject::connect(&channel, &TComChannel::byteSent, this,
                         [this](std::uint8_t b) { sent.append(static_cast<char>(b)); });
    }
    QByteArray sent;
    QByteArray sentAtEnable;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::EnabledChange && static_cast<QWidget*>(watched)->isEnabled())
            sentAtEnable = sent;
        return false;
    }
};

class Connected : public WithInstrument {
protected:
    void SetUp() override {
        WithInstrument::SetUp();
        sim.setMeasureDurationMs(100);
        startProgram();
        ASSERT_TRUE(waitConnected());
        settle();
        sim.clearLog();
    }
    TFormSettings& dlg() { return *w.settings; }
    // The bytes the instrument received that are among `codes`, in order.
    QByteArray receivedOf(std::initializer_list<int> codes) const {
        QByteArray b = received();
        b.removeIf([&](char c) {
            return std::find(codes.begin(), codes.end(), static_cast<quint8>(c)) == codes.end();
        });
        return b;
    }
    bool waitWriteSetEnabled() {
        return QTest::qWaitFor([this] { return dlg().ButWriteSet->isEnabled(); }, 5000);
    }
};

// ---- the instrument's settings ----

TEST_F(Connected, MenuAsksForTheSettingsAndTheAnswersFillTheOpenDialog) {
    sim.setDelay(7);
    sim.setStartVoltage(1500);
    sim.setFlags(0x01);
    sim.setAbsTimes(20, 45);
    sim.setPolTimes(2, 11);
    bool shownModal = false;
    bool filled = false;
    QTimer::singleShot(0, &dlg(), [&] {
        shownModal = dlg().isVisible() && dlg().isModal();
        // The poll timer keeps running behind the modal dialog.
        filled = QTest::qWaitFor([&] { return dlg().CSpinPolFull->value() == 11; }, 5000);
        dlg().close();
    });
    main().Natroyka->trigger();
    EXPECT_TRUE(shownModal);
    EXPECT_TRUE(filled);
    EXPECT_FALSE(dlg().isVisible());
    EXPECT_EQ(receivedNoPolls(), bytes({0x6C, 0x6E, 0x70, 0x72, 0x74}));
    EXPECT_EQ(dlg().CSpinTimeDelay->value(), 7);
    EXPECT_EQ(dlg().CSpinUStart->value(), 1500);
    EXPECT_EQ(dlg().ComboScale->currentText(), QStringLiteral("Шкала"));
    EXPECT_EQ(dlg().ComboLight->currentText(), QStringLiteral("Выключена"));
    EXPECT_EQ(dlg().CSpinAbs1->value(), 20);
    EXPECT_EQ(dlg().CSpinAbsFull->value(), 45);
    EXPECT_EQ(dlg().CSpinPol1->value(), 2);
}

TEST_F(Connected, FlagsReportSelectsStepAndBacklight) {
    const struct {
        quint8 flags;
        int scale, light;
    } cases[] = {{0x04, 0, 1}, {0x01, 1, 0}, {0xFA, 0, 0}, {0xFF, 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.flags));
        sim.setFlags(c.flags);
        dlg().ComboScale->setCurrentIndex(1 - c.scale);
        dlg().ComboLight->setCurrentIndex(1 - c.light);
        dlg().ButReadSet->click();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return dlg().ComboScale->currentIndex() == c.scale &&
                       dlg().ComboLight->currentIndex() == c.light;
            },
            5000));
    }
}

TEST_F(Connected, WriteSendsThirteenBytesAndTheButtonWaitsForThem) {
    sim.setDelay(0);
    sim.setFlags(0);
    sim.setStartVoltage(50);
    sim.setAbsTimes(0, 0);
    sim.setPolTimes(0, 0);
    TFormSettings& d = dlg();
    d.CSpinTimeDelay->setValue(5);
    d.ComboLight->setCurrentIndex(1);
    d.ComboScale->setCurrentIndex(1);
    d.CSpinUStart->setValue(1000);
    d.CSpinAbs1->setValue(15);
    d.CSpinAbsFull->setValue(60);
    d.CSpinPol1->setValue(1);
    d.CSpinPolFull->setValue(10);
    EnableWatch watch(d.ButWriteSet, main().channel());

    d.ButWriteSet->click();
    EXPECT_FALSE(d.ButWriteSet->isEnabled());
    ASSERT_TRUE(waitWriteSetEnabled());
    const QByteArray expected =
        bytes({0x6D, 0x05, 0x71, 0x05, 0x6F, 0xE8, 0x03, 0x73, 0x0F, 0x3C, 0x75, 0x01, 0x0A});
    // Not before the last of them went out (polls may go between them).
    QByteArray atEnable = watch.sentAtEnable;
    atEnable.removeIf([](char c) { return static_cast<quint8>(c) == 0x55; });
    EXPECT_EQ(atEnable, expected);
    ASSERT_TRUE(waitReceived(expected));
    EXPECT_EQ(receivedNoPolls(), expected);
    EXPECT_EQ(sim.delay(), 5);
    EXPECT_EQ(sim.flags(), 0x05);
    EXPECT_EQ(sim.startVoltage(), 1000);
    EXPECT_EQ(sim.absFirst(), 15);
    EXPECT_EQ(sim.absTotal(), 60);
    EXPECT_EQ(sim.polFirst(), 1);
    EXPECT_EQ(sim.polTotal(), 10);
}

TEST_F(Connected, FirstMeasurementTimeIsLoweredToTheTotalBeforeSending) {
    const struct {
        int abs1, absFull, pol1, polFull;
        QByteArray wire;
    } cases[] = {
        {60, 15, 10, 1, bytes({0x73, 0x0F, 0x0F, 0x75, 0x01, 0x01})},
        {50, 30, 61, 0, bytes({0x73, 0x1E, 0x1E, 0x75, 0x00, 0x00})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.abs1);
        sim.clearLog();
        TFormSettings& d = dlg();
        d.CSpinAbs1->setValue(c.abs1);
        d.CSpinAbsFull->setValue(c.absFull);
        d.CSpinPol1->setValue(c.pol1);
        d.CSpinPolFull->setValue(c.polFull);
        d.ButWriteSet->click();
        EXPECT_EQ(d.CSpinAbs1->value(), c.absFull);
        EXPECT_EQ(d.CSpinPol1->value(), c.polFull);
        ASSERT_TRUE(waitWriteSetEnabled());
        ASSERT_TRUE(waitReceived(c.wire));
        EXPECT_EQ(sim.absFirst(), c.absFull);
        EXPECT_EQ(sim.polFirst(), c.polFull);
    }
}

TEST_F(Connected, WriteButtonComesBackWhenTheBytesCannotGo) {
    // Unplugged mid-run: the write fails, the port closes, the rest is dropped.
    sim.unplug();
    dlg().ButWriteSet->click();
    EXPECT_TRUE(waitWriteSetEnabled());
    EXPECT_TRUE(QTest::qWaitFor([this] { return !main().channel().PortOpen; }, 5000));
    // The port closed: every byte dropped at once.
    dlg().ButWriteSet->click();
    EXPECT_TRUE(dlg().ButWriteSet->isEnabled());
    EXPECT_EQ(panel(0), QStringLiteral("COM порт не открыт"));
}

// ---- the port tried and saved from the dialog ----

class PortFromDialog : public WithInstrument {
protected:
    QByteArray iniText() const override {
        return "[Connection]\nComPort=" + dir.filePath(QStringLiteral("no-such-device")).toUtf8() +
               "\n";
    }
    TFormSettings& dlg() { return *w.settings; }
    const Box cannotOpen{QStringLiteral("Ошибка"), QStringLiteral("Невозможно открыть COM порт")};
};

TEST_F(PortFromDialog, CheckOpensTheChosenPortAndEveryCheckIsAFreshConnection) {
    startProgram();
    ASSERT_EQ(boxes, std::vector<Box>{cannotOpen});
    ASSERT_FALSE(main().ReadTimer->isActive());

    // The menu with no port open still shows the dialog.
    bool shown = false;
    QTimer::singleShot(0, &dlg(), [&] {
        shown = dlg().isVisible();
        dlg().close();
    });
    main().Natroyka->trigger();
    EXPECT_TRUE(shown);
    EXPECT_EQ(panel(0), QStringLiteral("COM порт не открыт"));

    // The pseudo-terminal stands in for an adapter the system reports.
    dlg().setPortLister([this] { return QStringList{sim.devicePath()}; });
    dlg().refreshPortList();
    const int index = dlg().ComboCom->findText(sim.devicePath());
    ASSERT_GE(index, TFormSettings::FixedPortCount);

    // The empty ninth entry: no port of that name.
    dlg().ComboCom->setCurrentIndex(8);
    dlg().ButCheckConnect->click();
    EXPECT_EQ(boxes, (std::vector<Box>{cannotOpen, cannotOpen}));
    EXPECT_EQ(dlg().LabInformCon->text(), QString());
    EXPECT_FALSE(main().channel().PortOpen);
    EXPECT_FALSE(main().ReadTimer->isActive());

    dlg().ComboCom->setCurrentIndex(index);
    dlg().ButCheckConnect->click();
    EXPECT_EQ(dlg().LabInformCon->text(), QStringLiteral("Порт открыт"));
    EXPECT_TRUE(main().channel().PortOpen);
    EXPECT_TRUE(main().ReadTimer->isActive());
    ASSERT_TRUE(waitConnected());
    EXPECT_EQ(dlg().LabInformCon->text(), QStringLiteral("Прибор подключен"));
    ASSERT_TRUE(waitReceived(bytes({0x68, 0x69, 0x6A})));

    // Again on the port that is open: closed, reopened, and the next answer
    // is a new connection.
    settle();
    sim.clearLog();
    dlg().ButCheckConnect->click();
    EXPECT_FALSE(main().DeviceConnected);
    EXPECT_EQ(dlg().LabInformCon->text(), QStringLiteral("Порт открыт"));
    ASSERT_TRUE(waitConnected());
    EXPECT_TRUE(waitReceived(bytes({0x68, 0x69, 0x6A})));
    EXPECT_EQ(boxes.size(), 2u);

    // Saved, it is the port of the next start, and the dialog shows it.
    dlg().ButSave->click();
    const IniFile ini(iniPath());
    EXPECT_EQ(ini.readValue(u"Connection", u"ComPort"), sim.devicePath());
    EXPECT_EQ(ini.readValue(u"Connection", u"ComNumber"), QString::number(index));
    w = {};
    startProgram();
    EXPECT_TRUE(main().channel().PortOpen);
    EXPECT_EQ(dlg().ComboCom->currentText(), sim.devicePath());
    EXPECT_TRUE(waitConnected());
}

TEST_F(ShellTest, SavesThatCannotBeWrittenAreToldToTheOperator) {
    // A folder where the configuration file should be: nothing can replace it.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("t5170.INI")));
    startProgram();
    boxes.clear();
    w.settings->ButSave->click();
    w.settings->ButSavePer->click();
    const Box failed{QStringLiteral("Ошибка"), iniWriteFailedText(iniPath())};
    EXPECT_EQ(boxes, (std::vector<Box>{failed, failed}));
}

// ---- periodic series ----

class SeriesTest : public Connected {
protected:
    void SetUp() override {
        Connected::SetUp();
        main().setSeriesClock([this] { return now; });
        main().RadIzmR->setChecked(true);
        main().CheckPeriod->setChecked(true);
    }
    // The series group of the dialog, as the operator leaves it.
    void countMode(int count, int interval, int unit) {
        dlg().RadioKolIzm->click();
        dlg().CSpinNumIzm->setValue(count);
        dlg().CSpinTimeInter->setValue(interval);
        dlg().ComboTimeInt->setCurrentIndex(unit);
    }
    int startCodes() const { return int(receivedOf({0x58}).size()); }
    bool waitDone(quint64 n) {
        return QTest::qWaitFor([&] { return sim.measurementsDone() == n && !sim.ackPending(); },
                               5000);
    }
    bool waitLine(const QString& text) {
        return QTest::qWaitFor(
            [&] { return main().LabPerOstel->isVisible() && main().LabPerOstel->text() == text; },
            3000);
    }
    bool waitLeft(int n) {
        return QTest::qWaitFor([&] { return main().Series.left() == n; }, 5000);
    }

    std::int64_t now = 5'000'000;
};

TEST_F(SeriesTest, CountOfThreeRepeatsTheStartedKindAndEndsWithTheStartButton) {
    countMode(3, 1, 1); // a minute between measurements
    main().show();
    main().ButtonStart->click();
    EXPECT_TRUE(main().Series.isRunning());
    EXPECT_EQ(main().Series.intervalMs(), 60000u);
    // Another kind chosen during the series does not change it.
    main().RadIzmU->setChecked(true);
    for (int step = 1; step <= 3; ++step) {
        SCOPED_TRACE(step);
        ASSERT_TRUE(waitDone(quint64(step)));
        if (step == 3)
            break;
        ASSERT_TRUE(waitLeft(3 - step));
        EXPECT_TRUE(main().TimerPeriod->isActive());
        EXPECT_FALSE(main().ButtonStart->isEnabled());
        EXPECT_TRUE(waitLine(QStringLiteral("Осталось провести : %1 измерений").arg(3 - step)));
        main().Series.TimerPeriodTimer(); // the pause is over
        EXPECT_EQ(panel(0), QStringLiteral("Идет измерение сопротивления"));
    }
    ASSERT_TRUE(QTest::qWaitFor([this] { return !main().Series.isRunning(); }, 5000));
    EXPECT_TRUE(main().ButtonStart->isEnabled());
    EXPECT_TRUE(main().LabPerOstel->isHidden());
    EXPECT_FALSE(main().TimerPeriod->isActive());
    // Start and acknowledgement in turn, three times.
    EXPECT_TRUE(waitReceived(bytes({0x58, 0x5C, 0x58, 0x5C, 0x58, 0x5C})));
    EXPECT_EQ(receivedOf({0x57, 0x58, 0x5C}), bytes({0x58, 0x5C, 0x58, 0x5C, 0x58, 0x5C}));
}

// The window publishes every complete result, and the results of a series
// with their step; a 0x5E that completes no result publishes nothing.
TEST_F(SeriesTest, CompleteResultsAndSeriesStepsArePublished) {
    std::vector<TIzmResult> completed;
    std::vector<std::pair<TIzmResult, int>> steps;
    int started = 0;
    QObject::connect(&main(), &TFormMain::resultCompleted,
                     [&](const TIzmResult& r) { completed.push_back(r); });
    QObject::connect(&main(), &TFormMain::seriesStep, [&](const TIzmResult& r, int step) {
        steps.push_back({r, step});
    });
    QObject::connect(&main(), &TFormMain::seriesStarted, [&] { ++started; });

    // Before any result: nothing is complete.
    ASSERT_FALSE(main().TekResult.Valid);
    sim.sendRaw(bytes({0x5E}));
    // One measurement outside a series.
    sim.setNextResult({700, 1234, 0, 0});
    main().RadIzmR->setChecked(true);
    main().CheckPeriod->setChecked(false);
    main().ButtonStart->click();
    ASSERT_TRUE(waitDone(1));
    ASSERT_TRUE(QTest::qWaitFor([&] { return completed.size() == 1; }, 3000));
    EXPECT_TRUE(steps.empty());
    EXPECT_EQ(completed[0], main().TekResult);
    EXPECT_EQ(completed[0].RkOm, 1234);

    // A series of three.
    countMode(3, 1, 1);
    main().CheckPeriod->setChecked(true);
    main().ButtonStart->click();
    EXPECT_EQ(started, 1);
    for (int step = 1; step <= 3; ++step) {
        SCOPED_TRACE(step);
        ASSERT_TRUE(waitDone(quint64(step) + 1));
        ASSERT_TRUE(QTest::qWaitFor([&] { return int(steps.size()) == step; }, 3000));
        EXPECT_EQ(steps.back().second, step);
        EXPECT_EQ(steps.back().first, completed.back());
        EXPECT_EQ(steps.back().first, main().TekResult);
        if (step < 3) {
            ASSERT_TRUE(waitLeft(3 - step));
            main().Series.TimerPeriodTimer(); // the pause is over
        }
    }
    ASSERT_TRUE(QTest::qWaitFor([this] { return !main().Series.isRunning(); }, 5000));
    EXPECT_EQ(completed.size(), 4u);
    EXPECT_EQ(steps.size(), 3u);
    EXPECT_EQ(started, 1);
}

TEST_F(SeriesTest, TimeModeEndingDuringAMeasurementLetsItFinishAsASingleOne) {
    sim.setMeasureDurationMs(1500);
    dlg().RadioFullTime->click();
    dlg().CSpinFullTime->setValue(1);
    dlg().ComboFullTime->setCurrentIndex(1);
    main().show();
    main().ButtonStart->click();
    EXPECT_TRUE(main().TimerFullPerIzm->isActive());
    EXPECT_EQ(main().TimerFullPerIzm->interval(), 60000);

    now += 1500;
    EXPECT_TRUE(waitLine(QStringLiteral("Окончание периодических измерений через : 0:0:58")));
    // Past the total before the total timer has ticked: never negative.
    now += 60000;
    EXPECT_TRUE(waitLine(QStringLiteral("Окончание периодических измерений через : 0:0:0")));
    ASSERT_TRUE(sim.measuring());
    main().Series.TimerFullPerIzmTimer();
    EXPECT_FALSE(main().Series.isRunning());
    EXPECT_TRUE(main().LabPerOstel->isHidden());

    ASSERT_TRUE(waitDone(1));
    EXPECT_TRUE(QTest::qWaitFor(
        [this] { return panel(0) == QStringLiteral("Измерение завершено"); }, 3000));
    EXPECT_TRUE(main().ButtonStart->isEnabled());
    EXPECT_FALSE(main().TimerPeriod->isActive());
    QTest::qWait(600); // a poll tick more: nothing else starts
    EXPECT_EQ(startCodes(), 1);
}

TEST_F(SeriesTest, MeasurementStartedOnTheInstrumentCountsAsAStep) {
    countMode(3, 1, 1);
    main().ButtonStart->click();
    ASSERT_TRUE(waitLeft(2));
    ASSERT_TRUE(main().TimerPeriod->isActive());
    sim.startFromKeys(1); // during the pause
    ASSERT_TRUE(waitDone(2));
    ASSERT_TRUE(waitLeft(1));
    EXPECT_TRUE(main().TimerPeriod->isActive()); // the pause goes on
    EXPECT_EQ(startCodes(), 1);
    main().Series.TimerPeriodTimer();
    ASSERT_TRUE(waitDone(3));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !main().Series.isRunning(); }, 5000));
    EXPECT_EQ(startCodes(), 2);
    EXPECT_TRUE(main().ButtonStart->isEnabled());
}

TEST_F(SeriesTest, UncheckingPeriodicMeasurementsStopsTheSeries) {
    countMode(3, 1, 1);
    main().show();
    main().ButtonStart->click();
    ASSERT_TRUE(waitLeft(2));
    ASSERT_TRUE(waitLine(QStringLiteral("Осталось провести : 2 измерений")));
    main().CheckPeriod->click();
    EXPECT_FALSE(main().CheckPeriod->isChecked());
    EXPECT_FALSE(main().Series.isRunning());
    EXPECT_FALSE(main().TimerPeriod->isActive());
    EXPECT_TRUE(main().ButtonStart->isEnabled());
    EXPECT_TRUE(main().LabPerOstel->isHidden());
    // Checking it again while idle starts nothing.
    main().CheckPeriod->click();
    EXPECT_TRUE(main().CheckPeriod->isChecked());
    EXPECT_FALSE(main().Series.isRunning());
    QTest::qWait(600);
    EXPECT_EQ(startCodes(), 1);
}

class SeriesWithoutUnit : public SeriesTest {
protected:
    QByteArray iniText() const override {
        return WithInstrument::iniText() + "[Period]\nTimeIntervalType=7\nNumberIzm=2\n";
    }
};

TEST_F(SeriesWithoutUnit, IntervalWithNoUnitIsOneMillisecond) {
    ASSERT_EQ(dlg().ComboTimeInt->currentIndex(), -1);
    main().ButtonStart->click();
    EXPECT_EQ(main().Series.intervalMs(), 1u);
    // The real pause timer this time: the second start follows at once.
    ASSERT_TRUE(waitDone(2));
    ASSERT_TRUE(QTest::qWaitFor([this] { return !main().Series.isRunning(); }, 5000));
    EXPECT_EQ(startCodes(), 2);
    EXPECT_TRUE(main().ButtonStart->isEnabled());
}

// ---- end to end ----

TEST_F(Connected, SeriesOfThreeResistancesOneSecondApartFillsTheReport) {
    main().setSeriesClock({}); // the real clock and timers throughout
    const sim::Result results[] = {{1000, 500, 0, 0}, {1000, 1500, 0, 0}, {1000, 2500000, 0, 0}};
    int next = 0;
    QObject::connect(&sim, &sim::PtySimulator::measurementStarted, &sim, [&] {
        if (next < 3)
            sim.setNextResult(results[next++]);
    });
    main().report().CreateReport();
    ASSERT_TRUE(main().report().IsOpen);
    main().CheckAutoAdd->setChecked(true);
    main().RadIzmR->setChecked(true);
    main().CheckPeriod->setChecked(true);
    dlg().RadioKolIzm->click();
    dlg().CSpinNumIzm->setValue(3);
    dlg().CSpinTimeInter->setValue(1);
    dlg().ComboTimeInt->setCurrentIndex(0);

    main().ButtonStart->click();
    QStringList shown;
    const bool ended = QTest::qWaitFor(
        [&] {
            const QString r = main().LabTekR->text();
            if (main().TekResult.Valid && (shown.isEmpty() || shown.back() != r))
                shown << r;
            return !main().Series.isRunning();
        },
        15000);
    ASSERT_TRUE(ended);
    EXPECT_EQ(shown, (QStringList{QStringLiteral("R = 500 КОм"), QStringLiteral(" R = 1,50 МОм"),
                                  QStringLiteral("R = 2,5 ГОм")}));
    EXPECT_TRUE(main().ButtonStart->isEnabled());
    EXPECT_EQ(main().report().NextRow[izmR], 5);
    const QStringList values{"500", "1,5", "2,5"};
    const QStringList units{QStringLiteral("КОм"), QStringLiteral("МОм"), QStringLiteral("ГОм")};
    for (int row = 2; row <= 4; ++row) {
        const auto cell = [&](int column) {
            return main().report().sheets()[izmR]->Cells(row, column)->Value().toText();
        };
        EXPECT_EQ(cell(4), values[row - 2]) << row;
        EXPECT_EQ(cell(5), units[row - 2]) << row;
    }
    // A pause of a second between the end of one and the start of the next.
    ASSERT_TRUE(QTest::qWaitFor([this] { return !sim.ackPending(); }, 3000));
    QTest::qWait(30);
    std::vector<qint64> starts, acks;
    for (const auto& e : sim.received()) {
        if (e.byte == 0x58)
            starts.push_back(e.ms);
        if (e.byte == 0x5C)
            acks.push_back(e.ms);
    }
    ASSERT_EQ(starts.size(), 3u);
    ASSERT_EQ(acks.size(), 3u);
    for (std::size_t i = 1; i < 3; ++i)
        EXPECT_GE(starts[i] - acks[i - 1], 900) << i;
}

} // namespace
