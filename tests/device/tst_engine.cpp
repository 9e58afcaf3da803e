// The engine against the simulated sender over a pseudo-terminal: request frames, the connecting
// sequences, resend timing seen by the sender, the lost sender and its return, the receive path.
#include "VX4interface.h"
#include "bytes.h"
#include "enginesignals.h"
#include "logcapture.h"
#include "simlink.h"

#include <QSignalSpy>
#include <QtTest>

using namespace VX4Protocol;
using Commands = QList<quint8>;
using Op = std::function<void(VX4Interface &)>;

namespace {
QByteArray pressureFrame(qint16 psi)
{
    QByteArray payload(1, 0);
    VX4Bytes::appendWord(payload, quint16(psi));
    return answerFrame(PressureMsg, payload);
}

QString gaps(const QList<qint64> &times)
{
    QStringList text;
    for (int i = 1; i < times.size(); ++i)
        text.append(QString::number(times.at(i) - times.at(i - 1)));
    return text.join(' ');
}
} // namespace

class TestEngine : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { link.reset(); }
    void requests_areTableFrames_data();
    void requests_areTableFrames();
    void connecting_asksByFirmwareAndSignalsInOrder_data();
    void connecting_asksByFirmwareAndSignalsInOrder();
    void silentSender_getsFastQueriesThenSlowOnes();
    void unansweredRequests_resentAfterTheFullTimeOutThenGivenUpInTurn();
    void reset_isWrittenThreeTimesWithoutWaiting();
    void lostSender_foundSilentOnTimeAndReconnected_data();
    void lostSender_foundSilentOnTimeAndReconnected();
    void receivedPieces_reachTheEngineAsFrames_data();
    void receivedPieces_reachTheEngineAsFrames();
    void answers_matchOnlyTheWaitingRequest();
    void endlessGarbage_keepsBufferBounded();

private:
    void feed(const QList<QByteArray> &pieces);

    LogCapture log;
    std::unique_ptr<SimLink> link;
};

void TestEngine::init()
{
    log.clear();
    link = std::make_unique<SimLink>();
}

void TestEngine::feed(const QList<QByteArray> &pieces)
{
    for (const QByteArray &piece : pieces) {
        QSignalSpy read(link->engine.get(), &QIODevice::readyRead);
        link->sender.injectGarbage(piece);
        QVERIFY(read.wait(2000));
    }
}

void TestEngine::requests_areTableFrames_data()
{
    QTest::addColumn<Op>("operation");
    QTest::addColumn<QByteArray>("frameWithoutCrc");
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<int>("maxSends");
    ProgramMemoryRow row(ProgramRowWords);
    row.address = 0xFE7F40;
    QByteArray rowPayload = QByteArray::fromHex("3e8a03fe7f40");
    for (int k = 0; k < ProgramRowWords; ++k) {
        row.words[k] = quint32(0x1200 + k);
        VX4Bytes::appendWord(rowPayload, quint16(0x1200 + k));
    }
    const auto add = [](const char *name, Op op, const char *hex, int timeoutMs, int maxSends) {
        QTest::newRow(name) << op << QByteArray::fromHex(hex) << timeoutMs << maxSends;
    };
    add(
        "queryApp", [](VX4Interface &e) { e.queryApp(); }, "3e0700", 500, 3);
    add(
        "resetDevice", [](VX4Interface &e) { e.resetDevice(); }, "3e0702", 0, 3);
    QTest::newRow("writeProgramMemory near the top")
        << Op([row](VX4Interface &e) { e.writeProgramMemory(row); }) << rowPayload << 1000 << 3;
    add(
        "readProgramMemory", [](VX4Interface &e) { e.readProgramMemory(0x7abcdef); },
        "3e0a04abcdef", 1000, 3);
    add(
        "writeEeprom", [](VX4Interface &e) { e.writeEeprom(0x10203, 0xA5); }, "3e0a050203a5", 1000,
        3);
    add(
        "readEeprom", [](VX4Interface &e) { e.readEeprom(0x1ff); }, "3e090601ff", 500, 3);
    add(
        "switchMode", [](VX4Interface &e) { e.switchMode(CalibrationMode); }, "3e080c01", 500, 3);
    add(
        "capturePressure", [](VX4Interface &e) { e.capturePressure(4, 3000); }, "3e0a0d040bb8",
        1000, 3);
    add(
        "saveCalDateTime", [](VX4Interface &e) { e.saveCalDateTime(2026, 12, 6, 21, 5); },
        "3e0d0e07ea0c061505", 1000, 3);
    add(
        "setSerialNumber", [](VX4Interface &e) { e.setSerialNumber(1234); }, "3e091104d2", 500, 3);
    add(
        "zeroPressure", [](VX4Interface &e) { e.zeroPressure(); }, "3e0717", 1000, 3);
    add(
        "requestADOffset", [](VX4Interface &e) { e.requestADOffset(); }, "3e0718", 500, 3);
}

