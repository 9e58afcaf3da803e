#include "vx4serialnumdialog.h"

#include "senderidentity.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QVBoxLayout>

VX4SerialNumDialog::VX4SerialNumDialog(QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("Serial Number Modification"));

    serialNumberEdit = new QLineEdit(this);
    serialNumberEdit->setObjectName(QStringLiteral("serialNumberEdit"));
    serialNumberEdit->setInputMask(QStringLiteral("00000"));

    auto *form = new QFormLayout;
    form->addRow(tr("Serial Number"), serialNumberEdit);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel,
                                         Qt::Horizontal, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &VX4SerialNumDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &VX4SerialNumDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Enter the Orvelle's new serial number"), this), 1);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

int VX4SerialNumDialog::enteredSerialNumber() const
{
    bool ok = false;
    const int number = serialNumberEdit->text().toInt(&ok, 10);
    return ok ? number : 0;
}

void VX4SerialNumDialog::setCurrentSerialNumber(const QString &text, quint8 major)
{
    currentSerialText = text;
    firmwareMajor = major;
}

void VX4SerialNumDialog::accept()
{
    const int number = enteredSerialNumber();
    if (serialNumberEdit->text().isEmpty()) {
        // An empty field would write serial number 0.
        QMessageBox::warning(this, windowTitle(), tr("Enter the new serial number."));
        serialNumberEdit->setFocus();
        return;
    }
    if (number > MaxSerialNumber) {
        // Sending it would store a different number on the sender.
        QMessageBox::warning(this, windowTitle(),
                             tr("The serial number %1 is too large.\nSerial numbers range from 0 "
                                "to %2.")
                                 .arg(number)
                                 .arg(MaxSerialNumber));
        serialNumberEdit->setFocus();
        return;
    }
    QString newText = VX4Identity::serialNumberText(quint16(number), firmwareMajor);
    if (newText.isEmpty()) // no prefix while the firmware version is unknown
        newText = QString::number(number);
    const QString question = currentSerialText.isEmpty()
        ? tr("Change the serial number to %1?").arg(newText)
        : tr("Change %1 to %2?").arg(currentSerialText, newText);
    if (QMessageBox::question(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::No)
        != QMessageBox::Yes)
        return;
    QDialog::accept();
}
