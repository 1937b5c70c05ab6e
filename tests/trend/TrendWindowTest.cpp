// The trend window: a journal selection drawn line by line with the values
// a log axis cannot show counted, axes that hold every value, the image it
// saves, and the program's own series from the simulator appearing point by
// point in the tick that decoded each result.
#include "ShellFixture.h"
#include "link/ResultRecords.h"

#include "core/Texts.h"
#include "journal/Journal.h"
#include "journal/JournalQuery.h"
#include "journal/ui/JournalWindow.h"
#include "shell/JournalRecorder.h"
#include "shell/TrendLink.h"
#include "trend/ui/TrendWindow.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTimeAxis>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QTableView>
#include <QToolTip>
#include <QValueAxis>

#include <map>
#include <set>

namespace t5170::testing {
namespace {

using trend::Line;
using trend::TrendWindow;

const QDateTime Start(QDate(2026, 11, 3), QTime(8, 0, 0));

TIzmResult made(TIzmType kind, int rKom, int r2Kom, int koef, int minutes) {
    return makeResult(kind, 2500, rKom, r2Kom, std::uint16_t(koef), Start.addSecs(60 * minutes));
}

// "No value" as the instrument sends it: −1 kilo-ohm.
TIzmResult noValue(TIzmType kind, int minutes) {
    TIzmResult r = made(kind, 1000, 1000, 1000, minutes);
    r.RkOm = -1;
    r.R = -1;
    r.RUnit = unitKOm;
    return r;
}

// A journal file of every kind over a few days, a few values off the scale.
class TrendJournal : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        journal::OpenOutcome outcome;
        auto j = journal::Journal::open(path(), outcome);
        ASSERT_TRUE(j);
        for (int i = 0; i < 60; ++i) {
            const int at = i * 97; // minutes: spans four days
            TIzmResult r;
            switch (i % 5) {
            case 0:
                r = made(izmR, 300 * (i + 1) * (i + 1), 0, 0, at);
                break;
            case 1:
                r = made(izmAbs, 900 + 5000 * i, 1200 + 9000 * i, 1100 + 20 * i, at);
                break;
            case 2:
                r = made(izmPol, 2000000 + 90000 * i, 2500000 + 100000 * i, 2500 - 30 * i, at);
                break;
            case 3:
                r = made(izmU, 0, 0, 0, at);
                break;
            case 4:
                r = i % 10 == 4 ? noValue(izmR, at) : noValue(izmAbs, at);
                break;
            }
            if (i == 36)
                r.R2 = 0; // an absorption whose R2 alone is off the scale
            results.push_back(r);
            ids.push_back(j->append(r, {}));
        }
        j->flush();
    }
    QString path() const { return dir.filePath(QStringLiteral("t5170.journal.sqlite")); }

    QTemporaryDir dir;
    std::vector<TIzmResult> results;
    std::vector<qint64> ids;
};

int pointsOf(const TrendWindow& w, Line line) {
    return static_cast<int>(w.series(line)->count());
}

