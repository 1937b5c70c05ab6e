#pragma once
// "График измерений": results over time, resistances in mega-ohms on a log
// axis on the left, coefficients on a linear axis on the right. It shows a
// series, a journal selection or a range of dates, and takes each new result
// of a running series as it comes, adding a point without a rebuild.

#include "journal/JournalQuery.h"
#include "trend/TrendData.h"

#include <QMainWindow>

#include <array>
#include <functional>
#include <optional>
#include <vector>

class QChart;
class QChartView;
class QDateEdit;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QLogValueAxis;
class QPainter;
class QPushButton;
class QTimer;
class QValueAxis;

namespace t5170::trend {

class TrendWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit TrendWindow(const QString& journalPath, QWidget* parent = nullptr);
    ~TrendWindow() override;

    // What is shown; each replaces what was there. Results in time order.
    void showResults(const std::vector<TIzmResult>& results);
    void showEntries(const std::vector<qint64>& ids);
    void showSeries(qint64 seriesId);
    // The journal's most recent series; nothing when there is none.
    void showLatestSeries();
    // Every result of the journal from `from` to `to`, both included.
    void showDates(const QDate& from, const QDate& to);

    // A running series' results so far; the window then follows it (and
    // the next one). The journal's latest series is followed likewise.
    void followSeries(const std::vector<TIzmResult>& sofar);
    // Whether new results of a series belong in what is shown.
    bool isLive() const { return live_; }
    // A new result, after those shown.
    void appendResult(const TIzmResult& result);

    // The chart with its title, axes and legend, `size` pixels (PNG) or
    // points (PDF, by the name's ending). False when it cannot be written.
    bool saveImage(const QString& path, const QSize& size);
    QImage renderImage(const QSize& size);
    // "Сохранить изображение…": the file the save dialog chooses, by default.
    using SaveNameProvider = std::function<std::optional<QString>()>;
    void setSaveNameProvider(SaveNameProvider provider) { saveName_ = std::move(provider); }
    void saveImageAs();

    // Back to the ranges of the data ("Сбросить масштаб").
    void resetZoom();

    const TrendData& data() const { return data_; }
    QChart* chart() const { return chart_; }
    QChartView* chartView() const { return view_; }
    QLineSeries* series(Line line) const { return series_[static_cast<std::size_t>(line)]; }
    QLogValueAxis* resistanceAxis() const { return rAxis_; }
    QValueAxis* coefficientAxis() const { return kAxis_; }
    QDateTimeAxis* timeAxis() const { return tAxis_; }
    QLabel* outOfScaleLabel() const { return outOfScale_; }
    QDateEdit* fromDate() const { return from_; }
    QDateEdit* toDate() const { return to_; }
    QPushButton* datesButton() const { return dates_; }
    QPushButton* resetButton() const { return reset_; }
    QPushButton* saveButton() const { return save_; }
    // The tooltip text for a point of `line` near time `x`; empty off the line.
    QString hoverTextAt(Line line, double x) const;

protected:
    // The arrow keys pan the chart view.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void paintChart(QPainter& painter, const QSize& size);
    void attach(Line line);
    void detach(Line line);
    void rebuild();
    void fillSeries();
    void applyRanges();
    void updateCounts();
    // Whether a line draws fewer points than it has.
    bool thinned() const;
    void showTimed(const std::vector<journal::TimedResult>& results);
    std::vector<journal::TimedResult>
    readJournal(const std::function<std::vector<journal::TimedResult>(journal::Reader&)>& read);

    QString journalPath_;
    TrendData data_;
    QChart* chart_;
    QChartView* view_;
    QLogValueAxis* rAxis_;
    QValueAxis* kAxis_;
    QDateTimeAxis* tAxis_;
    std::array<QLineSeries*, LineCount> series_{};
    QLabel* outOfScale_;
    QDateEdit* from_;
    QDateEdit* to_;
    QPushButton* dates_;
    QPushButton* reset_;
    QPushButton* save_;
    QTimer* rethin_;
    bool filling_ = false;
    bool live_ = false;
    SaveNameProvider saveName_;
};

} // namespace t5170::trend
