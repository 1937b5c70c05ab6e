#pragma once
// Program start: the application's title and icon, the three windows in
// their order (main window, settings dialog, connection dialog), the message
// loop.

#include <QString>

#include <memory>

class QApplication;

namespace t5170 {

class TApplication;
class TFormMain;
class TFormSettings;
class TFormConnectSettings;
class JournalRecorder;
class TrendLink;

// The program's windows. The main window reads the configuration and opens
// the port before the settings dialog exists; the dialogs are children of the
// main window, hidden, and live as long as it does.
struct ProgramWindows {
    std::unique_ptr<TFormMain> main;
    TFormSettings* settings = nullptr;
    TFormConnectSettings* connect = nullptr;
    // The measurement journal beside the configuration file; goes before the
    // main window (declared after it), whose report it listens to.
    std::unique_ptr<JournalRecorder> journal;
    // The trend window's menu item and its live series; goes before the journal.
    std::unique_ptr<TrendLink> trend;
    ProgramWindows();
    ProgramWindows(ProgramWindows&&) noexcept;
    ProgramWindows& operator=(ProgramWindows&&) noexcept;
    ~ProgramWindows();
};
ProgramWindows createWindows(const QString& iniPath);

// The application's title, icon and locale.
void setupApplication(QApplication& app);

// Returns when the main window has been closed; always 0. An error escaping
// window creation or the message loop is shown and ends the program.
int runProgram(TApplication& app);

} // namespace t5170