TEST_F(TrendJournal, EachLineHasTheSelectedRowsOfItsKindLessThoseOffTheScale) {
    TrendWindow w(path());
    // Every third entry from the second day on, in no order.
    std::vector<qint64> chosen;
    std::map<TIzmType, int> rows;
    int r1Off = 0, r2Off = 0;
    std::map<TIzmType, int> r1OffBy, r2OffBy;
    for (std::size_t i = ids.size(); i-- > 15;)
        if (i % 3 != 1) {
            chosen.push_back(ids[i]);
            const TIzmResult& r = results[i];
            ++rows[r.Kind];
            if (r.R <= 0 && r.Kind != izmU)
                ++r1OffBy[r.Kind], ++r1Off;
            if (r.R2 <= 0 && (r.Kind == izmAbs || r.Kind == izmPol))
                ++r2OffBy[r.Kind], ++r2Off;
        }
    ASSERT_GT(r1Off, 0);
    ASSERT_GT(r2Off, 0);
    w.showEntries(chosen);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));

    EXPECT_EQ(pointsOf(w, Line::R), rows[izmR] - r1OffBy[izmR]);
    EXPECT_EQ(pointsOf(w, Line::AbsR1), rows[izmAbs] - r1OffBy[izmAbs]);
    EXPECT_EQ(pointsOf(w, Line::AbsR2), rows[izmAbs] - r2OffBy[izmAbs]);
    EXPECT_EQ(pointsOf(w, Line::AbsK), rows[izmAbs]) << "K has a linear axis: all drawn";
    EXPECT_EQ(pointsOf(w, Line::PolR1), rows[izmPol] - r1OffBy[izmPol]);
    EXPECT_EQ(pointsOf(w, Line::PolR2), rows[izmPol] - r2OffBy[izmPol]);
    EXPECT_EQ(pointsOf(w, Line::PolK), rows[izmPol]);
    EXPECT_EQ(w.outOfScaleLabel()->text(),
              QStringLiteral("точек вне шкалы: %1").arg(r1Off + r2Off));

    // The legend names the lines drawn, and only those.
    QStringList legend;
    for (QLegendMarker* m : w.chart()->legend()->markers())
        if (m->isVisible())
            legend << m->label();
    EXPECT_EQ(legend,
              (QStringList{"R, сопротивление", "R1 абсорбции", "R2 абсорбции", "K абсорбции",
                           "R1 поляризации", "R2 поляризации", "K поляризации"}));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("График измерений"));

    // A date range: the journal's rows of those days, the same way.
    w.showDates(Start.date().addDays(1), Start.date().addDays(1));
    int dayR = 0;
    for (const TIzmResult& r : results)
        if (r.Time.date() == Start.date().addDays(1) && r.Kind == izmR && r.R > 0)
            ++dayR;
    ASSERT_GT(dayR, 0);
    EXPECT_EQ(pointsOf(w, Line::R), dayR);
    EXPECT_EQ(w.fromDate()->date(), Start.date().addDays(1));
}

TEST_F(TrendJournal, AxesHoldTheSmallestAndLargestValues) {
    TrendWindow w(path());
    w.resize(800, 500);
    w.showEntries(ids);
    double rMin = 1e300, rMax = 0, kMin = 1e300, kMax = -1e300;
    for (const TIzmResult& r : results) {
        if (r.Kind == izmU)
            continue;
        const auto mOm = [](double v, std::uint8_t u) {
            return v * (u == 0 ? 1e-3 : u == 2 ? 1e3 : 1);
        };
        for (double v : {mOm(r.R, r.RUnit), r.Kind == izmR ? 0.0 : mOm(r.R2, r.R2Unit)})
            if (v > 0)
                rMin = std::min(rMin, v), rMax = std::max(rMax, v);
        if (r.Kind != izmR)
            kMin = std::min(kMin, r.Koef / 1000.0), kMax = std::max(kMax, r.Koef / 1000.0);
    }
    // From kilo-ohms up to giga-ohms.
    ASSERT_LT(rMin, 1);
    ASSERT_GT(rMax, 1000);
    EXPECT_LE(w.resistanceAxis()->min(), rMin);
    EXPECT_GE(w.resistanceAxis()->max(), rMax);
    EXPECT_GT(w.resistanceAxis()->min(), rMin / 10.01) << "no more than a decade beyond";
    EXPECT_LT(w.resistanceAxis()->max(), rMax * 10.01);
    EXPECT_TRUE(w.coefficientAxis()->isVisible());
    EXPECT_LE(w.coefficientAxis()->min(), kMin);
    EXPECT_GE(w.coefficientAxis()->max(), kMax);
    EXPECT_LE(w.timeAxis()->min(), results.front().Time);
    EXPECT_GE(w.timeAxis()->max(), results.back().Time);

    // A zoom narrows them, "Сбросить масштаб" brings every value back.
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.chart()->zoomIn(QRectF(w.chart()->plotArea().center(), QSizeF(40, 40)));
    ASSERT_GT(w.timeAxis()->min(), results.front().Time);
    QTest::mouseClick(w.resetButton(), Qt::LeftButton);
    EXPECT_LE(w.timeAxis()->min(), results.front().Time);
    EXPECT_GE(w.timeAxis()->max(), results.back().Time);
    EXPECT_LE(w.resistanceAxis()->min(), rMin);
    EXPECT_GE(w.resistanceAxis()->max(), rMax);
    EXPECT_EQ(pointsOf(w, Line::R), static_cast<int>(w.data().points(Line::R).size()));
}

