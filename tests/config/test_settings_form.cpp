// The settings dialog as created at start-up: its controls and what loading
// the configuration file does to them.

#include "CaptionCheck.h"
#include "config/Conset.h"
#include "config/IniFile.h"
#include "config/Setting.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace t5170;

namespace {

class SettingsForm : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath(QStringLiteral("t5170.INI")); }
    void put(const QByteArray& content) const {
        QFile f(path());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    static QStringList items(const QComboBox* box) {
        QStringList l;
        for (int i = 0; i < box->count(); ++i)
            l << box->itemText(i);
        return l;
    }
};

TEST_F(SettingsForm, ControlsRangesAndCaptions) {
    // No serial device on this machine: the list holds its nine entries only.
    TFormSettings f(path(), nullptr, [] { return QStringList{}; });
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Настройка"));
    EXPECT_EQ(f.size(), QSize(614, 308));
    EXPECT_EQ(f.minimumSize(), f.maximumSize());
    EXPECT_FALSE(f.isVisible());

    const struct {
        QSpinBox* spin;
        int min, max, step;
    } spins[] = {
        {f.CSpinTimeDelay, 0, 15, 1},  {f.CSpinUStart, 50, 2500, 50}, {f.CSpinAbs1, 0, 99, 5},
        {f.CSpinAbsFull, 0, 99, 5},    {f.CSpinPol1, 0, 61, 1},       {f.CSpinPolFull, 0, 61, 1},
        {f.CSpinTimeInter, 1, 100, 1}, {f.CSpinNumIzm, 1, 1000, 1},   {f.CSpinFullTime, 1, 100, 1},
    };
    for (const auto& s : spins) {
        SCOPED_TRACE(s.spin->objectName().toStdString());
        EXPECT_EQ(s.spin->minimum(), s.min);
        EXPECT_EQ(s.spin->maximum(), s.max);
        EXPECT_EQ(s.spin->singleStep(), s.step);
    }
    // The instrument group before the instrument has said anything.
    EXPECT_EQ(f.CSpinTimeDelay->value(), 0);
    EXPECT_EQ(f.CSpinUStart->value(), 1000);
    EXPECT_EQ(f.CSpinAbs1->value(), 0);
    EXPECT_EQ(f.CSpinPolFull->value(), 0);
    EXPECT_EQ(f.ComboLight->currentText(), QStringLiteral("Выключена"));
    EXPECT_EQ(f.ComboScale->currentText(), QStringLiteral("50 Вольт"));
    EXPECT_EQ(items(f.ComboLight),
              (QStringList{QStringLiteral("Выключена"), QStringLiteral("Включена")}));
    EXPECT_EQ(items(f.ComboScale),
              (QStringList{QStringLiteral("50 Вольт"), QStringLiteral("Шкала")}));
    EXPECT_EQ(f.LabSerLet->text(), QStringLiteral("нет"));
    EXPECT_EQ(f.LabSerNum->text(), QString());
    EXPECT_EQ(f.LabInformCon->text(), QStringLiteral("Выберите порт"));

    EXPECT_EQ(items(f.ComboCom),
              (QStringList{QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"),
                           QStringLiteral("COM4"), QStringLiteral("COM5"), QStringLiteral("COM6"),
                           QStringLiteral("COM7"), QStringLiteral("COM8"), QString()}));
    const QStringList units{QStringLiteral("Секунд"), QStringLiteral("Минут"),
                            QStringLiteral("Часов")};
    EXPECT_EQ(items(f.ComboTimeInt), units);
    EXPECT_EQ(items(f.ComboFullTime), units);
    for (const QComboBox* box :
         {f.ComboCom, f.ComboLight, f.ComboScale, f.ComboTimeInt, f.ComboFullTime})
        EXPECT_FALSE(box->isEditable()) << box->objectName().toStdString();

    const struct {
        QAbstractButton* button;
        const char* text;
    } buttons[] = {
        {f.ButWriteSet, "Записать"},
        {f.ButReadSet, "Прочитать"},
        {f.ButCheckConnect, "Проверить подключение"},
        {f.ButSave, "Сохранить настройку"},
        {f.ButSavePer, "Сохранить"},
        {f.ButResetPer, "Сбросить изменения"},
        {f.RadioKolIzm, "Количество измерений"},
        {f.RadioFullTime, "Общее время измерений"},
    };
    for (const auto& b : buttons)
        EXPECT_EQ(b.button->text(), QString::fromUtf8(b.text));
    EXPECT_EQ(f.GroupDevice->title(), QStringLiteral("Настройка прибора"));
    EXPECT_EQ(f.GroupConnect->title(), QStringLiteral("Настройка соединения"));
    EXPECT_EQ(f.GroupPeriod->title(), QStringLiteral("Периодические измерения"));
}

