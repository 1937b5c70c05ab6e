// The main window: its controls as created, start-up from the configuration
// file, the connection states and the decoder's effects on the controls
// against the simulator, and shutdown.

#define QTEST_QPA_MOUSE_HANDLING
#include "ShellFixture.h"

#include "CaptionCheck.h"

#include "config/Conset.h"
#include "config/Setting.h"
#include "core/Texts.h"
#include "shell/TApplication.h"

#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTimer>

#include <stdexcept>

using namespace t5170;
using namespace t5170::testing;

namespace {

const QString None = QStringLiteral("нет");

// ---- the window as created ----

class Created : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        // A port that cannot open: nothing polls, the window shows its
        // initial state.
        writeIni("[Connection]\nComPort=" +
                 dir.filePath(QStringLiteral("no-such-device")).toUtf8() + "\n");
        startProgram();
    }
};

TEST_F(Created, PortThatCannotOpenIsToldOnceAndNothingPolls) {
    EXPECT_EQ(boxes, (std::vector<Box>{{QStringLiteral("Ошибка"),
                                        QStringLiteral("Невозможно открыть COM порт")}}));
    EXPECT_FALSE(main().channel().PortOpen);
    EXPECT_FALSE(main().ReadTimer->isActive());
    EXPECT_FALSE(main().DeviceConnected);
    EXPECT_EQ(panel(0), QStringLiteral("Подключите прибор"));
    EXPECT_EQ(panel(1), QStringLiteral("Отключ"));
    EXPECT_FALSE(main().ButtonStart->isEnabled());
}