void TestEngine::requests_areTableFrames()
{
    QFETCH(Op, operation);
    QFETCH(QByteArray, frameWithoutCrc);
    QFETCH(int, timeoutMs);
    QFETCH(int, maxSends);
    // A port that is never opened keeps every request at the head of the queue, unsent.
    VX4Interface engine(QStringLiteral("/nonexistent/port"), PortSettings());
    operation(engine);
    QCOMPARE(engine.queuedMessages().size(), 1);
    const VX4Message &msg = engine.queuedMessages().first();
    QByteArray expected = frameWithoutCrc;
    VX4Message::appendCrc(expected);
    QCOMPARE(msg.frame.toHex(), (expected + "\r\n").toHex());
    QCOMPARE(int(msg.timeoutMs), timeoutMs);
    QCOMPARE(int(msg.maxSends), maxSends);
}

void TestEngine::connecting_asksByFirmwareAndSignalsInOrder_data()
{
    QTest::addColumn<int>("app");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("dateStored");
    QTest::addColumn<Commands>("requests");
    QTest::addColumn<QStringList>("events");
    const Commands all = { AppQuery, GetFirmVer, GetSerial, GetCalData, ModeQuery, GetOffset };
    const QString date = "caldate 2025-05-06 07:08";
    QTest::newRow("firmware 0.9") << 1 << 9 << 0 << true
                                  << all << QStringList { "app 1",       "firmware 0.9",
                                                          "serial 4321", date,
                                                          "mode 0",      "offset -100",
                                                          "connected",   "app 1" };
    QTest::newRow("firmware 0.7, calibration mode, no date")
        << 1 << 7 << 1 << false << all
        << QStringList { "app 1",  "firmware 0.7", "serial 4321", "caldate invalid",
                         "mode 1", "offset -100",  "connected",   "app 1" };
    QTest::newRow("firmware 0.6 has no offset")
        << 1 << 6 << 0 << true << all.mid(0, 5)
        << QStringList { "app 1",  "firmware 0.6", "serial 4321", date,
                         "mode 0", "connected",    "app 1" };
    QTest::newRow("bootloader") << 0 << 9 << 0 << true << Commands { AppQuery }
                                << QStringList { "app 0", "connected", "app 0" };
}

void TestEngine::connecting_asksByFirmwareAndSignalsInOrder()
{
    QFETCH(int, app);
    QFETCH(int, minor);
    QFETCH(int, mode);
    QFETCH(bool, dateStored);
    QFETCH(Commands, requests);
    QFETCH(QStringList, events);
    link->sender.setApp(VX4App(app));
    link->sender.setMode(VX4Mode(mode));
    link->sender.setFirmwareVersion(0, quint8(minor));
    link->sender.setSerialNumber(4321);
    link->sender.setAdOffset(-100);
    link->sender.setCalDateTime(dateStored ? QDateTime(QDate(2025, 5, 6), QTime(7, 8))
                                           : QDateTime());
    QVERIFY(link->openEngine());
    EngineSignals recorded(link->engine.get());
    QSignalSpy connected(link->engine.get(), &VX4Interface::vx4ConnectedSignal);
    link->engine->startConnecting();
    QVERIFY(connected.wait(5000));
    QCOMPARE(recorded.events, events);
    // The first poll follows at once and asks for the application only.
    QTRY_COMPARE(link->sender.requestCommands(), requests + Commands { AppQuery });
    if (app == PressureSendingApp)
        QCOMPARE(link->engine->serialNumberString(), QString("OVX4-4321"));
}