TEST_F(SettingsForm, EveryCaptionIsWhole) {
    // A long device path chosen must not push anything out of the dialog.
    const QString longPath =
        QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    TFormSettings f(path(), nullptr, [&] { return QStringList{longPath}; });
    f.ComboCom->setCurrentIndex(f.ComboCom->findText(longPath));
    ASSERT_EQ(f.ComboCom->currentIndex(), TFormSettings::FixedPortCount);
    f.LabSerNum->setText(QStringLiteral("65535"));
    f.LabInformCon->setText(QStringLiteral("Прибор подключен"));
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    EXPECT_EQ(f.size(), QSize(614, 308));
    EXPECT_EQ(t5170::testing::squeezedControls(f).join(u"; ").toStdString(), "");
}

TEST_F(SettingsForm, NoFileLoadsTheDefaults) {
    TFormSettings f(path());
    // COM1, an interval of 1 minute, count mode with 10 measurements (not the
    // field's own 1), a total time of 1 minute that is disabled.
    EXPECT_EQ(f.ComboCom->currentIndex(), 0);
    EXPECT_EQ(f.ComboCom->currentText(), QStringLiteral("COM1"));
    EXPECT_EQ(f.CSpinTimeInter->value(), 1);
    EXPECT_EQ(f.ComboTimeInt->currentIndex(), 1);
    EXPECT_TRUE(f.RadioKolIzm->isChecked());
    EXPECT_FALSE(f.RadioFullTime->isChecked());
    EXPECT_EQ(f.CSpinNumIzm->value(), 10);
    EXPECT_TRUE(f.CSpinNumIzm->isEnabled());
    EXPECT_EQ(f.CSpinFullTime->value(), 1);
    EXPECT_EQ(f.ComboFullTime->currentIndex(), 1);
    EXPECT_FALSE(f.CSpinFullTime->isEnabled());
    EXPECT_FALSE(f.ComboFullTime->isEnabled());
    EXPECT_FALSE(QFile::exists(path()));
}

TEST_F(SettingsForm, LoadingTimeModeEnablesItsFields) {
    put("[Connection]\nComNumber=8\n[Period]\nTimeInterval=30\nTimeIntervalType=0\n"
        "TypeNumberIzm=0\nNumberIzm=3\nTypeTimeIzm=1\nTimeIzm=2\nTimeIzmType=2\n");
    TFormSettings f(path());
    EXPECT_EQ(f.ComboCom->currentIndex(), 8);
    EXPECT_EQ(f.ComboCom->currentText(), QString());
    EXPECT_EQ(f.CSpinTimeInter->value(), 30);
    EXPECT_EQ(f.ComboTimeInt->currentIndex(), 0);
    EXPECT_FALSE(f.RadioKolIzm->isChecked());
    EXPECT_TRUE(f.RadioFullTime->isChecked());
    EXPECT_EQ(f.CSpinNumIzm->value(), 3);
    EXPECT_FALSE(f.CSpinNumIzm->isEnabled());
    EXPECT_TRUE(f.CSpinFullTime->isEnabled());
    EXPECT_TRUE(f.ComboFullTime->isEnabled());
    EXPECT_EQ(f.CSpinFullTime->value(), 2);
    EXPECT_EQ(f.ComboFullTime->currentIndex(), 2);
}

TEST_F(SettingsForm, BothModeKeysTrueMeansTimeModeNeitherMeansNone) {
    put("[Period]\nTypeNumberIzm=1\nTypeTimeIzm=1\n");
    {
        TFormSettings f(path());
        EXPECT_FALSE(f.RadioKolIzm->isChecked());
        EXPECT_TRUE(f.RadioFullTime->isChecked());
        EXPECT_TRUE(f.CSpinFullTime->isEnabled());
    }
    put("[Period]\nTypeNumberIzm=0\nTypeTimeIzm=0\n");
    TFormSettings f(path());
    EXPECT_FALSE(f.RadioKolIzm->isChecked());
    EXPECT_FALSE(f.RadioFullTime->isChecked());
    // Unchecking changes no field: the count mode's fields as created.
    EXPECT_TRUE(f.CSpinNumIzm->isEnabled());
    EXPECT_FALSE(f.CSpinFullTime->isEnabled());
    // The operator can still pick a mode.
    f.RadioFullTime->click();
    EXPECT_TRUE(f.RadioFullTime->isChecked());
    EXPECT_FALSE(f.CSpinNumIzm->isEnabled());
}

