#pragma once

#include <QList>
#include <QString>

/// One port the technician can choose: the name that opens it and the text shown for it.
struct SerialPortEntry
{
    QString portName;
    QString friendlyName;
};

/// The serial ports of the system, then one entry per path in the colon-separated environment
/// variable VX4_EXTRA_PORTS (virtual ports, the simulated sender).
QList<SerialPortEntry> availableSerialPorts();