TEST_F(TrendJournal, SavedPngHasTheSizeAndAPictureAndPdfHasTheTexts) {
    TrendWindow w(path());
    w.resize(700, 450);
    w.showEntries(ids);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const QSize before = w.chart()->size().toSize();
    const QString png = dir.filePath(QStringLiteral("trend.png"));
    ASSERT_TRUE(w.saveImage(png, QSize(1024, 640)));
    const QImage image(png);
    ASSERT_FALSE(image.isNull());
    if (const QString shots = qEnvironmentVariable("T5170_SHOTS"); !shots.isEmpty())
        image.save(QDir(shots).filePath(QStringLiteral("trend-export.png")));
    EXPECT_EQ(image.size(), QSize(1024, 640));
    std::set<QRgb> colours;
    int inked = 0;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2) {
            const QRgb c = image.pixel(x, y);
            colours.insert(c);
            inked += qGray(c) < 200;
        }
    EXPECT_GT(colours.size(), 20u) << "lines of several colours, antialiased";
    EXPECT_GT(inked, 1000) << "text, axes and lines";
    EXPECT_EQ(w.chart()->size().toSize(), before) << "the window's chart keeps its size";

    // The PDF is drawn as text and lines: its words can be read back.
    const QString pdf = dir.filePath(QStringLiteral("trend.pdf"));
    ASSERT_TRUE(w.saveImage(pdf, QSize(800, 500)));
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
    ASSERT_TRUE(p.waitForFinished(30000)) << "pdftotext (poppler-utils) is needed";
    ASSERT_EQ(p.exitCode(), 0);
    const QString words = QString::fromUtf8(p.readAllStandardOutput());
    for (const char* t :
         {"График измерений", "R, сопротивление", "K поляризации", "МОм", "Дата и время"})
        EXPECT_TRUE(words.contains(QString::fromUtf8(t))) << t;
    EXPECT_TRUE(words.contains(QRegularExpression(QStringLiteral("\\b\\d+,\\d+\\b"))))
        << "decimal comma on the axes: " << words.toStdString();
    EXPECT_TRUE(words.contains(QRegularExpression(QStringLiteral("(^|\\s)0,1(\\s|$)"))))
        << "the log axis labelled from its lowest decade: " << words.toStdString();

    // "Сохранить изображение…" with the name chosen.
    const QString chosen = dir.filePath(QStringLiteral("chosen"));
    w.setSaveNameProvider([&] { return std::optional<QString>(chosen); });
    QTest::mouseClick(w.saveButton(), Qt::LeftButton);
    EXPECT_FALSE(QImage(chosen + QStringLiteral(".png")).isNull());
}

