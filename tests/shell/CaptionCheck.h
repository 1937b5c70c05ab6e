#pragma once
// Finds controls of a shown window that got less room than their text needs
// (a caption cut off, a squeezed button).

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLabel>
#include <QStringList>
#include <QWidget>

namespace t5170::testing {

inline QStringList squeezedControls(const QWidget& window) {
    QStringList squeezed;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isVisible() || w->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored)
            continue;
        if (!qobject_cast<QLabel*>(w) && !qobject_cast<QAbstractButton*>(w) &&
            !qobject_cast<QComboBox*>(w) && !qobject_cast<QAbstractSpinBox*>(w))
            continue;
        if (qobject_cast<QLabel*>(w) && w->parentWidget() &&
            qobject_cast<QAbstractSpinBox*>(w->parentWidget()))
            continue;
        const QSize need = w->minimumSizeHint();
        if (w->width() < need.width() || w->height() < need.height())
            squeezed << QStringLiteral("%1 %2x%3 < %4x%5")
                            .arg(w->objectName())
                            .arg(w->width())
                            .arg(w->height())
                            .arg(need.width())
                            .arg(need.height());
    }
    return squeezed;
}

} // namespace t5170::testing
