#include "config/ConfigIni.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace t5170 {

namespace {
const QString Main = QStringLiteral("Main");
const QString Connection = QStringLiteral("Connection");
const QString Period = QStringLiteral("Period");
} // namespace

QString iniPathFor(const QString& executablePath) {
    const QFileInfo info(executablePath);
    QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0)
        name.truncate(dot);
    return QDir(info.path()).filePath(name + QStringLiteral(".INI"));
}

namespace {

// A folder where programs are installed for everybody: even a user who may
// write there (root) keeps no configuration in it.
bool isSystemProgramFolder(const QString& folder) {
    // A tail, so that an installed tree unpacked elsewhere (a package's
    // contents under a temporary root) counts too.
    const QString f = QDir::cleanPath(folder);
    for (const char* tail : {"/usr/bin", "/usr/sbin", "/usr/local/bin", "/usr/local/sbin"})
        if (f.endsWith(QLatin1String(tail)))
            return true;
    return f == QLatin1String("/bin") || f == QLatin1String("/sbin");
}

// Whether this process can write there, tried rather than judged by the
// permission bits (root writes anywhere, a read-only mount refuses anybody).
bool canWriteFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadWrite | QIODevice::Append);
}
bool canWriteInto(const QString& folder) {
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".t5170-XXXXXX")));
    return probe.open();
}

} // namespace

QString chooseIniPath(const QString& executablePath, const QString& userConfigDir) {
    const QString beside = iniPathFor(executablePath);
    const QFileInfo file(beside);
    if (file.exists() ? canWriteFile(beside)
                      : !isSystemProgramFolder(file.path()) && canWriteInto(file.path()))
        return beside;
    QDir().mkpath(userConfigDir);
    return QDir(userConfigDir).filePath(file.fileName());
}

QString IniFileName() {
    return chooseIniPath(QCoreApplication::applicationFilePath(),
                         QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
}

MainIni readMainKeys(const IniFile& ini) {
    const MainIni d;
    MainIni v;
    v.IzmU = ini.readBool(Main, u"IzmU", d.IzmU);
    v.IzmR = ini.readBool(Main, u"IzmR", d.IzmR);
    v.IzmAbs = ini.readBool(Main, u"IzmAbs", d.IzmAbs);
    v.IzmPol = ini.readBool(Main, u"IzmPol", d.IzmPol);
    v.AutoAdd = ini.readBool(Main, u"AutoAdd", d.AutoAdd);
    v.Period = ini.readBool(Main, u"Period", d.Period);
    return v;
}

bool writeMainKeys(IniFile& ini, const MainIni& v) {
    return ini.writeKeys(Main, {{QStringLiteral("IzmU"), IniFile::boolText(v.IzmU)},
                                {QStringLiteral("IzmR"), IniFile::boolText(v.IzmR)},
                                {QStringLiteral("IzmAbs"), IniFile::boolText(v.IzmAbs)},
                                {QStringLiteral("IzmPol"), IniFile::boolText(v.IzmPol)},
                                {QStringLiteral("AutoAdd"), IniFile::boolText(v.AutoAdd)},
                                {QStringLiteral("Period"), IniFile::boolText(v.Period)}});
}

QString readComPort(const IniFile& ini) {
    return ini.readString(Connection, u"ComPort", DefaultComPort);
}

int readComNumber(const IniFile& ini) {
    return ini.readInt(Connection, u"ComNumber", 0);
}

bool writeConnection(IniFile& ini, const QString& comPort, int comNumber) {
    return ini.writeKeys(Connection, {{QStringLiteral("ComPort"), comPort},
                                      {QStringLiteral("ComNumber"), QString::number(comNumber)}});
}

PeriodIni readPeriodKeys(const IniFile& ini) {
    const PeriodIni d;
    PeriodIni v;
    v.TimeInterval = ini.readInt(Period, u"TimeInterval", d.TimeInterval);
    v.TimeIntervalType = ini.readInt(Period, u"TimeIntervalType", d.TimeIntervalType);
    v.TypeNumberIzm = ini.readBool(Period, u"TypeNumberIzm", d.TypeNumberIzm);
    v.NumberIzm = ini.readInt(Period, u"NumberIzm", d.NumberIzm);
    v.TypeTimeIzm = ini.readBool(Period, u"TypeTimeIzm", d.TypeTimeIzm);
    v.TimeIzm = ini.readInt(Period, u"TimeIzm", d.TimeIzm);
    v.TimeIzmType = ini.readInt(Period, u"TimeIzmType", d.TimeIzmType);
    return v;
}

bool writePeriodKeys(IniFile& ini, const PeriodIni& v) {
    return ini.writeKeys(Period,
                         {{QStringLiteral("TimeInterval"), QString::number(v.TimeInterval)},
                          {QStringLiteral("TimeIntervalType"), QString::number(v.TimeIntervalType)},
                          {QStringLiteral("TypeNumberIzm"), IniFile::boolText(v.TypeNumberIzm)},
                          {QStringLiteral("NumberIzm"), QString::number(v.NumberIzm)},
                          {QStringLiteral("TypeTimeIzm"), IniFile::boolText(v.TypeTimeIzm)},
                          {QStringLiteral("TimeIzm"), QString::number(v.TimeIzm)},
                          {QStringLiteral("TimeIzmType"), QString::number(v.TimeIzmType)}});
}

QString iniWriteFailedText(const QString& path) {
    return QStringLiteral("Не удалось записать настройки в файл %1")
        .arg(QDir::toNativeSeparators(path));
}

} // namespace t5170
