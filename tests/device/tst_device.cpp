// The engine against the simulated sender over a pseudo-terminal: connecting,
// resend timing seen by the sender, the lost sender, the receive path under noise, APP CHANGE, a
// vanishing port, a slow line. The firmware download is tst_download's.
#include "VX4interface.h"
#include "downloadimage.h"
#include "enginesignals.h"
#include "simlink.h"

#include <QSignalSpy>
#include <QtTest>

using namespace VX4Protocol;
using Commands = QList<quint8>;

namespace {
/// A pressure frame, its status byte okay.
QByteArray pressureFrame(const char *hex)
{
    return answerFrame(PressureMsg, QByteArray::fromHex(hex));
}

} // namespace

class TestDevice : public QObject
{
    Q_OBJECT

private slots:
    void init() { link = std::make_unique<SimLink>(); }
    void initTestCase() { QLoggingCategory::setFilterRules("default.debug=false"); }
    void connecting_asksByFirmwareAndSignalsInOrder_data();
    void connecting_asksByFirmwareAndSignalsInOrder();
    void unansweredRequests_resentAfterTheirFullTimeOutThenGivenUpInTurn();
    void lostSender_foundSilentOnTimeAndReconnected_data();
    void lostSender_foundSilentOnTimeAndReconnected();
    void receivedBytes_giveTheWaitingRequestItsAnswerOnce_data();
    void receivedBytes_giveTheWaitingRequestItsAnswerOnce();
    void appChange_acknowledgedThenIdentifiedByItsQuery_data();
    void appChange_acknowledgedThenIdentifiedByItsQuery();
    void vanishedPort_closedAndReportedOnce_data();
    void vanishedPort_closedAndReportedOnce();
    void slowBaudRate_longRequestsAnsweredWithoutResend();

private:
    std::unique_ptr<SimLink> link;
};

void TestDevice::connecting_asksByFirmwareAndSignalsInOrder_data()
{
    QTest::addColumn<QString>("controls"); ///< the simulator's control lines for the sender
    QTest::addColumn<Commands>("requests");
    QTest::addColumn<QString>("events");
    const Commands all = { AppQuery, GetFirmVer, GetSerial, GetCalData, ModeQuery, GetOffset };
    QTest::newRow("firmware 0.7, calibration mode, no date")
        << "firmware 0.7;mode calibration" << all
        << "app 1,firmware 0.7,serial 4321,caldate invalid,mode 1,offset -100,connected,app 1";
    QTest::newRow("firmware 0.6 has no offset")
        << "firmware 0.6;caldate 2025-05-06 07:08" << all.mid(0, 5)
        << "app 1,firmware 0.6,serial 4321,caldate 2025-05-06 07:08,mode 0,connected,app 1";
    QTest::newRow("bootloader") << "app bootloader" << Commands { AppQuery }
                                << "app 0,connected,app 0";
    // Not asked to connect: the stream of a sender found while disconnected starts it.
    QTest::newRow("found by its stream")
        << "" << all
        << "app 1,firmware 1.0,serial 4321,caldate invalid,mode 0,offset -100,connected,app 1";
}

void TestDevice::connecting_asksByFirmwareAndSignalsInOrder()
{
    QFETCH(QString, controls);
    QFETCH(Commands, requests);
    QFETCH(QString, events);
    QVERIFY(link->control("serial 4321;adoffset -100;" + controls));
    QVERIFY(link->openEngine());
    EngineSignals recorded(link->engine.get());
    QSignalSpy connected(link->engine.get(), &VX4Interface::vx4ConnectedSignal);
    if (!controls.isEmpty())
        link->engine->startConnecting();
    QVERIFY(connected.wait(5000));
    QCOMPARE(recorded.events.join(','), events);
    // The first poll follows at once and asks for the application only.
    QTRY_COMPARE(link->sender.requestCommands(), requests + Commands { AppQuery });
}

