#include "shell/Conpc.h"

#include "config/ConfigIni.h"
#include "config/ControlRules.h"
#include "config/Setting.h"
#include "core/Texts.h"
#include "link/ResultRecords.h"
#include "shell/Messages.h"
#include "shell/TApplication.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTimer>

#include <algorithm>

static void initShellResources() {
    Q_INIT_RESOURCE(t5170);
}

namespace t5170 {

namespace {

const QString TextNone = QStringLiteral("нет");

template <class... Ts> struct Overloaded : Ts... { using Ts::operator()...; };
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

void keepPlaceWhenHidden(QWidget* w) {
    QSizePolicy p = w->sizePolicy();
    p.setRetainSizeWhenHidden(true);
    w->setSizePolicy(p);
}

} // namespace

std::optional<long long> testVoltageFromText(const QString& text) {
    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text[0] == QLatin1Char('+') || text[0] == QLatin1Char('-'))) {
        negative = text[0] == QLatin1Char('-');
        i = 1;
    }
    if (i == text.size())
        return std::nullopt;
    long long v = 0;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        // Any number this long is out of range anyway; stop before overflow.
        if (v < 1'000'000'000)
            v = v * 10 + (c.unicode() - '0');
    }
    return negative ? -v : v;
}

QIcon programIcon() {
    initShellResources();
    QIcon icon;
    for (int size : {16, 32, 48, 64})
        icon.addFile(QStringLiteral(":/t5170/icons/t5170-%1.png").arg(size), QSize(size, size));
    return icon;
}

TFormMain::TFormMain(QString iniPath, QWidget* parent)
    : QMainWindow(parent), iniPath_(std::move(iniPath)) {
    setupUi(this);
    setWindowIcon(programIcon());
    Channel = new TComChannel(this);
    ReadTimer = new QTimer(this);
    ReadTimer->setObjectName(QStringLiteral("ReadTimer"));
    ReadTimer->setInterval(500);

    for (QWidget* w : {static_cast<QWidget*>(LabTekU), static_cast<QWidget*>(LabTekR),
                       static_cast<QWidget*>(LabTekR2), static_cast<QWidget*>(LabTekKoef),
                       static_cast<QWidget*>(LabPrevU), static_cast<QWidget*>(LabPrevR),
                       static_cast<QWidget*>(LabPrevR2), static_cast<QWidget*>(LabPrevKoef),
                       static_cast<QWidget*>(LabRepRecU), static_cast<QWidget*>(LabRepRecR),
                       static_cast<QWidget*>(LabRepRecR2), static_cast<QWidget*>(LabRepRecK),
                       static_cast<QWidget*>(LabPerOstel)})
        keepPlaceWhenHidden(w);
    // A file name can be of any length: the label takes the room the report
    // group leaves it, and the report view shortens the name to fit.
    LabRepName->setSizePolicy(QSizePolicy::Ignored, LabRepName->sizePolicy().verticalPolicy());
    LabRepName->setMinimumWidth(40);
    layoutResultGroups();
    ComTekE->setMinimumWidth(ComTekE->sizeHint().width() + 12);
    // No inline completion: typing "50" must not leave as "500", the first
    // list entry that starts with it.
    ComTekE->setCompleter(nullptr);
    ComTekE->setEditText(QString());
    ComTekE->installEventFilter(this);

    reportView_ = std::make_unique<report::FormReportView>(
        this, &TekResult, &PrevResult, [this](const QString& text) { setStatusText(text); });
    reportDialogs_ = std::make_unique<report::QtReportDialogs>(
        this,
        [this](const QString& caption, const QString& text) { showErrorBox(this, caption, text); });
    Report = std::make_unique<report::TRepWorkbook>(*reportView_, *reportDialogs_);

    setupStatusBar();
    setupFixedGeometry();
    connectHandlers();

    // Creation: the configuration decides the choices and the port; polling
    // starts only when the port opened.
    DeviceConnected = false;
    ReadMainIni();
    Channel->PortOpen = Channel->OpenPort(ComPortName);
    if (Channel->PortOpen)
        ReadTimer->start();
}

TFormMain::~TFormMain() = default;

