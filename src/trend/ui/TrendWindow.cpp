#include "trend/ui/TrendWindow.h"

#include "core/Texts.h"

#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QCursor>
#include <QDateEdit>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QScopeGuard>
#include <QStatusBar>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>

namespace t5170::trend {

namespace {

const QString Title = QStringLiteral("График измерений");
// Above this many points a line is drawn without its point marks.
constexpr std::size_t MarkedPoints = 200;
// In the order of AllLines.
const std::array<QColor, LineCount> LineColours{QColor(0x20, 0x9f, 0xdf), QColor(0x7c, 0xb3, 0x42),
                                                QColor(0xf6, 0xa6, 0x25), QColor(0x6d, 0x5f, 0xd5),
                                                QColor(0xbf, 0x59, 0x3e), QColor(0x1b, 0x9e, 0x77),
                                                QColor(0xd6, 0x2a, 0x8a)};

QDateTime fromMs(double ms) {
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms));
}

} // namespace

TrendWindow::TrendWindow(const QString& journalPath, QWidget* parent)
    : QMainWindow(parent), journalPath_(journalPath), chart_(new QChart),
      view_(new QChartView(chart_)), rAxis_(new QLogValueAxis), kAxis_(new QValueAxis),
      tAxis_(new QDateTimeAxis), outOfScale_(new QLabel), from_(new QDateEdit), to_(new QDateEdit),
      dates_(new QPushButton(QStringLiteral("Показать"))),
      reset_(new QPushButton(QStringLiteral("Сбросить масштаб"))),
      save_(new QPushButton(QStringLiteral("Сохранить изображение…"))), rethin_(new QTimer(this)) {
    setWindowTitle(Title);
    resize(960, 600);

    chart_->setTitle(Title);
    // Axis numbers as the program writes numbers: decimal comma, no grouping.
    QLocale numbers = text::locale();
    numbers.setNumberOptions(QLocale::OmitGroupSeparator);
    chart_->setLocale(numbers);
    chart_->setLocalizeNumbers(true);
    chart_->legend()->setAlignment(Qt::AlignRight);

    // Date over time: the labels stay narrow enough for six ticks.
    tAxis_->setFormat(QStringLiteral("dd.MM.yyyy'<br>'HH:mm"));
    tAxis_->setTitleText(QStringLiteral("Дата и время"));
    tAxis_->setTickCount(6);
    rAxis_->setBase(10);
    // With localized numbers the format needs its precision spelled out.
    rAxis_->setLabelFormat(QStringLiteral("%.10g"));
    rAxis_->setMinorTickCount(8);
    rAxis_->setTitleText(QStringLiteral("R, МОм"));
    rAxis_->setRange(0.1, 1000);
    kAxis_->setLabelFormat(QStringLiteral("%.2f"));
    kAxis_->setTitleText(QStringLiteral("K"));
    kAxis_->setVisible(false);
    chart_->addAxis(tAxis_, Qt::AlignBottom);
    chart_->addAxis(rAxis_, Qt::AlignLeft);
    chart_->addAxis(kAxis_, Qt::AlignRight);

    for (Line line : AllLines) {
        // In the chart (and the legend) only while it has points.
        auto* s = new QLineSeries(this);
        s->setName(lineName(line));
        // A colour of its own for each of the seven lines (the theme has
        // five); coefficients, read against the right axis, thinner. Not
        // dashed: a dashed line of thousands of points takes the raster
        // engine several times longer to draw.
        QPen pen(LineColours[static_cast<std::size_t>(line)]);
        pen.setWidthF(isCoefficient(line) ? 1 : 2);
        s->setPen(pen);
        connect(s, &QLineSeries::hovered, this, [this, line](const QPointF& at, bool on) {
            if (on)
                QToolTip::showText(QCursor::pos(), hoverTextAt(line, at.x()), view_);
            else
                QToolTip::hideText();
        });
        series_[static_cast<std::size_t>(line)] = s;
    }

    view_->setRenderHint(QPainter::Antialiasing);
    view_->setRubberBand(QChartView::RectangleRubberBand);
    view_->setFocusPolicy(Qt::StrongFocus);
    view_->installEventFilter(this);
    // Axis labels move when a live point widens the axes; a partial update
    // leaves their old places drawn on the screen.
    view_->setViewportUpdateMode(QGraphicsView::FullViewportUpdate);

    for (QDateEdit* d : {from_, to_}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
        d->setDate(QDate::currentDate());
    }
    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel(QStringLiteral("с")));
    controls->addWidget(from_);
    controls->addWidget(new QLabel(QStringLiteral("по")));
    controls->addWidget(to_);
    controls->addWidget(dates_);
    controls->addSpacing(16);
    controls->addWidget(outOfScale_);
    controls->addStretch(1);
    controls->addWidget(reset_);
    controls->addWidget(save_);
    auto* central = new QWidget;
    auto* column = new QVBoxLayout(central);
    column->addLayout(controls);
    column->addWidget(view_, 1);
    setCentralWidget(central);

    connect(dates_, &QPushButton::clicked, this, [this] { showDates(from_->date(), to_->date()); });
    connect(reset_, &QPushButton::clicked, this, &TrendWindow::resetZoom);
    connect(save_, &QPushButton::clicked, this, &TrendWindow::saveImageAs);
    // A zoom or a scroll draws the part now in view from the exact points.
    rethin_->setSingleShot(true);
    rethin_->setInterval(0);
    connect(rethin_, &QTimer::timeout, this, &TrendWindow::fillSeries);
    connect(tAxis_, &QDateTimeAxis::rangeChanged, this, [this] {
        if (!filling_)
            rethin_->start();
    });
    // A new size changes how many points the thinned lines need.
    connect(chart_, &QChart::plotAreaChanged, this, [this] {
        if (!filling_ && thinned())
            rethin_->start();
    });
    updateCounts();
}