TEST_F(Created, InitialTextsAndStates) {
    TFormMain& m = main();
    EXPECT_EQ(m.windowTitle(), QString::fromUtf8("Мегаомметр Т5170  ООО \"НОРДИ\""));
    EXPECT_FALSE(m.windowIcon().isNull());
    EXPECT_FALSE(m.isVisible());

    const struct {
        QLabel* label;
        const char* text;
    } labels[] = {
        {m.Label14, "Последнее измерение:"},
        {m.LabTekType, "нет"},
        {m.Label23, "Время измерения:"},
        {m.LabTekTime, "нет"},
        {m.Label26, "Предыдущее измерение:"},
        {m.LabPrevType, "нет"},
        {m.Label32, "Время измерения:"},
        {m.LabPrevTime, "нет"},
        {m.Label1, "Название отчета :"},
        {m.LabRepName, "нет"},
        {m.Labeltp, "Тип отчета:"},
        {m.LabReportType, "нет"},
        {m.Labelcr, "Дата создания:"},
        {m.LabReportDate, "нет"},
        {m.Label7, "Последняя запись:"},
        {m.LabRepRecType, "нет"},
        {m.Label12, "Дата записи:"},
        {m.LabRepRecDate, "нет"},
        {m.Label21, "Время записи:"},
        {m.LabRepRecTime, "нет"},
        {m.Label15, "Измерительное напряжение:"},
    };
    for (const auto& l : labels) {
        EXPECT_EQ(l.label->text(), QString::fromUtf8(l.text))
            << l.label->objectName().toStdString();
        EXPECT_FALSE(l.label->isHidden()) << l.label->objectName().toStdString();
    }
    for (QLabel* l :
         {m.LabTekU, m.LabTekR, m.LabTekR2, m.LabTekKoef, m.LabPrevU, m.LabPrevR, m.LabPrevR2,
          m.LabPrevKoef, m.LabRepRecU, m.LabRepRecR, m.LabRepRecR2, m.LabRepRecK, m.LabPerOstel})
        EXPECT_TRUE(l->isHidden()) << l->objectName().toStdString();

    EXPECT_EQ(m.GroupTek->title(), QStringLiteral("Последнее измерение"));
    EXPECT_EQ(m.GroupPrev->title(), QStringLiteral("Предыдущий измерение"));
    EXPECT_EQ(m.GroupRep->title(), QStringLiteral("Отчет"));
    EXPECT_EQ(m.GroupIzm->title(), QStringLiteral("Выбор измерения"));

    const struct {
        QAbstractButton* button;
        const char* text;
        bool enabled;
        bool checked;
    } buttons[] = {
        {m.ButAddTek, "Добавить в отчет", false, false},
        {m.ButAddPrev, "Добавить в отчет", false, false},
        {m.ButShow, "Просмотреть", true, false},
        {m.ButtonPrint, "Распечатать", true, false},
        {m.RadIzmR, "Измерение сопротивления", true, true},
        {m.RadIzmAbs, "Измерение абсорбции", true, false},
        {m.RadIzmPol, "Измерение поляризации", true, false},
        {m.RadIzmU, "Измерение напряжения", true, false},
        {m.CheckAutoAdd, "Результат добавлять в отчет", true, true},
        {m.CheckPeriod, "Периодические измерения", true, false},
        {m.ButtonStart, "Начать измерение", false, false},
    };
    for (const auto& b : buttons) {
        SCOPED_TRACE(b.button->objectName().toStdString());
        EXPECT_EQ(b.button->text(), QString::fromUtf8(b.text));
        EXPECT_EQ(b.button->isEnabled(), b.enabled);
        EXPECT_EQ(b.button->isChecked(), b.checked);
        EXPECT_TRUE(b.button->accessibleName().isEmpty()); // the caption speaks for it
    }

    EXPECT_TRUE(m.ComTekE->isEditable());
    EXPECT_TRUE(m.ComTekE->isEnabled());
    EXPECT_EQ(m.ComTekE->currentText(), QString());
    QStringList items;
    for (int i = 0; i < m.ComTekE->count(); ++i)
        items << m.ComTekE->itemText(i);
    EXPECT_EQ(items, (QStringList{"2500", "1000", "500", "250", "100"}));
    EXPECT_EQ(m.Label15->buddy(), m.ComTekE);

    EXPECT_EQ(m.ReadTimer->interval(), 500);
    EXPECT_FALSE(m.TimerPeriod->isActive());
    EXPECT_FALSE(m.TimerFullPerIzm->isActive());
    EXPECT_EQ(m.TekResult, TIzmResult{});
    EXPECT_EQ(m.PrevResult, TIzmResult{});

    // The dialogs exist, hidden, after the main window.
    ASSERT_NE(w.settings, nullptr);
    ASSERT_NE(w.connect, nullptr);
    EXPECT_EQ(m.settingsForm(), w.settings);
    EXPECT_FALSE(w.settings->isVisible());
    EXPECT_FALSE(w.connect->isVisible());
}

TEST_F(Created, StatusBarPanels) {
    TFormMain& m = main();
    const struct {
        const char* text;
        Qt::Alignment align;
    } panels[] = {
        {"Подключите прибор", Qt::AlignLeft | Qt::AlignVCenter},
        {"Отключ", Qt::AlignCenter},
        {"", Qt::AlignCenter},
        {"", Qt::AlignCenter},
    };
    for (int i = 0; i < TFormMain::PanelCount; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(m.panelText(i), QString::fromUtf8(panels[i].text));
        EXPECT_EQ(m.panel(i)->alignment(), panels[i].align);
        EXPECT_EQ(m.panel(i)->parentWidget(), m.StatusBar);
    }
    m.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m));
    // 50, 20 and 50 pixels, a pixel or two more where the font needs them
    // for the texts; the message panel has the rest of the 674.
    const int widths[] = {550, 50, 20, 50};
    for (int i = 1; i < TFormMain::PanelCount; ++i) {
        EXPECT_GE(m.panel(i)->width(), widths[i]) << i;
        EXPECT_LE(m.panel(i)->width(), widths[i] + 4) << i;
    }
    EXPECT_GE(m.panel(0)->width(), 525);
    EXPECT_LE(m.panel(0)->width(), 550);
}

