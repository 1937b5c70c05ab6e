#include "config/ControlRules.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>

namespace t5170 {

void setRadioState(QAbstractButton* button, bool checked) {
    if (checked || !button->isChecked()) {
        button->setChecked(checked);
        return;
    }
    // An exclusive group refuses to uncheck its checked button; lift the
    // rule for this one change.
    QButtonGroup* group = button->group();
    const bool groupExclusive = group && group->exclusive();
    const bool autoExclusive = button->autoExclusive();
    if (groupExclusive)
        group->setExclusive(false);
    button->setAutoExclusive(false);
    button->setChecked(false);
    button->setAutoExclusive(autoExclusive);
    if (groupExclusive)
        group->setExclusive(true);
}

void setComboIndex(QComboBox* box, int index) {
    box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

} // namespace t5170
