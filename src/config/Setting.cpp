#include "config/Setting.h"

#include "config/ConfigIni.h"
#include "config/ControlRules.h"
#include "link/Protocol.h"
#include "link/TComChannel.h"

#include <QAbstractItemView>
#include <QCollator>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QSerialPortInfo>
#include <QSet>

#include <algorithm>

namespace t5170 {

namespace {

std::uint8_t lowByte(int v) {
    return static_cast<std::uint8_t>(v & 0xFF);
}

// The devices behind "COM1".."COM8": listing them again by path would only
// offer the same port twice.
QSet<QString> fixedPortDevices() {
    QSet<QString> s;
    for (int n = 1; n <= 8; ++n)
        s.insert(TComChannel::devicePath(QStringLiteral("COM%1").arg(n)));
    return s;
}

} // namespace

std::array<std::uint8_t, 13> settingsWriteBytes(const InstrumentSettings& s) {
    // A box with no selection counts as its first item.
    const int flags = std::max(s.lightIndex, 0) * 4 + std::max(s.scaleIndex, 0);
    return {code::SetDelay,
            lowByte(s.delay),
            code::SetFlags,
            lowByte(flags),
            code::SetStartVoltage,
            lowByte(s.startVoltage),
            lowByte(s.startVoltage >> 8),
            code::SetAbsTimes,
            lowByte(s.absFirst),
            lowByte(s.absTotal),
            code::SetPolTimes,
            lowByte(s.polFirst),
            lowByte(s.polTotal)};
}

QStringList systemSerialPorts() {
    QStringList paths;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        paths << info.systemLocation();
    QCollator natural;
    natural.setNumericMode(true); // ttyUSB2 before ttyUSB10
    std::sort(paths.begin(), paths.end(), natural);
    paths.removeDuplicates();
    return paths;
}

TFormSettings::TFormSettings(QString iniPath, QWidget* parent, PortLister ports)
    : QDialog(parent), iniPath_(std::move(iniPath)),
      ports_(ports ? std::move(ports) : PortLister(systemSerialPorts)) {
    setupUi(this);
    // Three groups of Russian captions in 614 x 308: a semi-condensed face one
    // point below the program's font keeps every caption whole.
    QFont compact = font();
    compact.setPointSizeF(compact.pointSizeF() - 1);
    compact.setStretch(QFont::SemiCondensed);
    setFont(compact);
    setFixedSize(614, 308);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    // A long device path must not widen the connection group.
    ComboCom->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ComboCom->setMinimumContentsLength(6);
    connect(RadioKolIzm, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            RadioKolIzmClick();
    });
    connect(RadioFullTime, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            RadioFullTimeClick();
    });
    const std::pair<QPushButton*, void (TFormSettings::*)()> buttons[] = {
        {ButSave, &TFormSettings::ButSaveClick},
        {ButCheckConnect, &TFormSettings::ButCheckConnectClick},
        {ButSavePer, &TFormSettings::ButSavePerClick},
        {ButResetPer, &TFormSettings::ButResetPerClick},
        {ButReadSet, &TFormSettings::ButReadSetClick},
        {ButWriteSet, &TFormSettings::ButWriteSetClick}};
    for (const auto& [button, handler] : buttons)
        connect(button, &QPushButton::clicked, this, handler);
    // Centred on the desktop, not on the main window.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    refreshPortList();
    ReadSettingsIni();
}

void TFormSettings::showEvent(QShowEvent* event) {
    // An adapter plugged in while the program runs shows up here.
    refreshPortList();
    QDialog::showEvent(event);
}

void TFormSettings::refreshPortList() {
    if (!ports_)
        return;
    static const QSet<QString> fixed = fixedPortDevices();
    for (const QString& path : ports_()) {
        if (path.isEmpty() || fixed.contains(path) || ComboCom->findText(path) >= FixedPortCount)
            continue;
        ComboCom->addItem(path);
    }
    // The list itself is as wide as its longest path.
    ComboCom->view()->setMinimumWidth(ComboCom->view()->sizeHintForColumn(0) + 8);
}

void TFormSettings::selectPortByPath(const QString& path) {
    for (int i = FixedPortCount; i < ComboCom->count(); ++i) {
        if (ComboCom->itemText(i) == path) {
            ComboCom->setCurrentIndex(i);
            return;
        }
    }
    // The saved device is not there now (unplugged, or another machine). It
    // is the port the program tried at start, so it stays the choice shown;
    // a name of the fixed entries with an index past them is no device path.
    const bool fixedName = [&] {
        for (int i = 0; i < FixedPortCount; ++i)
            if (ComboCom->itemText(i) == path)
                return true;
        return false;
    }();
    if (path.isEmpty() || fixedName) {
        setComboIndex(ComboCom, -1);
        return;
    }
    ComboCom->addItem(path);
    ComboCom->setCurrentIndex(ComboCom->count() - 1);
}

