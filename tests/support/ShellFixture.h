#pragma once
// The program's windows as start-up creates them, against a configuration
// file in a temporary folder and, where bytes matter, the instrument
// simulator on a real pseudo-terminal. Error boxes are recorded, not shown.

#include "Box.h"
#include "TestData.h"

#include "PtySimulator.h"
#include "shell/Conpc.h"
#include "shell/Messages.h"
#include "shell/Startup.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <vector>

namespace t5170::testing {

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        QApplication::setApplicationName(QStringLiteral("T5170"));
        setErrorBoxHandler([this](QWidget*, const QString& caption, const QString& text) {
            boxes.push_back({caption, text});
        });
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override {
        w = {};
        setErrorBoxHandler({});
    }

    QString iniPath() const { return dir.filePath(QStringLiteral("t5170.INI")); }
    void writeIni(const QByteArray& content) const {
        QFile f(iniPath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    QByteArray readIni() const {
        QFile f(iniPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void startProgram() { w = createWindows(iniPath()); }
    TFormMain& main() { return *w.main; }
    QString panel(int i) { return main().panelText(i); }

    // Shows the main window and makes it the active one, so that focus moves
    // the way an operator's keys and clicks move it.
    void showActive() {
        main().show();
        main().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&main()));
    }

    QTemporaryDir dir;
    std::vector<Box> boxes;
    ProgramWindows w;
};

// The simulator plugged in and named by the configuration file.
class WithInstrument : public ShellTest {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        ASSERT_TRUE(sim.start());
        writeIni(iniText());
    }
    virtual QByteArray iniText() const {
        return "[Connection]\nComPort=" + sim.devicePath().toUtf8() + "\n";
    }

    bool waitConnected(int ms = 5000) {
        return QTest::qWaitFor([this] { return main().DeviceConnected; }, ms);
    }
    // Everything the instrument has received, in order.
    QByteArray received() const {
        QByteArray b;
        for (const auto& e : sim.received())
            b.append(static_cast<char>(e.byte));
        return b;
    }
    // The same without the polls; only for sequences that hold no 0x55.
    QByteArray receivedNoPolls() const {
        QByteArray b = received();
        b.removeIf([](char c) { return static_cast<quint8>(c) == 0x55; });
        return b;
    }
    bool waitReceived(const QByteArray& seq, int ms = 3000) {
        return QTest::qWaitFor([&] { return receivedNoPolls().contains(seq); }, ms);
    }
    // Waits until every byte the program has queued is on the wire and the
    // simulator has read it.
    void settle() {
        ASSERT_TRUE(QTest::qWaitFor([this] { return main().channel().queuedBytes() == 0; }, 3000));
        QTest::qWait(30);
    }

    sim::PtySimulator sim;
};

} // namespace t5170::testing
