// The engine's connection state machine against the simulated sender over a pseudo-terminal:
// the connecting sequences, a silent sender, the cable pull and reconnection, changeApp and close.
#include "VX4interface.h"
#include "enginesignals.h"
#include "logcapture.h"
#include "simlink.h"
#include "vx4protocol.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

using namespace VX4Protocol;

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void connectingSequence_requestsAndSignalsInOrder_data();
    void connectingSequence_requestsAndSignalsInOrder();
    void silentSender_fastQueriesThenSlowOnesWithoutSignals();
    void cablePull_disconnectsThenReconnectsWhenAnswersReturn();
    void streamingResumesRightAfterDisconnection_reconnects();
    void changeApp_sendsChangeBeforeFastQuery();
    void close_emitsDisconnectedEvenWhileConnecting();
    void calibrationMode_pollsAfterEachIdleSpell();
    void serialNumberString_followsFirmwareMajor_data();
    void serialNumberString_followsFirmwareMajor();
    void serialNumberString_unknownVersionQueuesRequest();
};

void TestConnection::connectingSequence_requestsAndSignalsInOrder_data()
{
    QTest::addColumn<int>("app");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<bool>("calDateStored");
    QTest::addColumn<QList<quint8>>("requests");
    QTest::addColumn<QStringList>("events");

    const QList<quint8> full
        = { AppQuery, GetFirmVer, GetSerial, GetCalData, ModeQuery, GetOffset };
    QTest::newRow("firmware 1.0") << int(PressureSendingApp) << 1 << 0 << true << full
                                  << QStringList { "app 1",       "firmware 1.0",
                                                   "serial 4321", "caldate 2025-05-06 07:08",
                                                   "mode 0",      "offset -100",
                                                   "connected",   "app 1" };
    QTest::newRow("firmware 0.7") << int(PressureSendingApp) << 0 << 7 << false << full
                                  << QStringList { "app 1",           "firmware 0.7", "serial 4321",
                                                   "caldate invalid", "mode 0",       "offset -100",
                                                   "connected",       "app 1" };
    QTest::newRow("firmware 0.6 has no offset request")
        << int(PressureSendingApp) << 0 << 6 << true << full.mid(0, 5)
        << QStringList { "app 1",  "firmware 0.6", "serial 4321", "caldate 2025-05-06 07:08",
                         "mode 0", "connected",    "app 1" };
    QTest::newRow("bootloader") << int(Bootloader) << 1 << 0 << true << QList<quint8> { AppQuery }
                                << QStringList { "app 0", "connected", "app 0" };
}

void TestConnection::connectingSequence_requestsAndSignalsInOrder()
{
    QFETCH(int, app);
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(bool, calDateStored);
    QFETCH(QList<quint8>, requests);
    QFETCH(QStringList, events);

    LogCapture log;
    SimLink link;
    link.sender.setApp(VX4App(app));
    link.sender.setFirmwareVersion(quint8(major), quint8(minor));
    link.sender.setSerialNumber(4321);
    link.sender.setAdOffset(-100);
    link.sender.setCalDateTime(calDateStored ? QDateTime(QDate(2025, 5, 6), QTime(7, 8))
                                             : QDateTime());
    QVERIFY(link.openEngine());
    EngineSignals recorded(link.engine.get());
    QSignalSpy connected(link.engine.get(), &VX4Interface::vx4ConnectedSignal);
    link.engine->startConnecting();
    QVERIFY(connected.wait(5000));

    QCOMPARE(link.sender.requestCommands(), requests);
    QCOMPARE(recorded.changes(), events);
    QVERIFY(link.engine->isConnected());
    QCOMPARE(link.engine->app(), VX4App(app));

    // The first poll follows at once and asks for the application only.
    QTRY_COMPARE(link.sender.requestCommands().size(), requests.size() + 1);
    QCOMPARE(link.sender.requestCommands().last(), quint8(AppQuery));
    if (app == Bootloader)
        QVERIFY(log.contains(QStringLiteral("Initialization: Received app query response.")));
    else
        QVERIFY(
            log.contains(QStringLiteral("Initialization: Received firmware version response.")));
}

