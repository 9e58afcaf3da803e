#pragma once

#include "servicerules.h"

#include <QDialog>

class QLineEdit;

/// Asks for the sender's new serial number: up to five digits, refused when empty or above 65535
/// (the sender keeps it in 16 bits), and confirmed before it replaces the present one.
class VX4SerialNumDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr int MaxSerialNumber = VX4ServiceRules::MaxSerialNumber;

    explicit VX4SerialNumDialog(QWidget *parent = nullptr);

    /// The entered number; 0 when the field holds no number.
    int enteredSerialNumber() const;
    QLineEdit *serialNumberField() const { return serialNumberEdit; }
    /// The sender's serial number text now, and the firmware major version that gives the new
    /// one its prefix; both name the numbers in the confirmation.
    void setCurrentSerialNumber(const QString &text, quint8 firmwareMajor);

public slots:
    void accept() override;

private:
    QLineEdit *serialNumberEdit = nullptr;
    QString currentSerialText;
    quint8 firmwareMajor = 0;
};