TEST_F(Created, FixedClientAreaThatNothingResizes) {
    TFormMain& m = main();
    m.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m));
    const auto clientArea = [&] { return QSize(m.width(), m.height() - m.menuBar()->height()); };
    EXPECT_EQ(clientArea(), QSize(674, 459));
    m.resize(900, 700);
    m.showMaximized();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !m.isMaximized(); }, 1000));
    QTest::qWait(50);
    EXPECT_EQ(clientArea(), QSize(674, 459));
    EXPECT_EQ(m.minimumSize(), m.maximumSize());
    EXPECT_FALSE(m.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    // Nothing is cut off, also with the longest texts the decoder writes.
    m.LabTekType->setText(text::kindCaption(izmR));
    m.LabPrevType->setText(text::kindCaption(izmPol));
    m.LabTekU->setText(voltageLabel(65535));
    m.LabTekU->show();
    m.LabTekTime->setText(QStringLiteral("23:59:59"));
    m.ButtonStart->setEnabled(true);
    QApplication::processEvents();
    EXPECT_EQ(squeezedControls(m).join(u"; ").toStdString(), "");
    for (QLabel* l : {m.LabTekType, m.LabPrevType, m.LabTekU, m.LabTekTime})
        EXPECT_GE(l->width(), l->sizeHint().width()) << l->objectName().toStdString();
    EXPECT_EQ(clientArea(), QSize(674, 459));
    // Every control fits inside the window.
    for (QWidget* c : m.findChildren<QWidget*>()) {
        if (!c->isVisible() || qobject_cast<QMenu*>(c) || c->isWindow())
            continue;
        const QRect r(c->mapTo(&m, QPoint(0, 0)), c->size());
        EXPECT_TRUE(m.rect().contains(r)) << c->objectName().toStdString();
    }
}

TEST_F(Created, MenuBar) {
    TFormMain& m = main();
    const QList<QAction*> bar = m.MainMenu->actions();
    ASSERT_EQ(bar.size(), 4);
    EXPECT_EQ(bar[0]->text(), QStringLiteral("Отчет"));
    EXPECT_EQ(bar[0]->menu(), m.N1);
    EXPECT_EQ(bar[1], m.Natroyka);
    EXPECT_EQ(m.Natroyka->text(), QStringLiteral("Настройка"));
    EXPECT_EQ(m.Natroyka->menu(), nullptr); // an item of the bar itself
    EXPECT_EQ(bar[2]->menu(), m.MenuJournal);
    EXPECT_EQ(m.MenuJournal->title(), QStringLiteral("Журнал"));
    ASSERT_EQ(m.MenuJournal->actions().size(), 2);
    EXPECT_EQ(m.MenuJournal->actions()[0]->text(), QStringLiteral("Журнал измерений…"));
    EXPECT_EQ(m.MenuJournal->actions()[1]->text(), QStringLiteral("График…"));
    EXPECT_EQ(bar[3]->menu(), m.N9);
    EXPECT_EQ(m.N9->title(), QStringLiteral("Справка"));

    QStringList report;
    for (QAction* a : m.N1->actions())
        report << a->objectName() + QLatin1Char('=') + a->text();
    EXPECT_EQ(report, (QStringList{"N2=Создать", "Open=Открыть", "Save=Сохранить",
                                   "SaveaS=Сохранить как ...", "Close=Закрыть"}));
    ASSERT_EQ(m.N9->actions().size(), 1);
    EXPECT_EQ(m.N9->actions()[0], m.N11);
    EXPECT_EQ(m.N11->text(), QStringLiteral("О программе"));

    // "О программе" does nothing: no box, no change.
    const QString before = panel(0);
    const std::size_t boxesBefore = boxes.size();
    m.N11->trigger();
    QApplication::processEvents();
    EXPECT_EQ(panel(0), before);
    EXPECT_EQ(boxes.size(), boxesBefore);
    EXPECT_FALSE(w.settings->isVisible());
}

