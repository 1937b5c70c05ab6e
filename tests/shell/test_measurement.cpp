// Measurement control: the test voltage leaving ComTekE, the start button,
// and one measurement end to end against the simulator.

#define QTEST_QPA_MOUSE_HANDLING
#include "ShellFixture.h"

#include "core/Texts.h"

#include <QLineEdit>
#include <QMenuBar>

using namespace t5170;
using namespace t5170::testing;

namespace {

TEST(TestVoltageText, WholeNumberWithOptionalSignOnly) {
    const struct {
        const char* text;
        std::optional<long long> value;
    } cases[] = {
        {"2500", 2500}, {"+50", 50},   {"-100", -100}, {"0049", 49}, {"", {}},    {"abc", {}},
        {"-", {}},      {"10 00", {}}, {" 100", {}},   {"100 ", {}}, {"1e3", {}}, {"1000,0", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(testVoltageFromText(QString::fromUtf8(c.text)), c.value) << c.text;
    // However long, a number stays a number: it is out of range, not incorrect.
    const auto huge = testVoltageFromText(QStringLiteral("99999999999999999999999"));
    ASSERT_TRUE(huge.has_value());
    EXPECT_GT(*huge, 2500);
}

class Measurement : public WithInstrument {
protected:
    void SetUp() override {
        WithInstrument::SetUp();
        startProgram();
        showActive();
        ASSERT_TRUE(waitConnected());
        // The connect burst and the first test-voltage report are through.
        ASSERT_TRUE(
            QTest::qWaitFor([this] { return !main().ComTekE->currentText().isEmpty(); }, 3000));
        settle();
        sim.clearLog();
    }
    // Types into ComTekE as the operator does, replacing what it showed.
    void type(const QString& text) {
        main().ComTekE->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(QTest::qWaitFor([this] { return main().ComTekE->hasFocus(); }, 1000));
        main().ComTekE->lineEdit()->selectAll();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
        QTest::keyClicks(QApplication::focusWidget(), text);
        ASSERT_EQ(main().ComTekE->currentText(), text);
    }
    void pressTab() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); }
};

TEST_F(Measurement, AcceptedVoltageGoesOutWhenTheFocusMovesOn) {
    const struct {
        const char* text;
        QByteArray wire;
    } cases[] = {
        {"2500", bytes({0x6B, 0xC4, 0x09})},
        {"50", bytes({0x6B, 0x32, 0x00})}, // typed exactly: no completion to "500"
        {"1000", bytes({0x6B, 0xE8, 0x03})},
        {"+777", bytes({0x6B, 0x09, 0x03})},
        {"100", bytes({0x6B, 0x64, 0x00})}, // a list entry, typed
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        sim.clearLog();
        main().setStatusText(QString());
        type(QString::fromUtf8(c.text));
        pressTab();
        EXPECT_FALSE(main().ComTekE->hasFocus());
        settle();
        EXPECT_EQ(receivedNoPolls(), c.wire);
        EXPECT_EQ(panel(0), QString());
    }
}

TEST_F(Measurement, RefusedVoltageSendsNothingAndKeepsTheFocus) {
    const QString outOfRange = QStringLiteral("Измерительное напряжение вне диапазона");
    const QString incorrect = QStringLiteral("Измерительное напряжение введено неверно");
    const struct {
        const char* text;
        const QString& message;
    } cases[] = {
        {"49", outOfRange}, {"2501", outOfRange}, {"-100", outOfRange}, {"0", outOfRange},
        {"", incorrect},    {"abc", incorrect},   {"12.5", incorrect},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        sim.clearLog();
        type(QString::fromUtf8(c.text));
        pressTab();
        EXPECT_EQ(panel(0), c.message);
        EXPECT_TRUE(main().ComTekE->hasFocus());
        EXPECT_EQ(main().channel().queuedBytes(), 0);
        QTest::qWait(120);
        EXPECT_EQ(receivedNoPolls(), QByteArray());
    }
}

TEST_F(Measurement, LosingActivationOrOpeningAMenuIsNoExit) {
    type(QStringLiteral("abc"));
    main().setStatusText(QStringLiteral("-"));
    // Another window of the desktop becomes active.
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_EQ(panel(0), QStringLiteral("-"));
    other.close();
    main().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main()));
    // The list of the box itself opens and closes.
    main().ComTekE->showPopup();
    QTest::qWait(50);
    main().ComTekE->hidePopup();
    QTest::qWait(50);
    EXPECT_EQ(panel(0), QStringLiteral("-"));
    EXPECT_EQ(main().channel().queuedBytes(), 0);
    EXPECT_EQ(receivedNoPolls(), QByteArray());
}