void TFormMain::layoutResultGroups() {
    // Both result groups line up column by column, and no text the decoder
    // writes moves the layout: every changing label has a fixed room wide
    // enough for its longest text.
    ensurePolished(); // sizes as they will be shown, in the style's font
    const QFontMetrics fm(LabTekType->font());
    const auto room = [&](std::initializer_list<QString> texts) {
        int w = 0;
        for (const QString& t : texts)
            w = std::max(w, fm.horizontalAdvance(t));
        return w + 4;
    };
    const int head = std::max(Label14->sizeHint().width(), Label26->sizeHint().width());
    const int values = std::max(
        head, room({QStringLiteral("R2 = -2147483648 КОм"), QStringLiteral("U = 65535 Вольт")}));
    const int kind = room({text::kindCaption(izmU), text::kindCaption(izmR),
                           text::kindCaption(izmAbs), text::kindCaption(izmPol)});
    const int timeLabel = std::max(Label23->sizeHint().width(), Label32->sizeHint().width());
    const int time = room({QStringLiteral("23:59:59")});
    const auto fix = [](QLabel* l, int w) {
        l->setMinimumWidth(w);
        l->setSizePolicy(QSizePolicy::Ignored, l->sizePolicy().verticalPolicy());
    };
    for (QLabel* l : {Label14, Label26})
        l->setMinimumWidth(head);
    for (QLabel* l :
         {LabTekU, LabTekR, LabTekR2, LabTekKoef, LabPrevU, LabPrevR, LabPrevR2, LabPrevKoef})
        fix(l, values);
    for (QLabel* l : {LabTekType, LabPrevType})
        fix(l, kind);
    for (QLabel* l : {Label23, Label32})
        l->setMinimumWidth(timeLabel);
    for (QLabel* l : {LabTekTime, LabPrevTime})
        fix(l, time);
    // What is left of the width goes to the report group. It is too narrow
    // for the longer kinds of the last record beside their caption, which
    // then take a second line; that line is kept at all times, so that the
    // rows under it stay where they are.
    MainLayout->setColumnStretch(0, 0);
    MainLayout->setColumnStretch(1, 1);
    LabRepRecType->setMinimumHeight(2 * LabRepRecType->fontMetrics().lineSpacing());
}

void TFormMain::setupStatusBar() {
    static constexpr std::array<Qt::Alignment, PanelCount> align{
        Qt::AlignLeft | Qt::AlignVCenter, Qt::AlignCenter, Qt::AlignCenter, Qt::AlignCenter};
    static const std::array<QString, PanelCount> initial{
        QStringLiteral("Подключите прибор"), QStringLiteral("Отключ"), QString(), QString()};
    // The widest text each narrow panel shows.
    static const std::array<QString, PanelCount> widest{
        QString(), QStringLiteral("Отключ"), QStringLiteral("Щ"), QStringLiteral("65535")};
    for (int i = 0; i < PanelCount; ++i) {
        const auto n = static_cast<std::size_t>(i);
        auto* l = new QLabel(initial[n], StatusBar);
        l->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        l->setAlignment(align[n]);
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        if (i == 0) {
            // The message panel takes what the fixed panels leave of the width
            // (550 pixels less the bar's own spacing).
            l->setContentsMargins(2, 0, 2, 0);
            l->setMinimumWidth(100);
            l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
            StatusBar->addWidget(l, 1);
        } else {
            // Its width, unless the font needs a pixel or two more.
            l->setText(widest[n]);
            l->setFixedWidth(std::max(PanelWidths[n], l->minimumSizeHint().width()));
            l->setText(initial[n]);
            StatusBar->addWidget(l);
        }
        panels_[n] = l;
    }
}

