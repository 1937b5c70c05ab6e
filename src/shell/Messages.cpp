#include "shell/Messages.h"

#include "report/ui/QtReportDialogs.h"

#include <QGuiApplication>
#include <QMessageBox>

namespace t5170 {

namespace {
ErrorBoxHandler& handler() {
    static ErrorBoxHandler h;
    return h;
}
} // namespace

void setErrorBoxHandler(ErrorBoxHandler h) {
    handler() = std::move(h);
}

void showErrorBox(QWidget* owner, const QString& caption, const QString& text) {
    if (const ErrorBoxHandler& h = handler()) {
        h(owner, caption, text);
        return;
    }
    report::makeErrorBox(owner, caption, text)->exec();
}

QString defaultCaption() {
    return QGuiApplication::applicationDisplayName();
}

} // namespace t5170
