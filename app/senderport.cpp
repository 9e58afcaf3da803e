#include "senderport.h"

#include "VX4interface.h"
#include "mainwindowform.h"
#include "settingskeys.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>

SenderPort::SenderPort(MainWindowForm *ui, QWidget *window)
    : QObject(window)
    , ui(ui)
    , window(window)
    , status(ui->connectionStatus)
{
}

void SenderPort::scan()
{
    ui->statusBar->showMessage(tr("Scanning for serial ports..."));
    ports = availableSerialPorts();
    for (const SerialPortEntry &port : std::as_const(ports))
        ui->serComboBox->addItem(port.friendlyName);
    ui->statusBar->showMessage(tr("Done."));

    portSettings = PortSettings();

    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    settings.beginGroup(SettingsStore::SerialSetupGroup::Name);
    const QString last = settings.value(SettingsStore::SerialSetupGroup::SerialPort).toString();
    settings.endGroup();
    int index = ui->serComboBox->findText(last, Qt::MatchExactly | Qt::MatchCaseSensitive);
    // A port named in the environment (run.sh names its simulator's) wins over the one stored.
    presetIndex = presetPortIndex();
    if (presetIndex >= 0)
        index = presetIndex;
    if (index >= 0)
        ui->serComboBox->setCurrentIndex(index);
}

int SenderPort::presetPortIndex() const
{
    const QString name = qEnvironmentVariable(PresetPortVariable);
    if (name.isEmpty())
        return -1;
    for (int i = 0; i < ports.size(); ++i) {
        if (ports.at(i).friendlyName == name || ports.at(i).portName == name)
            return i;
    }
    return -1;
}

void SenderPort::open()
{
    const int index = ui->serComboBox->currentIndex();
    if (index < 0 || index >= ports.size()) {
        // Nothing to open: no sender object, nothing remembered.
        ui->serButton->setChecked(false);
        const QString text = tr("No serial port was found to open.");
        ui->statusBar->showMessage(text);
        QMessageBox::warning(window, tr("Open"),
                             text + QLatin1Char('\n')
                                 + tr("Connect the sender's serial cable or adapter and start the "
                                      "utility again."));
        return;
    }
    const SerialPortEntry port = ports.at(index);

    // The environment's port is offered afresh each start; remembering it would only replace
    // the technician's own port (run.sh's simulator link is gone after the demo).
    if (index != presetIndex) {
        QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
        settings.beginGroup(SettingsStore::SerialSetupGroup::Name);
        settings.setValue(SettingsStore::SerialSetupGroup::SerialPort, port.friendlyName);
        settings.endGroup();
        settings.sync();
    }

    pressureSender = new VX4Interface(port.portName, portSettings);
    QString reason = portSettings.unsupportedReason();
    const bool isOpen = reason.isEmpty() && pressureSender->open(QIODevice::ReadWrite);
    if (!isOpen) {
        if (reason.isEmpty())
            reason = pressureSender->errorString();
        // The package description gives the same advice.
        if (pressureSender->error() == QSerialPort::PermissionError)
            reason += QLatin1Char('\n')
                + tr("Serial ports belong to the dialout group: add yourself to it (sudo usermod "
                     "-aG dialout \"$USER\") and log in again.");
        ui->serButton->setChecked(false);
        const QString text = tr("Failed to open ") + port.portName;
        ui->statusBar->showMessage(text);
        status.openFailed(port.portName, reason);
        QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text);
        box.setInformativeText(reason);
        box.exec();
        return;
    }

    // A pseudo-terminal has no modem lines; the sender works without them.
    pressureSender->setDataTerminalReady(true);
    pressureSender->setRequestToSend(true);
    ui->serComboBox->setEnabled(false);
    ui->serConfigButton->setEnabled(false);
    setOpenButton(false);
    ui->statusBar->showMessage(tr("Opened ") + port.portName);
    status.opened(port.portName);
    // Whatever the sender sends, answer or reading, shows it was there at that time.
    connect(pressureSender, &VX4Interface::vx4ResponseRdy, this, [this] { status.heard(); });
    connect(pressureSender, &VX4Interface::vx4PressureMsgRdy, this, [this] { status.heard(); });
    // Queued: the engine is deleted by the close, which must not happen inside its own signal.
    connect(pressureSender, &VX4Interface::vx4PortLost, this, &SenderPort::onPortLost,
            Qt::QueuedConnection);
    emit opened(pressureSender);
    pressureSender->startConnecting();
}

void SenderPort::close()
{
    if (!pressureSender)
        return;
    emit closing(pressureSender);
    if (pressureSender->isOpen()) {
        pressureSender->setDataTerminalReady(false);
        pressureSender->setRequestToSend(false);
    }
    pressureSender->close();
    delete pressureSender;
    pressureSender = nullptr;

    const int index = ui->serComboBox->currentIndex();
    const QString portName
        = index >= 0 && index < ports.size() ? ports.at(index).portName : QString();
    ui->statusBar->showMessage(tr("Closed ") + portName);
    ui->serComboBox->setEnabled(true);
    ui->serConfigButton->setEnabled(true);
    emit closed();
    status.closed();
    setOpenButton(true);
    ui->dpsBox->setEnabled(false);
}

void SenderPort::setOpenButton(bool open)
{
    ui->serButton->setText(open ? tr("Open") : tr("Close"));
    ui->serButton->setAccessibleName(open ? tr("Open the serial port")
                                          : tr("Close the serial port"));
}

void SenderPort::onPortLost(const QString &reason)
{
    if (!pressureSender)
        return;
    const QString portName = pressureSender->portName();
    close();
    // Released, so that plugging the adapter back in and pressing Open works.
    ui->serButton->setChecked(false);
    ui->statusBar->showMessage(tr("Lost the port %1: %2").arg(portName, reason));
    status.portLost(portName, reason);
}

void SenderPort::release()
{
    if (!pressureSender)
        return;
    pressureSender->close();
    delete pressureSender;
    pressureSender = nullptr;
}
