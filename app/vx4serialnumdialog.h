#pragma once

#include "servicerules.h"

#include <QDialog>

class QLineEdit;

/// Asks for the sender's new serial number: up to five digits, refused above 65535 because the
/// sender keeps it in 16 bits.
class VX4SerialNumDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr int MaxSerialNumber = VX4ServiceRules::MaxSerialNumber;

    explicit VX4SerialNumDialog(QWidget *parent = nullptr);

    /// The entered number; 0 when the field holds no number.
    int enteredSerialNumber() const;
    QLineEdit *serialNumberField() const { return serialNumberEdit; }

public slots:
    void accept() override;

private:
    QLineEdit *serialNumberEdit = nullptr;
};