void TestEngine::silentSender_getsFastQueriesThenSlowOnes()
{
    link->sender.setSilent(true);
    QVERIFY(link->openEngine());
    EngineSignals recorded(link->engine.get());
    link->engine->startConnecting();
    const QList<qint64> &t = link->arrivalMs;
    QTRY_VERIFY_WITH_TIMEOUT(t.size() >= 22, 10000);
    QCOMPARE(link->sender.requestCommands(), Commands(t.size(), AppQuery));
    // Twenty sends 150 ms apart; the query that follows the give-up waits 500 ms per send.
    QVERIFY2(t.at(20) - t.at(0) >= 20 * 150 - 10 && t.at(19) - t.at(0) < 19 * 150 + 1500,
             qPrintable(gaps(t)));
    QVERIFY2(t.at(21) - t.at(20) >= 488, qPrintable(gaps(t)));
    QVERIFY(recorded.events.isEmpty());
    QCOMPARE(link->engine->connectionState(), VX4Interface::Connecting);
}

void TestEngine::unansweredRequests_resentAfterTheFullTimeOutThenGivenUpInTurn()
{
    link->sender.setSilent(true);
    QVERIFY(link->openEngine());
    QSignalSpy givenUp(link->engine.get(), &VX4Interface::vx4MessageTimeout);
    // Sent 100 ms past a half second of the monotonic clock, where a coarse timer would round its
    // time-out down to the half second.
    QElapsedTimer now;
    now.start();
    const int wait = int((600 - now.msecsSinceReference() % 500) % 500);
    QTimer::singleShot(wait, Qt::PreciseTimer, link->engine.get(), [this] {
        link->engine->queryMode();
        link->engine->zeroPressure();
    });
    QTRY_COMPARE_WITH_TIMEOUT(givenUp.size(), 2, 8000);
    QCOMPARE(link->sender.requestCommands(),
             (Commands { ModeQuery, ModeQuery, ModeQuery, ZeroPsi, ZeroPsi, ZeroPsi }));
    const QList<qint64> &t = link->arrivalMs;
    // The sender sees whole time-outs between sends; the late side is left to the loaded machine.
    QVERIFY2(qMin(t.at(1) - t.at(0), t.at(2) - t.at(1)) >= 488, qPrintable(gaps(t)));
    QVERIFY2(t.at(3) - t.at(2) >= 488, qPrintable(gaps(t)));
    QVERIFY2(qMin(t.at(4) - t.at(3), t.at(5) - t.at(4)) >= 985, qPrintable(gaps(t)));
    const VX4Message first = givenUp.at(0).at(0).value<VX4Message>();
    QCOMPARE(first.command, quint8(ModeQuery));
    QCOMPARE(first.sendCount, quint16(3));
    QCOMPARE(givenUp.at(1).at(0).value<VX4Message>().command, quint8(ZeroPsi));
}

void TestEngine::reset_isWrittenThreeTimesWithoutWaiting()
{
    link->sender.setStreamInterval(0);
    QVERIFY(link->openEngine());
    QSignalSpy givenUp(link->engine.get(), &VX4Interface::vx4MessageTimeout);
    link->engine->resetDevice();
    QVERIFY(givenUp.wait(2000));
    QTRY_COMPARE(link->sender.requestCommands(), Commands(3, Reset));
    QVERIFY(link->arrivalMs.last() - link->arrivalMs.first() < 300);
}

void TestEngine::lostSender_foundSilentOnTimeAndReconnected_data()
{
    QTest::addColumn<bool>("badCrcFrames");
    QTest::newRow("silence") << false;
    QTest::newRow("only frames with a bad CRC") << true;
}

void TestEngine::lostSender_foundSilentOnTimeAndReconnected()
{
    QFETCH(bool, badCrcFrames);
    QVERIFY(link->connectEngine() && link->waitLineFree());
    EngineSignals recorded(link->engine.get());
    QTimer noise;
    QByteArray bad = pressureFrame(5);
    bad[4] = char(bad.at(4) ^ 1);
    connect(&noise, &QTimer::timeout, this, [&] { link->sender.injectGarbage(bad); });
    if (badCrcFrames)
        noise.start(40);
    QSignalSpy disconnected(link->engine.get(), &VX4Interface::vx4DisconnectedSignal);
    QElapsedTimer silence;
    silence.start();
    link->sender.setSilent(true);
    // A poll after 333 ms of quiet, sent three times 500 ms apart.
    QVERIFY(disconnected.wait(4000));
    QVERIFY2(silence.elapsed() >= 1700, qPrintable(QString::number(silence.elapsed())));
    QVERIFY(link->engine->queuedMessages().isEmpty());
    QCOMPARE(link->engine->app(), UnknownApp);
    QCOMPARE(link->engine->serialNumber(), quint16(0));
    // It keeps asking, and finds the sender when it streams again.
    const qsizetype asked = link->arrivalMs.size();
    QTRY_VERIFY_WITH_TIMEOUT(link->arrivalMs.size() >= asked + 3, 5000);
    noise.stop();
    link->sender.setSilent(false);
    QTRY_VERIFY_WITH_TIMEOUT(link->engine->isConnected(), 5000);
    QCOMPARE(recorded.events,
             (QStringList { "disconnected", "app 1", "firmware 1.0", "serial 1234",
                            "caldate invalid", "mode 0", "offset 0", "connected", "app 1" }));
}

