#include "shell/TApplication.h"

#include "shell/Messages.h"

#include <stdexcept>

namespace t5170 {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        showCurrentError();
        return false;
    }
}

QString describeError(std::exception_ptr error) {
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
    }
    return {};
}

void showCurrentError() {
    showErrorBox(nullptr, defaultCaption(), describeError(std::current_exception()));
}

void guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        showCurrentError();
    }
}

} // namespace t5170
