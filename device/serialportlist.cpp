#include "serialportlist.h"

#include <QFileInfo>
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
    // The serial library reads a bare name as one under /dev: open by the absolute path.
    for (const QString &path : paths)
        ports.append({ QFileInfo(path).absoluteFilePath(), path });
    return ports;
}