TrendWindow::~TrendWindow() = default;

void TrendWindow::showResults(const std::vector<TIzmResult>& results) {
    std::vector<journal::TimedResult> timed;
    timed.reserve(results.size());
    for (const TIzmResult& r : results)
        timed.push_back({r.Time.toMSecsSinceEpoch(), r});
    showTimed(timed);
}

void TrendWindow::showTimed(const std::vector<journal::TimedResult>& results) {
    data_.clear();
    for (const journal::TimedResult& r : results)
        data_.append(r.result, r.ms);
    if (const auto t = data_.timeRange()) {
        from_->setDate(fromMs(t->min).date());
        to_->setDate(fromMs(t->max).date());
    }
    rebuild();
}

std::vector<journal::TimedResult> TrendWindow::readJournal(
    const std::function<std::vector<journal::TimedResult>(journal::Reader&)>& read) {
    journal::Reader reader(journalPath_);
    if (!reader.isOpen()) {
        statusBar()->showMessage(reader.error());
        return {};
    }
    std::vector<journal::TimedResult> out = read(reader);
    std::stable_sort(
        out.begin(), out.end(),
        [](const journal::TimedResult& a, const journal::TimedResult& b) { return a.ms < b.ms; });
    return out;
}

namespace {

std::vector<journal::TimedResult> timed(const std::vector<journal::Entry>& entries) {
    std::vector<journal::TimedResult> out;
    out.reserve(entries.size());
    for (const journal::Entry& e : entries)
        out.push_back({e.result.Time.toMSecsSinceEpoch(), e.result});
    return out;
}

} // namespace

void TrendWindow::followSeries(const std::vector<TIzmResult>& sofar) {
    live_ = true;
    showResults(sofar);
}

void TrendWindow::showEntries(const std::vector<qint64>& ids) {
    live_ = false;
    showTimed(readJournal([&](journal::Reader& r) { return timed(r.entries(ids)); }));
}

void TrendWindow::showSeries(qint64 seriesId) {
    live_ = false;
    showTimed(readJournal([&](journal::Reader& r) { return timed(r.series(seriesId)); }));
}

void TrendWindow::showLatestSeries() {
    live_ = true;
    showTimed(readJournal([](journal::Reader& r) {
        const auto id = r.latestSeries();
        return id ? timed(r.series(*id)) : std::vector<journal::TimedResult>{};
    }));
}

void TrendWindow::showDates(const QDate& from, const QDate& to) {
    live_ = false;
    journal::Filter filter;
    filter.from = std::min(from, to);
    filter.to = std::max(from, to);
    showTimed(readJournal([&](journal::Reader& r) { return r.results(filter); }));
}

void TrendWindow::appendResult(const TIzmResult& result) {
    const Added added = data_.append(result);
    // The new point is drawn as it is: nothing here refills a line.
    const bool was = filling_;
    filling_ = true;
    const auto restore = qScopeGuard([&] { filling_ = was; });
    for (Line line : added.lines) {
        const auto& pts = data_.points(line);
        QLineSeries* s = series(line);
        s->append(pts.back().x, pts.back().y);
        if (pts.size() == 1)
            attach(line);
        if (pts.size() == MarkedPoints + 1)
            s->setPointsVisible(false);
    }
    if (!added.lines.empty() && !chart_->isZoomed()) {
        // The new point is already drawn; widening the axes needs no refill.
        const double x = data_.points(added.lines.front()).back().x;
        const bool outside =
            fromMs(x) > tAxis_->max() || fromMs(x) < tAxis_->min() ||
            data_.resistanceRange().value_or(Range{1, 1}).min < rAxis_->min() ||
            data_.resistanceRange().value_or(Range{1, 1}).max > rAxis_->max() ||
            (data_.coefficientRange() && (data_.coefficientRange()->min < kAxis_->min() ||
                                          data_.coefficientRange()->max > kAxis_->max()));
        if (outside) {
            applyRanges();
            // Room ahead for the next results: the axes change seldom.
            const QDateTime from = tAxis_->min(), to = tAxis_->max();
            tAxis_->setMax(to.addMSecs(from.msecsTo(to) / 10));
        }
    }
    if (added.outOfScale)
        updateCounts();
}

void TrendWindow::rebuild() {
    filling_ = true;
    chart_->zoomReset();
    applyRanges();
    filling_ = false;
    rethin_->stop();
    fillSeries();
    updateCounts();
}

