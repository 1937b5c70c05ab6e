#pragma once
// The program's configuration file: where it lies, its keys, their defaults,
// and the groups of keys that the windows read and write together.

#include "config/IniFile.h"

#include <QString>

namespace t5170 {

// The executable's path with its extension replaced by ".INI" (appended when
// the file name has none): build/bin/t5170 -> build/bin/t5170.INI.
QString iniPathFor(const QString& executablePath);

// Where a copy of the program keeps its configuration file:
// - beside the executable (iniPathFor) when a writable file already stands
//   there, or when the folder is writable and is no system program folder
//   (…/usr/bin, …/usr/local/bin, /bin and their sbin): the portable copy;
// - otherwise in `userConfigDir` (the user's configuration folder for the
//   program, ~/.config/T5170), under the same name (t5170.INI).
// Creates `userConfigDir` when it is chosen and missing, so that the file
// can be written.
QString chooseIniPath(const QString& executablePath, const QString& userConfigDir);

// The configuration file of the running program: chooseIniPath for its own
// executable and QStandardPaths::AppConfigLocation.
QString IniFileName();

// Section "Main": the main window's choices, read at start-up, written at
// shutdown, in this order (a later kind key that is true wins).
struct MainIni {
    bool IzmU = false;
    bool IzmR = true;
    bool IzmAbs = false;
    bool IzmPol = false;
    bool AutoAdd = true;
    bool Period = false;
    bool operator==(const MainIni&) const = default;
};
MainIni readMainKeys(const IniFile& ini);
bool writeMainKeys(IniFile& ini, const MainIni& values);

// Section "Connection".
inline const QString DefaultComPort = QStringLiteral("COM1");
QString readComPort(const IniFile& ini);
int readComNumber(const IniFile& ini);
// ComPort and then ComNumber, always together.
bool writeConnection(IniFile& ini, const QString& comPort, int comNumber);

// Section "Period": the parameters of a periodic series.
struct PeriodIni {
    int TimeInterval = 1;
    int TimeIntervalType = 1; // 0 seconds, 1 minutes, 2 hours
    bool TypeNumberIzm = true;
    int NumberIzm = 10;
    bool TypeTimeIzm = false;
    int TimeIzm = 1;
    int TimeIzmType = 1;
    bool operator==(const PeriodIni&) const = default;
};
PeriodIni readPeriodKeys(const IniFile& ini);
bool writePeriodKeys(IniFile& ini, const PeriodIni& values);

// Text for the operator when the file could not be written.
QString iniWriteFailedText(const QString& path);

} // namespace t5170