// ---- start-up from the configuration file ----

TEST_F(ShellTest, KindKeysApplyInOrderSoTheLaterTrueKeyWins) {
    const struct {
        const char* main;
        bool u, r, abs, pol, autoAdd, period;
    } cases[] = {
        {"", false, true, false, false, true, false},
        {"IzmU=1\nIzmR=1\n", false, true, false, false, true, false},
        {"IzmU=1\nIzmR=0\n", true, false, false, false, true, false},
        {"IzmAbs=1\nIzmPol=1\n", false, false, false, true, true, false},
        {"IzmU=0\nIzmR=0\nIzmAbs=0\nIzmPol=0\n", false, false, false, false, true, false},
        {"AutoAdd=0\nPeriod=1\n", false, true, false, false, false, true},
        {"izmabs=1\nIZMR=0\n", false, false, true, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.main);
        writeIni(QByteArray("[Main]\n") + c.main + "[Connection]\nComPort=\n");
        startProgram();
        EXPECT_EQ(main().RadIzmU->isChecked(), c.u);
        EXPECT_EQ(main().RadIzmR->isChecked(), c.r);
        EXPECT_EQ(main().RadIzmAbs->isChecked(), c.abs);
        EXPECT_EQ(main().RadIzmPol->isChecked(), c.pol);
        EXPECT_EQ(main().CheckAutoAdd->isChecked(), c.autoAdd);
        EXPECT_EQ(main().CheckPeriod->isChecked(), c.period);
        // Nothing runs because of the Period key alone.
        EXPECT_FALSE(main().TimerPeriod->isActive());
    }
}

TEST_F(ShellTest, PortFromComPortListPositionFromComNumber) {
    writeIni("[Connection]\nComPort=COM3\nComNumber=0\n");
    startProgram();
    EXPECT_EQ(main().ComPortName, QStringLiteral("COM3"));
    EXPECT_EQ(w.settings->ComboCom->currentText(), QStringLiteral("COM1"));
}

TEST_F(ShellTest, NoFileMeansCom1AndNothingWritten) {
    startProgram();
    EXPECT_EQ(main().ComPortName, QStringLiteral("COM1"));
    EXPECT_TRUE(main().RadIzmR->isChecked());
    EXPECT_TRUE(main().CheckAutoAdd->isChecked());
    EXPECT_FALSE(main().CheckPeriod->isChecked());
    EXPECT_FALSE(QFile::exists(iniPath()));
}

// ---- shutdown ----

TEST_F(ShellTest, ClosingWritesTheMainKeysAndOnlyThose) {
    const QByteArray before = "; the operator's notes\n"
                              "[Connection]\n"
                              "ComPort=" +
                              dir.filePath(QStringLiteral("missing")).toUtf8() +
                              "\n"
                              "ComNumber=4\n"
                              "[Main]\n"
                              "IzmR=1\n"
                              "Unknown=keep\n";
    writeIni(before);
    startProgram();
    main().RadIzmPol->setChecked(true);
    main().CheckAutoAdd->setChecked(false);
    main().CheckPeriod->setChecked(true);
    main().show();
    EXPECT_TRUE(main().close());
    EXPECT_EQ(readIni(), "; the operator's notes\n"
                         "[Connection]\n"
                         "ComPort=" +
                             dir.filePath(QStringLiteral("missing")).toUtf8() +
                             "\n"
                             "ComNumber=4\n"
                             "[Main]\n"
                             "IzmR=0\n"
                             "Unknown=keep\n"
                             "IzmU=0\n"
                             "IzmAbs=0\n"
                             "IzmPol=1\n"
                             "AutoAdd=0\n"
                             "Period=1\n");
    EXPECT_FALSE(main().channel().PortOpen);
    EXPECT_FALSE(main().DeviceConnected);
}