void TestDevice::unansweredRequests_resentAfterTheirFullTimeOutThenGivenUpInTurn()
{
    link->sender.setSilent(true);
    QVERIFY(link->openEngine());
    QSignalSpy givenUp(link->engine.get(), &VX4Interface::vx4MessageTimeout);
    link->engine->queryMode();
    link->engine->zeroPressure();
    link->engine->resetDevice();
    QTRY_COMPARE_WITH_TIMEOUT(link->sender.requestCommands(),
                              Commands(3, ModeQuery) + Commands(3, ZeroPsi) + Commands(3, Reset),
                              8000);
    QTRY_COMPARE(givenUp.size(), 3);
    const QList<qint64> &t = link->arrivalMs;
    // The sender sees whole time-outs between sends; the late side is left to the loaded machine.
    QVERIFY2(qMin(t.at(1) - t.at(0), t.at(2) - t.at(1)) >= 488, qPrintable(QDebug::toString(t)));
    QVERIFY2(t.at(3) - t.at(2) >= 488, qPrintable(QDebug::toString(t)));
    QVERIFY2(qMin(t.at(4) - t.at(3), t.at(5) - t.at(4)) >= 985, qPrintable(QDebug::toString(t)));
    const VX4Message first = givenUp.at(0).at(0).value<VX4Message>();
    QCOMPARE(first.command, quint8(ModeQuery));
    QCOMPARE(first.sendCount, quint16(3));
    QCOMPARE(givenUp.at(1).at(0).value<VX4Message>().command, quint8(ZeroPsi));
    // RESET waits for no answer: written three times before one time-out of ZERO PSI could pass.
    QVERIFY2(t.at(8) - t.at(6) < t.at(4) - t.at(3), qPrintable(QDebug::toString(t)));
}

void TestDevice::lostSender_foundSilentOnTimeAndReconnected_data()
{
    QTest::addColumn<bool>("badCrcFrames");
    QTest::newRow("silence") << false;
    QTest::newRow("only frames with a bad CRC") << true;
}

void TestDevice::lostSender_foundSilentOnTimeAndReconnected()
{
    QFETCH(bool, badCrcFrames);
    QVERIFY(link->connectEngine() && link->waitLineFree());
    EngineSignals recorded(link->engine.get());
    QTimer noise;
    QByteArray bad = pressureFrame("000005");
    bad[4] = char(bad.at(4) ^ 1);
    connect(&noise, &QTimer::timeout, this, [&] { link->sender.injectGarbage(bad); });
    if (badCrcFrames)
        noise.start(40);
    QSignalSpy disconnected(link->engine.get(), &VX4Interface::vx4DisconnectedSignal);
    link->sender.setSilent(true);
    // A poll after 333 ms of quiet, sent three times 500 ms apart.
    QVERIFY(disconnected.wait(4000));
    QVERIFY(link->engine->queuedMessages().isEmpty());
    // It finds the sender when it streams again, and reads all it had forgotten.
    noise.stop();
    link->sender.setSilent(false);
    QTRY_VERIFY_WITH_TIMEOUT(link->engine->isConnected(), 5000);
    QCOMPARE(recorded.events.join(','),
             "disconnected,app 1,firmware 1.0,serial 1234,"
             "caldate invalid,mode 0,offset 0,connected,app 1");
}

void TestDevice::receivedBytes_giveTheWaitingRequestItsAnswerOnce_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("events");
    QTest::addColumn<int>("piece"); // bytes handed over at a time; 0: all at once; -1: and taken
                                    // as they come, with no stalled frame to give up
    const QByteArray p100 = pressureFrame("000064");
    const QByteArray m200 = pressureFrame("00ff38");
    const QByteArray mode = answerFrame(ModeQuery, QByteArray::fromHex("01"));
    const QString modeEvents = "mode 1,response 11";
    QByteArray badCrc = p100;
    badCrc[6] = char(badCrc.at(6) ^ 0xFF);
    const auto row = [&](const char *name, const QByteArray &bytes, const QString &events,
                         int piece = 0) { QTest::newRow(name) << bytes << events << piece; };
    row("frames cut anywhere", p100 + m200 + mode, "pressure 100,pressure -200," + modeEvents, 3);
    row("an echoed request is passed over",
        VX4Message::buildFrame(RequestMarker, 10, ReadProgMem, QByteArray::fromHex("3c4000"))
            + p100,
        "pressure 100", -1);
    row("zero length drops only the marker", QByteArray::fromHex("3c00") + p100 + m200,
        "pressure 100,pressure -200");
    row("bad crc, then a good frame", badCrc + m200, "pressure -200");
    row("another request's answer is passed over",
        answerFrame(GetSerial, QByteArray::fromHex("0001")) + pressureFrame("00002a") + mode,
        "pressure 42," + modeEvents);
    // Stray markers with a length byte start frames that never complete: given up together, in
    // time for the answer among them to come without a resend.
    row("noise pairs", QByteArray::fromHex("3c40").repeated(8) + mode, modeEvents);
    row("length byte below 7", QByteArray::fromHex("3c03") + mode, modeEvents);
    // The bad frame takes the answer's first bytes: scanning resumes inside it.
    row("crc mismatch over the answer", QByteArray::fromHex("3c0a") + mode, modeEvents);
}

