#include "serialportlist.h"

#include <QSerialPortInfo>

QList<SerialPortEntry> availableSerialPorts()
{
    QList<SerialPortEntry> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        const QString friendly = info.description().isEmpty()
            ? info.portName()
            : info.description() + QStringLiteral(" (") + info.portName() + QLatin1Char(')');
        ports.append({ info.portName(), friendly });
    }
    const QString extra = qEnvironmentVariable("VX4_EXTRA_PORTS");
    const auto paths = extra.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &path : paths)
        ports.append({ path, path });
    return ports;
}