void TFormMain::setupFixedGeometry() {
    // The client area below the menu bar is 674 x 459 and nothing resizes it.
    const int menuHeight = MainMenu->sizeHint().height();
    setFixedSize(ClientWidth, ClientHeight + menuHeight);
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TFormMain::connectHandlers() {
    connect(ReadTimer, &QTimer::timeout, this, [this] { guarded([this] { ReadTimerTimer(); }); });
    connect(ButtonStart, &QPushButton::clicked, this,
            [this] { guarded([this] { ButtonStartClick(); }); });
    connect(Natroyka, &QAction::triggered, this, [this] { guarded([this] { NatroykaClick(); }); });
    // A click, not a change of the check mark: loading the configuration
    // checks it without stopping anything.
    connect(CheckPeriod, &QCheckBox::clicked, this,
            [this] { guarded([this] { Series.CheckPeriodClick(); }); });

    // The report's menu and buttons. Failures of showing and printing reach
    // the error box of guarded().
    using Handler = void (report::TRepWorkbook::*)();
    const std::pair<QAction*, Handler> reportMenu[] = {{N2, &report::TRepWorkbook::Excel1Click},
                                                       {Open, &report::TRepWorkbook::OpenClick},
                                                       {Save, &report::TRepWorkbook::SaveClick},
                                                       {SaveaS, &report::TRepWorkbook::SaveaSClick},
                                                       {Close, &report::TRepWorkbook::CloseClick}};
    for (const auto& [action, handler] : reportMenu)
        connect(action, &QAction::triggered, this,
                [this, h = handler] { guarded([this, h] { (Report.get()->*h)(); }); });
    const std::pair<QPushButton*, Handler> reportButtons[] = {
        {ButAddTek, &report::TRepWorkbook::ButAddTekClick},
        {ButAddPrev, &report::TRepWorkbook::ButAddPrevClick},
        {ButShow, &report::TRepWorkbook::ButShowClick},
        {ButtonPrint, &report::TRepWorkbook::ButtonPrintClick}};
    for (const auto& [button, handler] : reportButtons)
        connect(button, &QPushButton::clicked, this,
                [this, h = handler] { guarded([this, h] { (Report.get()->*h)(); }); });

    connect(Channel, &TComChannel::openFailed, this, [] {
        showErrorBox(nullptr, QStringLiteral("Ошибка"),
                     QStringLiteral("Невозможно открыть COM порт"));
    });
    // A box with no caption of its own: the system's default, which on the
    // operator's Russian system reads "Ошибка".
    connect(Channel, &TComChannel::writeFailed, this, [] {
        showErrorBox(nullptr, QStringLiteral("Ошибка"), QStringLiteral("Ошибка записи в \"Com\""));
    });
    connect(Channel, &TComChannel::notOpen, this,
            [this] { setStatusText(QStringLiteral("COM порт не открыт")); });
    connect(Channel, &TComChannel::portClosed, this, [this] { DeviceConnected = false; });
}

QString TFormMain::panelText(int i) const {
    return panel(i)->text();
}

void TFormMain::setPanelText(int i, const QString& text) {
    panel(i)->setText(text);
}

// ---- configuration ----

void TFormMain::ReadMainIni() {
    const IniFile ini(iniPath_);
    const MainIni v = readMainKeys(ini);
    // In file order: the last kind key that is true wins; none true leaves
    // no kind selected.
    setRadioState(RadIzmU, v.IzmU);
    setRadioState(RadIzmR, v.IzmR);
    setRadioState(RadIzmAbs, v.IzmAbs);
    setRadioState(RadIzmPol, v.IzmPol);
    CheckAutoAdd->setChecked(v.AutoAdd);
    CheckPeriod->setChecked(v.Period);
    ComPortName = readComPort(ini);
}

bool TFormMain::WriteMainIni() {
    IniFile ini(iniPath_);
    MainIni v;
    v.IzmU = RadIzmU->isChecked();
    v.IzmR = RadIzmR->isChecked();
    v.IzmAbs = RadIzmAbs->isChecked();
    v.IzmPol = RadIzmPol->isChecked();
    v.AutoAdd = CheckAutoAdd->isChecked();
    v.Period = CheckPeriod->isChecked();
    return writeMainKeys(ini, v);
}

// ---- shutdown ----

void TFormMain::changeEvent(QEvent* event) {
    // Maximised or full screen by a window manager that ignores the fixed
    // size: back to the normal state.
    if (event->type() == QEvent::WindowStateChange &&
        (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        QTimer::singleShot(0, this, [this] { setWindowState(Qt::WindowNoState); });
    QMainWindow::changeEvent(event);
}

void TFormMain::closeEvent(QCloseEvent* event) {
    guarded([this] { FormClose(); });
    event->accept();
}

void TFormMain::FormClose() {
    if (closed_)
        return;
    closed_ = true;
    if (ReportIsOpen())
        CloseReport();
    // The operator's choices would silently be forgotten otherwise.
    if (!WriteMainIni())
        showErrorBox(this, QStringLiteral("Ошибка"), iniWriteFailedText(iniPath_));
    Channel->ClosePort();
}

// ---- receiving ----

void TFormMain::ReadTimerTimer() {
    // A message box opened during a pass runs its own event loop, in which
    // this timer keeps firing; such a tick waits for the pass to finish. A
    // tick already held for the wire takes in the ticks that fall after it.
    if (decoding_ || tickHeld_)
        return;
    // While a command is still going out, the poll would queue behind it and
    // the next pass would take its missing answer for a lost instrument. The
    // instrument was made for a sender that blocks until a command has gone
    // out; here the pass waits for the queue to empty instead.
    if (Channel->queuedBytes() > 0) {
        tickHeld_ = true;
        holdTickUntilSent();
        return;
    }
    runPass();
}

void TFormMain::holdTickUntilSent() {
    // Not run from inside the channel's pump, which calls back in the middle
    // of moving its queue on: the pass sends bytes and may open message
    // boxes. It goes through the event loop, which looks at the queue again.
    Channel->whenSent([this] {
        QMetaObject::invokeMethod(
            this, [this] { runHeldTick(); }, Qt::QueuedConnection);
    });
}

void TFormMain::runHeldTick() {
    if (!tickHeld_)
        return;
    if (Channel->queuedBytes() > 0) { // more was queued in the meantime
        holdTickUntilSent();
        return;
    }
    tickHeld_ = false;
    guarded([this] { ReadTimerTimer(); });
    // The held pass ran late, maybe just before the timer's next tick, and
    // its poll has only just been queued. The timer starts its interval over
    // from here, so that the next pass, like any other, comes a whole interval
    // after the poll it judges the connection by. (Holding the next tick only
    // until that poll has left would not do: its answer needs time to come
    // back.)
    if (ReadTimer->isActive())
        ReadTimer->start();
}

void TFormMain::runPass() {
    decoding_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{decoding_};
    DecodeReceived();
    Channel->SendByte(code::Poll);
    if (PeriodRunning())
        PeriodShowState();
}

void TFormMain::DecodeReceived() {
    PollAnswered = false;
    Channel->DrainReceived();
    std::vector<Event> events;
    const std::size_t used =
        decode(Channel->RxBuf.data(), static_cast<std::size_t>(Channel->RxCount), events);
    // Bytes of a code whose data has not all arrived stay for the next pass;
    // everything before it is acted upon exactly once.
    Channel->consume(static_cast<int>(used));
    for (const Event& e : events)
        guarded([&] { applyEvent(e); });
    if (!PollAnswered)
        showDisconnected();
}

void TFormMain::applyEvent(const Event& event) {
    // The result records first; the labels then show what they hold.
    applyToResults(event, TekResult, PrevResult, QDateTime::currentDateTime());
    std::visit(
        Overloaded{
            [this](const ev::PollAnswer&) { deviceAnswered(); },
            [this](const ev::Finished&) {
                measurementEnded();
                setStatusText(QStringLiteral("Измерение завершено"));
                Channel->SendByte(code::FinishedAck);
            },
            [this](const ev::Failed&) {
                measurementEnded();
                setStatusText(QStringLiteral("Ошибка измерения"));
            },
            [this](const ev::ResultBegin&) {
                ShiftToPrevious();
                LabTekTime->setText(text::timeNoZeros(TekResult.Time.time()));
                if (ReportIsOpen())
                    ButAddTek->setEnabled(true);
            },
            [this](const ev::ResultComplete&) {
                if (CheckAutoAdd->isChecked())
                    AddRecord(report::Which::Latest);
                if (!TekResult.Valid)
                    return;
                Q_EMIT resultCompleted(TekResult);
                if (Series.isRunning())
                    Q_EMIT seriesStep(TekResult, ++seriesSteps_);
            },
            [this](const ev::Kind& k) { showKind(k.kind); },
            [this](const ev::Voltage&) { LabTekU->setText(voltageLabel(TekResult.U)); },
            [this](const ev::Resistance&) {
                LabTekR->setText(resistanceLabel({TekResult.RkOm, TekResult.R, TekResult.RUnit}));
            },
            [this](const ev::Resistance2&) {
                LabTekR2->setText(
                    resistance2Label({TekResult.R2kOm, TekResult.R2, TekResult.R2Unit}));
            },
            [this](const ev::Koef&) { LabTekKoef->setText(koefLabel(TekResult.Koef)); },
            [this](const ev::SerialNumber& n) {
                const QString t = text::decimal(n.number);
                serialNumber_ = n.number;
                setPanelText(3, t);
                if (settings_)
                    settings_->LabSerNum->setText(t);
            },
            [this](const ev::SerialLetter& l) {
                const QChar c = text::fromCp1251(l.raw);
                const QString t = c.isNull() ? QString() : QString(c);
                serialLetter_ = t;
                setPanelText(2, t);
                if (settings_)
                    settings_->LabSerLet->setText(t);
            },
            [this](const ev::TestVoltage& v) { ComTekE->setEditText(text::decimal(v.volts)); },
            [this](const ev::Delay& d) {
                if (settings_)
                    settings_->CSpinTimeDelay->setValue(d.seconds);
            },
            [this](const ev::StartVoltage& v) {
                if (settings_)
                    settings_->CSpinUStart->setValue(v.volts);
            },
            [this](const ev::Flags& f) {
                if (!settings_)
                    return;
                setComboIndex(settings_->ComboScale, f.bits & 0x01);
                setComboIndex(settings_->ComboLight, (f.bits >> 2) & 0x01);
            },
            [this](const ev::AbsTimes& t) {
                if (!settings_)
                    return;
                settings_->CSpinAbs1->setValue(t.first);
                settings_->CSpinAbsFull->setValue(t.total);
            },
            [this](const ev::PolTimes& t) {
                if (!settings_)
                    return;
                settings_->CSpinPol1->setValue(t.first);
                settings_->CSpinPolFull->setValue(t.total);
            },
        },
        event);
}

void TFormMain::deviceAnswered() {
    PollAnswered = true;
    if (DeviceConnected)
        return;
    ButtonStart->setEnabled(true);
    ComTekE->setEnabled(true);
    setPanelText(0, QStringLiteral("Прибор подключен"));
    setPanelText(1, QStringLiteral("Подкл"));
    if (settings_)
        settings_->LabInformCon->setText(QStringLiteral("Прибор подключен"));
    // Serial number, its letter and the test voltage; the answers come on
    // later ticks.
    Channel->SendByte(code::SerialNumber);
    Channel->SendByte(code::SerialLetter);
    Channel->SendByte(code::TestVoltage);
    DeviceConnected = true;
}

void TFormMain::showDisconnected() {
    setPanelText(0, QStringLiteral("Подключите прибор"));
    setPanelText(1, QStringLiteral("Отключ"));
    setPanelText(2, QString());
    setPanelText(3, QString());
    ButtonStart->setEnabled(false);
    ComTekE->setEnabled(false);
    DeviceConnected = false;
}

void TFormMain::measurementEnded() {
    if (PeriodRunning())
        PeriodNext();
    else
        ButtonStart->setEnabled(true);
}

void TFormMain::showKind(TIzmType kind) {
    LabTekType->setText(text::kindCaption(kind));
    LabTekU->setVisible(true);
    LabTekR->setVisible(kind != izmU);
    LabTekR2->setVisible(kind == izmAbs || kind == izmPol);
    LabTekKoef->setVisible(kind == izmAbs || kind == izmPol);
}

void TFormMain::ShiftToPrevious() {
    // The records have moved already (applyToResults); the labels follow.
    const std::array<std::pair<QLabel*, QLabel*>, 6> pairs{{{LabTekType, LabPrevType},
                                                            {LabTekU, LabPrevU},
                                                            {LabTekR, LabPrevR},
                                                            {LabTekR2, LabPrevR2},
                                                            {LabTekKoef, LabPrevKoef},
                                                            {LabTekTime, LabPrevTime}}};
    for (const auto& [from, to] : pairs)
        to->setText(from->text());
    for (std::size_t i = 1; i <= 4; ++i)
        pairs[i].second->setHidden(pairs[i].first->isHidden());
    if (PrevResult.Valid && ReportIsOpen())
        ButAddPrev->setEnabled(true);
}

// ---- measurement control ----

void TFormMain::ButtonStartClick() {
    ButtonStart->setEnabled(false);
    if (CheckPeriod->isChecked())
        PeriodStart();
    const std::array<std::pair<QRadioButton*, TIzmType>, 4> kinds{
        {{RadIzmU, izmU}, {RadIzmR, izmR}, {RadIzmAbs, izmAbs}, {RadIzmPol, izmPol}}};
    for (const auto& [radio, kind] : kinds) {
        if (!radio->isChecked())
            continue;
        setStatusText(text::measuringStatus(kind));
        Channel->SendByte(startCode(kind));
        StartKind = kind;
        return;
    }
}

bool TFormMain::ComTekEExit() {
    const std::optional<long long> v = testVoltageFromText(ComTekE->currentText());
    if (!v) {
        setStatusText(QStringLiteral("Измерительное напряжение введено неверно"));
        ComTekE->setFocus(Qt::OtherFocusReason);
        return false;
    }
    if (*v > 2500 || *v < 50) {
        setStatusText(QStringLiteral("Измерительное напряжение вне диапазона"));
        ComTekE->setFocus(Qt::OtherFocusReason);
        return false;
    }
    Channel->SendByte(code::SetTestVoltage);
    Channel->SendByte(static_cast<std::uint8_t>(*v % 256));
    Channel->SendByte(static_cast<std::uint8_t>(*v / 256));
    return true;
}

bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ComTekE && event->type() == QEvent::FocusOut)
        comTekEFocusLost(static_cast<QFocusEvent*>(event)->reason());
    if (pressCancelled_ && watched == pressCancelled_ &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick))
        return true;
    return QMainWindow::eventFilter(watched, event);
}

