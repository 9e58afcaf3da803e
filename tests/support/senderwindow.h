#pragma once

#include "mainwindow.h"
#include "mainwindowform.h"
#include "ptyendpoint.h"
#include "simulatedsender.h"

#include <QStringList>

#include <memory>

class VX4Interface;

/// A simulated sender on a pseudo-terminal and a main window that offers that terminal as a
/// port (through VX4_EXTRA_PORTS) with it selected. Settings are cleared first.
struct SenderWindow
{
    SimulatedSender sender;
    PtyEndpoint pty { &sender };
    std::unique_ptr<MainWindow> window;

    /// `arguments` are the window's command line; `extraPorts` are offered before the pty.
    explicit SenderWindow(const QStringList &arguments = {}, const QStringList &extraPorts = {});

    MainWindowForm *ui() const { return window->form(); }
    VX4Interface *engine() const { return window->pressureSenderInterface(); }
    QString portPath() const { return pty.slavePath(); }
    QString statusText() const;

    /// Selects the port shown as `friendlyName`; false when the combo box has no such item.
    bool selectPort(const QString &friendlyName);
    /// Presses Open and waits until the window reports the sender connected.
    bool openAndConnect(int timeoutMs = 10000);
    /// Waits until the connection status label reads `text`.
    bool waitForStatus(const QString &text, int timeoutMs = 10000);
    /// Waits until the display stands for `psi`.
    bool waitForReading(int psi, int timeoutMs = 10000);
};

/// Removes every key of the settings store.
void clearSettings();
