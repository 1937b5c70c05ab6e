#pragma once
// The main window: latest and previous results, the report group, the choice
// of measurement, the status bar and the timers. It owns the serial link and
// the result records; the decoder's events are applied to its controls here.

#include "ui_Conpc.h"

#include "config/Setting.h"
#include "link/Protocol.h"
#include "link/TComChannel.h"
#include "period/TPeriodSeries.h"
#include "report/TRepWorkbook.h"
#include "report/ui/FormReportView.h"
#include "report/ui/QtReportDialogs.h"

#include <QIcon>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <array>
#include <memory>
#include <optional>
#include <vector>

class QLabel;
class QTimer;

namespace t5170 {

// The test voltage as typed: a whole decimal number with an optional sign and
// nothing else around it. A number too long to matter comes back as some
// value far outside the instrument's range.
std::optional<long long> testVoltageFromText(const QString& text);

// The program's own icon.
QIcon programIcon();

class TFormMain : public QMainWindow, public Ui::TFormMain, public PeriodHost, public SettingsHost {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 674;
    static constexpr int ClientHeight = 459;
    static constexpr int PanelCount = 4;
    static constexpr std::array<int, PanelCount> PanelWidths{550, 50, 20, 50};

    // Reads the configuration file at iniPath, opens the port it names and
    // starts polling if the port opened.
    explicit TFormMain(QString iniPath, QWidget* parent = nullptr);
    ~TFormMain() override;

    // The settings dialog, created after this window; the decoder fills it.
    void setSettingsForm(TFormSettings* settings);
    TFormSettings* settingsForm() const { return settings_; }

    const QString& iniPath() const { return iniPath_; }
    TComChannel& channel() { return *Channel; }
    // The measurement report (menu "Отчет" and the report group).
    report::TRepWorkbook& report() { return *Report; }

    // The instrument's serial letter and number as it last reported them;
    // kept when it is unplugged, unlike panels 2 and 3.
    const QString& serialLetter() const { return serialLetter_; }
    std::optional<int> serialNumber() const { return serialNumber_; }

    // Status bar panels: 0 messages, 1 connection, 2 serial letter, 3 serial number.
    QString panelText(int panel) const;
    void setPanelText(int panel, const QString& text);
    QLabel* panel(int panel) const { return panels_.at(static_cast<std::size_t>(panel)); }
    // Panel 0, where every status message goes.
    void setStatusText(const QString& text) override { setPanelText(0, text); }

    // Timer handler: receive and decode, then poll. A tick that falls while
    // bytes are still queued is held until the last of them has left and then
    // runs once, from the event loop; ticks meanwhile are taken into it.
    void ReadTimerTimer();
    // One receive-and-decode pass.
    void DecodeReceived();
    // The latest result's labels become the previous one's (code 0x5D).
    void ShiftToPrevious();

    void ButtonStartClick();
    // The test voltage typed into ComTekE: checked and sent. Returns whether
    // it was accepted.
    bool ComTekEExit();

    void ReadMainIni();
    bool WriteMainIni();
    // Shutdown: report, configuration, port. Runs once.
    void FormClose();

    // State owned by the window.
    TComChannel* Channel = nullptr;
    TIzmResult TekResult;
    TIzmResult PrevResult;
    bool DeviceConnected = false;
    bool PollAnswered = false;
    QString ComPortName;

    QTimer* ReadTimer = nullptr;

    // The periodic series. Its clock (milliseconds, monotonic) can be
    // replaced, so that a series of minutes runs in a test in milliseconds.
    void setSeriesClock(MsClock clock) { seriesClock_ = std::move(clock); }
    TPeriodSeries Series{*this, [this] { return seriesClock_ ? seriesClock_() : monotonicMs(); },
                         this};
    // The series' own: the kind it repeats (written by ButtonStartClick after
    // the start code) and its two timers.
    TIzmType& StartKind = Series.StartKind;
    const QTimer* const TimerPeriod = &Series.timerPeriod();
    const QTimer* const TimerFullPerIzm = &Series.timerFullPerIzm();

    // The five requests for the instrument's settings (menu "Настройка" and
    // the dialog's "Прочитать"); the answers fill the dialog on later ticks.
    void RequestSettings();

    // PeriodHost (setStatusText above): the link, ButtonStart, LabPerOstel.
    void sendByte(std::uint8_t byte) override { Channel->SendByte(byte); }
    void enableStartButton() override { ButtonStart->setEnabled(true); }
    void showSeriesLine(const QString& text) override;
    void hideSeriesLine() override;

    // SettingsHost: the settings dialog's way to the link and ReadTimer.
    void closePort() override { Channel->ClosePort(); }
    bool openPort(const QString& name) override;
    void startPolling() override;
    void requestSettings() override { RequestSettings(); }
    void whenSent(std::function<void()> done) override { Channel->whenSent(std::move(done)); }
    void showError(const QString& caption, const QString& text) override;

Q_SIGNALS:
    // A complete result (0x5E with a valid latest result), once the window
    // has applied it, a record added to the report by "Автодобавление"
    // included.
    void resultCompleted(const t5170::TIzmResult& result);
    // A periodic series was started (ButtonStart with CheckPeriod checked).
    void seriesStarted();
    // A complete result that came while a series was running: `step` counts
    // the series' results from 1. Follows resultCompleted for it.
    void seriesStep(const t5170::TIzmResult& result, int step);

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void layoutResultGroups();
    void setupStatusBar();
    void setupFixedGeometry();
    void connectHandlers();

    // The tick's work: decode, poll, series line.
    void runPass();
    void holdTickUntilSent();
    void runHeldTick();
    void applyEvent(const Event& event);
    void deviceAnswered();
    void showDisconnected();
    void measurementEnded();
    void showKind(TIzmType kind);
    void comTekEFocusLost(Qt::FocusReason reason);

    // The periodic series and the report, as the decoder and the shutdown
    // call them.
    bool PeriodRunning() const { return Series.isRunning(); }
    // With the parameters of the settings dialog as they stand.
    void PeriodStart();
    void PeriodNext() { Series.PeriodNext(); }
    void PeriodShowState() { Series.PeriodShowState(); }
    bool ReportIsOpen() const { return Report->IsOpen; }
    void AddRecord(report::Which which) { Report->AddRecord(which); }
    void CloseReport() { Report->CloseReport(); }
    void NatroykaClick();

    QString iniPath_;
    QString serialLetter_;
    std::optional<int> serialNumber_;
    QPointer<TFormSettings> settings_;
    MsClock seriesClock_; // empty: the steady clock
    std::array<QLabel*, PanelCount> panels_{};
    std::vector<Event> events_;
    bool decoding_ = false;
    bool tickHeld_ = false;
    int seriesSteps_ =
        0; // complete results of the series running // a tick waits for the queued bytes to leave
    bool closed_ = false;
    // A press on the control that focus was about to move to, cancelled
    // because the test voltage was refused and focus went back to ComTekE.
    QPointer<QWidget> pressCancelled_;
    // The report goes first: it works on the view and the dialogs.
    std::unique_ptr<report::FormReportView> reportView_;
    std::unique_ptr<report::QtReportDialogs> reportDialogs_;
    std::unique_ptr<report::TRepWorkbook> Report;
};

} // namespace t5170