TEST_F(Measurement, DisablingTheFocusedBoxIsNoExit) {
    type(QStringLiteral("abc"));
    main().setStatusText(QStringLiteral("-"));
    sim.setAnswerPolls(false); // the next tick disables ComTekE under the focus
    ASSERT_TRUE(QTest::qWaitFor([this] { return !main().ComTekE->isEnabled(); }, 3000));
    EXPECT_EQ(panel(0), QStringLiteral("Подключите прибор"));
    QTest::qWait(100);
    EXPECT_EQ(panel(0), QStringLiteral("Подключите прибор"));
}

TEST_F(Measurement, StartSendsTheCodeOfTheCheckedKind) {
    const struct {
        QRadioButton* TFormMain::*radio;
        TIzmType kind;
        const char* status;
        int code;
    } cases[] = {
        {&TFormMain::RadIzmU, izmU, "Идет измерение напряжения", 0x57},
        {&TFormMain::RadIzmR, izmR, "Идет измерение сопротивления", 0x58},
        {&TFormMain::RadIzmAbs, izmAbs, "Идет измерение Абсорбции", 0x59},
        {&TFormMain::RadIzmPol, izmPol, "Идет измерение поляризации", 0x5A},
    };
    sim.setMeasureDurationMs(60000); // no result during the test
    for (const auto& c : cases) {
        SCOPED_TRACE(c.status);
        (main().*c.radio)->setChecked(true);
        main().ButtonStart->setEnabled(true);
        sim.clearLog();
        main().ButtonStartClick();
        EXPECT_FALSE(main().ButtonStart->isEnabled());
        EXPECT_EQ(panel(0), QString::fromUtf8(c.status));
        EXPECT_EQ(main().StartKind, c.kind);
        settle();
        EXPECT_EQ(receivedNoPolls(), bytes({c.code}));
    }
}

TEST_F(Measurement, StartWithNoKindCheckedOnlyDisablesTheButton) {
    main().StartKind = izmPol;
    for (QRadioButton* r : {main().RadIzmU, main().RadIzmR, main().RadIzmAbs, main().RadIzmPol})
        r->setAutoExclusive(false), r->setChecked(false);
    main().setStatusText(QStringLiteral("-"));
    main().ButtonStartClick();
    EXPECT_FALSE(main().ButtonStart->isEnabled());
    EXPECT_EQ(panel(0), QStringLiteral("-"));
    EXPECT_EQ(main().StartKind, izmPol);
    settle();
    EXPECT_EQ(receivedNoPolls(), QByteArray());
}

TEST_F(Measurement, StartOnAClosedPortEndsWithPortNotOpen) {
    main().channel().ClosePort();
    main().ButtonStart->setEnabled(true);
    main().ButtonStartClick();
    EXPECT_EQ(panel(0), QStringLiteral("COM порт не открыт"));
    EXPECT_FALSE(main().ButtonStart->isEnabled());
}

