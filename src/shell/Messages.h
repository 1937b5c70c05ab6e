#pragma once
// Error message boxes: the error icon and one OK button. Tests replace the
// box by a recorder so that nothing waits for a click.

#include <QString>

#include <functional>

class QWidget;

namespace t5170 {

// Shows a modal error box owned by `owner` (none when null) and returns when
// it is dismissed.
void showErrorBox(QWidget* owner, const QString& caption, const QString& text);

// Replaces what showErrorBox does; an empty function restores the real box.
using ErrorBoxHandler =
    std::function<void(QWidget* owner, const QString& caption, const QString& text)>;
void setErrorBoxHandler(ErrorBoxHandler handler);

// Caption of boxes that have no caption of their own: the application's
// title ("T5170").
QString defaultCaption();

} // namespace t5170
