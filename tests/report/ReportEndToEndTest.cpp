// From the instrument to the report file and back: the simulator on a real
// pseudo-terminal, the main window polling it, a measurement added by itself,
// the report saved, closed, opened again and its last record shown.

#include "PtySimulator.h"
#include "ReportHarness.h"

using namespace t5170;
using namespace t5170::testing;

namespace {

class ReportWithInstrument : public ReportWindow {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(sim.start());
        sim.setMeasureDurationMs(0);
        makeForm(QStringLiteral("[Main]\r\nAutoAdd=1\r\n[Connection]\r\nComPort=%1\r\n")
                     .arg(sim.devicePath()));
        ASSERT_TRUE(form->channel().PortOpen);
        ASSERT_TRUE(waitFor([this] { return form->DeviceConnected; }, 5000));
    }

    sim::PtySimulator sim;
};

} // namespace

TEST_F(ReportWithInstrument, AMeasurementTravelsToTheFileAndBack) {
    for (const char* ext : {".xls", ".xlsx"}) {
        SCOPED_TRACE(ext);
        form->N2->trigger();
        ASSERT_TRUE(rep().IsOpen);
        sim.setNextResult({1000, 1234, 2500000, 1500});
        form->RadIzmAbs->setChecked(true);
        ASSERT_TRUE(waitFor([this] { return form->ButtonStart->isEnabled(); }, 5000));
        form->ButtonStart->click();
        ASSERT_TRUE(waitFor([this] { return rep().NextRow[izmAbs] == 3; }, 5000));
        EXPECT_EQ(rep().NextRow, (std::array<int, 4>{2, 2, 3, 2}));

        const QDateTime when = form->TekResult.Time;
        const QString date = when.date().toString(u8("dd.MM.yyyy"));
        const QString time = when.time().toString(u8("HH:mm:ss"));
        const char* cells[] = {"1000", "1,23", "МОм", "2,5", "ГОм", "1,5"};
        EXPECT_EQ(cell(izmAbs, 2, 1).toText(), date);
        EXPECT_EQ(cell(izmAbs, 2, 2).toText(), time);
        for (int c = 3; c <= 8; ++c)
            EXPECT_EQ(cell(izmAbs, 2, c).toText(), u8(cells[c - 3])) << c;
        EXPECT_EQ(form->LabRepRecR->text(), u8(" R = 1,23 МОм"));

        const QString file = path(u8("цех") + u8(ext));
        dialogs.saveNames = {file};
        form->SaveaS->trigger();
        ASSERT_TRUE(rep().IsSaved);
        form->Close->trigger();
        EXPECT_TRUE(dialogs.questions.empty());
        EXPECT_EQ(form->LabRepRecType->text(), u8("нет"));

        dialogs.openNames = {file};
        form->Open->trigger();
        ASSERT_TRUE(rep().IsOpen);
        EXPECT_EQ(form->LabRepName->text(), u8("цех") + u8(ext));
        EXPECT_EQ(form->LabRepRecType->text(), u8("Измерение абсорбции"));
        EXPECT_EQ(valueTexts(), (QStringList{u8("U = 1000 Вольт"), u8("R = 1,23 МОм"),
                                             u8("R2 = 2,5 ГОм"), u8("K = 1,5")}));
        EXPECT_EQ(valueLabelsShown(), (std::vector<bool>{true, true, true, true}));
        EXPECT_EQ(form->LabRepRecDate->text(), date);
        EXPECT_EQ(form->LabRepRecTime->text(), time);
        EXPECT_EQ(rep().NextRow, (std::array<int, 4>{2, 2, 3, 2}));
        EXPECT_TRUE(dialogs.errors.empty());
        EXPECT_TRUE(topLevel.empty());
        form->Close->trigger();
    }
}

// Mend: a complete-result code from the instrument before any result was
// received adds nothing, also on the wire.
TEST_F(ReportWithInstrument, ACompleteCodeBeforeAnyResultAddsNoRow) {
    form->N2->trigger();
    ASSERT_FALSE(form->TekResult.Valid);
    const quint64 polls = sim.pollsAnswered();
    sim.sendRaw(QByteArray(1, char(0x5E)));
    // Two more ticks: the code has certainly been decoded.
    ASSERT_TRUE(waitFor([&] { return sim.pollsAnswered() >= polls + 2; }, 5000));
    EXPECT_EQ(rep().NextRow, (std::array<int, 4>{2, 2, 2, 2}));
    EXPECT_TRUE(cell(izmU, 2, 1).isEmpty());
    EXPECT_EQ(form->LabRepRecType->text(), u8("нет"));
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(ReportWithInstrument, AutoAddOffAddsNothingAndTheButtonsAddOnDemand) {
    form->CheckAutoAdd->setChecked(false);
    form->N2->trigger();
    sim.setNextResult({500, 999, 0, 0});
    form->RadIzmR->setChecked(true);
    form->ButtonStart->click();
    ASSERT_TRUE(waitFor(
        [this] { return form->TekResult.Valid && form->LabTekR->text() == u8("R = 999 КОм"); },
        5000));
    ASSERT_TRUE(waitFor([this] { return form->ButtonStart->isEnabled(); }, 5000));
    EXPECT_EQ(rep().NextRow[izmR], 2);
    EXPECT_TRUE(form->ButAddTek->isEnabled());
    form->ButAddTek->click();
    EXPECT_EQ(rep().NextRow[izmR], 3);
    EXPECT_EQ(cell(izmR, 2, 4).toText(), u8("999"));
    EXPECT_EQ(cell(izmR, 2, 5).toText(), u8("КОм"));
}
