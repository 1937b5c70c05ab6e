#pragma once
// How a value read from the configuration file or from the instrument is
// applied to a control, following the controls' own rules.

class QAbstractButton;
class QComboBox;

namespace t5170 {

// true checks the button (and so unchecks the others of its group); false
// unchecks only this button, which may leave the group with none checked.
void setRadioState(QAbstractButton* button, bool checked);

// An index outside the list leaves the box with no selection (-1).
void setComboIndex(QComboBox* box, int index);

} // namespace t5170
