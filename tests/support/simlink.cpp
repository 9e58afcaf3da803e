#include "simlink.h"

#include <QSignalSpy>
#include <QtTest>

SimLink::SimLink()
{
    QString error;
    if (!pty.open(&error))
        qFatal("Cannot open a pseudo-terminal: %s", qPrintable(error));
    clock.start();
    QObject::connect(&sender, &SimulatedSender::requestReceived, &sender,
                     [this] { arrivalMs.append(clock.elapsed()); });
}

bool SimLink::control(const QString &lines)
{
    QString reply;
    for (const QString &line : lines.split(';', Qt::SkipEmptyParts)) {
        if (!runControl(target, line, &reply))
            return false;
    }
    return true;
}

bool SimLink::openEngine(const PortSettings &settings)
{
    engine = std::make_unique<VX4Interface>(pty.slavePath(), settings);
    return engine->open(QIODevice::ReadWrite);
}

bool SimLink::connectEngine(int timeoutMs)
{
    if (!engine && !openEngine())
        return false;
    QSignalSpy connected(engine.get(), &VX4Interface::vx4ConnectedSignal);
    engine->startConnecting();
    return connected.wait(timeoutMs);
}

bool SimLink::waitLineFree(int timeoutMs)
{
    return QTest::qWaitFor([this] { return engine->queuedMessages().isEmpty(); }, timeoutMs);
}
