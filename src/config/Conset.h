#pragma once
// The connection dialog: created hidden at start-up and never shown; it has
// no behaviour of its own.

#include "ui_Conset.h"

#include <QDialog>

namespace t5170 {

class TFormConnectSettings : public QDialog, public Ui::TFormConnectSettings {
    Q_OBJECT
public:
    explicit TFormConnectSettings(QWidget* parent = nullptr);
};

} // namespace t5170