void TestEngine::receivedPieces_reachTheEngineAsFrames_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QStringList>("events");
    const QByteArray p100 = pressureFrame(100);
    const QByteArray m200 = pressureFrame(-200);
    QByteArray badCrc = p100;
    badCrc[6] = char(badCrc.at(6) ^ 0xFF);
    QTest::newRow("two frames in one read")
        << QList<QByteArray> { p100 + m200 } << QStringList { "pressure 100", "pressure -200" };
    QTest::newRow("one frame in two reads")
        << QList<QByteArray> { p100.left(4), p100.mid(4) } << QStringList { "pressure 100" };
    QTest::newRow("leading garbage") << QList<QByteArray> { QByteArray::fromHex("0011") + p100 }
                                     << QStringList { "pressure 100" };
    QTest::newRow("stray byte, then a frame")
        << QList<QByteArray> { QByteArray::fromHex("00"), p100 } << QStringList { "pressure 100" };
    QTest::newRow("zero length clears everything")
        << QList<QByteArray> { QByteArray::fromHex("3c00") + p100 + m200 } << QStringList();
    QTest::newRow("bad crc, then a good frame")
        << QList<QByteArray> { badCrc + m200 } << QStringList { "pressure -200" };
    QTest::newRow("short pressure payload reads 0")
        << QList<QByteArray> { answerFrame(PressureMsg, QByteArray::fromHex("00ff")) }
        << QStringList { "pressure 0" };
}

void TestEngine::receivedPieces_reachTheEngineAsFrames()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QStringList, events);
    // Connecting to a silent sender: pressure frames alone change nothing then.
    link->sender.setSilent(true);
    QVERIFY(link->openEngine());
    link->engine->startConnecting();
    EngineSignals recorded(link->engine.get(), true);
    feed(pieces);
    QCOMPARE(recorded.events, events);
    QCOMPARE(link->engine->pendingBytes(), 0);
}

void TestEngine::answers_matchOnlyTheWaitingRequest()
{
    link->sender.setSilent(true);
    QVERIFY(link->openEngine());
    EngineSignals recorded(link->engine.get(), true);
    link->engine->queryMode();
    feed({ pressureFrame(42), answerFrame(GetSerial, QByteArray::fromHex("0001")) });
    QCOMPARE(recorded.events, QStringList { "pressure 42" });
    QCOMPARE(link->engine->queuedMessages().size(), 1);
    feed({ answerFrame(ModeQuery, QByteArray::fromHex("01")) });
    QCOMPARE(recorded.events, (QStringList { "pressure 42", "mode 1", "response 11" }));
    QVERIFY(link->engine->queuedMessages().isEmpty());
    // An answer nobody waits for makes a disconnected engine look for the sender.
    feed({ answerFrame(AppQuery, QByteArray::fromHex("01")) });
    QCOMPARE(link->engine->connectionState(), VX4Interface::Connecting);
    QCOMPARE(link->engine->queuedMessages().first().maxSends, FastAppQueryMaxSends);
}

void TestEngine::endlessGarbage_keepsBufferBounded()
{
    link->sender.setSilent(true);
    QVERIFY(link->openEngine());
    link->engine->startConnecting();
    EngineSignals recorded(link->engine.get(), true);
    // A marker with the largest length byte swallows the next 255 bytes whole; nothing grows.
    QByteArray noise;
    for (int i = 0; i < 4000; ++i)
        noise.append(char(i % 7 == 0 ? 0x3C : (i * 31) & 0xFF));
    for (int round = 0; round < 5; ++round) {
        feed({ noise });
        QVERIFY(link->engine->pendingBytes() < 255);
    }
    // Whatever the noise left behind, a zero length clears it and frames are read again.
    feed({ QByteArray(255, '\0') + QByteArray::fromHex("3c00") });
    QTRY_COMPARE(link->engine->pendingBytes(), 0);
    recorded.events.clear();
    feed({ pressureFrame(6) });
    QTRY_COMPARE(recorded.events, QStringList { "pressure 6" });
}

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
