// The engine's connection state machine against the simulated sender over a pseudo-terminal:
// connecting sequences, silence, the cable pull and reconnection.
#include "VX4interface.h"
#include "logcapture.h"
#include "simlink.h"
#include "vx4protocol.h"

#include <QSignalSpy>
#include <QtTest>

using namespace VX4Protocol;

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void connectsToPressureSendingSender();
};

void TestConnection::connectsToPressureSendingSender()
{
    LogCapture log;
    SimLink link;
    link.sender.setFirmwareVersion(1, 0);
    QVERIFY(link.openEngine());
    QSignalSpy connected(link.engine.get(), &VX4Interface::vx4ConnectedSignal);
    link.engine->startConnecting();
    QVERIFY(connected.wait(5000));
    QCOMPARE(link.sender.requestCommands(),
             (QList<quint8> { AppQuery, GetFirmVer, GetSerial, GetCalData, ModeQuery, GetOffset }));
}

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
