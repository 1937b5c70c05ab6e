#include "shell/Startup.h"

#include "config/ConfigIni.h"
#include "config/Conset.h"
#include "config/Setting.h"
#include "journal/Journal.h"
#include "sheet/ui/SheetViewer.h"
#include "shell/Conpc.h"
#include "shell/JournalRecorder.h"
#include "shell/TApplication.h"
#include "shell/TrendLink.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

namespace t5170 {

ProgramWindows::ProgramWindows() = default;
ProgramWindows::ProgramWindows(ProgramWindows&&) noexcept = default;
ProgramWindows::~ProgramWindows() {
    trend.reset();
    journal.reset(); // first: it detaches from the main window
}

ProgramWindows& ProgramWindows::operator=(ProgramWindows&& other) noexcept {
    trend.reset();
    journal.reset();
    main = std::move(other.main);
    settings = other.settings;
    connect = other.connect;
    journal = std::move(other.journal);
    trend = std::move(other.trend);
    return *this;
}

ProgramWindows createWindows(const QString& iniPath) {
    ProgramWindows w;
    w.main = std::make_unique<TFormMain>(iniPath);
    w.settings = new TFormSettings(iniPath, w.main.get());
    w.main->setSettingsForm(w.settings);
    w.connect = new TFormConnectSettings(w.main.get());
    w.journal = std::make_unique<JournalRecorder>(*w.main, journal::journalPathFor(iniPath));
    w.trend = std::make_unique<TrendLink>(*w.main, *w.journal);
    return w;
}

void setupApplication(QApplication& app) {
    // The title, not a display name: a display name would be appended to
    // every window caption.
    QApplication::setApplicationName(QStringLiteral("T5170"));
    QApplication::setWindowIcon(programIcon());
    // Russian whatever the machine's locale, also for the toolkit's own
    // texts (standard buttons) where its translation is installed.
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
    // The report's spreadsheet shows its workbook in the engine's viewer
    // window and prints through Qt; without this Show and Print have no
    // window or printer behind them.
    sheet::installWidgetEngineUi();
}

int runProgram(TApplication& app) {
    try {
        setupApplication(app);
        const ProgramWindows windows = createWindows(IniFileName());
        windows.main->show();
        // The journal's box and question come once the window is on screen.
        QTimer::singleShot(0, windows.journal.get(),
                           [j = windows.journal.get()] { guarded([j] { j->afterShown(); }); });
        TApplication::exec();
    } catch (...) {
        showCurrentError();
    }
    return 0;
}

} // namespace t5170
