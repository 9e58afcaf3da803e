#pragma once

#include "VX4message.h"
#include "firmwareupdateflow.h"
#include "historywindow.h"
#include "senderport.h"

#include <QDateTime>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

class DebugDialog;
class VX4Interface;
struct MainWindowForm;

/// The program's one top-level window and the owner of the connection to the sender: port
/// choice, open and close, the sender's values and live pressure, and the service actions.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    /// Reads the switches from the application's arguments.
    explicit MainWindow(QWidget *parent = nullptr);
    /// Reads the switches from `arguments`; every element is compared, the first included.
    explicit MainWindow(const QStringList &arguments, QWidget *parent = nullptr);
    ~MainWindow() override;

    MainWindowForm *form() const { return ui; }
    /// The sender of the open port; null while no port is open.
    VX4Interface *pressureSenderInterface() const { return senderPort->engine(); }
    DebugDialog *debugOutputWindow() const { return debugWindow; }
    /// The calibration history window; null while it is closed.
    HistoryWindow *calibrationHistoryWindow() const { return historyWindow; }
    /// Line parameters for the next Open.
    const PortSettings &nextPortSettings() const { return senderPort->nextSettings(); }
    using FileChooser = FirmwareUpdateFlow::FileChooser;
    /// Replaces the firmware package's file dialog, e.g. for tests.
    void setFileChooser(const FileChooser &chooser) { firmwareUpdate->setFileChooser(chooser); }
    /// The download's progress dialog; null before the first download and after an abort.
    QProgressDialog *firmwareProgressDialog() const { return firmwareUpdate->progressDialog(); }

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void onUIActionAboutDialog();
    void onUIViewDebugOutputClicked(bool enabled);
    void onUIViewCalibrationHistoryClicked();
    void onUIAppChangeButtonClicked();
    void onUICalibrateButtonClicked();
    void onUIFirmwareUpdateButtonClicked();
    void onUIDebugOutputDestroyed();
    void onUIModeChangeButtonClicked();
    void onUISerialPortConfigButtonClicked();
    void onUISerialPortOpenCloseButtonClicked(bool checked);
    void onUISetVX4SerialNumberButtonClicked();
    void onUIZeroPressureButtonClicked();
    void onVX4ADOffsetChanged(qint16 offset);
    void onVX4AppChanged(VX4App app);
    void onVX4CalDateTimeChanged(const QDateTime &dt);
    void onVX4Connected();
    void onVX4Disconnected();
    void onVX4FirmwareVersionChanged(quint8 major, quint8 minor);
    void onVX4ModeChanged(VX4Mode mode);
    void onVX4PressureMsg(int pressure, const VX4Message &msg);
    void onVX4SerialNumberChanged(quint16 sn);
    /// A request went unanswered: a panel that says "Connected" while the engine looks for the
    /// sender again (after a failed download) stops saying so.
    void onVX4ConnectionInDoubt();

private:
    void applySwitches(const QStringList &arguments);
    void connectSenderSignals(VX4Interface *sender, bool connect);
    void clearDeviceFields();
    /// The panel and the reading in their connected or disconnected look.
    void showConnected(bool connected);
    /// Moves `window` beside this one, on the side with room, unless it is clear of it already.
    void placeBeside(QWidget *window) const;
    /// Tells the technician that `action` was not sent to a sender lost or replaced meanwhile.
    void reportSenderChanged(const QString &action);

    MainWindowForm *ui = nullptr;
    DebugDialog *debugWindow = nullptr;
    QPointer<HistoryWindow> historyWindow;
    SenderPort *senderPort = nullptr;
    FirmwareUpdateFlow *firmwareUpdate = nullptr;
};
