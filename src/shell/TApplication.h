#pragma once
// The application object. An error (exception) that escapes an event handler
// is shown in an error box captioned with the application's title, and the
// program goes on.

#include <QApplication>

#include <exception>
#include <functional>

namespace t5170 {

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The text an escaped error is shown with: its own description, or nothing
// for an error that is not a standard exception.
QString describeError(std::exception_ptr error);

// Shows the error that is being handled (call inside a catch block).
void showCurrentError();

// Runs a handler; an error escaping it is shown and swallowed.
void guarded(const std::function<void()>& handler);

} // namespace t5170