TEST_F(Measurement, ClickOnStartAfterARefusedVoltageIsNotCarriedOut) {
    sim.setMeasureDurationMs(60000);
    type(QStringLiteral("3000"));
    QTest::mouseClick(main().ButtonStart, Qt::LeftButton);
    EXPECT_EQ(panel(0), QStringLiteral("Измерительное напряжение вне диапазона"));
    EXPECT_TRUE(main().ComTekE->hasFocus());
    EXPECT_TRUE(main().ButtonStart->isEnabled());
    QTest::qWait(150);
    EXPECT_EQ(receivedNoPolls(), QByteArray());
    // Corrected, the same click goes ahead: the voltage first, then the start.
    type(QStringLiteral("2000"));
    QTest::mouseClick(main().ButtonStart, Qt::LeftButton);
    EXPECT_TRUE(waitReceived(bytes({0x6B, 0xD0, 0x07, 0x58})));
}

// The road of one measurement: resistance, 1000 V typed, start pressed.
TEST_F(Measurement, OneMeasurementEndToEnd) {
    TFormMain& m = main();
    // An earlier result, to see it move down.
    sim.sendRaw(bytes({0x5D, 0x5F, 0x63, 0x64, 0x00, 0x5E}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.TekResult.U == 100; }, 3000));
    settle();
    sim.clearLog();

    sim.setMeasureDurationMs(300);
    sim.setNextResult({1000, 2500000, 0, 0});
    m.RadIzmR->click();
    type(QStringLiteral("1000"));
    QTest::mouseClick(m.ButtonStart, Qt::LeftButton);
    EXPECT_FALSE(m.ButtonStart->isEnabled());
    EXPECT_EQ(panel(0), QStringLiteral("Идет измерение сопротивления"));
    EXPECT_EQ(m.StartKind, izmR);

    ASSERT_TRUE(QTest::qWaitFor([&] { return m.ButtonStart->isEnabled(); }, 5000));
    EXPECT_EQ(panel(0), QStringLiteral("Измерение завершено"));
    EXPECT_TRUE(waitReceived(bytes({0x6B, 0xE8, 0x03, 0x58, 0x5C})));
    EXPECT_EQ(receivedNoPolls(), bytes({0x6B, 0xE8, 0x03, 0x58, 0x5C}));

    EXPECT_EQ(m.LabTekType->text(), QStringLiteral("Измерение сопротивления"));
    EXPECT_EQ(m.LabTekU->text(), QStringLiteral("U = 1000 Вольт"));
    EXPECT_EQ(m.LabTekR->text(), QStringLiteral("R = 2,5 ГОм"));
    EXPECT_FALSE(m.LabTekR->isHidden());
    EXPECT_TRUE(m.LabTekR2->isHidden());
    EXPECT_EQ(m.TekResult.RkOm, 2500000);
    EXPECT_EQ(m.PrevResult.Kind, izmU);
    EXPECT_EQ(m.LabPrevType->text(), QStringLiteral("Измерение напряжения"));
    EXPECT_EQ(m.LabPrevU->text(), QStringLiteral("U = 100 Вольт"));
    EXPECT_TRUE(m.LabPrevR->isHidden());
    EXPECT_EQ(sim.missingAcks(), 0u);
}

TEST_F(Measurement, KeyboardAlone) {
    // Tab walks the controls; arrows pick the kind; space presses the button.
    TFormMain& m = main();
    sim.setMeasureDurationMs(60000);
    m.RadIzmR->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.RadIzmR->hasFocus(); }, 1000));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_TRUE(m.RadIzmAbs->isChecked());
    EXPECT_TRUE(m.RadIzmAbs->hasFocus());
    pressTab();
    EXPECT_TRUE(m.ComTekE->hasFocus());
    m.ComTekE->lineEdit()->selectAll();
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("500"));
    pressTab();
    EXPECT_TRUE(m.CheckAutoAdd->hasFocus());
    pressTab();
    EXPECT_TRUE(m.CheckPeriod->hasFocus());
    pressTab();
    EXPECT_TRUE(m.ButtonStart->hasFocus());
    QTest::keyClick(m.ButtonStart, Qt::Key_Space);
    EXPECT_TRUE(waitReceived(bytes({0x6B, 0xF4, 0x01, 0x59})));
}

} // namespace
