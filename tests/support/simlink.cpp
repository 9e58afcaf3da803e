#include "simlink.h"

#include <QSignalSpy>
#include <QtTest>

SimLink::SimLink()
{
    QString error;
    if (!pty.open(&error))
        qFatal("Cannot open a pseudo-terminal: %s", qPrintable(error));
}

bool SimLink::openEngine(const PortSettings &settings)
{
    engine = std::make_unique<VX4Interface>(pty.slavePath(), settings);
    return engine->open(QIODevice::ReadWrite);
}

bool SimLink::connectEngine(int timeoutMs)
{
    if (!openEngine())
        return false;
    QSignalSpy connected(engine.get(), &VX4Interface::vx4ConnectedSignal);
    engine->startConnecting();
    return connected.wait(timeoutMs);
}