void TrendWindow::resetZoom() {
    rebuild();
}

void TrendWindow::applyRanges() {
    if (const auto t = data_.timeRange()) {
        const Range r = timeAxisRange(*t);
        // Seconds once the whole span is within an hour.
        tAxis_->setFormat(r.max - r.min < 3600e3 ? QStringLiteral("dd.MM.yyyy'<br>'HH:mm:ss")
                                                 : QStringLiteral("dd.MM.yyyy'<br>'HH:mm"));
        tAxis_->setRange(fromMs(r.min), fromMs(r.max));
    }
    if (const auto r = data_.resistanceRange()) {
        const Range a = logAxisRange(*r);
        // A hair wider, so that rounding keeps both end decades labelled.
        rAxis_->setRange(a.min * (1 - 1e-9), a.max * (1 + 1e-9));
    }
    if (const auto k = data_.coefficientRange()) {
        const Range a = linearAxisRange(*k);
        kAxis_->setRange(a.min, a.max);
    }
    kAxis_->setVisible(data_.coefficientRange().has_value());
}

void TrendWindow::attach(Line line) {
    QLineSeries* s = series(line);
    if (s->chart())
        return;
    chart_->addSeries(s);
    s->attachAxis(tAxis_);
    s->attachAxis(isCoefficient(line) ? static_cast<QAbstractAxis*>(kAxis_) : rAxis_);
}

void TrendWindow::detach(Line line) {
    QLineSeries* s = series(line);
    if (!s->chart())
        return;
    chart_->removeSeries(s);
    s->setParent(this);
}

void TrendWindow::fillSeries() {
    const bool was = filling_;
    filling_ = true;
    const double from = static_cast<double>(tAxis_->min().toMSecsSinceEpoch());
    const double to = static_cast<double>(tAxis_->max().toMSecsSinceEpoch());
    // Two pixels a bucket: up to four points each, drawn on top of another.
    const int buckets = std::max(100, static_cast<int>(chart_->plotArea().width() / 2));
    for (Line line : AllLines) {
        const auto& pts = data_.points(line);
        QLineSeries* s = series(line);
        const std::vector<QPointF> shown = thin(pts, from, to, buckets);
        s->replace(QList<QPointF>(shown.begin(), shown.end()));
        s->setPointsVisible(pts.size() <= MarkedPoints);
        if (pts.empty())
            detach(line);
        else
            attach(line);
    }
    filling_ = was;
}

bool TrendWindow::thinned() const {
    return std::any_of(AllLines.begin(), AllLines.end(), [this](Line line) {
        return series(line)->count() != static_cast<qsizetype>(data_.points(line).size());
    });
}

void TrendWindow::updateCounts() {
    outOfScale_->setText(QStringLiteral("точек вне шкалы: %1").arg(data_.outOfScale()));
}

QString TrendWindow::hoverTextAt(Line line, double x) const {
    const Point* p = data_.nearest(line, x);
    return p ? hoverText(data_.resultOf(*p)) : QString();
}

void TrendWindow::paintChart(QPainter& painter, const QSize& size) {
    // The chart laid out at the target's size, then back at the window's.
    const QSizeF shown = chart_->size();
    chart_->resize(size);
    if (QGraphicsLayout* l = chart_->layout())
        l->activate();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    chart_->scene()->render(&painter, QRectF(QPointF(0, 0), size),
                            QRectF(chart_->pos(), QSizeF(size)));
    chart_->resize(shown);
    if (QGraphicsLayout* l = chart_->layout())
        l->activate();
}

QImage TrendWindow::renderImage(const QSize& size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    paintChart(painter, size);
    return image;
}

bool TrendWindow::saveImage(const QString& path, const QSize& size) {
    if (!path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive))
        return renderImage(size).save(path, "PNG");
    // One page of the chart's size in points, drawn as lines and text.
    QPdfWriter pdf(path);
    pdf.setTitle(Title);
    pdf.setCreator(QCoreApplication::applicationName());
    pdf.setResolution(72);
    pdf.setPageSize(QPageSize(QSizeF(size), QPageSize::Point));
    pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter;
    if (!painter.begin(&pdf))
        return false;
    painter.setRenderHint(QPainter::Antialiasing);
    paintChart(painter, size);
    return painter.end();
}

void TrendWindow::saveImageAs() {
    QString name;
    if (saveName_) {
        name = saveName_().value_or(QString());
    } else {
        name = QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить изображение"), {},
                                            QStringLiteral("PNG (*.png);;PDF (*.pdf)"));
    }
    if (name.isEmpty())
        return;
    if (QFileInfo(name).suffix().isEmpty())
        name += QStringLiteral(".png");
    if (!saveImage(name, chart_->size().toSize()))
        statusBar()->showMessage(QStringLiteral("Не удалось сохранить изображение %1").arg(name));
}

bool TrendWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Left || key == Qt::Key_Right) {
            // A tenth of the plot a press; the part now in view is drawn anew.
            const qreal step = chart_->plotArea().width() / 10;
            chart_->scroll(key == Qt::Key_Left ? -step : step, 0);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace t5170::trend