TEST(TrendWindowThinning, ManyResultsDrawThinnedButHoverAndZoomUseTheExactOnes) {
    constexpr int Count = 30000;
    std::vector<TIzmResult> many;
    for (int i = 0; i < Count; ++i)
        many.push_back(made(izmR, 5000 + (i * 37) % 900, 0, 0, 3 * i));
    many[12345] = made(izmR, 7000000, 0, 0, 3 * 12345); // a spike, 7 ГОм
    TrendWindow w(QString{});
    w.resize(900, 560);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.showResults(many);
    QLineSeries* line = w.series(Line::R);
    ASSERT_EQ(w.data().points(Line::R).size(), std::size_t(Count));
    EXPECT_LT(line->count(), Count / 4);
    EXPECT_GT(line->count(), 100);
    const double spikeX = double(many[12345].Time.toMSecsSinceEpoch());
    EXPECT_TRUE(line->points().contains(QPointF(spikeX, 7000))) << "the extreme is drawn";
    EXPECT_EQ(w.hoverTextAt(Line::R, spikeX + 1000), trend::hoverText(many[12345]));
    EXPECT_EQ(w.hoverTextAt(Line::R, double(many[777].Time.toMSecsSinceEpoch())),
              trend::hoverText(many[777]))
        << "any result, drawn or thinned out";

    // Zoomed to about a hundred results: each of them drawn as it is.
    w.timeAxis()->setRange(many[20000].Time, many[20099].Time);
    ASSERT_TRUE(QTest::qWaitFor([&] { return line->count() < 200; }, 5000));
    QList<QPointF> want;
    for (int i = 19999; i <= 20100; ++i)
        want << QPointF(double(many[i].Time.toMSecsSinceEpoch()),
                        trend::toMOm(many[i].R, many[i].RUnit));
    EXPECT_EQ(line->points(), want);
    // The arrow key pans: later results come into view, drawn as they are.
    const QDateTime before = w.timeAxis()->min();
    QTest::keyClick(w.chartView(), Qt::Key_Right);
    ASSERT_GT(w.timeAxis()->min(), before);
    ASSERT_TRUE(QTest::qWaitFor([&] { return line->points().back().x() > want.back().x(); }, 5000));
    EXPECT_LT(line->count(), 200);
    for (const QPointF& p : line->points()) {
        const int i = int((p.x() - double(many[0].Time.toMSecsSinceEpoch())) / 180e3);
        ASSERT_EQ(p.y(), trend::toMOm(many[i].R, many[i].RUnit)) << i;
    }
    QTest::mouseClick(w.resetButton(), Qt::LeftButton);
    EXPECT_LT(line->count(), Count / 4);
    EXPECT_LE(w.timeAxis()->min(), many.front().Time);
    EXPECT_GE(w.timeAxis()->max(), many.back().Time);
}

// The program against the simulator, each tick run as soon as the
// instrument has answered (as the window soak does it).
class TrendSeries : public WithInstrument {
protected:
    void SetUp() override {
        WithInstrument::SetUp();
        sim.setMeasureDurationMs(0);
        startProgram();
        ASSERT_TRUE(waitConnected());
        main().CheckPeriod->setChecked(true);
        TFormSettings& s = *w.settings;
        s.RadioKolIzm->setChecked(true);
        s.RadioKolIzmClick();
        s.CSpinTimeInter->setValue(1);
        s.ComboTimeInt->setCurrentIndex(0); // seconds
    }
    void TearDown() override {
        if (w.main)
            main().FormClose();
        WithInstrument::TearDown();
    }

    void runSeries(int count) {
        w.settings->CSpinNumIzm->setValue(count);
        ASSERT_TRUE(QTest::qWaitFor([&] { return main().ButtonStart->isEnabled(); }, 5000));
        QTest::mouseClick(main().ButtonStart, Qt::LeftButton);
        ASSERT_TRUE(main().Series.isRunning());
        QElapsedTimer quiet;
        quiet.start();
        quint64 seen = sim.pollsAnswered(), answeredAtTick = 0;
        while (main().Series.isRunning()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            if (main().Series.timerPeriod().isActive())
                main().Series.TimerPeriodTimer();
            if (main().channel().queuedBytes() == 0 && sim.pollsAnswered() != answeredAtTick) {
                QTest::qWait(25);
                answeredAtTick = sim.pollsAnswered();
                main().ReadTimerTimer();
                main().ReadTimer->start();
            }
            if (sim.pollsAnswered() != seen) {
                seen = sim.pollsAnswered();
                quiet.restart();
            }
            ASSERT_LT(quiet.elapsed(), 10000) << "the series stalled";
        }
    }

