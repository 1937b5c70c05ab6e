#include "config/ConfigIni.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

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

QString IniFileName() {
    return iniPathFor(QCoreApplication::applicationFilePath());
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
