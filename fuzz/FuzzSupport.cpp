#include "FuzzSupport.h"
#include "FuzzTargets.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstdlib>

namespace t5170::fuzz {

namespace {

FailureHandler& handler() {
    static FailureHandler h;
    return h;
}

} // namespace

void setFailureHandler(FailureHandler h) {
    handler() = std::move(h);
}

void fail(const std::string& what) {
    if (handler()) {
        handler()(what);
        return;
    }
    std::fprintf(stderr, "property broken: %s\n", what.c_str());
    std::abort();
}

QString scratchFile(const std::uint8_t* data, std::size_t size, const QString& suffix) {
    const QString path = QDir::temp().filePath(
        QStringLiteral("t5170-fuzz-%1%2").arg(QCoreApplication::applicationPid()).arg(suffix));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) !=
            static_cast<qint64>(size)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::abort();
    }
    return path;
}

} // namespace t5170::fuzz