    TrendWindow& trendWindow() {
        EXPECT_TRUE(w.trend->window());
        return *w.trend->window();
    }

    void shot(const char* name) {
        const QString folder = qEnvironmentVariable("T5170_SHOTS");
        if (folder.isEmpty())
            return;
        QDir().mkpath(folder);
        trendWindow().grab().save(QDir(folder).filePath(QString::fromUtf8(name)));
    }
};

TEST_F(TrendSeries, EachResultOfASeriesAppearsInTheTickThatDecodedIt) {
    main().RadIzmR->setChecked(true);
    // "График…" comes after the journal's own item.
    const QList<QAction*> items = main().MenuJournal->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0], main().JournalShow);
    EXPECT_EQ(items[1]->text(), QStringLiteral("График…"));
    items[1]->trigger();
    TrendWindow& tw = trendWindow();
    EXPECT_TRUE(tw.isVisible());
    QLineSeries* line = tw.series(Line::R);

    std::vector<TIzmResult> got;
    std::vector<int> pointsAtStep;
    std::vector<QString> hoverAtStep;
    std::unique_ptr<QSignalSpy> replaced;
    const auto conn =
        QObject::connect(&main(), &TFormMain::seriesStep, [&](const TIzmResult& r, int step) {
            EXPECT_EQ(step, int(got.size()) + 1);
            got.push_back(r);
            pointsAtStep.push_back(int(line->count()) + tw.data().outOfScale());
            hoverAtStep.push_back(tw.hoverTextAt(Line::R, double(r.Time.toMSecsSinceEpoch())));
        });
    const auto guard = qScopeGuard([&] { QObject::disconnect(conn); });
    // No rebuild once the series runs: points are only appended.
    QObject::connect(&main(), &TFormMain::seriesStarted, [&] {
        replaced = std::make_unique<QSignalSpy>(line, &QXYSeries::pointsReplaced);
    });
    runSeries(5);
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(pointsAtStep, (std::vector<int>{1, 2, 3, 4, 5}));
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(hoverAtStep[i], trend::hoverText(got[i])) << i;
    ASSERT_TRUE(replaced);
    EXPECT_EQ(replaced->count(), 0);
    EXPECT_EQ(tw.series(Line::R), line);
    EXPECT_EQ(tw.data().results(), got);
    EXPECT_LE(tw.timeAxis()->min(), got.front().Time);
    EXPECT_GE(tw.timeAxis()->max(), got.back().Time);

    // Opened again afterwards: the same series, now read back whole.
    tw.showResults({});
    main().TrendShow->trigger();
    EXPECT_EQ(tw.data().results(), got);
}