TEST_F(ShellTest, FirstRunLeavesTheMainSectionOnly) {
    writeIni(""); // empty file: COM1 is tried, the rest defaults
    startProgram();
    main().close();
    EXPECT_EQ(readIni(), "[Main]\nIzmU=0\nIzmR=1\nIzmAbs=0\nIzmPol=0\nAutoAdd=1\nPeriod=0\n");
}

TEST_F(ShellTest, UnwritableFileIsToldAndTheWindowStillCloses) {
    // A configuration path below a regular file: unwritable even for root.
    QFile blocker(dir.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString path = blocker.fileName() + QStringLiteral("/t5170.INI");
    w = createWindows(path);
    boxes.clear();
    main().show();
    EXPECT_TRUE(main().close());
    EXPECT_FALSE(main().isVisible());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, QStringLiteral("Ошибка"));
    EXPECT_TRUE(boxes[0].text.startsWith(QStringLiteral("Не удалось записать настройки")));
    EXPECT_TRUE(boxes[0].text.contains(path));
    EXPECT_FALSE(main().channel().PortOpen);
}

// ---- an error escaping a handler ----

TEST_F(ShellTest, EscapedErrorIsShownAndTheProgramGoesOn) {
    guarded([] { throw std::runtime_error("сбой обработчика"); });
    guarded([] { throw 42; }); // not a standard error: shown with an empty text
    bool ranAfter = false;
    guarded([&] { ranAfter = true; });
    EXPECT_TRUE(ranAfter);
    EXPECT_EQ(boxes,
              (std::vector<Box>{{QStringLiteral("T5170"), QStringLiteral("сбой обработчика")},
                                {QStringLiteral("T5170"), QString()}}));
}

// ---- connection states against the simulator ----

TEST_F(WithInstrument, ConnectsAnnouncesAndAsksForSerialLetterAndVoltage) {
    sim.setSerialNumber(4321);
    sim.setLetter(0xC1); // "Б" in Windows-1251
    sim.setTestVoltage(2500);
    startProgram();
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(main().channel().PortOpen);
    EXPECT_TRUE(main().ReadTimer->isActive());
    ASSERT_TRUE(waitConnected());
    EXPECT_EQ(panel(0), QStringLiteral("Прибор подключен"));
    EXPECT_EQ(panel(1), QStringLiteral("Подкл"));
    EXPECT_EQ(w.settings->LabInformCon->text(), QStringLiteral("Прибор подключен"));
    EXPECT_TRUE(main().ButtonStart->isEnabled());
    EXPECT_TRUE(main().ComTekE->isEnabled());

    ASSERT_TRUE(
        QTest::qWaitFor([this] { return !panel(3).isEmpty() && !panel(2).isEmpty(); }, 3000));
    EXPECT_EQ(panel(3), QStringLiteral("4321"));
    EXPECT_EQ(panel(2), QStringLiteral("Б"));
    EXPECT_EQ(w.settings->LabSerNum->text(), QStringLiteral("4321"));
    EXPECT_EQ(w.settings->LabSerLet->text(), QStringLiteral("Б"));
    ASSERT_TRUE(QTest::qWaitFor([this] { return main().ComTekE->currentText() == "2500"; }, 3000));

    // The three requests go out once, before the poll of the same tick.
    QTest::qWait(1200);
    const QByteArray log = received();
    const qsizetype burst = log.indexOf(bytes({0x68, 0x69, 0x6A}));
    ASSERT_GE(burst, 1);
    EXPECT_EQ(static_cast<quint8>(log[burst - 1]), 0x55); // the poll that was answered
    EXPECT_EQ(static_cast<quint8>(log.at(burst + 3)), 0x55);
    EXPECT_EQ(log.count(bytes({0x68})), 1);
    EXPECT_EQ(log.mid(0, burst), QByteArray(burst, 0x55));
}

