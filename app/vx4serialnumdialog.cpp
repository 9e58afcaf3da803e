#include "vx4serialnumdialog.h"

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

void VX4SerialNumDialog::accept()
{
    const int number = enteredSerialNumber();
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
    QDialog::accept();
}
