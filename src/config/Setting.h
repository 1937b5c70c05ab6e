#pragma once
// The settings dialog: the instrument's own settings (filled by the decoder),
// the serial port and the parameters of a periodic series. Created hidden at
// start-up right after the main window and loaded from the configuration file
// at that moment; its controls keep their values for the whole run.

#include "ui_Setting.h"

#include "period/TPeriodSeries.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>

namespace t5170 {

// What the dialog does to the main window: its serial link, its poll timer,
// the settings request and error boxes. The main window implements it.
class SettingsHost {
public:
    virtual ~SettingsHost() = default;
    // ClosePort on the link (clears PortOpen and DeviceConnected).
    virtual void closePort() = 0;
    // OpenPort with this name, the result stored in PortOpen and returned. A
    // failure has already been shown to the operator.
    virtual bool openPort(const QString& name) = 0;
    // Enables ReadTimer; a timer already running keeps its count.
    virtual void startPolling() = 0;
    // RequestSettings: the five requests for the instrument's settings.
    virtual void requestSettings() = 0;
    virtual void sendByte(std::uint8_t byte) = 0;
    // Runs `done` once every byte queued so far has gone out or was dropped.
    virtual void whenSent(std::function<void()> done) = 0;
    virtual void showError(const QString& caption, const QString& text) = 0;

protected:
    SettingsHost() = default;
    SettingsHost(const SettingsHost&) = default;
    SettingsHost& operator=(const SettingsHost&) = default;
};

// The instrument group's values as they go to the instrument.
struct InstrumentSettings {
    int delay = 0;      // CSpinTimeDelay, seconds
    int lightIndex = 0; // ComboLight
    int scaleIndex = 0; // ComboScale
    int startVoltage = 1000;
    int absFirst = 0, absTotal = 0; // seconds
    int polFirst = 0, polTotal = 0; // minutes
};
// The five write commands in the instrument's expected order: delay, flags,
// start voltage, absorption times, polarization times (13 bytes). A one-byte
// value is the low byte of the control's value.
std::array<std::uint8_t, 13> settingsWriteBytes(const InstrumentSettings& s);

// Device paths of the serial ports the system reports, in natural order.
QStringList systemSerialPorts();

class TFormSettings : public QDialog, public Ui::TFormSettings {
    Q_OBJECT
public:
    using PortLister = std::function<QStringList()>;
    // The nine fixed entries of ComboCom: "COM1".."COM8" and an empty one.
    // ComNumber is an index into them; the devices the system reports follow.
    static constexpr int FixedPortCount = 9;

    // `ports` lists the system's serial devices; by default systemSerialPorts.
    explicit TFormSettings(QString iniPath, QWidget* parent = nullptr, PortLister ports = {});

    const QString& iniPath() const { return iniPath_; }
    // The main window, once it exists; without one the link buttons do nothing.
    void setHost(SettingsHost* host) { host_ = host; }

    // ComNumber, then the series keys, each applied to its control.
    void ReadSettingsIni();
    // The series half of ReadSettingsIni (the reset button reloads it).
    void ReadPeriodIni();

    // A series-mode button that becomes checked, by a click or by loading,
    // decides which fields are enabled.
    void RadioKolIzmClick();
    void RadioFullTimeClick();

    void ButSaveClick();
    void ButCheckConnectClick();
    void ButSavePerClick();
    void ButResetPerClick();
    void ButReadSetClick();
    void ButWriteSetClick();

    static std::uint32_t IntervalToMs(int value, int unit) {
        return t5170::IntervalToMs(value, unit);
    }
    // The series group as its controls stand now, saved or not.
    PeriodParams periodParams() const;

    // Appends the devices the system reports that the list does not hold yet;
    // nothing is removed, so the selection stays. Runs on every showing.
    void refreshPortList();
    void setPortLister(PortLister ports) { ports_ = std::move(ports); }

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Selects a device entry (index FixedPortCount and up) by its path,
    // appending the path when the device is not there now.
    void selectPortByPath(const QString& path);
    void showWriteFailure();

    QString iniPath_;
    SettingsHost* host_ = nullptr;
    PortLister ports_;
};

} // namespace t5170