TEST_F(WithInstrument, EveryTickWithoutAnAnswerShowsTheDisconnectedState) {
    startProgram();
    ASSERT_TRUE(waitConnected());
    ASSERT_TRUE(QTest::qWaitFor([this] { return !panel(3).isEmpty(); }, 3000));
    const QString type = main().LabTekType->text();

    sim.setAnswerPolls(false);
    ASSERT_TRUE(QTest::qWaitFor([this] { return !main().DeviceConnected; }, 3000));
    EXPECT_EQ(panel(0), QStringLiteral("Подключите прибор"));
    EXPECT_EQ(panel(1), QStringLiteral("Отключ"));
    EXPECT_EQ(panel(2), QString());
    EXPECT_EQ(panel(3), QString());
    EXPECT_FALSE(main().ButtonStart->isEnabled());
    EXPECT_FALSE(main().ComTekE->isEnabled());
    EXPECT_EQ(main().LabTekType->text(), type);
    // The polls go on; a message written meanwhile is replaced on the next tick.
    main().setStatusText(QStringLiteral("что-то"));
    ASSERT_TRUE(
        QTest::qWaitFor([this] { return panel(0) == QStringLiteral("Подключите прибор"); }, 2000));

    sim.clearLog();
    sim.setAnswerPolls(true);
    ASSERT_TRUE(waitConnected());
    EXPECT_TRUE(main().ButtonStart->isEnabled());
    EXPECT_TRUE(waitReceived(bytes({0x68, 0x69, 0x6A})));
}

TEST_F(WithInstrument, UnpluggedPortIsToldAndEveryTickEndsWithPortNotOpen) {
    startProgram();
    ASSERT_TRUE(waitConnected());
    sim.unplug();
    ASSERT_TRUE(QTest::qWaitFor([this] { return !boxes.empty(); }, 5000));
    EXPECT_EQ(boxes[0], (Box{QStringLiteral("Ошибка"), QStringLiteral("Ошибка записи в \"Com\"")}));
    EXPECT_FALSE(main().channel().PortOpen);
    EXPECT_TRUE(main().ReadTimer->isActive());
    ASSERT_TRUE(
        QTest::qWaitFor([this] { return panel(0) == QStringLiteral("COM порт не открыт"); }, 2000));
    EXPECT_EQ(panel(1), QStringLiteral("Отключ"));
    EXPECT_FALSE(main().ButtonStart->isEnabled());
    EXPECT_EQ(boxes.size(), 1u);
}

// ---- the decoder's effects ----