void TFormMain::comTekEFocusLost(Qt::FocusReason reason) {
    // Only a move to another control of this window counts: not the window
    // losing activation, not a popup (the combo's own list, a menu).
    switch (reason) {
    case Qt::ActiveWindowFocusReason:
    case Qt::PopupFocusReason:
    case Qt::MenuBarFocusReason:
    case Qt::NoFocusReason:
        return;
    default:
        break;
    }
    // Disabled while focused (the instrument went away): the toolkit moves
    // the focus on by itself, which is no exit of the operator's.
    if (!ComTekE->isEnabled())
        return;
    QWidget* to = QApplication::focusWidget();
    if (!to || to == ComTekE || ComTekE->isAncestorOf(to) || to->window() != this)
        return;
    bool accepted = true;
    guarded([&] { accepted = ComTekEExit(); });
    if (accepted || reason != Qt::MouseFocusReason)
        return;
    // The click that tried to take the focus away is not carried out: a start
    // must not go ahead with a voltage the operator did not get.
    pressCancelled_ = to;
    to->installEventFilter(this);
    QTimer::singleShot(0, this, [this, target = QPointer<QWidget>(to)] {
        if (target)
            target->removeEventFilter(this);
        pressCancelled_ = nullptr;
    });
}

// ---- periodic series and the settings dialog ----