void TestConnection::silentSender_fastQueriesThenSlowOnesWithoutSignals()
{
    LogCapture log;
    SimLink link;
    link.sender.setSilent(true);
    QVERIFY(link.openEngine());
    EngineSignals recorded(link.engine.get());
    QElapsedTimer clock;
    QList<qint64> arrivals;
    connect(&link.sender, &SimulatedSender::requestReceived, this,
            [&](const VX4Message &) { arrivals.append(clock.elapsed()); });
    clock.start();
    link.engine->startConnecting();

    QTRY_VERIFY_WITH_TIMEOUT(arrivals.size() >= 23, 10000);
    QCOMPARE(link.sender.requestCommands(), QList<quint8>(arrivals.size(), AppQuery));
    for (int i = 1; i < 20; ++i) {
        const qint64 gap = arrivals.at(i) - arrivals.at(i - 1);
        QVERIFY2(gap >= 120 && gap < 400,
                 qPrintable(QStringLiteral("fast gap %1: %2 ms").arg(i).arg(gap)));
    }
    for (int i = 20; i < 23; ++i) {
        const qint64 gap = arrivals.at(i) - arrivals.at(i - 1);
        QVERIFY2(gap >= 130 && gap < 800,
                 qPrintable(QStringLiteral("gap %1: %2 ms").arg(i).arg(gap)));
    }
    // Once the fast query is given up, the slow ones are 500 ms apart.
    const qint64 slowGap = arrivals.at(22) - arrivals.at(21);
    QVERIFY2(slowGap >= 450 && slowGap < 800, qPrintable(QString::number(slowGap)));
    QVERIFY(recorded.events.isEmpty());
    QCOMPARE(link.engine->connectionState(), VX4Interface::Connecting);
    QVERIFY(log.contains(QStringLiteral(
        "Timeout while waiting for \"PC -> VX4, 20/20, 150, APP QUERY, 3e07008baf0d0a\"")));
}

void TestConnection::cablePull_disconnectsThenReconnectsWhenAnswersReturn()
{
    LogCapture log;
    SimLink link;
    link.sender.setSerialNumber(77);
    QVERIFY(link.connectEngine());
    EngineSignals recorded(link.engine.get());
    log.clear();

    link.sender.setSilent(true);
    QSignalSpy disconnected(link.engine.get(), &VX4Interface::vx4DisconnectedSignal);
    QVERIFY(disconnected.wait(5000));
    const QStringList texts = log.texts();
    const int timeoutLine = int(texts.indexOf(
        QStringLiteral("Timeout: \"PC -> VX4, 3/3, 500, APP QUERY, 3e07008baf0d0a\"")));
    QVERIFY2(timeoutLine >= 0, qPrintable(texts.join(QLatin1Char('\n'))));
    QVERIFY(texts.indexOf(QStringLiteral("Clearing the message queue.")) > timeoutLine);
    QCOMPARE(recorded.events, QStringList { "disconnected" });
    QVERIFY(!link.engine->isConnected());
    QCOMPARE(link.engine->app(), UnknownApp);
    QCOMPARE(link.engine->serialNumber(), quint16(0));

    // Still silent: the engine keeps asking and stays disconnected.
    const int asked = link.sender.requests().size();
    QTRY_VERIFY_WITH_TIMEOUT(link.sender.requests().size() >= asked + 3, 5000);
    QCOMPARE(link.engine->connectionState(), VX4Interface::Disconnected);

    recorded.clear();
    link.sender.setSilent(false);
    QSignalSpy connected(link.engine.get(), &VX4Interface::vx4ConnectedSignal);
    QVERIFY(connected.wait(5000));
    QVERIFY(log.contains(QStringLiteral("Switching to connecting state")));
    QCOMPARE(recorded.changes(),
             (QStringList { "app 1", "firmware 1.0", "serial 77", "caldate invalid", "mode 0",
                            "offset 0", "connected", "app 1" }));
    QCOMPARE(link.engine->serialNumber(), quint16(77));
}

void TestConnection::streamingResumesRightAfterDisconnection_reconnects()
{
    // The sender comes back before the next idle poll: its pressure frames keep the line busy,
    // so they themselves must lead back to the sender.
    LogCapture log;
    SimLink link;
    QVERIFY(link.connectEngine());
    // Back 100 ms after the disconnection: the last poll went unheard and the next is not due.
    connect(link.engine.get(), &VX4Interface::vx4DisconnectedSignal, this, [&link] {
        QTimer::singleShot(100, &link.sender, [&link] { link.sender.setSilent(false); });
    });
    QSignalSpy disconnected(link.engine.get(), &VX4Interface::vx4DisconnectedSignal);
    link.sender.setSilent(true);
    QVERIFY(disconnected.wait(5000));
    QVERIFY(!link.engine->isConnected());
    QSignalSpy connected(link.engine.get(), &VX4Interface::vx4ConnectedSignal);
    QVERIFY(connected.wait(3000));
    QVERIFY(log.contains(QStringLiteral("Pressure message while disconnected - reconnecting.")));
}