TEST_F(WithInstrument, WorkedExampleOnTheLabels) {
    startProgram();
    ASSERT_TRUE(waitConnected());
    sim.sendRaw(bytes({0x5D, 0x61, 0x63, 0xE8, 0x03, 0x64, 0xD2, 0x04, 0x00, 0x00, 0x65, 0x40, 0x42,
                       0x0F, 0x00, 0x66, 0xDC, 0x05, 0x5E}));
    ASSERT_TRUE(QTest::qWaitFor([this] { return main().TekResult.Koef == 1500; }, 3000));
    TFormMain& m = main();
    EXPECT_EQ(m.LabTekType->text(), QStringLiteral("Измерение Абсорбции"));
    EXPECT_EQ(m.LabTekU->text(), QStringLiteral("U = 1000 Вольт"));
    EXPECT_EQ(m.LabTekR->text(), QStringLiteral(" R = 1,23 МОм"));
    EXPECT_EQ(m.LabTekR2->text(), QStringLiteral("R2 = 1 ГОм"));
    EXPECT_EQ(m.LabTekKoef->text(), QStringLiteral("K = 1,5"));
    for (QLabel* l : {m.LabTekU, m.LabTekR, m.LabTekR2, m.LabTekKoef})
        EXPECT_FALSE(l->isHidden()) << l->objectName().toStdString();
    EXPECT_EQ(m.TekResult.Kind, izmAbs);
    EXPECT_EQ(m.TekResult.U, 1000);
    EXPECT_EQ(m.TekResult.RkOm, 1234);
    EXPECT_EQ(m.TekResult.RUnit, unitMOm);
    EXPECT_EQ(m.TekResult.R2kOm, 1000000);
    EXPECT_EQ(m.TekResult.R2Unit, unitGOm);
    EXPECT_TRUE(m.TekResult.Valid);
    EXPECT_EQ(m.LabTekTime->text(), text::timeNoZeros(m.TekResult.Time.time()));
    EXPECT_FALSE(m.PrevResult.Valid); // the first result of the run
    EXPECT_EQ(m.LabPrevType->text(), None);
    EXPECT_EQ(m.channel().RxCount, 0);
    // No report is open: the add buttons stay disabled.
    EXPECT_FALSE(m.ButAddTek->isEnabled());
    EXPECT_FALSE(m.ButAddPrev->isEnabled());
    EXPECT_TRUE(m.DeviceConnected);

    // A voltage result hides the resistance labels but keeps their texts.
    sim.sendRaw(bytes({0x5D, 0x5F, 0x63, 0x55, 0x00, 0x5E}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.TekResult.Kind == izmU; }, 3000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return m.TekResult.U == 85; }, 3000));
    EXPECT_EQ(m.LabTekU->text(), QStringLiteral("U = 85 Вольт"));
    EXPECT_FALSE(m.LabTekU->isHidden());
    EXPECT_TRUE(m.LabTekR->isHidden());
    EXPECT_TRUE(m.LabTekR2->isHidden());
    EXPECT_TRUE(m.LabTekKoef->isHidden());
    EXPECT_EQ(m.LabTekR->text(), QStringLiteral(" R = 1,23 МОм"));
    // The absorption result moved down whole.
    EXPECT_EQ(m.LabPrevType->text(), QStringLiteral("Измерение Абсорбции"));
    EXPECT_EQ(m.LabPrevR->text(), QStringLiteral(" R = 1,23 МОм"));
    EXPECT_FALSE(m.LabPrevKoef->isHidden());
    EXPECT_EQ(m.PrevResult.Kind, izmAbs);
    EXPECT_TRUE(m.PrevResult.Valid);
    EXPECT_TRUE(m.DeviceConnected); // 55 00 were data bytes, the polls kept it connected
}

TEST_F(WithInstrument, TwoResultBeginsInARowCopyTheLatestIntoThePrevious) {
    startProgram();
    ASSERT_TRUE(waitConnected());
    TFormMain& m = main();
    sim.sendRaw(bytes({0x5D, 0x60, 0x63, 0xF4, 0x01, 0x64, 0xE7, 0x03, 0x00, 0x00, 0x5E}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.TekResult.RkOm == 999; }, 3000));
    const TIzmResult first = m.TekResult;
    sim.sendRaw(bytes({0x5D, 0x5D}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.PrevResult.Valid; }, 3000));
    QTest::qWait(600); // both codes are decoded by now, in one pass or two

    TIzmResult expectPrev = first;
    expectPrev.Time = m.PrevResult.Time;
    EXPECT_EQ(m.PrevResult, expectPrev);
    TIzmResult expectTek = first;
    expectTek.Time = m.TekResult.Time;
    EXPECT_EQ(m.TekResult, expectTek);
    EXPECT_GE(m.TekResult.Time, first.Time);
    const std::pair<QLabel*, QLabel*> pairs[] = {{m.LabTekType, m.LabPrevType},
                                                 {m.LabTekU, m.LabPrevU},
                                                 {m.LabTekR, m.LabPrevR},
                                                 {m.LabTekR2, m.LabPrevR2},
                                                 {m.LabTekKoef, m.LabPrevKoef}};
    for (const auto& [tek, prev] : pairs) {
        SCOPED_TRACE(prev->objectName().toStdString());
        EXPECT_EQ(prev->text(), tek->text());
        EXPECT_EQ(prev->isHidden(), tek->isHidden());
    }
    EXPECT_EQ(m.LabTekR->text(), QStringLiteral("R = 999 КОм"));
    EXPECT_EQ(m.LabPrevU->text(), QStringLiteral("U = 500 Вольт"));
    EXPECT_TRUE(m.LabPrevR2->isHidden());
}