TEST_F(SettingsForm, IndexOutsideTheListLeavesNoSelection) {
    put("[Connection]\nComNumber=9\n[Period]\nTimeIntervalType=7\nTimeIzmType=-1\n");
    TFormSettings f(path());
    EXPECT_EQ(f.ComboCom->currentIndex(), -1);
    EXPECT_EQ(f.ComboTimeInt->currentIndex(), -1);
    EXPECT_EQ(f.ComboFullTime->currentIndex(), -1);
}

TEST_F(SettingsForm, ComNumberPositionsTheListWhateverComPortSays) {
    put("[Connection]\nComPort=COM3\nComNumber=0\n");
    TFormSettings f(path());
    EXPECT_EQ(f.ComboCom->currentText(), QStringLiteral("COM1"));
}

TEST_F(SettingsForm, ReloadingThePeriodKeysLeavesThePortAlone) {
    put("[Connection]\nComNumber=2\n[Period]\nNumberIzm=7\n");
    TFormSettings f(path());
    f.ComboCom->setCurrentIndex(5);
    f.CSpinNumIzm->setValue(99);
    f.RadioFullTime->click();
    f.ReadPeriodIni();
    EXPECT_EQ(f.ComboCom->currentIndex(), 5);
    EXPECT_EQ(f.CSpinNumIzm->value(), 7);
    EXPECT_TRUE(f.RadioKolIzm->isChecked());
    EXPECT_TRUE(f.CSpinNumIzm->isEnabled());
    EXPECT_FALSE(f.CSpinFullTime->isEnabled());
}

// ---- the port list and the connection keys ----

TEST_F(SettingsForm, SystemDevicesFollowTheNineEntries) {
    // /dev/ttyS0 is COM1 already; the rest come in natural order after the
    // nine fixed entries, whose indexes ComNumber relies on.
    TFormSettings f(path(), nullptr, [] {
        return QStringList{QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyACM0"),
                           QStringLiteral("/dev/ttyUSB0")};
    });
    const QStringList all = items(f.ComboCom);
    ASSERT_EQ(all.size(), 11);
    EXPECT_EQ(all.mid(0, 9),
              (QStringList{QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"),
                           QStringLiteral("COM4"), QStringLiteral("COM5"), QStringLiteral("COM6"),
                           QStringLiteral("COM7"), QStringLiteral("COM8"), QString()}));
    EXPECT_EQ(all.mid(9),
              (QStringList{QStringLiteral("/dev/ttyACM0"), QStringLiteral("/dev/ttyUSB0")}));
}

