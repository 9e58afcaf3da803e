#include "senderwindow.h"

SenderWindow::SenderWindow(const QStringList &arguments, const QStringList &extraPorts)
{
    QString error;
    if (!pty.open(&error))
        qFatal("Cannot open a pseudo-terminal: %s", qPrintable(error));
    qputenv("VX4_EXTRA_PORTS", (extraPorts + QStringList(portPath())).join(':').toLocal8Bit());
    window = std::make_unique<MainWindow>(QStringList { QStringLiteral("tst") } + arguments);
    selectPort(portPath());
}

QList<QByteArray> SenderWindow::sent(quint8 command) const
{
    QList<QByteArray> payloads;
    for (const VX4Message &m : sender.requests())
        if (m.command == command)
            payloads.append(m.payload);
    return payloads;
}
