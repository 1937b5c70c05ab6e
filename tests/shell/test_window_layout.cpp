// The main window as the operator sees it: every label whole and apart from
// the others in each state its texts can take, with the longest values the
// decoder, the report and the series write, inside the fixed client area.
// With T5170_SHOTS_DIR set, each state is also saved there as a PNG.

#include "CaptionCheck.h"
#include "ReportHarness.h"

#include "core/Texts.h"
#include "period/TPeriodSeries.h"

#include <QApplication>
#include <QMenuBar>
#include <QTest>

#include <climits>

using namespace t5170;
using namespace t5170::testing;

namespace {

class MainWindowLayout : public ReportWindow {
protected:
    void SetUp() override {
        ReportWindow::SetUp();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    // The window laid out for what it now shows, checked, and saved when
    // asked for.
    void expectWhole(const QString& state) {
        QApplication::sendPostedEvents();
        QApplication::processEvents();
        SCOPED_TRACE(state.toStdString());
        EXPECT_EQ(cutLabels(*form).join(u"; ").toStdString(), "");
        EXPECT_EQ(overlappingLabels(*form).join(u"; ").toStdString(), "");
        EXPECT_EQ(squeezedControls(*form).join(u"; ").toStdString(), "");
        EXPECT_EQ(QSize(form->width(), form->height() - form->menuBar()->height()),
                  QSize(674, 459));
        const QString shots = qEnvironmentVariable("T5170_SHOTS_DIR");
        if (!shots.isEmpty())
            form->grab().save(
                QDir(shots).filePath(QStringLiteral("layout-main-%1.png").arg(state)));
    }

    // The longest texts of a kind: the largest voltage, the most negative
    // resistances, the largest coefficient, the latest time of day.
    void measure(TIzmType kind) {
        feed(resultBytes(kind, 65535, INT_MIN, INT_MIN, 65535));
        // One day after the other, so that an opened report has one newest
        // record; the two-digit days of December give the longest dates.
        form->TekResult.Time =
            QDateTime(QDate(2026, 12, 20).addDays(measured_++), QTime(23, 59, 59));
        form->LabTekTime->setText(QStringLiteral("23:59:59"));
    }

    int measured_ = 0;
};

TEST_F(MainWindowLayout, EveryLabelWholeAndApartInEveryState) {
    TFormMain& m = *form;
    const QString longestPath = path(u8("newest-on-polarization.xls"));
    const struct {
        const char* state;
        std::function<void()> enter;
    } states[] = {
        {"start", [] {}},
        {"voltage", [&] { measure(izmU); }},
        {"resistance",
         [&] {
             measure(izmR);
             measure(izmR); // the previous result too
         }},
        {"absorption",
         [&] {
             measure(izmAbs);
             measure(izmAbs);
         }},
        {"polarization",
         [&] {
             measure(izmPol);
             measure(izmPol);
             m.LabPrevTime->setText(QStringLiteral("23:59:59"));
         }},
        {"report-created",
         [&] {
             m.N2->trigger();
             m.LabReportDate->setText(QStringLiteral("31.12.2026"));
         }},
        {"record-polarization", [&] { m.ButAddTek->click(); }},
        {"record-absorption",
         [&] {
             measure(izmAbs);
             m.ButAddTek->click();
         }},
        {"record-resistance",
         [&] {
             measure(izmR);
             m.ButAddTek->click();
         }},
        {"record-voltage",
         [&] {
             measure(izmU);
             m.ButAddPrev->click(); // the resistance, now the previous result
             m.ButAddTek->click();
         }},
        {"report-short-name",
         [&] {
             dialogs.saveNames = {path(u8("цех1.xls"))};
             m.SaveaS->trigger();
         }},
        {"report-long-name",
         [&] {
             measure(izmAbs);
             m.ButAddTek->click();
             dialogs.saveNames = {longestPath};
             m.SaveaS->trigger();
         }},
        {"record-read-back",
         [&] {
             // What the report shows of its newest record when it is opened.
             const QString file = path(u8("read-back.xlsx"));
             dialogs.saveNames = {file};
             m.SaveaS->trigger();
             m.Close->trigger();
             dialogs.openNames = {file};
             m.Open->trigger();
         }},
        {"report-longer-name",
         [&] {
             dialogs.saveNames = {path(u8("Отчет об испытаниях изоляции кабелей цеха №1 за "
                                          "декабрь 2026 года.xlsx"))};
             m.SaveaS->trigger();
         }},
        {"series-count", [&] { m.showSeriesLine(seriesCountText(1000)); }},
        {"series-time", [&] { m.showSeriesLine(seriesTimeText(IntervalToMs(100, 2), 0)); }},
        {"series-time-running",
         [&] { m.showSeriesLine(seriesTimeText(IntervalToMs(100, 2), 1000)); }},
        {"status-voltage-not-a-number",
         [&] { m.setStatusText(u8("Измерительное напряжение введено неверно")); }},
        {"status-connected",
         [&] {
             m.setPanelText(0, u8("Прибор подключен"));
             m.setPanelText(1, u8("Подкл"));
             m.setPanelText(2, u8("Щ"));
             m.setPanelText(3, QStringLiteral("65535"));
             m.ButShow->click(); // "Спрятать"
         }},
        {"report-closed",
         [&] {
             m.hideSeriesLine();
             m.Close->trigger();
         }},
    };
    for (const auto& s : states) {
        s.enter();
        expectWhole(QString::fromLatin1(s.state));
    }
    EXPECT_TRUE(dialogs.unexpected.isEmpty()) << dialogs.unexpected.join(u", ").toStdString();
    EXPECT_TRUE(dialogs.errors.empty());
    EXPECT_TRUE(topLevel.empty());
}

TEST_F(MainWindowLayout, ALongReportNameIsShortenedInTheMiddleWithThePathAsTooltip) {
    TFormMain& m = *form;
    m.N2->trigger();
    const struct {
        const char* name;
        bool whole;
    } cases[] = {
        {"цех1.xls", true},
        {"empty-report.xlsx", true},
        {"newest-on-polarization.xls", false},
        {"Отчет об испытаниях изоляции кабелей цеха №1 за декабрь 2026 года.xlsx", false},
    };
    for (const auto& c : cases) {
        const QString name = u8(c.name);
        SCOPED_TRACE(name.toStdString());
        dialogs.saveNames = {path(name)};
        m.SaveaS->trigger();
        QApplication::processEvents();
        const QString shown = m.LabRepName->text();
        EXPECT_EQ(m.LabRepName->toolTip(), QDir::toNativeSeparators(path(name)));
        EXPECT_EQ(cutLabels(*form).join(u"; ").toStdString(), "");
        if (c.whole) {
            EXPECT_EQ(shown, name);
            continue;
        }
        // The start and the end of the name around one ellipsis, the
        // extension whole.
        const qsizetype cut = shown.indexOf(QChar(0x2026));
        ASSERT_GT(cut, 0) << shown.toStdString();
        EXPECT_EQ(shown.count(QChar(0x2026)), 1);
        const QString head = shown.left(cut), tail = shown.mid(cut + 1);
        EXPECT_TRUE(name.startsWith(head));
        EXPECT_TRUE(name.endsWith(tail));
        EXPECT_TRUE(tail.endsWith(name.mid(name.lastIndexOf(QLatin1Char('.')))));
        EXPECT_LT(head.size() + tail.size(), name.size());
    }
    m.Close->trigger();
    EXPECT_EQ(m.LabRepName->text(), u8("нет"));
    EXPECT_EQ(m.LabRepName->toolTip(), QString());
}

} // namespace