TEST_F(TrendSeries, ADryingCurveThenAnAbsorptionSeriesWithK) {
    main().RadIzmR->setChecked(true);
    main().TrendShow->trigger();
    TrendWindow& tw = trendWindow();
    tw.resize(1000, 620);
    // Drying out: from 400 kilo-ohms up to 12 giga-ohms over 20 readings.
    constexpr int Readings = 20;
    const auto drying = [](int i) {
        return qint32(400 * std::pow(30000.0, double(i) / (Readings - 1)));
    };
    int next = 0;
    sim.setNextResult({2500, drying(next++), 0, 0});
    const auto conn =
        QObject::connect(&main(), &TFormMain::seriesStep, [&](const TIzmResult&, int) {
            sim.setNextResult({2500, drying(std::min(next++, Readings - 1)), 0, 0});
        });
    runSeries(Readings);
    QObject::disconnect(conn);
    const auto& pts = tw.data().points(Line::R);
    ASSERT_EQ(pts.size(), std::size_t(Readings));
    for (std::size_t i = 1; i < pts.size(); ++i)
        EXPECT_GT(pts[i].y, pts[i - 1].y) << i;
    EXPECT_NEAR(pts.front().y, 0.4, 1e-9);
    EXPECT_GE(pts.back().y, 11000);
    EXPECT_LE(tw.resistanceAxis()->min(), 0.4);
    EXPECT_GE(tw.resistanceAxis()->max(), pts.back().y);
    QStringList legend;
    for (QLegendMarker* m : tw.chart()->legend()->markers())
        if (m->isVisible())
            legend << m->label();
    EXPECT_EQ(legend, QStringList{QStringLiteral("R, сопротивление")}) << "only the lines drawn";
    EXPECT_FALSE(tw.coefficientAxis()->isVisible());
    shot("trend-drying.png");

    tw.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tw));

    // Hovering a point: its date, time and values in a tooltip.
    const trend::Point& p = pts[12];
    const QPoint at = tw.chartView()->mapFromScene(
        tw.chart()->mapToScene(tw.chart()->mapToPosition(QPointF(p.x, p.y), tw.series(Line::R))));
    QTest::mouseMove(tw.chartView()->viewport(), at + QPoint(-3, 0));
    QTest::mouseMove(tw.chartView()->viewport(), at);
    EXPECT_TRUE(QTest::qWaitFor([] { return QToolTip::isVisible(); }, 3000));
    EXPECT_EQ(QToolTip::text(), trend::hoverText(tw.data().resultOf(p)));
    if (const QString folder = qEnvironmentVariable("T5170_SHOTS"); !folder.isEmpty()) {
        QTest::qWait(300); // the tooltip and the window drawn on the screen
        const QRect g = tw.geometry();
        QGuiApplication::primaryScreen()
            ->grabWindow(0, g.x(), g.y(), g.width(), g.height())
            .save(QDir(folder).filePath(QStringLiteral("trend-hover.png")));
    }
    QToolTip::hideText();

    // A new series replaces the old one in the window that follows them.
    main().RadIzmAbs->setChecked(true);
    const qint32 r1[] = {800, 1500, 3000, 5200, 9000};
    const quint16 k[] = {1100, 1250, 1400, 1500, 1600};
    int n = 0;
    sim.setNextResult({2500, r1[0], r1[0] * k[0] / 1000, k[0]});
    const auto conn2 =
        QObject::connect(&main(), &TFormMain::seriesStep, [&](const TIzmResult&, int) {
            n = std::min(n + 1, 4);
            sim.setNextResult({2500, r1[n], r1[n] * k[n] / 1000, k[n]});
        });
    runSeries(5);
    QObject::disconnect(conn2);
    EXPECT_TRUE(tw.data().points(Line::R).empty());
    ASSERT_EQ(tw.data().points(Line::AbsK).size(), 5u);
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_DOUBLE_EQ(tw.data().points(Line::AbsK)[i].y, k[i] / 1000.0);
    EXPECT_TRUE(tw.coefficientAxis()->isVisible());
    EXPECT_LE(tw.coefficientAxis()->min(), 1.1);
    EXPECT_GE(tw.coefficientAxis()->max(), 1.6);
    shot("trend-absorption.png");

    // The journal window's "График" for the drying curve's rows.
    w.journal->journal()->flush();
    main().JournalShow->trigger();
    journal::JournalWindow* jw = w.journal->window();
    ASSERT_TRUE(jw);
    jw->kindBox()->setCurrentIndex(jw->kindBox()->findData(int(izmR)));
    jw->applyFilter();
    // The window reads the journal on a thread of its own.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !jw->model().busy(); }, 10000));
    ASSERT_EQ(jw->model().rowCount(), Readings);
    jw->table()->selectAll();
    ASSERT_TRUE(jw->trendButton()->isEnabled());
    QTest::mouseClick(jw->trendButton(), Qt::LeftButton);
    EXPECT_FALSE(tw.isLive());
    EXPECT_EQ(tw.data().points(Line::R).size(), std::size_t(Readings));
    EXPECT_TRUE(tw.data().points(Line::AbsK).empty());
}

} // namespace
} // namespace t5170::testing
