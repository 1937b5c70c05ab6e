#include "config/Conset.h"

namespace t5170 {

TFormConnectSettings::TFormConnectSettings(QWidget* parent) : QDialog(parent) {
    setupUi(this);
}

} // namespace t5170
