#include "mainwindow.h"

#include "VX4calibrationwizard.h"
#include "VX4interface.h"
#include "adstatus.h"
#include "appidentity.h"
#include "debugdialog.h"
#include "helpmenu.h"
#include "mainwindowform.h"
#include "qlogger.h"
#include "resourcepaths.h"
#include "senderidentity.h"
#include "serialportconfigdialog.h"
#include "servicerules.h"
#include "settingskeys.h"
#include "vx4log.h"
#include "vx4serialnumdialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QIcon>
#include <QLCDNumber>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>

#define LOG VX4_LOG("mainwindow")

using VX4ServiceRules::ZeroRangeMaxPsi;
using VX4ServiceRules::ZeroRangeMinPsi;

namespace {
/// Watches the sender while a service dialog is open: its answer may be sent only to the sender
/// the technician saw when the dialog opened, connected all the while.
class SenderWatch
{
public:
    explicit SenderWatch(VX4Interface *sender)
        : sender(sender)
        , serialNumber(sender ? sender->serialNumber() : 0)
    {
        if (sender)
            lossConnection = QObject::connect(sender, &VX4Interface::vx4DisconnectedSignal,
                                              [this] { lost = true; });
    }
    ~SenderWatch() { QObject::disconnect(lossConnection); }
    SenderWatch(const SenderWatch &) = delete;
    SenderWatch &operator=(const SenderWatch &) = delete;

    /// The same sender is still open, connected and never lost since the dialog opened.
    bool unchanged(const VX4Interface *current) const
    {
        return sender && sender == current && !lost && sender->isConnected()
            && sender->serialNumber() == serialNumber;
    }

private:
    QPointer<VX4Interface> sender;
    quint16 serialNumber;
    bool lost = false;
    QMetaObject::Connection lossConnection;
};

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
    senderPort = new SenderPort(ui, this);
    connect(senderPort, &SenderPort::opened, this,
            [this](VX4Interface *sender) { connectSenderSignals(sender, true); });
    connect(senderPort, &SenderPort::closing, this,
            [this](VX4Interface *sender) { connectSenderSignals(sender, false); });
    connect(senderPort, &SenderPort::closed, this, &MainWindow::clearDeviceFields);
    firmwareUpdate
        = new FirmwareUpdateFlow(this, ui->statusBar, [this] { return senderPort->engine(); });

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
    connect(ui->actionUserGuide, &QAction::triggered, this,
            [this] { HelpMenu::openUserGuide(this); });
    connect(ui->actionEnableDebugLogging, &QAction::toggled, this,
            &MainWindow::onUIViewDebugOutputClicked);
    connect(ui->actionCalibrationHistory, &QAction::triggered, this,
            &MainWindow::onUIViewCalibrationHistoryClicked);
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

    senderPort->scan();
    show();
}