void TestDevice::receivedBytes_giveTheWaitingRequestItsAnswerOnce()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, events);
    QFETCH(int, piece);
    // The sender hears the request but leaves the answering to the test.
    link->sender.setSilent(true);
    QVERIFY(link->openEngine());
    EngineSignals recorded(link->engine.get(), true);
    link->engine->queryMode();
    QTRY_COMPARE(link->sender.requestCommands(), Commands { ModeQuery });
    for (qsizetype at = 0; at<bytes.size(); at += piece> 0 ? piece : bytes.size()) {
        QSignalSpy read(link->engine.get(), &QIODevice::readyRead);
        link->sender.injectGarbage(bytes.mid(at, piece > 0 ? piece : -1));
        QVERIFY(read.wait(2000));
    }
    if (piece < 0)
        QCOMPARE(recorded.events.join(','), events);
    QTRY_COMPARE(recorded.events.join(','), events);
    QCOMPARE(link->engine->pendingBytes(), 0);
    QCOMPARE(link->sender.requestCommands().count(ModeQuery), 1);
}

void TestDevice::appChange_acknowledgedThenIdentifiedByItsQuery_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("restartMs");
    QTest::newRow("into the application at once") << int(Bootloader) << 0;
    QTest::newRow("into the bootloader at once") << int(PressureSendingApp) << 0;
    // Answered by the old application first: found again once it has restarted.
    QTest::newRow("into the application later") << int(Bootloader) << 60;
    QTest::newRow("into the bootloader later") << int(PressureSendingApp) << 60;
}

void TestDevice::appChange_acknowledgedThenIdentifiedByItsQuery()
{
    QFETCH(int, from);
    QFETCH(int, restartMs);
    QVERIFY(link->connectAs(VX4App(from)));
    QVERIFY(link->control(QStringLiteral("serial 4321;restartdelay %1").arg(restartMs)));
    link->sender.clearRequests();
    EngineSignals recorded(link->engine.get());
    link->engine->changeApp();
    VX4Interface *engine = link->engine.get();
    QTRY_VERIFY(engine->isConnected() && engine->app() == 1 - from
                && engine->queuedMessages().isEmpty());
    // The next frame heard, a poll's answer or a pressure frame, finds nothing new.
    QSignalSpy answers(engine, &VX4Interface::vx4ResponseRdy);
    QSignalSpy pressures(engine, &VX4Interface::vx4PressureMsgRdy);
    QTRY_VERIFY(answers.size() + pressures.size() > 0);
    QCOMPARE(int(engine->app()), 1 - from);
    const bool intoApplication = from == Bootloader;
    QCOMPARE(engine->serialNumber(), intoApplication ? 4321 : 0);
    QCOMPARE(engine->firmwareMajor(), intoApplication ? 1 : 255);
    QCOMPARE(link->sender.requestCommands().count(AppChange), 1);
    // The acknowledgement names no application: only the new one is ever reported.
    QVERIFY(restartMs > 0
            || (recorded.events.count("connected") == 1
                && !recorded.events.contains(QStringLiteral("app %1").arg(from))));
}

void TestDevice::vanishedPort_closedAndReportedOnce_data()
{
    QTest::addColumn<bool>("downloading");
    QTest::newRow("idle") << false;
    QTest::newRow("during a download") << true;
}

void TestDevice::vanishedPort_closedAndReportedOnce()
{
    QFETCH(bool, downloading);
    QVERIFY(link->connectAs(Bootloader));
    QSignalSpy lost(link->engine.get(), &VX4Interface::vx4PortLost);
    QSignalSpy disconnected(link->engine.get(), &VX4Interface::vx4DisconnectedSignal);
    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    link->sender.setAnswerDelay(200);
    QVERIFY(!downloading || link->engine->startFirmwareUpdate({ imageRow(0x40, 1) }));
    link->pty.vanish();
    QVERIFY(lost.wait(3000));
    QVERIFY(!link->engine->isOpen() && !lost.first().first().toString().isEmpty());
    QTest::qWait(50);
    link->engine->close(); // as the window does on the news
    QCOMPARE(lost.size(), 1);
    QCOMPARE(disconnected.size(), 1);
    QCOMPARE(finished.size(), int(downloading));
    QVERIFY(!downloading || !finished.first().first().toBool());
    QVERIFY(!link->engine->isFirmwareUpdateRunning());
}

void TestDevice::slowBaudRate_longRequestsAnsweredWithoutResend()
{
    // 1200 baud: READ PROG MEM and its answer take 1.21 s on the line.
    PortSettings settings;
    settings.baudRate = 1200;
    link->pty.setPacingBaud(1200);
    link->sender.setApp(Bootloader);
    QVERIFY(link->openEngine(settings));
    QSignalSpy answered(link->engine.get(), &VX4Interface::vx4ResponseRdy);
    link->engine->readProgramMemory(0x40);
    QVERIFY(answered.wait(4000));
    QCOMPARE(link->sender.requestCommands(), QList<quint8> { ReadProgMem });
}

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