TEST_F(SettingsForm, SaveWritesTheSelectedEntryAndItsIndex) {
    const struct {
        int index;
        const char* comPort;
    } cases[] = {{2, "COM3"}, {8, ""}, {10, "/dev/ttyUSB0"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        QFile::remove(path());
        TFormSettings f(path(), nullptr, [] {
            return QStringList{QStringLiteral("/dev/ttyACM0"), QStringLiteral("/dev/ttyUSB0")};
        });
        f.ComboCom->setCurrentIndex(c.index);
        f.ButSave->click();
        const IniFile ini(path());
        EXPECT_EQ(ini.readValue(u"Connection", u"ComPort"), QString::fromUtf8(c.comPort));
        EXPECT_EQ(ini.readValue(u"Connection", u"ComNumber"), QString::number(c.index));
        // Nothing but the two keys.
        EXPECT_EQ(ini.readValue(u"Period", u"NumberIzm"), std::nullopt);
    }
}

TEST_F(SettingsForm, ASavedDeviceIsFoundByItsPathAtTheNextStart) {
    // Saved while the system listed two adapters; the index alone would now
    // point at another device or past the list.
    put("[Connection]\nComPort=/dev/ttyUSB0\nComNumber=10\n");
    {
        TFormSettings f(path(), nullptr,
                        [] { return QStringList{QStringLiteral("/dev/ttyUSB0")}; });
        EXPECT_EQ(f.ComboCom->currentIndex(), 9);
        EXPECT_EQ(f.ComboCom->currentText(), QStringLiteral("/dev/ttyUSB0"));
    }
    {
        // Unplugged: the port the program tried at start stays the one shown.
        TFormSettings f(path(), nullptr,
                        [] { return QStringList{QStringLiteral("/dev/ttyACM0")}; });
        EXPECT_EQ(f.ComboCom->currentText(), QStringLiteral("/dev/ttyUSB0"));
        EXPECT_EQ(items(f.ComboCom).count(QStringLiteral("/dev/ttyUSB0")), 1);
    }
    // A fixed name with an index past the nine names no device: no selection.
    put("[Connection]\nComPort=COM3\nComNumber=12\n");
    TFormSettings f(path(), nullptr, [] { return QStringList{QStringLiteral("/dev/ttyUSB0")}; });
    EXPECT_EQ(f.ComboCom->currentIndex(), -1);
    EXPECT_EQ(items(f.ComboCom).size(), 10);
}

TEST_F(SettingsForm, ShowingAddsDevicesPluggedInSinceAndKeepsTheChoice) {
    QStringList devices{QStringLiteral("/dev/ttyUSB0")};
    TFormSettings f(path(), nullptr, [&] { return devices; });
    f.ComboCom->setCurrentIndex(9);
    devices = {QStringLiteral("/dev/ttyACM0")}; // USB0 gone, ACM0 new
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    EXPECT_EQ(items(f.ComboCom).mid(9),
              (QStringList{QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyACM0")}));
    EXPECT_EQ(f.ComboCom->currentText(), QStringLiteral("/dev/ttyUSB0"));
}

// ---- the series group ----

TEST_F(SettingsForm, ResetRestoresTheSavedValuesOrTheDefaults) {
    const auto edit = [](TFormSettings& f) {
        f.CSpinTimeInter->setValue(42);
        f.ComboTimeInt->setCurrentIndex(2);
        f.RadioFullTime->click();
        f.CSpinNumIzm->setValue(500);
        f.CSpinFullTime->setValue(77);
        f.ComboFullTime->setCurrentIndex(0);
        f.ComboCom->setCurrentIndex(6);
    };
    const auto series = [](const TFormSettings& f) {
        return std::vector<int>{f.CSpinTimeInter->value(),       f.ComboTimeInt->currentIndex(),
                                f.RadioKolIzm->isChecked(),      f.CSpinNumIzm->value(),
                                f.RadioFullTime->isChecked(),    f.CSpinFullTime->value(),
                                f.ComboFullTime->currentIndex(), f.CSpinNumIzm->isEnabled(),
                                f.CSpinFullTime->isEnabled()};
    };
    TFormSettings f(path());
    // Nothing saved: interval 1 minute, count mode, 10 measurements, total
    // time 1 minute.
    const std::vector<int> defaults{1, 1, true, 10, false, 1, 1, true, false};
    edit(f);
    f.ButResetPer->click();
    EXPECT_EQ(series(f), defaults);
    EXPECT_EQ(f.ComboCom->currentIndex(), 6); // not the reset's business

    // Saved, edited again, reset: the saved values.
    f.CSpinTimeInter->setValue(5);
    f.ComboTimeInt->setCurrentIndex(0);
    f.RadioFullTime->click();
    f.CSpinFullTime->setValue(3);
    f.ComboFullTime->setCurrentIndex(2);
    f.ButSavePer->click();
    const std::vector<int> saved{5, 0, false, 10, true, 3, 2, false, true};
    EXPECT_EQ(series(f), saved);
    edit(f);
    f.RadioKolIzm->click();
    f.ButResetPer->click();
    EXPECT_EQ(series(f), saved);
    const IniFile ini(path());
    EXPECT_EQ(ini.readValue(u"Period", u"TypeNumberIzm"), QStringLiteral("0"));
    EXPECT_EQ(ini.readValue(u"Period", u"TimeIzmType"), QStringLiteral("2"));
    EXPECT_EQ(ini.readValue(u"Connection", u"ComNumber"), std::nullopt);
}

TEST_F(SettingsForm, SeriesParametersAreTheControlsAsTheyStand) {
    put("[Period]\nTimeInterval=4\nTimeIntervalType=7\nNumberIzm=3\n");
    TFormSettings f(path());
    EXPECT_EQ(f.ComboTimeInt->currentIndex(), -1);
    PeriodParams p = f.periodParams();
    EXPECT_EQ(p.intervalValue, 4);
    EXPECT_EQ(p.intervalUnit, -1);
    EXPECT_TRUE(p.byCount);
    EXPECT_EQ(p.count, 3);
    // No unit: 1 ms whatever the value.
    EXPECT_EQ(TFormSettings::IntervalToMs(p.intervalValue, p.intervalUnit), 1u);
    EXPECT_EQ(TFormSettings::IntervalToMs(100, 2), 360'000'000u);
    // Edited and not saved: the edit counts.
    f.RadioFullTime->click();
    f.CSpinFullTime->setValue(9);
    f.ComboFullTime->setCurrentIndex(0);
    p = f.periodParams();
    EXPECT_FALSE(p.byCount);
    EXPECT_EQ(p.fullTimeValue, 9);
    EXPECT_EQ(p.fullTimeUnit, 0);
}

TEST(ConnectForm, CaptionAndControls) {
    TFormConnectSettings f;
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Установки соединения"));
    EXPECT_EQ(f.ButCheckConnect->text(), QStringLiteral("Проверить подключение"));
    EXPECT_NE(f.ComboPort, nullptr);
    EXPECT_FALSE(f.isVisible());
}

} // namespace