void TestConnection::changeApp_sendsChangeBeforeFastQuery()
{
    LogCapture log;
    SimLink link;
    QVERIFY(link.connectEngine());
    QTRY_VERIFY(link.engine->queuedMessages().isEmpty());
    link.sender.clearRequests();
    EngineSignals recorded(link.engine.get());

    QSignalSpy connected(link.engine.get(), &VX4Interface::vx4ConnectedSignal);
    link.engine->changeApp();
    QCOMPARE(link.engine->queuedMessages().size(), 2);
    QCOMPARE(link.engine->queuedMessages().at(0).command, quint8(AppChange));
    QCOMPARE(link.engine->queuedMessages().at(1).maxSends, FastAppQueryMaxSends);
    QVERIFY(connected.wait(5000));
    QTRY_COMPARE(link.sender.requestCommands().mid(0, 2), (QList<quint8> { AppChange, AppQuery }));
    QCOMPARE(link.sender.app(), Bootloader);
    QCOMPARE(link.engine->app(), Bootloader);
    QCOMPARE(recorded.changes(), (QStringList { "app 0", "connected", "app 0" }));
}

void TestConnection::close_emitsDisconnectedEvenWhileConnecting()
{
    LogCapture log;
    SimLink link;
    link.sender.setSilent(true);
    QVERIFY(link.openEngine());
    EngineSignals recorded(link.engine.get());
    link.engine->startConnecting();
    link.engine->close();
    QCOMPARE(recorded.events, QStringList { "disconnected" });
    QVERIFY(!link.engine->isOpen());
}

void TestConnection::calibrationMode_pollsAfterEachIdleSpell()
{
    LogCapture log;
    SimLink link;
    link.sender.setMode(CalibrationMode);
    QVERIFY(link.connectEngine());
    link.sender.clearRequests();
    QElapsedTimer clock;
    clock.start();
    QTRY_VERIFY_WITH_TIMEOUT(link.sender.requests().size() >= 4, 5000);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(link.sender.requestCommands(), QList<quint8>(link.sender.requests().size(), AppQuery));
    // Four polls need at least three idle spells of 333 ms between answers.
    QVERIFY2(elapsed >= 3 * 300, qPrintable(QString::number(elapsed)));
    QVERIFY(link.engine->isConnected());
    QCOMPARE(log.count(QStringLiteral("\"There are now 2 messages in the queue.\"")), 0);
}

void TestConnection::serialNumberString_followsFirmwareMajor_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("serial");
    QTest::addColumn<QString>("text");
    QTest::newRow("4.x serial 7") << 4 << 7 << "OVX4-0007";
    QTest::newRow("0.x serial 123") << 0 << 123 << "OVX4-0123";
    QTest::newRow("5.x serial 42") << 5 << 42 << "OVX5-0042";
    QTest::newRow("10.x serial 7") << 10 << 7 << "OVX10-0007";
    QTest::newRow("long serial") << 1 << 12345 << "OVX4-12345";
}

void TestConnection::serialNumberString_followsFirmwareMajor()
{
    QFETCH(int, major);
    QFETCH(int, serial);
    QFETCH(QString, text);
    LogCapture log;
    SimLink link;
    link.sender.setFirmwareVersion(quint8(major), 9);
    link.sender.setSerialNumber(quint16(serial));
    QVERIFY(link.connectEngine());
    QCOMPARE(link.engine->serialNumberString(), text);
    QCOMPARE(link.engine->firmwareVersionString(), QStringLiteral("%1.9").arg(major));
}

void TestConnection::serialNumberString_unknownVersionQueuesRequest()
{
    LogCapture log;
    VX4Interface engine(QStringLiteral("/nonexistent/port"), PortSettings());
    QCOMPARE(engine.firmwareVersionString(), QStringLiteral("255.0"));
    QCOMPARE(engine.serialNumberString(), QString());
    QCOMPARE(engine.serialNumberString(), QString());
    QCOMPARE(engine.queuedMessages().size(), 2);
    QCOMPARE(engine.queuedMessages().at(1).command, quint8(GetSerial));
}

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
