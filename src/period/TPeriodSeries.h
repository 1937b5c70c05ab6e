#pragma once
// Periodic series of measurements: after each measurement has ended the
// program waits a fixed pause and starts the next one of the same kind, until
// a number of measurements has been made or a total time has passed.

#include "core/Clock.h"
#include "core/Measurement.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>

namespace t5170 {

// A value and the unit index of a "Секунд"/"Минут"/"Часов" box in
// milliseconds: 0 seconds, 1 minutes, 2 hours; any other index (-1 when the
// box has no selection) gives 1 ms whatever the value. 32-bit arithmetic.
std::uint32_t IntervalToMs(int value, int unit);

// The series parameters as the settings dialog's controls stand when a series
// starts.
struct PeriodParams {
    int intervalValue = 1; // CSpinTimeInter
    int intervalUnit = 1;  // ComboTimeInt item index
    bool byCount = true;   // RadioKolIzm checked
    int count = 1;         // CSpinNumIzm
    int fullTimeValue = 1; // CSpinFullTime
    int fullTimeUnit = 1;  // ComboFullTime item index
};

// "Осталось провести : 3 измерений" (the same ending whatever the number).
QString seriesCountText(int left);
// "Окончание периодических измерений через : 1:5:3" for the time left of
// `totalMs` after `elapsedMs`, no leading zeros; 0:0:0 once the total has
// passed, never a negative time.
QString seriesTimeText(std::uint32_t totalMs, std::uint32_t elapsedMs);

// What the series does to the main window. The window implements it; the
// series holds no widget.
class PeriodHost {
public:
    virtual ~PeriodHost() = default;
    // Status bar panel 0.
    virtual void setStatusText(const QString& text) = 0;
    // Through the serial channel (which reports a closed port itself).
    virtual void sendByte(std::uint8_t byte) = 0;
    // ButtonStart.
    virtual void enableStartButton() = 0;
    // LabPerOstel: set its text and show it / hide it keeping its text.
    virtual void showSeriesLine(const QString& text) = 0;
    virtual void hideSeriesLine() = 0;

protected:
    PeriodHost() = default;
    PeriodHost(const PeriodHost&) = default;
    PeriodHost& operator=(const PeriodHost&) = default;
};

// The scheduler. Idle, or Running: Measuring (a start code has gone out and
// the end is awaited through PeriodNext) or Pausing (TimerPeriod armed).
// Everything runs on the user-interface thread.
class TPeriodSeries : public QObject {
    Q_OBJECT
public:
    // `clock` gives milliseconds since an arbitrary origin; only its low
    // 32 bits are used, so the remaining time survives the counter wrapping.
    // Without one, the system's monotonic clock.
    explicit TPeriodSeries(PeriodHost& host, MsClock clock = {}, QObject* parent = nullptr);

    // Kind of the measurement last started from the PC. ButtonStartClick sets
    // it after sending the start code; every later measurement of the series
    // repeats it.
    TIzmType StartKind = izmU;

    // ButtonStartClick with CheckPeriod checked, before the first start code.
    // Takes the parameters afresh, also when a series is already running.
    void PeriodStart(const PeriodParams& params);
    // The instrument reported the end or the failure of a measurement (0x5B,
    // 0x67), whatever started it. Does nothing while idle: then the decoder
    // enables ButtonStart itself.
    void PeriodNext();
    // Ends the series; a measurement in progress is not cancelled.
    void PeriodStop();
    // Writes LabPerOstel; on every ReadTimer tick after the poll while running.
    void PeriodShowState();
    // Tick handlers of the two timers (connected in the constructor).
    void TimerPeriodTimer();
    void TimerFullPerIzmTimer();
    // Click on CheckPeriod: stops a running series, nothing otherwise.
    void CheckPeriodClick();

    bool isRunning() const { return PeriodRunning; }
    bool isByCount() const { return PeriodByCount; }
    // Measurements still to be made, the one in progress included.
    std::int32_t left() const { return PeriodLeft; }
    std::uint32_t intervalMs() const { return PeriodIntervalMs; }
    std::uint32_t fullTimeMs() const { return PeriodFullMs; }
    std::uint32_t startTick() const { return PeriodStartTick; }
    const QTimer& timerPeriod() const { return TimerPeriod; }
    const QTimer& timerFullPerIzm() const { return TimerFullPerIzm; }

private:
    std::uint32_t tickCount() const;

    PeriodHost& host_;
    MsClock clock_;

    bool PeriodRunning = false;
    bool PeriodByCount = false;
    std::int32_t PeriodLeft = 0;
    std::uint32_t PeriodIntervalMs = 0;
    std::uint32_t PeriodFullMs = 0;
    std::uint32_t PeriodStartTick = 0;

    QTimer TimerPeriod{this};
    QTimer TimerFullPerIzm{this};
};

} // namespace t5170
