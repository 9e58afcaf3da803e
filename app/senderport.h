#pragma once

#include "connectionstatus.h"
#include "portsettings.h"
#include "serialportlist.h"

#include <QObject>

class QWidget;
class VX4Interface;
struct MainWindowForm;

/// The port side of the main window: the ports on offer, the one opened last, the line settings
/// for the next Open, and the engine of the port that is open with the controls that open and
/// close it.
class SenderPort : public QObject
{
    Q_OBJECT

public:
    /// Environment variable naming a port (friendly name or port name) to choose at start in
    /// place of the one opened last; that port is then not remembered.
    static constexpr char PresetPortVariable[] = "VX4_PORT";

    /// Drives the port controls of `ui`; boxes belong to `window`.
    SenderPort(MainWindowForm *ui, QWidget *window);

    /// The engine of the open port; null while no port is open.
    VX4Interface *engine() const { return pressureSender; }
    PortSettings &nextSettings() { return portSettings; }
    /// What the window says about the connection, and why there is none.
    ConnectionStatus &connection() { return status; }
    const PortSettings &nextSettings() const { return portSettings; }

    /// Offers the system's ports and chooses the one opened last, if it is still there.
    void scan();
    /// Opens the chosen port and starts connecting; explains in a box when it cannot.
    void open();
    /// Closes the open port and returns the controls to the closed state.
    void close();
    /// Closes and deletes the engine, leaving the controls alone: the window is going.
    void release();

private slots:
    /// The open port went away: back to the closed state, the reason in the status bar.
    void onPortLost(const QString &reason);

signals:
    /// The engine is open; it starts connecting right after this.
    void opened(VX4Interface *engine);
    /// The engine is about to close and go.
    void closing(VX4Interface *engine);
    /// The engine is gone; the controls are on their way back to the closed state.
    void closed();

private:
    /// Index in `ports` of the port PresetPortVariable names; -1 when none.
    int presetPortIndex() const;
    void setOpenButton(bool open);

    MainWindowForm *ui;
    QWidget *window;
    QList<SerialPortEntry> ports;
    int presetIndex = -1; ///< index in `ports` of the port the environment named at the scan
    PortSettings portSettings;
    VX4Interface *pressureSender = nullptr;
    ConnectionStatus status;
};
