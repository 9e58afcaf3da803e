#include "mainwindow.h"

#include "VX4calibrationwizard.h"
#include "VX4interface.h"
#include "adstatus.h"
#include "appidentity.h"
#include "commandline.h"
#include "debugdialog.h"
#include "helpmenu.h"
#include "mainwindowform.h"
#include "qlogger.h"
#include "readingdisplay.h"
#include "resourcepaths.h"
#include "senderidentity.h"
#include "settingskeys.h"
#include "vx4log.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>

#define LOG VX4_LOG("mainwindow")

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
    connect(senderPort, &SenderPort::closed, this, [this] {
        clearDeviceFields();
        showConnected(false);
    });
    firmwareUpdate
        = new FirmwareUpdateFlow(this, ui->outcome, [this] { return senderPort->engine(); });
    // An outcome stays until the technician's next action.
    for (QPushButton *button : ui->mainWidget->findChildren<QPushButton *>())
        connect(button, &QPushButton::pressed, ui->outcome, &QLabel::clear);

    setWindowTitle(QStringLiteral("%1 %2").arg(AppIdentity::applicationName(),
                                               AppIdentity::applicationVersion()));
    setWindowIcon(QIcon(QString::fromLatin1(ResourcePaths::Icon)));
    ui->statusBar->setSizeGripEnabled(false);

    applySwitches(arguments);

    ui->actionEnableDebugLogging->setEnabled(true);
    showConnected(false);
    clearDeviceFields();

    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    settings.beginGroup(SettingsStore::MainWindowGroup::Name);
    move(settings.value(SettingsStore::MainWindowGroup::Position, QPoint(200, 200)).toPoint());
    // The technician's size is kept: a reading made large stays large.
    const QSize size = settings.value(SettingsStore::MainWindowGroup::Size).toSize();
    if (size.isValid())
        resize(size);
    settings.endGroup();

    debugWindow = nullptr;

    connect(ui->actionQuit, &QAction::triggered, this, &QWidget::close);
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
    const QStringList unknown = CommandLine::unrecognised(arguments);
    if (unknown.isEmpty())
        return;
    LOG << "Switches not recognised, ignored:" << unknown;
    // Once the window is up: the box needs the event loop, and the technician sees both.
    QTimer::singleShot(0, this,
                       [this, unknown] { CommandLine::reportUnrecognised(this, unknown); });
}

void MainWindow::clearDeviceFields()
{
    for (QLabel *label : { ui->serNum, ui->calDate, ui->firmVer, ui->currApp, ui->opMode,
                           ui->pressureOffsetValue, ui->adStatus })
        ui->showValue(label, QString());
    ui->psiLCD->showNoReading();
}

void MainWindow::showConnected(bool connected)
{
    // Greyed only while no sender is connected, so the two states look different.
    for (QWidget *w : std::initializer_list<QWidget *> { ui->dpsBox, ui->psiLabel, ui->psiLCD })
        w->setEnabled(connected);
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
    bind(&VX4Interface::vx4MessageTimeout, &MainWindow::onVX4ConnectionInDoubt);
}

// The sender's signals

void MainWindow::onVX4Connected()
{
    showConnected(true);
    LOG << "VX4Connected signal received.";
    ui->statusBar->showMessage(tr("Connected"));
    senderPort->connection().connected();
}

void MainWindow::onVX4Disconnected()
{
    LOG << "VX4Disconnected signal received.";
    showConnected(false);
    clearDeviceFields();
    ui->statusBar->showMessage(tr("Disconnected"));
    senderPort->connection().silence();
}

void MainWindow::onVX4ConnectionInDoubt()
{
    const VX4Interface *sender = senderPort->engine();
    // The connected state judges its own time-outs and says so with the disconnection; a
    // download judges those of the sender's restart into its bootloader.
    if (!sender || sender->isConnected() || sender->isFirmwareUpdateRunning())
        return;
    // The engine went back to looking for the sender without a disconnection (after a failed
    // download): what the panel shows is no longer known.
    if (ui->dpsBox->isEnabled()) {
        showConnected(false);
        clearDeviceFields();
    }
    senderPort->connection().silence();
}

