// The settings dialog as the operator sees it: every caption whole in every
// state its labels can take, the platform's spacing between the buttons of a
// pair, and each field beside its caption or directly under it.

#include "CaptionCheck.h"
#include "config/Setting.h"

#include <QDir>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace t5170;
using namespace t5170::testing;

namespace {

const QString LongPath =
    QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");

class SettingsLayout : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        f.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    }
    std::string defects() {
        QCoreApplication::sendPostedEvents();
        QApplication::processEvents();
        QStringList all = squeezedControls(f) + cutLabels(f) + overlappingLabels(f);
        if (f.size() != QSize(614, 308))
            all << QStringLiteral("size %1x%2").arg(f.width()).arg(f.height());
        return all.join(u"; ").toStdString();
    }
    QRect at(const QWidget* w) const { return {w->mapTo(&f, QPoint(0, 0)), w->size()}; }

    QTemporaryDir dir;
    TFormSettings f{dir.filePath(QStringLiteral("t5170.INI")), nullptr,
                    [] { return QStringList{LongPath}; }};
};

TEST_F(SettingsLayout, EveryLabelShowsItsWholeTextInEveryState) {
    const struct {
        const char* name;
        std::function<void(TFormSettings&)> apply;
    } states[] = {
        {"as created", [](TFormSettings&) {}},
        {"serial number and letter",
         [](TFormSettings& s) {
             s.LabSerLet->setText(QStringLiteral("Щ"));
             s.LabSerNum->setText(QStringLiteral("65535"));
         }},
        {"port open",
         [](TFormSettings& s) { s.LabInformCon->setText(QStringLiteral("Порт открыт")); }},
        {"instrument connected",
         [](TFormSettings& s) { s.LabInformCon->setText(QStringLiteral("Прибор подключен")); }},
        {"long device path",
         [](TFormSettings& s) { s.ComboCom->setCurrentIndex(s.ComboCom->findText(LongPath)); }},
        {"time mode", [](TFormSettings& s) { s.RadioFullTime->setChecked(true); }},
        {"largest values",
         [](TFormSettings& s) {
             for (QSpinBox* b : s.findChildren<QSpinBox*>())
                 b->setValue(b->maximum());
         }},
    };
    for (const auto& s : states) {
        SCOPED_TRACE(s.name);
        s.apply(f);
        EXPECT_EQ(defects(), "");
    }
    // For a person to look at.
    if (const QString shots = qEnvironmentVariable("T5170_SHOTS_DIR"); !shots.isEmpty())
        f.grab().save(QDir(shots).filePath(QStringLiteral("layout-settings.png")));
}

// The spacing the style asks for between two push buttons side by side.
int platformButtonSpacing(const QWidget& w) {
    const QStyle* s = w.style();
    int v = s->pixelMetric(QStyle::PM_LayoutHorizontalSpacing, nullptr, &w);
    if (v < 0)
        v = s->combinedLayoutSpacing(QSizePolicy::PushButton, QSizePolicy::PushButton,
                                     Qt::Horizontal, nullptr, const_cast<QWidget*>(&w));
    return v;
}

TEST_F(SettingsLayout, ButtonsOfAPairKeepThePlatformSpacing) {
    const int spacing = platformButtonSpacing(f);
    ASSERT_GT(spacing, 0);
    const std::pair<QPushButton*, QPushButton*> pairs[] = {
        {f.ButWriteSet, f.ButReadSet},
        {f.ButSavePer, f.ButResetPer},
        {f.ButCheckConnect, f.ButSave},
    };
    for (const auto& [left, right] : pairs) {
        SCOPED_TRACE(left->objectName().toStdString() + " " + right->objectName().toStdString());
        const QRect l = at(left), r = at(right);
        EXPECT_EQ(l.top(), r.top()); // one row
        EXPECT_GE(r.left() - (l.right() + 1), spacing);
    }
}

TEST_F(SettingsLayout, EachFieldBesideItsCaptionOrDirectlyUnderIt) {
    // Caption, then the field that belongs to it (a unit caption belongs to
    // its field).
    const std::pair<QWidget*, QWidget*> pairs[] = {
        {f.LabelTimeDelay, f.CSpinTimeDelay}, {f.CSpinTimeDelay, f.LabelTimeDelayUnit},
        {f.LabelLight, f.ComboLight},         {f.LabelScale, f.ComboScale},
        {f.LabelUStart, f.CSpinUStart},       {f.CSpinUStart, f.LabelUStartUnit},
        {f.LabelAbs1, f.CSpinAbs1},           {f.CSpinAbs1, f.LabelAbs1Unit},
        {f.LabelAbsFull, f.CSpinAbsFull},     {f.CSpinAbsFull, f.LabelAbsFullUnit},
        {f.LabelPol1, f.CSpinPol1},           {f.CSpinPol1, f.LabelPol1Unit},
        {f.LabelPolFull, f.CSpinPolFull},     {f.CSpinPolFull, f.LabelPolFullUnit},
        {f.LabelSerial, f.LabSerLet},         {f.LabSerLet, f.LabSerNum},
        {f.LabelComPort, f.ComboCom},         {f.LabelTimeInter, f.CSpinTimeInter},
        {f.CSpinTimeInter, f.ComboTimeInt},   {f.RadioKolIzm, f.CSpinNumIzm},
        {f.RadioFullTime, f.CSpinFullTime},   {f.CSpinFullTime, f.ComboFullTime},
    };
    f.LabSerNum->setText(QStringLiteral("65535"));
    QApplication::processEvents();
    for (const auto& [caption, field] : pairs) {
        SCOPED_TRACE(caption->objectName().toStdString() + " " + field->objectName().toStdString());
        const QRect c = at(caption), g = at(field);
        const bool sameRow = g.top() <= c.bottom() && c.top() <= g.bottom();
        const bool beside = sameRow && g.left() > c.right();
        // Directly under: the next row, no room for another line between.
        const bool under =
            g.top() > c.bottom() && g.top() - c.bottom() <= c.height() && g.left() == c.left();
        EXPECT_TRUE(beside || under)
            << "caption " << c.x() << "," << c.y() << " " << c.width() << "x" << c.height()
            << "; field " << g.x() << "," << g.y() << " " << g.width() << "x" << g.height();
    }
    // Every labelled field is in the table.
    for (const QLabel* l : f.findChildren<QLabel*>()) {
        if (!l->buddy())
            continue;
        const bool listed = std::any_of(std::begin(pairs), std::end(pairs), [&](const auto& p) {
            return p.first == l && p.second == l->buddy();
        });
        EXPECT_TRUE(listed) << l->objectName().toStdString();
    }
}

} // namespace
