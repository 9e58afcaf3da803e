#pragma once

#include "mainwindow.h"
#include "mainwindowform.h"
#include "ptyendpoint.h"
#include "readingdisplay.h"
#include "simulatedsender.h"

#include <QTest>
#include <QtWidgets>

#include <memory>

/// A simulated sender on a pseudo-terminal and a main window that offers that terminal as a
/// port (through VX4_EXTRA_PORTS) with it selected.
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
    QString statusText() const { return ui()->statusBar->currentMessage(); }
    /// Selects the port shown as `name`, if the combo box has it.
    void selectPort(const QString &name) { ui()->serComboBox->setCurrentText(name); }
    /// Waits until the connection status label reads `text`, or begins with it.
    bool waitForStatus(const QString &text, int timeoutMs = 10000)
    {
        return QTest::qWaitFor([&] { return ui()->connectionStatus->text().startsWith(text); },
                               timeoutMs);
    }
    /// Presses Open and waits until the window reports the sender connected.
    bool openAndConnect(int timeoutMs = 10000)
    {
        ui()->serButton->click();
        return waitForStatus(QStringLiteral("Connected"), timeoutMs);
    }
    /// Waits until the display stands for `psi`; for none, until it shows no number.
    bool waitForReading(std::optional<int> psi, int timeoutMs = 10000)
    {
        return QTest::qWaitFor([&] { return ui()->psiLCD->reading() == psi; }, timeoutMs);
    }
    /// Payloads of the requests with `command` that the sender has read, oldest first.
    QList<QByteArray> sent(quint8 command) const;
    /// Waits until the sender has read a request (the polls go on), then tells whether none
    /// of them had `command`; whatever was queued before the poll has gone out by then.
    bool sentNone(quint8 command) const
    {
        return QTest::qWaitFor([&] { return !sender.requests().isEmpty(); })
            && sent(command).isEmpty();
    }
};