void MainWindow::onVX4SerialNumberChanged(quint16 sn)
{
    LOG << "VX4SerialNumberChanged received." << sn;
    ui->showValue(ui->serNum,
                  senderPort->engine() ? senderPort->engine()->serialNumberString() : QString());
}

void MainWindow::onVX4FirmwareVersionChanged(quint8 major, quint8 minor)
{
    LOG << "VX4FirmwareVersionChanged signal received.";
    ui->showValue(ui->firmVer, QStringLiteral("%1.%2").arg(major).arg(minor));
    const bool hasAdOffset = VX4Identity::firmwareHasAdOffset(major, minor);
    if (!hasAdOffset)
        ui->showValue(ui->pressureOffsetValue, tr("N/A"));
    ui->pressureOffsetValue->setEnabled(hasAdOffset);
    ui->pressureOffsetLabel->setEnabled(hasAdOffset);
    ui->zeroPressureButton->setEnabled(hasAdOffset);
}

void MainWindow::onVX4CalDateTimeChanged(const QDateTime &dt)
{
    LOG << "VX4CalDateTimeChanged signal received.";
    const QString text = dt.toString(QStringLiteral("yyyy-MM-dd hh:mm AP"));
    ui->showValue(ui->calDate, text.isEmpty() ? tr("Not calibrated") : text);
}

void MainWindow::onVX4ADOffsetChanged(qint16 offset)
{
    LOG << "VX4ADOffsetChanged signal received.";
    ui->showValue(ui->pressureOffsetValue, QString::number(offset));
}

void MainWindow::onVX4ModeChanged(VX4Mode mode)
{
    LOG << "VX4ModeChanged signal received.";
    switch (mode) {
    case PressureSendingMode:
        LOG << "VX4 changed to pressure sending mode.";
        ui->showValue(ui->opMode, tr("Pressure Sending Mode"));
        return;
    case CalibrationMode:
        LOG << "VX4 changed to calibration mode.";
        ui->showValue(ui->opMode, tr("Calibration Mode"));
        break;
    default:
        LOG << "VX4 chnaged to unknown mode";
        ui->showValue(ui->opMode, tr("Unknown Mode"));
        break;
    }
    // The sender streams no readings in these modes: the last one is no longer the pressure.
    ui->psiLCD->showNoReading();
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
    ui->showValue(ui->currApp, VX4Interface::appText(app));
}

void MainWindow::onVX4PressureMsg(int pressure, const VX4Message &msg)
{
    if (msg.payload.isEmpty()) {
        LOG << "Pressure message without A/D status received";
        ui->psiLCD->showNoReading();
        return;
    }
    const quint8 status = quint8(msg.payload.at(0));
    if (const char *text = VX4AdStatus::displayText(status))
        ui->showValue(ui->adStatus, tr(text));
    else
        LOG << "Unknown A/D status" << uint(status) << "received";
    ui->psiLCD->showFrame(pressure, status);
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
        placeBeside(debugWindow);
        debugWindow->show();
        debugWindow->raise();
        debugWindow->activateWindow();
    } else if (debugWindow) {
        DebugDialog *window = debugWindow;
        debugWindow = nullptr;
        window->close();
    }
}

void MainWindow::placeBeside(QWidget *window) const
{
    // A place the technician chose is kept unless it covers the main window.
    const QRect main = frameGeometry();
    if (!window->frameGeometry().intersects(main))
        return;
    constexpr int Gap = 8; ///< px between the two windows
    constexpr int MinWidth = 200; ///< px, narrower than this the log cannot be read
    const QRect screen = this->screen()->availableGeometry();
    const int right = screen.right() - main.right() - Gap;
    const int left = main.left() - screen.left() - Gap;
    const bool onRight = right >= window->width() || right >= left;
    const int width = qMin(window->width(), qMax(onRight ? right : left, MinWidth));
    window->resize(width, window->height());
    window->move(onRight ? main.right() + Gap : main.left() - Gap - width, main.top());
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
        auto *closing = new QAction(historyWindow);
        closing->setShortcuts({ QKeySequence(Qt::CTRL | Qt::Key_W), QKeySequence(Qt::Key_Escape) });
        connect(closing, &QAction::triggered, historyWindow, &QWidget::close);
        historyWindow->addAction(closing);
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
