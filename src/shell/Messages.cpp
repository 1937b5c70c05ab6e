#include "Messages.h"

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
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, owner);
    box.exec();
}

QString defaultCaption() {
    return QGuiApplication::applicationDisplayName();
}

} // namespace t5170