void TFormMain::setSettingsForm(TFormSettings* settings) {
    settings_ = settings;
    if (settings_)
        settings_->setHost(this);
}

void TFormMain::PeriodStart() {
    Series.PeriodStart(settings_ ? settings_->periodParams() : PeriodParams{});
    seriesSteps_ = 0;
    Q_EMIT seriesStarted();
}

void TFormMain::showSeriesLine(const QString& text) {
    LabPerOstel->setText(text);
    LabPerOstel->show();
}

void TFormMain::hideSeriesLine() {
    LabPerOstel->hide();
}

void TFormMain::RequestSettings() {
    for (std::uint8_t c :
         {code::Delay, code::StartVoltage, code::Flags, code::AbsTimes, code::PolTimes})
        Channel->SendByte(c);
}

void TFormMain::NatroykaClick() {
    // The request goes out first, so that the answers fill the dialog while
    // it is open (the timers keep running behind it).
    RequestSettings();
    if (settings_)
        settings_->exec();
}

bool TFormMain::openPort(const QString& name) {
    Channel->PortOpen = Channel->OpenPort(name);
    return Channel->PortOpen;
}

void TFormMain::startPolling() {
    if (!ReadTimer->isActive())
        ReadTimer->start();
}

void TFormMain::showError(const QString& caption, const QString& text) {
    showErrorBox(settings_ ? static_cast<QWidget*>(settings_) : this, caption, text);
}

} // namespace t5170
