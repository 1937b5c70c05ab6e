#pragma once
// Finds controls of a shown window that got less room than their text needs
// (a caption cut off, a squeezed button), labels whose text runs past their
// own edge or past the edge of what holds them, and labels that overlap
// another control.

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <vector>

namespace t5170::testing {

namespace detail {

inline bool insideCompound(const QWidget* w) {
    for (const QWidget* p = w->parentWidget(); p; p = p->parentWidget())
        if (qobject_cast<const QAbstractSpinBox*>(p) || qobject_cast<const QComboBox*>(p))
            return true;
    return false;
}

inline QString sizeText(QSize s) {
    return QStringLiteral("%1x%2").arg(s.width()).arg(s.height());
}

inline QRect rectIn(const QWidget* w, const QWidget* ancestor) {
    return QRect(w->mapTo(ancestor, QPoint(0, 0)), w->size());
}

// The visible labels of the window, the ones inside compound controls left
// out (a spin box's or a combo box's own parts).
inline std::vector<const QLabel*> shownLabels(const QWidget& window) {
    std::vector<const QLabel*> labels;
    for (const QLabel* l : window.findChildren<QLabel*>())
        if (l->isVisible() && !insideCompound(l))
            labels.push_back(l);
    return labels;
}

} // namespace detail

// Whatever their size policy: a label told to ignore its size hint is
// exactly the one that gets cut.
inline QStringList squeezedControls(const QWidget& window) {
    QStringList squeezed;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isVisible())
            continue;
        if (!qobject_cast<QLabel*>(w) && !qobject_cast<QAbstractButton*>(w) &&
            !qobject_cast<QComboBox*>(w) && !qobject_cast<QAbstractSpinBox*>(w))
            continue;
        if (detail::insideCompound(w))
            continue;
        const auto* label = qobject_cast<QLabel*>(w);
        // A wrapped label needs the width of its longest word and the height
        // its lines take at the width it has.
        const QSize need = label && label->wordWrap() ? QSize(label->minimumSizeHint().width(),
                                                              label->heightForWidth(label->width()))
                                                      : w->minimumSizeHint();
        if (w->width() < need.width() || w->height() < need.height())
            squeezed << QStringLiteral("%1 %2 < %3")
                            .arg(w->objectName(), detail::sizeText(w->size()),
                                 detail::sizeText(need));
    }
    return squeezed;
}

// Every visible label whose text does not show whole: measured with the
// label's font against its own width (on one line, or wrapped at its width
// for a word-wrapped label) and height, and the label's rectangle against
// the inside of every group and widget that holds it, which clips it.
inline QStringList cutLabels(const QWidget& window) {
    QStringList cut;
    for (const QLabel* l : detail::shownLabels(window)) {
        if (l->text().isEmpty())
            continue;
        const QString name =
            l->objectName() + QStringLiteral(" \"") + l->text() + QStringLiteral("\" ");
        const int m = l->margin();
        const QRect room = l->contentsRect().adjusted(m, m, -m, -m);
        const QFontMetrics fm(l->font());
        const int flags = Qt::TextShowMnemonic | (l->wordWrap() ? Qt::TextWordWrap : 0);
        const QRect text = fm.boundingRect(QRect(0, 0, room.width(), 100000), flags, l->text());
        if (text.width() > room.width() || text.height() > room.height())
            cut << name + QStringLiteral("needs ") + detail::sizeText(text.size()) +
                       QStringLiteral(", has ") + detail::sizeText(room.size());
        if (l->wordWrap()
                ? l->heightForWidth(l->width()) > l->height()
                : l->sizeHint().width() > l->width() || l->sizeHint().height() > l->height())
            cut << name + QStringLiteral("hint ") +
                       detail::sizeText(l->wordWrap()
                                            ? QSize(l->width(), l->heightForWidth(l->width()))
                                            : l->sizeHint()) +
                       QStringLiteral(" > ") + detail::sizeText(l->size());
        for (const QWidget* p = l->parentWidget(); p; p = p->parentWidget()) {
            const QRect inside = qobject_cast<const QGroupBox*>(p) ? p->contentsRect() : p->rect();
            if (!inside.contains(detail::rectIn(l, p)))
                cut << name + QStringLiteral("runs past the edge of ") + p->objectName();
            if (p == &window)
                break;
        }
    }
    return cut;
}

// Pairs of a visible label and another visible control (label, button, box,
// field) whose rectangles overlap.
inline QStringList overlappingLabels(const QWidget& window) {
    std::vector<const QWidget*> controls;
    for (const QWidget* w : window.findChildren<QWidget*>()) {
        if (!w->isVisible() || detail::insideCompound(w))
            continue;
        if (qobject_cast<const QLabel*>(w) || qobject_cast<const QAbstractButton*>(w) ||
            qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
            qobject_cast<const QLineEdit*>(w))
            controls.push_back(w);
    }
    QStringList overlaps;
    for (const QLabel* l : detail::shownLabels(window)) {
        const QRect r = detail::rectIn(l, &window);
        for (const QWidget* c : controls) {
            if (c == l || (qobject_cast<const QLabel*>(c) && std::less<const QWidget*>()(c, l)))
                continue; // each pair of labels once
            if (r.intersects(detail::rectIn(c, &window)))
                overlaps << l->objectName() + QStringLiteral(" / ") + c->objectName();
        }
    }
    return overlaps;
}

} // namespace t5170::testing
