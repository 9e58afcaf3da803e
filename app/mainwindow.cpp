#include "mainwindow.h"

#include "VX4calibrationwizard.h"
#include "VX4interface.h"
#include "appidentity.h"
#include "debugdialog.h"
#include "mainwindowform.h"
#include "qlogger.h"
#include "resourcepaths.h"
#include "serialportconfigdialog.h"
#include "settingskeys.h"
#include "vx4log.h"
#include "vx4serialnumdialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QLCDNumber>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>

#define LOG VX4_LOG("mainwindow")

namespace {
constexpr int ZeroRangeMinPsi = -30; ///< lowest reading that may be taken as zero
constexpr int ZeroRangeMaxPsi = 30; ///< highest reading that may be taken as zero
constexpr quint8 FirstMinorWithAdOffset = 7; ///< firmware 0.7 is the first with an A/D offset

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : MainWindow(QCoreApplication::arguments(), parent)
{
}

MainWindow::MainWindow(const QStringList &arguments, QWidget *parent)
    : QMainWindow(parent)
    , ui(new MainWindowForm)
{
    ui->setupUi(this);
    firmwareUpdate = new FirmwareUpdateFlow(this, ui->statusBar, [this] { return pressureSender; });

    setWindowTitle(QStringLiteral("%1 %2").arg(AppIdentity::applicationName(),
                                               AppIdentity::applicationVersion()));
    setWindowIcon(QIcon(QString::fromLatin1(ResourcePaths::Icon)));
    ui->statusBar->setSizeGripEnabled(false);

    applySwitches(arguments);

    ui->actionEnableDebugLogging->setEnabled(true);
    ui->dpsBox->setEnabled(false);
    clearDeviceFields();

    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    settings.beginGroup(SettingsStore::MainWindowGroup::Name);
    move(settings.value(SettingsStore::MainWindowGroup::Position, QPoint(200, 200)).toPoint());
    settings.endGroup();

    debugWindow = nullptr;

    connect(ui->actionAbout, &QAction::triggered, this, &MainWindow::onUIActionAboutDialog);
    connect(ui->actionEnableDebugLogging, &QAction::toggled, this,
            &MainWindow::onUIViewDebugOutputClicked);
    connect(ui->appChangePushButton, &QPushButton::clicked, this,
            &MainWindow::onUIAppChangeButtonClicked);
    connect(ui->calButton, &QPushButton::clicked, this, &MainWindow::onUICalibrateButtonClicked);
    connect(ui->updateFirmButton, &QPushButton::clicked, this,
            &MainWindow::onUIFirmwareUpdateButtonClicked);
    connect(ui->opModePushButton, &QPushButton::clicked, this,
            &MainWindow::onUIModeChangeButtonClicked);
    connect(ui->serConfigButton, &QPushButton::clicked, this,
            &MainWindow::onUISerialPortConfigButtonClicked);
    connect(ui->serButton, &QPushButton::toggled, this,
            &MainWindow::onUISerialPortOpenCloseButtonClicked);
    connect(ui->serNumButton, &QPushButton::clicked, this,
            &MainWindow::onUISetVX4SerialNumberButtonClicked);
    connect(ui->zeroPressureButton, &QPushButton::clicked, this,
            &MainWindow::onUIZeroPressureButtonClicked);

    scanSerialPorts();
    pressureSender = nullptr;
    show();
}

MainWindow::~MainWindow()
{
    if (pressureSender) {
        LOG << "Closing pressure sender.";
        pressureSender->close();
        delete pressureSender;
        pressureSender = nullptr;
    }
    if (debugWindow) {
        disconnect(debugWindow, nullptr, this, nullptr);
        delete debugWindow;
    }
    delete ui;
}

void MainWindow::applySwitches(const QStringList &arguments)
{
    const QList<QPair<const char *, QPushButton *>> controls {
        { Switches::ShowSetSerial, ui->serNumButton },
        { Switches::ShowModeSwitch, ui->opModePushButton },
        { Switches::ShowAppSwitch, ui->appChangePushButton },
        { Switches::ShowSerialConfig, ui->serConfigButton },
    };
    for (const auto &[name, control] : controls) {
        if (!arguments.contains(QLatin1String(name), Qt::CaseSensitive))
            control->hide();
    }
}

void MainWindow::clearDeviceFields()
{
    for (QLabel *label : { ui->serNum, ui->calDate, ui->firmVer, ui->currApp, ui->opMode,
                           ui->pressureOffsetValue, ui->adStatus })
        label->clear();
    showPressure(0);
}

void MainWindow::showPressure(int psi)
{
    displayedPsi = psi;
    // Four digits cannot show this reading: dashes rather than the digits of an older one.
    if (ui->psiLCD->checkOverflow(psi))
        ui->psiLCD->display(QStringLiteral("----"));
    else
        ui->psiLCD->display(psi);
}

// Ports and the connection

void MainWindow::scanSerialPorts()
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
    const int index = ui->serComboBox->findText(last, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        ui->serComboBox->setCurrentIndex(index);
}

void MainWindow::onUISerialPortOpenCloseButtonClicked(bool checked)
{
    if (checked)
        openSerialPort();
    else
        closeSerialPort();
}

void MainWindow::openSerialPort()
{
    const int index = ui->serComboBox->currentIndex();
    if (index < 0 || index >= ports.size()) {
        // Nothing to open: no sender object, nothing remembered.
        ui->serButton->setChecked(false);
        const QString text = tr("No serial port was found to open.");
        ui->statusBar->showMessage(text);
        QMessageBox::warning(this, tr("Open"),
                             text + QLatin1Char('\n')
                                 + tr("Connect the sender's serial cable or adapter and start the "
                                      "utility again."));
        return;
    }
    const SerialPortEntry port = ports.at(index);

    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    settings.beginGroup(SettingsStore::SerialSetupGroup::Name);
    settings.setValue(SettingsStore::SerialSetupGroup::SerialPort, port.friendlyName);
    settings.endGroup();
    settings.sync();

    pressureSender = new VX4Interface(port.portName, portSettings);
    QString reason = portSettings.unsupportedReason();
    const bool opened = reason.isEmpty() && pressureSender->open(QIODevice::ReadWrite);
    if (!opened) {
        if (reason.isEmpty())
            reason = pressureSender->errorString();
        ui->serButton->setChecked(false);
        const QString text = tr("Failed to open ") + port.portName;
        ui->statusBar->showMessage(text);
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
    ui->serButton->setText(tr("Close"));
    ui->statusBar->showMessage(tr("Opened ") + port.portName);
    connectSenderSignals(true);
    pressureSender->startConnecting();
}

void MainWindow::closeSerialPort()
{
    if (!pressureSender)
        return;
    connectSenderSignals(false);
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
    clearDeviceFields();
    ui->connectionStatus->setText(tr("Disconnected"));
    ui->serButton->setText(tr("Open"));
    ui->dpsBox->setEnabled(false);
}

void MainWindow::connectSenderSignals(bool connect)
{
    VX4Interface *s = pressureSender;
    if (connect) {
        const auto unique = Qt::UniqueConnection;
        QObject::connect(s, &VX4Interface::vx4PressureMsgRdy, this, &MainWindow::onVX4PressureMsg,
                         unique);
        QObject::connect(s, &VX4Interface::vx4ADOffsetChanged, this,
                         &MainWindow::onVX4ADOffsetChanged, unique);
        QObject::connect(s, &VX4Interface::vx4AppChanged, this, &MainWindow::onVX4AppChanged,
                         unique);
        QObject::connect(s, &VX4Interface::vx4CalDateTimeChanged, this,
                         &MainWindow::onVX4CalDateTimeChanged, unique);
        QObject::connect(s, &VX4Interface::vx4ConnectedSignal, this, &MainWindow::onVX4Connected,
                         unique);
        QObject::connect(s, &VX4Interface::vx4DisconnectedSignal, this,
                         &MainWindow::onVX4Disconnected, unique);
        QObject::connect(s, &VX4Interface::vx4FirmwareVersionChanged, this,
                         &MainWindow::onVX4FirmwareVersionChanged, unique);
        QObject::connect(s, &VX4Interface::vx4ModeChanged, this, &MainWindow::onVX4ModeChanged,
                         unique);
        QObject::connect(s, &VX4Interface::vx4SerialNumberChanged, this,
                         &MainWindow::onVX4SerialNumberChanged, unique);
    } else {
        QObject::disconnect(s, &VX4Interface::vx4PressureMsgRdy, this,
                            &MainWindow::onVX4PressureMsg);
        QObject::disconnect(s, &VX4Interface::vx4ADOffsetChanged, this,
                            &MainWindow::onVX4ADOffsetChanged);
        QObject::disconnect(s, &VX4Interface::vx4AppChanged, this, &MainWindow::onVX4AppChanged);
        QObject::disconnect(s, &VX4Interface::vx4CalDateTimeChanged, this,
                            &MainWindow::onVX4CalDateTimeChanged);
        QObject::disconnect(s, &VX4Interface::vx4ConnectedSignal, this,
                            &MainWindow::onVX4Connected);
        QObject::disconnect(s, &VX4Interface::vx4DisconnectedSignal, this,
                            &MainWindow::onVX4Disconnected);
        QObject::disconnect(s, &VX4Interface::vx4FirmwareVersionChanged, this,
                            &MainWindow::onVX4FirmwareVersionChanged);
        QObject::disconnect(s, &VX4Interface::vx4ModeChanged, this, &MainWindow::onVX4ModeChanged);
        QObject::disconnect(s, &VX4Interface::vx4SerialNumberChanged, this,
                            &MainWindow::onVX4SerialNumberChanged);
    }
}

// The sender's signals

void MainWindow::onVX4Connected()
{
    ui->dpsBox->setEnabled(true);
    LOG << "VX4Connected signal received.";
    ui->statusBar->showMessage(tr("Connected"));
    ui->connectionStatus->setText(tr("Connected"));
}

void MainWindow::onVX4Disconnected()
{
    LOG << "VX4Disconnected signal received.";
    ui->dpsBox->setEnabled(false);
    clearDeviceFields();
    ui->statusBar->showMessage(tr("Disconnected"));
    ui->connectionStatus->setText(tr("Disconnected"));
}

void MainWindow::onVX4SerialNumberChanged(quint16 sn)
{
    LOG << "VX4SerialNumberChanged received." << sn;
    ui->serNum->setText(pressureSender ? pressureSender->serialNumberString() : QString());
}

void MainWindow::onVX4FirmwareVersionChanged(quint8 major, quint8 minor)
{
    LOG << "VX4FirmwareVersionChanged signal received.";
    ui->firmVer->setText(QStringLiteral("%1.%2").arg(major).arg(minor));
    const bool hasAdOffset = major > 0 || minor >= FirstMinorWithAdOffset;
    if (!hasAdOffset)
        ui->pressureOffsetValue->setText(tr("N/A"));
    ui->pressureOffsetValue->setEnabled(hasAdOffset);
    ui->pressureOffsetLabel->setEnabled(hasAdOffset);
    ui->zeroPressureButton->setEnabled(hasAdOffset);
}

void MainWindow::onVX4CalDateTimeChanged(const QDateTime &dt)
{
    LOG << "VX4CalDateTimeChanged signal received.";
    const QString text = dt.toString(QStringLiteral("yyyy-MM-dd hh:mm AP"));
    ui->calDate->setText(text.isEmpty() ? tr("Not calibrated") : text);
}

void MainWindow::onVX4ADOffsetChanged(qint16 offset)
{
    LOG << "VX4ADOffsetChanged signal received.";
    ui->pressureOffsetValue->setText(QString::number(offset));
}

void MainWindow::onVX4ModeChanged(VX4Mode mode)
{
    LOG << "VX4ModeChanged signal received.";
    switch (mode) {
    case PressureSendingMode:
        LOG << "VX4 changed to pressure sending mode.";
        ui->opMode->setText(tr("Pressure Sending Mode"));
        break;
    case CalibrationMode:
        LOG << "VX4 changed to calibration mode.";
        ui->opMode->setText(tr("Calibration Mode"));
        break;
    default:
        LOG << "VX4 chnaged to unknown mode";
        ui->opMode->setText(tr("Unknown Mode"));
        break;
    }
}

void MainWindow::onVX4AppChanged(VX4App app)
{
    LOG << "VX4AppChanged signal received.";
    if (app == PressureSendingApp)
        LOG << "VX4 changed to pressure sending app.";
    else if (app == Bootloader)
        LOG << "VX4 changed to bootloader app.";
    else
        LOG << "VX4 changed to unknown application.";

    const bool pressureApp = app == PressureSendingApp;
    if (!pressureApp)
        clearDeviceFields();
    for (QWidget *w : std::initializer_list<QWidget *> {
             ui->serNumButton, ui->serNumLabel, ui->calButton, ui->calDateLabel, ui->firmVerLabel,
             ui->zeroPressureButton, ui->pressureOffsetLabel, ui->opModePushButton })
        w->setEnabled(pressureApp);
    if (pressureApp) {
        for (QWidget *w :
             { ui->serNum, ui->calDate, ui->firmVer, ui->pressureOffsetValue, ui->opMode })
            w->setEnabled(true);
    }
    for (QWidget *w :
         std::initializer_list<QWidget *> { ui->updateFirmButton, ui->appChangePushButton,
                                            ui->currAppLabel, ui->currApp, ui->opModeLabel })
        w->setEnabled(true);
    ui->currApp->setText(VX4Interface::appText(app));
}

void MainWindow::onVX4PressureMsg(int pressure, const VX4Message &msg)
{
    if (msg.payload.isEmpty()) {
        LOG << "Pressure message without A/D status received";
        showPressure(0);
        return;
    }
    const quint8 status = quint8(msg.payload.at(0));
    switch (status) {
    case 0:
        showPressure(pressure);
        ui->adStatus->setText(tr("Okay"));
        return;
    case 1:
        ui->adStatus->setText(tr("A/D timeout"));
        break;
    case 2:
        ui->adStatus->setText(tr("A/D NACK"));
        break;
    case 3:
        ui->adStatus->setText(tr("A/D Bad Config Byte"));
        break;
    default:
        LOG << "Unknown A/D status" << uint(status) << "received";
        break;
    }
    showPressure(0);
}

// Service actions

void MainWindow::onUIZeroPressureButtonClicked()
{
    const int reading = displayedPsi;
    const QString title = tr("Zero Pressure Reading");
    if (reading < ZeroRangeMinPsi || reading > ZeroRangeMaxPsi) {
        QMessageBox::information(
            this, title,
            tr("Error.\n%1PSI is outside of the allowable adjustment range from %2PSI to %3PSI.")
                .arg(reading)
                .arg(ZeroRangeMinPsi)
                .arg(ZeroRangeMaxPsi),
            QMessageBox::Ok);
        return;
    }
    const auto answer = QMessageBox::warning(
        this, title, tr("Warning.  Disconnect hydraulic pressure source before proceeding!"),
        QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
    if (answer == QMessageBox::Ok && pressureSender) {
        pressureSender->zeroPressure();
        pressureSender->requestADOffset();
    }
}

void MainWindow::onUISetVX4SerialNumberButtonClicked()
{
    LOG << "Set serial number button clicked.";
    VX4SerialNumDialog dialog(this);
    if (dialog.exec() == QDialog::Accepted && pressureSender) {
        pressureSender->setSerialNumber(quint16(dialog.enteredSerialNumber()));
        pressureSender->requestSerialNumber();
    }
}

void MainWindow::onUIAppChangeButtonClicked()
{
    pressureSender->changeApp();
}

void MainWindow::onUIModeChangeButtonClicked()
{
    pressureSender->switchMode(pressureSender->mode() == CalibrationMode ? PressureSendingMode
                                                                         : CalibrationMode);
}

void MainWindow::onUISerialPortConfigButtonClicked()
{
    LOG << "Serial configuration button clicked.";
    SerialPortConfigDialog dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const PortSettings chosen = dialog.selectedPortSettings();
    portSettings.baudRate = chosen.baudRate;
    portSettings.dataBits = chosen.dataBits;
    portSettings.parity = chosen.parity;
    portSettings.stopBits = chosen.stopBits;
    portSettings.flowControl = chosen.flowControl;
}

// Debug window, About box, closing

void MainWindow::onUIViewDebugOutputClicked(bool enabled)
{
    if (enabled) {
        if (debugWindow)
            return;
        debugWindow = new DebugDialog(nullptr);
        debugWindow->setAttribute(Qt::WA_DeleteOnClose);
        connect(QLogger::instance(), &QLogger::msgReady, debugWindow,
                &DebugDialog::appendPlainText);
        connect(debugWindow, &QObject::destroyed, this, &MainWindow::onUIDebugOutputDestroyed);
        debugWindow->show();
        debugWindow->raise();
        debugWindow->activateWindow();
    } else if (debugWindow) {
        DebugDialog *window = debugWindow;
        debugWindow = nullptr;
        window->close();
    }
}

void MainWindow::onUIDebugOutputDestroyed()
{
    LOG << "destroyed() signal received from debug window.";
    // A window closed from the menu goes later; by then a new one may be open and stays.
    if (debugWindow && sender() != debugWindow)
        return;
    debugWindow = nullptr;
    ui->actionEnableDebugLogging->setChecked(false);
}

void MainWindow::onUIActionAboutDialog()
{
    const QString text = AppIdentity::applicationName() + QLatin1Char('\n') + tr("Version ")
        + AppIdentity::applicationVersion() + QLatin1Char('\n') + tr("Built on:  ")
        + QLatin1String(__DATE__) + QLatin1Char(' ') + QLatin1String(__TIME__) + QLatin1Char('\n')
        + tr("Built with Qt version:  ") + QLatin1String(QT_VERSION_STR) + QLatin1Char('\n')
        + tr("Qt runtime version:  ") + QLatin1String(qVersion()) + QLatin1Char('\n');
    QMessageBox::about(this, tr("About"), text);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    settings.beginGroup(SettingsStore::MainWindowGroup::Name);
    settings.setValue(SettingsStore::MainWindowGroup::Position, pos());
    settings.setValue(SettingsStore::MainWindowGroup::Size, size());
    settings.endGroup();

    if (debugWindow) {
        DebugDialog *window = debugWindow;
        debugWindow = nullptr;
        window->close();
    }
    if (pressureSender) {
        // Still connected: the window hears the disconnection.
        pressureSender->close();
        delete pressureSender;
        pressureSender = nullptr;
    }
    event->accept();
}

void MainWindow::onUICalibrateButtonClicked()
{
    if (!CalibrationWizard::checkSender(this, pressureSender))
        return;
    CalibrationWizard wizard(this, pressureSender);
    // The main display stands still while the wizard shows the readings.
    disconnect(pressureSender, &VX4Interface::vx4PressureMsgRdy, this,
               &MainWindow::onVX4PressureMsg);
    wizard.attachSender(pressureSender);
    const int result = wizard.exec();
    if (result == CalibrationWizard::SenderLost)
        CalibrationWizard::showSenderLostMessage();
    else if (result == CalibrationWizard::Cancelled)
        LOG << "Calibration wizard cancelled.";
    else
        LOG << "Calibration completed successfully.";
    // The sender may have gone with the port while the wizard ran.
    if (!pressureSender)
        return;
    wizard.detachSender(pressureSender);
    connect(pressureSender, &VX4Interface::vx4PressureMsgRdy, this, &MainWindow::onVX4PressureMsg,
            Qt::UniqueConnection);
    pressureSender->switchMode(PressureSendingMode);
    // Cancelled on a calibration page, the watchdog would stay off.
    pressureSender->pollForConnectionChange(true);
}

void MainWindow::onUIFirmwareUpdateButtonClicked()
{
    firmwareUpdate->start();
}
