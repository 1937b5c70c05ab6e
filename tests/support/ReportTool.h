#pragma once
// t5170-report run as operators run it, its output kept.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace t5170::testing {

struct ToolRun {
    int exitCode = -1; // -1: it crashed or did not finish
    QByteArray bytes;  // standard output as written
    QString out;       // the same as text
    QString err;
};

inline ToolRun runReportTool(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(T5170_BIN_DIR "/t5170-report"), args);
    ToolRun r;
    if (!p.waitForFinished(120000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.bytes = p.readAllStandardOutput();
    r.out = QString::fromUtf8(r.bytes);
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace t5170::testing
