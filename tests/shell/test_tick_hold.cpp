// The receive tick while a command is still going out: it is held until the
// last byte has left and then runs one pass, so no pass judges the
// connection by a poll that is still queued behind the command. The window's
// channel runs on the test's clock, so a byte leaves only when the test lets
// it, and the test places the ticks itself at every byte of the command.

#include "ShellFixture.h"

#include "config/Setting.h"
#include "link/Protocol.h"

#include <QStringList>

#include <algorithm>
#include <functional>

using namespace t5170;
using namespace t5170::testing;

namespace {

std::string hex(const QByteArray& b) {
    return b.toHex(' ').toStdString();
}

const QString Connected = QStringLiteral("Подкл");
const QString Typed = QStringLiteral("777");

class TickDuringCommand : public WithInstrument {
protected:
    void SetUp() override {
        WithInstrument::SetUp();
        sim.setTestVoltage(2500);
        // A started measurement gives no result while the test runs: after
        // the command only polls go out.
        sim.setMeasureDurationMs(10 * 60 * 1000);
        startProgram();
        ASSERT_TRUE(waitConnected());
        ASSERT_TRUE(QTest::qWaitFor(
            [this] { return main().ComTekE->currentText() == QStringLiteral("2500"); }, 3000));
        main().ReadTimer->stop(); // the test places every tick
        settle();
        main().RadIzmR->setChecked(true);
        main().channel().setClock([this] { return now_; });
        QObject::connect(&main().channel(), &TComChannel::byteSent, &main(), [this] {
            ++sent_;
            if (sent_ == tickAtByte_)
                // Posted as the timer's tick is: it comes after the byte has
                // left, ahead of whatever the channel's callbacks post.
                QMetaObject::invokeMethod(
                    &main(), [this] { tick(); }, Qt::QueuedConnection);
        });
    }