void TFormSettings::ReadSettingsIni() {
    const IniFile ini(iniPath_);
    const int number = readComNumber(ini);
    // The nine fixed entries keep their indexes; the devices after them come
    // in whatever order the system lists them this time, so one of those is
    // found by the path saved with it.
    if (number < FixedPortCount)
        setComboIndex(ComboCom, number);
    else
        selectPortByPath(readComPort(ini));
    ReadPeriodIni();
}

void TFormSettings::ReadPeriodIni() {
    const PeriodIni v = readPeriodKeys(IniFile(iniPath_));
    CSpinTimeInter->setValue(v.TimeInterval);
    setComboIndex(ComboTimeInt, v.TimeIntervalType);
    setRadioState(RadioKolIzm, v.TypeNumberIzm);
    CSpinNumIzm->setValue(v.NumberIzm);
    setRadioState(RadioFullTime, v.TypeTimeIzm);
    CSpinFullTime->setValue(v.TimeIzm);
    setComboIndex(ComboFullTime, v.TimeIzmType);
}

void TFormSettings::RadioKolIzmClick() {
    CSpinNumIzm->setEnabled(true);
    CSpinFullTime->setEnabled(false);
    ComboFullTime->setEnabled(false);
}

void TFormSettings::RadioFullTimeClick() {
    CSpinNumIzm->setEnabled(false);
    CSpinFullTime->setEnabled(true);
    ComboFullTime->setEnabled(true);
}

void TFormSettings::showWriteFailure() {
    // A setting the operator saved and that is silently gone at the next
    // start would be worse than a message.
    if (host_)
        host_->showError(QStringLiteral("Ошибка"), iniWriteFailedText(iniPath_));
}

void TFormSettings::ButSaveClick() {
    IniFile ini(iniPath_);
    if (!writeConnection(ini, ComboCom->currentText(), ComboCom->currentIndex()))
        showWriteFailure();
}

void TFormSettings::ButCheckConnectClick() {
    LabInformCon->setText(QString());
    if (!host_)
        return;
    host_->closePort();
    if (!host_->openPort(ComboCom->currentText()))
        return;
    host_->startPolling();
    LabInformCon->setText(QStringLiteral("Порт открыт"));
}

void TFormSettings::ButSavePerClick() {
    PeriodIni v;
    v.TimeInterval = CSpinTimeInter->value();
    v.TimeIntervalType = ComboTimeInt->currentIndex();
    v.TypeNumberIzm = RadioKolIzm->isChecked();
    v.NumberIzm = CSpinNumIzm->value();
    v.TypeTimeIzm = RadioFullTime->isChecked();
    v.TimeIzm = CSpinFullTime->value();
    v.TimeIzmType = ComboFullTime->currentIndex();
    IniFile ini(iniPath_);
    if (!writePeriodKeys(ini, v))
        showWriteFailure();
}

void TFormSettings::ButResetPerClick() {
    ReadPeriodIni();
}

void TFormSettings::ButReadSetClick() {
    if (host_)
        host_->requestSettings();
}

void TFormSettings::ButWriteSetClick() {
    // The first-measurement time may not exceed the total time.
    if (CSpinAbs1->value() > CSpinAbsFull->value())
        CSpinAbs1->setValue(CSpinAbsFull->value());
    if (CSpinPol1->value() > CSpinPolFull->value())
        CSpinPol1->setValue(CSpinPolFull->value());
    if (!host_)
        return;
    ButWriteSet->setEnabled(false);
    InstrumentSettings s;
    s.delay = CSpinTimeDelay->value();
    s.lightIndex = ComboLight->currentIndex();
    s.scaleIndex = ComboScale->currentIndex();
    s.startVoltage = CSpinUStart->value();
    s.absFirst = CSpinAbs1->value();
    s.absTotal = CSpinAbsFull->value();
    s.polFirst = CSpinPol1->value();
    s.polTotal = CSpinPolFull->value();
    for (std::uint8_t b : settingsWriteBytes(s))
        host_->sendByte(b);
    // Enabled again once the bytes are on the wire, or were dropped because
    // the port is closed or a write failed.
    host_->whenSent([button = QPointer<QPushButton>(ButWriteSet)] {
        if (button)
            button->setEnabled(true);
    });
}

PeriodParams TFormSettings::periodParams() const {
    PeriodParams p;
    p.intervalValue = CSpinTimeInter->value();
    p.intervalUnit = ComboTimeInt->currentIndex();
    p.byCount = RadioKolIzm->isChecked();
    p.count = CSpinNumIzm->value();
    p.fullTimeValue = CSpinFullTime->value();
    p.fullTimeUnit = ComboFullTime->currentIndex();
    return p;
}

} // namespace t5170