TEST_F(WithInstrument, EndAndFailureOfAMeasurement) {
    startProgram();
    ASSERT_TRUE(waitConnected());
    settle();
    TFormMain& m = main();
    m.ButtonStart->setEnabled(false);
    sim.clearLog();
    sim.sendRaw(bytes({0x5B}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.ButtonStart->isEnabled(); }, 3000));
    EXPECT_EQ(panel(0), QStringLiteral("Измерение завершено"));
    EXPECT_TRUE(waitReceived(bytes({0x5C})));

    m.ButtonStart->setEnabled(false);
    const TIzmResult tek = m.TekResult;
    sim.clearLog();
    sim.sendRaw(bytes({0x67}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return m.ButtonStart->isEnabled(); }, 3000));
    EXPECT_EQ(panel(0), QStringLiteral("Ошибка измерения"));
    EXPECT_EQ(m.TekResult, tek);
    QTest::qWait(600);
    EXPECT_EQ(receivedNoPolls(), QByteArray()); // nothing answers a failure
}

TEST_F(WithInstrument, SettingsReportsFillTheDialog) {
    startProgram();
    ASSERT_TRUE(waitConnected());
    TFormSettings& s = *w.settings;
    s.ComboScale->setCurrentIndex(0);
    s.ComboLight->setCurrentIndex(0);
    sim.sendRaw(
        bytes({0x6C, 0x05, 0x6E, 0xE8, 0x03, 0x70, 0x05, 0x72, 0x0F, 0x3C, 0x74, 0x01, 0x0A}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.CSpinPolFull->value() == 10; }, 3000));
    EXPECT_EQ(s.CSpinTimeDelay->value(), 5);
    EXPECT_EQ(s.CSpinUStart->value(), 1000);
    EXPECT_EQ(s.ComboScale->currentText(), QStringLiteral("Шкала"));
    EXPECT_EQ(s.ComboLight->currentText(), QStringLiteral("Включена"));
    EXPECT_EQ(s.CSpinAbs1->value(), 15);
    EXPECT_EQ(s.CSpinAbsFull->value(), 60);
    EXPECT_EQ(s.CSpinPol1->value(), 1);

    // Bit 2 without bit 0: "50 Вольт" and "Включена"; the other bits are ignored.
    sim.sendRaw(bytes({0x70, 0xFE}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.ComboScale->currentIndex() == 0; }, 3000));
    EXPECT_EQ(s.ComboLight->currentText(), QStringLiteral("Включена"));
    sim.sendRaw(bytes({0x70, 0x01}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return s.ComboLight->currentIndex() == 0; }, 3000));
    EXPECT_EQ(s.ComboScale->currentText(), QStringLiteral("Шкала"));
}

TEST_F(WithInstrument, TestVoltageReportReplacesWhatWasTyped) {
    startProgram();
    ASSERT_TRUE(waitConnected());
    // The answer to the connect burst's request comes first.
    ASSERT_TRUE(QTest::qWaitFor([this] { return main().ComTekE->currentText() == "1000"; }, 3000));
    main().ComTekE->setEditText(QStringLiteral("123"));
    sim.sendRaw(bytes({0x6A, 0x10, 0x27})); // 10000 V: shown though outside 50..2500
    ASSERT_TRUE(QTest::qWaitFor([this] { return main().ComTekE->currentText() == "10000"; }, 3000));
}

} // namespace