    // Runs the event loop until `done`; false after `ms`.
    static bool waitUntil(const std::function<bool()>& done, int ms = 3000) {
        QElapsedTimer t;
        t.start();
        while (!done()) {
            if (t.elapsed() > ms)
                return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        return true;
    }

    // Lets the next queued byte leave and waits until it has.
    bool step() {
        const int before = sent_;
        now_ += TComChannel::GapTicks;
        main().channel().pump();
        return waitUntil([&] { return sent_ > before; });
    }
    bool sendAll() {
        while (main().channel().queuedBytes() > 0)
            if (!step())
                return false;
        return true;
    }
    // Waits until the instrument's answer to the last poll is in the
    // window's receive buffer, where the next pass finds it.
    bool answerArrived() {
        TComChannel& ch = main().channel();
        return waitUntil([&] {
            ch.DrainReceived();
            std::vector<Event> events;
            decode(ch.RxBuf.data(), static_cast<std::size_t>(ch.RxCount), events);
            return std::any_of(events.begin(), events.end(), [](const Event& e) {
                return std::holds_alternative<ev::PollAnswer>(e);
            });
        });
    }

    // One tick of ReadTimer; what panel 1 shows after it is kept.
    void tick() {
        main().ReadTimerTimer();
        shown.append(panel(1));
    }
    // A tick where the timer's own would fall: the bytes before it have
    // gone and the answer to the last poll is back.
    bool regularTick() {
        if (!sendAll() || !answerArrived())
            return false;
        tick();
        return true;
    }

    std::int64_t now_ = 0;
    int sent_ = 0;
    int tickAtByte_ = -1;
    QStringList shown;
};

struct Command {
    const char* name;
    QByteArray wire;
    std::function<void()> issue;
};

TEST_F(TickDuringCommand, HeldUntilTheCommandHasLeftThenOnePassAndOnlyPollsFollow) {
    TFormSettings& d = *w.settings;
    d.CSpinTimeDelay->setValue(12);
    d.ComboLight->setCurrentIndex(0);
    d.ComboScale->setCurrentIndex(1);
    d.CSpinUStart->setValue(2000);
    d.CSpinAbs1->setValue(30);
    d.CSpinAbsFull->setValue(30);
    d.CSpinPol1->setValue(10);
    d.CSpinPolFull->setValue(10);
    const Command commands[] = {
        {"settings write (Записать)",
         bytes({0x6D, 0x0C, 0x71, 0x01, 0x6F, 0xD0, 0x07, 0x73, 0x1E, 0x1E, 0x75, 0x0A, 0x0A}),
         [&] { d.ButWriteSet->click(); }},
        {"settings request (Настройка, Прочитать)", bytes({0x6C, 0x6E, 0x70, 0x72, 0x74}),
         [&] { d.ButReadSet->click(); }},
        {"test voltage and start", bytes({0x6B, 0x09, 0x03, 0x58}),
         [&] {
             // Leaving ComTekE for the start button; called directly, as the
             // measurement started by the first case disables the button.
             ASSERT_TRUE(main().ComTekEExit());
             main().ButtonStartClick();
         }},
    };
    const QByteArray polls(3, static_cast<char>(code::Poll));
    for (const Command& c : commands) {
        const int n = static_cast<int>(c.wire.size());
        // The tick falls after `phase` bytes of the command have left.
        for (int phase = 0; phase < n; ++phase) {
            SCOPED_TRACE(::testing::Message() << c.name << ", tick after byte " << phase);
            // The poll before the command is answered; the answer waits.
            ASSERT_TRUE(sendAll());
            ASSERT_TRUE(answerArrived());
            sim.clearLog();
            const int sentBefore = sent_;
            shown.clear();
            main().ComTekE->setEditText(Typed);

            c.issue();
            ASSERT_EQ(main().channel().queuedBytes(), n);
            for (int i = 0; i < phase; ++i)
                ASSERT_TRUE(step());
            tick();
            // The timer's next tick at the worst moment: as the last byte of
            // the command leaves, before any poll queued behind it could.
            tickAtByte_ = sentBefore + n;
            while (sent_ < sentBefore + n)
                ASSERT_TRUE(step());
            tickAtByte_ = -1;
            // The held pass runs and queues its poll.
            ASSERT_TRUE(waitUntil([&] { return main().channel().queuedBytes() > 0; }));
            shown.append(panel(1));
            ASSERT_TRUE(regularTick());
            ASSERT_TRUE(regularTick());
            ASSERT_TRUE(sendAll());

            ASSERT_TRUE(
                waitUntil([&] { return int(sim.received().size()) == sent_ - sentBefore; }));
            EXPECT_EQ(hex(received()), hex(c.wire + polls)) << "one pass for the held ticks";
            // Panel 1 after every pass; "Отключ" would mean a missed poll answer.
            EXPECT_TRUE(shown == QStringList(5, Connected)) << shown.join(u' ').toStdString();
            EXPECT_TRUE(main().ComTekE->currentText() == Typed)
                << main().ComTekE->currentText().toStdString();
            EXPECT_TRUE(main().ComTekE->isEnabled());
            EXPECT_TRUE(main().DeviceConnected);
        }
    }
    EXPECT_TRUE(boxes.empty());
}

// A held pass that runs just before the timer's next tick would be due: the
// timer starts over, so that tick does not come while the pass's poll is
// still on its way or its answer has not had time to come back.
TEST_F(TickDuringCommand, HeldPassStartsTheTimerIntervalOver) {
    ASSERT_TRUE(sendAll());
    ASSERT_TRUE(answerArrived());
    main().ReadTimer->start();
    TFormSettings& d = *w.settings;
    d.ButWriteSet->click();
    const int n = main().channel().queuedBytes();
    ASSERT_EQ(n, 13);
    tick();
    for (int i = 1; i < n; ++i)
        ASSERT_TRUE(step());
    // Late in the timer's interval (its own ticks meanwhile are held too).
    ASSERT_TRUE(waitUntil([&] { return main().ReadTimer->remainingTime() <= 150; }, 2000));
    // Runs right after the held pass, both posted when the last byte left.
    int remainingAfterPass = -1;
    main().channel().whenSent([&] {
        QMetaObject::invokeMethod(
            &main(), [&] { remainingAfterPass = main().ReadTimer->remainingTime(); },
            Qt::QueuedConnection);
    });
    ASSERT_TRUE(step());
    ASSERT_TRUE(waitUntil([&] { return remainingAfterPass >= 0; }, 2000));
    main().ReadTimer->stop();
    EXPECT_EQ(main().channel().queuedBytes(), 1) << "the held pass's poll";
    EXPECT_GT(remainingAfterPass, 300);
    EXPECT_TRUE(panel(1) == Connected) << panel(1).toStdString();
}

} // namespace
