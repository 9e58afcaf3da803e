// The main window's service actions: zero the reading, set the serial number, toggle the
// application and the operating mode, and the serial line's settings for the next Open.
#include "mainwindow.h"

#include "VX4interface.h"
#include "mainwindowform.h"
#include "readingdisplay.h"
#include "senderwatch.h"
#include "serialportconfigdialog.h"
#include "servicerules.h"
#include "vx4log.h"
#include "vx4serialnumdialog.h"

#include <QMessageBox>
#include <QStatusBar>

#define LOG VX4_LOG("mainwindow")

using VX4ServiceRules::ZeroRangeMaxPsi;
using VX4ServiceRules::ZeroRangeMinPsi;

void MainWindow::onUIZeroPressureButtonClicked()
{
    const std::optional<int> shown = ui->psiLCD->reading();
    const QString title = tr("Zero Pressure Reading");
    if (!shown) {
        QMessageBox::information(this, title,
                                 tr("Error.\nThe display shows no live reading, so there is "
                                    "nothing to take as zero."),
                                 QMessageBox::Ok);
        return;
    }
    const int reading = *shown;
    if (!VX4ServiceRules::zeroAllowed(reading)) {
        QMessageBox::information(
            this, title,
            tr("Error.\n%1PSI is outside of the allowable adjustment range from %2PSI to %3PSI.")
                .arg(reading)
                .arg(ZeroRangeMinPsi)
                .arg(ZeroRangeMaxPsi),
            QMessageBox::Ok);
        return;
    }
    const SenderWatch watch(senderPort->engine());
    const auto answer = QMessageBox::warning(
        this, title, tr("Warning.  Disconnect hydraulic pressure source before proceeding!"),
        QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
    if (answer != QMessageBox::Ok)
        return;
    if (!watch.unchanged(senderPort->engine()))
        return reportSenderChanged(tr("Zero pressure"));
    senderPort->engine()->zeroPressure();
    senderPort->engine()->requestADOffset();
}

void MainWindow::reportSenderChanged(const QString &action)
{
    // The reading or number confirmed belonged to another connection: nothing is sent.
    LOG << "Sender lost or replaced while the dialog was open; nothing sent.";
    ui->statusBar->showMessage(
        tr("%1 not sent: the sender was lost or replaced while the dialog was open.").arg(action));
}

void MainWindow::onUISetVX4SerialNumberButtonClicked()
{
    LOG << "Set serial number button clicked.";
    VX4Interface *sender = senderPort->engine();
    const SenderWatch watch(sender);
    VX4SerialNumDialog dialog(this);
    if (sender)
        dialog.setCurrentSerialNumber(sender->serialNumberString(), sender->firmwareMajor());
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (!watch.unchanged(senderPort->engine()))
        return reportSenderChanged(tr("Serial number"));
    senderPort->engine()->setSerialNumber(quint16(dialog.enteredSerialNumber()));
    senderPort->engine()->requestSerialNumber();
}

void MainWindow::onUIAppChangeButtonClicked()
{
    senderPort->engine()->changeApp();
}

void MainWindow::onUIModeChangeButtonClicked()
{
    senderPort->engine()->switchMode(
        senderPort->engine()->mode() == CalibrationMode ? PressureSendingMode : CalibrationMode);
}

void MainWindow::onUISerialPortConfigButtonClicked()
{
    LOG << "Serial configuration button clicked.";
    SerialPortConfigDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const PortSettings chosen = dialog.selectedPortSettings();
    PortSettings &portSettings = senderPort->nextSettings();
    portSettings.baudRate = chosen.baudRate;
    portSettings.dataBits = chosen.dataBits;
    portSettings.parity = chosen.parity;
    portSettings.stopBits = chosen.stopBits;
    portSettings.flowControl = chosen.flowControl;
}
