#include "connectionstatus.h"

#include <QLabel>

ConnectionStatus::ConnectionStatus(QLabel *label)
    : label(label)
{
    show(tr("Disconnected"));
}

void ConnectionStatus::show(const QString &text)
{
    current = text;
    if (!label)
        return;
    label->setText(text);
    label->setAccessibleName(tr("Connection Status:") + QLatin1Char(' ') + text);
}

void ConnectionStatus::opened(const QString &port)
{
    portName = port;
    lastHeard = QTime();
    everConnected = false;
    show(tr("Disconnected"));
}

void ConnectionStatus::openFailed(const QString &port, const QString &reason)
{
    show(tr("Could not open %1: %2").arg(port, reason));
}

void ConnectionStatus::connected()
{
    everConnected = true;
    show(tr("Connected"));
}

void ConnectionStatus::silence()
{
    if (!everConnected || !lastHeard.isValid())
        return show(tr("No sender answers on %1 (check the cable, the port and the baud rate)")
                        .arg(portName));
    show(tr("The sender stopped answering at %1")
             .arg(lastHeard.toString(QStringLiteral("hh:mm:ss"))));
}

void ConnectionStatus::portLost(const QString &port, const QString &reason)
{
    show(tr("Lost the port %1: %2; plug it in and press Open").arg(port, reason));
}

void ConnectionStatus::closed()
{
    show(tr("Disconnected"));
}