MainWindow::~MainWindow()
{
    if (senderPort->engine()) {
        LOG << "Closing pressure sender.";
        senderPort->release();
    }
    if (debugWindow) {
        disconnect(debugWindow, nullptr, this, nullptr);
        delete debugWindow;
    }
    delete historyWindow;
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

void MainWindow::onUISerialPortOpenCloseButtonClicked(bool checked)
{
    if (checked)
        senderPort->open();
    else
        senderPort->close();
}

void MainWindow::connectSenderSignals(VX4Interface *s, bool connect)
{
    // Bound at most once, so a second Open cannot double every update.
    auto bind = [this, s, connect](auto signal, auto slot) {
        if (connect)
            QObject::connect(s, signal, this, slot, Qt::UniqueConnection);
        else
            QObject::disconnect(s, signal, this, slot);
    };
    bind(&VX4Interface::vx4PressureMsgRdy, &MainWindow::onVX4PressureMsg);
    bind(&VX4Interface::vx4ADOffsetChanged, &MainWindow::onVX4ADOffsetChanged);
    bind(&VX4Interface::vx4AppChanged, &MainWindow::onVX4AppChanged);
    bind(&VX4Interface::vx4CalDateTimeChanged, &MainWindow::onVX4CalDateTimeChanged);
    bind(&VX4Interface::vx4ConnectedSignal, &MainWindow::onVX4Connected);
    bind(&VX4Interface::vx4DisconnectedSignal, &MainWindow::onVX4Disconnected);
    bind(&VX4Interface::vx4FirmwareVersionChanged, &MainWindow::onVX4FirmwareVersionChanged);
    bind(&VX4Interface::vx4ModeChanged, &MainWindow::onVX4ModeChanged);
    bind(&VX4Interface::vx4SerialNumberChanged, &MainWindow::onVX4SerialNumberChanged);
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
    ui->serNum->setText(senderPort->engine() ? senderPort->engine()->serialNumberString()
                                             : QString());
}

void MainWindow::onVX4FirmwareVersionChanged(quint8 major, quint8 minor)
{
    LOG << "VX4FirmwareVersionChanged signal received.";
    ui->firmVer->setText(QStringLiteral("%1.%2").arg(major).arg(minor));
    const bool hasAdOffset = VX4Identity::firmwareHasAdOffset(major, minor);
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
    for (QWidget *w : std::initializer_list<QWidget *> { ui->serNumButton, ui->serNumLabel,
                                                         ui->calButton, ui->calDateLabel,
                                                         ui->firmVerLabel, ui->opModePushButton })
        w->setEnabled(pressureApp);
    // The application signal comes last while connecting: firmware without an A/D offset must
    // not get back the zeroing its version signal took away.
    const VX4Interface *sender = senderPort->engine();
    const bool hasAdOffset = pressureApp && sender
        && VX4Identity::firmwareHasAdOffset(sender->firmwareMajor(), sender->firmwareMinor());
    ui->zeroPressureButton->setEnabled(hasAdOffset);
    ui->pressureOffsetLabel->setEnabled(hasAdOffset);
    if (pressureApp) {
        for (QWidget *w : { ui->serNum, ui->calDate, ui->firmVer, ui->opMode })
            w->setEnabled(true);
        ui->pressureOffsetValue->setEnabled(hasAdOffset);
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
    if (const char *text = VX4AdStatus::displayText(status))
        ui->adStatus->setText(tr(text));
    else
        LOG << "Unknown A/D status" << uint(status) << "received";
    if (status == VX4AdStatus::Ok) {
        showPressure(pressure);
        return;
    }
    showPressure(0);
}

// Service actions

void MainWindow::onUIZeroPressureButtonClicked()
{
    const int reading = displayedPsi;
    const QString title = tr("Zero Pressure Reading");
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

void MainWindow::onUIViewCalibrationHistoryClicked()
{
    LOG << "Calibration History clicked.";
    // A window already open is read again, so that runs stored since then show too.
    if (historyWindow) {
        historyWindow->reload();
    } else {
        historyWindow = new HistoryWindow;
        historyWindow->setAttribute(Qt::WA_DeleteOnClose);
    }
    historyWindow->show();
    historyWindow->raise();
    historyWindow->activateWindow();
}

void MainWindow::onUIActionAboutDialog()
{
    HelpMenu::showAbout(this);
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
    if (historyWindow)
        historyWindow->close();
    // Still connected: the window hears the disconnection.
    senderPort->release();
    event->accept();
}

void MainWindow::onUICalibrateButtonClicked()
{
    if (!CalibrationWizard::checkSender(this, senderPort->engine()))
        return;
    CalibrationWizard wizard(this, senderPort->engine());
    // The main display stands still while the wizard shows the readings.
    disconnect(senderPort->engine(), &VX4Interface::vx4PressureMsgRdy, this,
               &MainWindow::onVX4PressureMsg);
    wizard.attachSender(senderPort->engine());
    const int result = wizard.exec();
    if (result == CalibrationWizard::SenderLost)
        CalibrationWizard::showSenderLostMessage();
    else if (result == CalibrationWizard::Cancelled)
        LOG << "Calibration wizard cancelled.";
    else
        LOG << "Calibration completed successfully.";
    // The sender may have gone with the port while the wizard ran.
    if (!senderPort->engine())
        return;
    wizard.detachSender(senderPort->engine());
    connect(senderPort->engine(), &VX4Interface::vx4PressureMsgRdy, this,
            &MainWindow::onVX4PressureMsg, Qt::UniqueConnection);
    senderPort->engine()->switchMode(PressureSendingMode);
    // Cancelled on a calibration page, the watchdog would stay off.
    senderPort->engine()->pollForConnectionChange(true);
}

void MainWindow::onUIFirmwareUpdateButtonClicked()
{
    firmwareUpdate->start();
}
