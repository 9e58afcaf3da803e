// The engine against the simulated sender over a pseudo-terminal: request frames, connecting,
// resend timing seen by the sender, the lost sender, the receive path, and the firmware download.
#include "VX4interface.h"
#include "bytes.h"
#include "downloadimage.h"
#include "enginesignals.h"
#include "logcapture.h"
#include "simlink.h"

#include <QSignalSpy>
#include <QtTest>

#include <algorithm>

using namespace VX4Protocol;
using Commands = QList<quint8>;
using Op = std::function<void(VX4Interface &)>;

namespace {
/// A pressure frame, its status byte okay.
QByteArray pressureFrame(const char *hex)
{
    return answerFrame(PressureMsg, QByteArray::fromHex(hex));
}

QString gaps(const QList<qint64> &t)
{
    QString text;
    for (int i = 1; i < t.size(); ++i)
        text += QString::number(t.at(i) - t.at(i - 1)) + ' ';
    return text;
}

/// The `nth` request (counted from 1) of `command` is answered with `payload`.
struct Fault
{
    quint8 command;
    int nth;
    QByteArray payload;
};
using Faults = QList<Fault>;

Faults repeated(quint8 command, int from, int to, const char *hex)
{
    Faults faults;
    for (int n = from; n <= to; ++n)
        faults.append({ command, n, QByteArray::fromHex(hex) });
    return faults;
}

const QString Success = QStringLiteral("Firmware update completed successfully!");
QString aborted(int state)
{
    return QStringLiteral("Aborting firmware update.  Failed more than 3 times for state %1")
        .arg(state);
}
} // namespace

class TestDevice : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { link.reset(); }
    void requests_carryTheirValuesHighByteFirst_data();
    void requests_carryTheirValuesHighByteFirst();
    void connecting_asksByFirmwareAndSignalsInOrder_data();
    void connecting_asksByFirmwareAndSignalsInOrder();
    void silentSender_getsFastQueriesThenSlowOnes();
    void unansweredRequests_resentAfterTheirFullTimeOutThenGivenUpInTurn();
    void lostSender_foundSilentOnTimeAndReconnected_data();
    void lostSender_foundSilentOnTimeAndReconnected();
    void receivedPieces_reachTheEngineAsFrames_data();
    void receivedPieces_reachTheEngineAsFrames();
    void answers_matchOnlyTheWaitingRequest();
    void download_mergesIntoOldMemoryAndRestarts_data();
    void download_mergesIntoOldMemoryAndRestarts();
    void failures_countedPerStepAndTheFourthAborts_data();
    void failures_countedPerStepAndTheFourthAborts();
    void silenceInEachState_endsWithItsTimeoutText_data();
    void silenceInEachState_endsWithItsTimeoutText();
    void malformedDownloads_areRefused();

private:
    void feed(const QList<QByteArray> &pieces);

    LogCapture log;
    std::unique_ptr<SimLink> link;
};

void TestDevice::init()
{
    log.clear();
    link = std::make_unique<SimLink>();
}

void TestDevice::feed(const QList<QByteArray> &pieces)
{
    for (const QByteArray &piece : pieces) {
        QSignalSpy read(link->engine.get(), &QIODevice::readyRead);
        link->sender.injectGarbage(piece);
        QVERIFY(read.wait(2000));
    }
}

void TestDevice::requests_carryTheirValuesHighByteFirst_data()
{
    QTest::addColumn<Op>("operation");
    QTest::addColumn<QByteArray>("frameWithoutCrc");
    // A row near the top of the 24-bit range, its three address bytes all different.
    ProgramMemoryRow row(ProgramRowWords);
    row.address = 0xFE7F40;
    QByteArray rowFrame = QByteArray::fromHex("3e8a03fe7f40");
    for (int k = 0; k < ProgramRowWords; ++k) {
        row.words[k] = quint32(0x1200 + k);
        VX4Bytes::appendWord(rowFrame, quint16(0x1200 + k));
    }
    const auto add = [](const char *name, const char *hex, const Op &op) {
        QTest::newRow(name) << op << QByteArray::fromHex(hex);
    };
    QTest::newRow("WRITE PROG MEM")
        << Op([row](VX4Interface &e) { e.writeProgramMemory(row); }) << rowFrame;
    add("READ PROG MEM", "3e0a04abcdef", [](VX4Interface &e) { e.readProgramMemory(0x7abcdef); });
    add("WRITE EEPROM", "3e0a050203a5", [](VX4Interface &e) { e.writeEeprom(0x10203, 0xA5); });
    add("CAPTURE PRESSURE", "3e0a0d04f448", [](VX4Interface &e) { e.capturePressure(4, -3000); });
    add("SAVE CAL DATA", "3e0d0e07ea0c061505",
        [](VX4Interface &e) { e.saveCalDateTime(2026, 12, 6, 21, 5); });
    add("SET SERIAL #", "3e091104d2", [](VX4Interface &e) { e.setSerialNumber(1234); });
}

void TestDevice::requests_carryTheirValuesHighByteFirst()
{
    QFETCH(Op, operation);
    QFETCH(QByteArray, frameWithoutCrc);
    // A port that is never opened keeps every request at the head of the queue, unsent.
    VX4Interface engine(QStringLiteral("/nonexistent/port"), PortSettings());
    operation(engine);
    QByteArray expected = frameWithoutCrc;
    VX4Message::appendCrc(expected);
    QCOMPARE(engine.queuedMessages().value(0).frame.toHex(), (expected + "\r\n").toHex());
}

void TestDevice::connecting_asksByFirmwareAndSignalsInOrder_data()
{
    QTest::addColumn<int>("app");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("dateStored");
    QTest::addColumn<Commands>("requests");
    QTest::addColumn<QString>("events");
    const Commands all = { AppQuery, GetFirmVer, GetSerial, GetCalData, ModeQuery, GetOffset };
    QTest::newRow("firmware 0.9") << 1 << 9 << 0 << true << all
                                  << "app 1,firmware 0.9,serial 4321,caldate 2025-05-06 07:08,"
                                     "mode 0,offset -100,connected,app 1";
    QTest::newRow("firmware 0.7, calibration mode, no date")
        << 1 << 7 << 1 << false << all
        << "app 1,firmware 0.7,serial 4321,caldate invalid,mode 1,offset -100,connected,app 1";
    QTest::newRow("firmware 0.6 has no offset")
        << 1 << 6 << 0 << true << all.mid(0, 5)
        << "app 1,firmware 0.6,serial 4321,caldate 2025-05-06 07:08,mode 0,connected,app 1";
    QTest::newRow("bootloader") << 0 << 9 << 0 << true << Commands { AppQuery }
                                << "app 0,connected,app 0";
}

void TestDevice::connecting_asksByFirmwareAndSignalsInOrder()
{
    QFETCH(int, app);
    QFETCH(int, minor);
    QFETCH(int, mode);
    QFETCH(bool, dateStored);
    QFETCH(Commands, requests);
    QFETCH(QString, events);
    link->sender.setApp(VX4App(app));
    link->sender.setMode(VX4Mode(mode));
    link->sender.setFirmwareVersion(0, quint8(minor));
    link->sender.setSerialNumber(4321);
    link->sender.setAdOffset(-100);
    link->sender.setCalDateTime(dateStored ? QDateTime(QDate(2025, 5, 6), QTime(7, 8))
                                           : QDateTime());
    QVERIFY(link->openEngine());
    EngineSignals recorded(link->engine.get());
    QVERIFY(link->connectEngine(5000));
    QCOMPARE(recorded.events.join(','), events);
    // The first poll follows at once and asks for the application only.
    QTRY_COMPARE(link->sender.requestCommands(), requests + Commands { AppQuery });
    if (app == PressureSendingApp)
        QCOMPARE(link->engine->serialNumberString(), QString("OVX4-4321"));
}

void TestDevice::silentSender_getsFastQueriesThenSlowOnes()
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
}

void TestDevice::unansweredRequests_resentAfterTheirFullTimeOutThenGivenUpInTurn()
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
        link->engine->resetDevice();
    });
    QTRY_COMPARE_WITH_TIMEOUT(link->sender.requestCommands(),
                              Commands(3, ModeQuery) + Commands(3, ZeroPsi) + Commands(3, Reset),
                              8000);
    QTRY_COMPARE(givenUp.size(), 3);
    const QList<qint64> &t = link->arrivalMs;
    // The sender sees whole time-outs between sends; the late side is left to the loaded machine.
    QVERIFY2(qMin(t.at(1) - t.at(0), t.at(2) - t.at(1)) >= 488, qPrintable(gaps(t)));
    QVERIFY2(t.at(3) - t.at(2) >= 488, qPrintable(gaps(t)));
    QVERIFY2(qMin(t.at(4) - t.at(3), t.at(5) - t.at(4)) >= 985, qPrintable(gaps(t)));
    const VX4Message first = givenUp.at(0).at(0).value<VX4Message>();
    QCOMPARE(first.command, quint8(ModeQuery));
    QCOMPARE(first.sendCount, quint16(3));
    QCOMPARE(givenUp.at(1).at(0).value<VX4Message>().command, quint8(ZeroPsi));
    // RESET waits for no answer: written three times in quick succession.
    QVERIFY2(t.at(8) - t.at(6) < 300, qPrintable(gaps(t)));
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
    QElapsedTimer silence;
    silence.start();
    link->sender.setSilent(true);
    // A poll after 333 ms of quiet, sent three times 500 ms apart.
    QVERIFY(disconnected.wait(4000));
    QVERIFY2(silence.elapsed() >= 1700, qPrintable(QString::number(silence.elapsed())));
    QVERIFY(link->engine->queuedMessages().isEmpty());
    // It finds the sender when it streams again, and reads all it had forgotten.
    noise.stop();
    link->sender.setSilent(false);
    QTRY_VERIFY_WITH_TIMEOUT(link->engine->isConnected(), 5000);
    QCOMPARE(recorded.events.join(','),
             "disconnected,app 1,firmware 1.0,serial 1234,"
             "caldate invalid,mode 0,offset 0,connected,app 1");
}

void TestDevice::receivedPieces_reachTheEngineAsFrames_data()
{
    QTest::addColumn<QList<QByteArray>>("pieces");
    QTest::addColumn<QString>("events");
    const QByteArray p100 = pressureFrame("000064");
    const QByteArray m200 = pressureFrame("00ff38");
    QByteArray badCrc = p100;
    badCrc[6] = char(badCrc.at(6) ^ 0xFF);
    using Pieces = QList<QByteArray>;
    QTest::newRow("two frames in one read")
        << Pieces { p100 + m200 } << "pressure 100,pressure -200";
    QTest::newRow("one frame in two reads")
        << Pieces { p100.left(4), p100.mid(4) } << "pressure 100";
    QTest::newRow("request frames are garbage")
        << Pieces { QByteArray::fromHex("3e07008baf0d0a") + p100 } << "pressure 100";
    QTest::newRow("stray byte, then a frame")
        << Pieces { QByteArray::fromHex("00"), p100 } << "pressure 100";
    QTest::newRow("zero length drops only the marker")
        << Pieces { QByteArray::fromHex("3c00") + p100 + m200 } << "pressure 100,pressure -200";
    QTest::newRow("bad crc, then a good frame") << Pieces { badCrc + m200 } << "pressure -200";
    QTest::newRow("short pressure payload reads 0")
        << Pieces { pressureFrame("00ff") } << "pressure 0";
}

void TestDevice::receivedPieces_reachTheEngineAsFrames()
{
    QFETCH(QList<QByteArray>, pieces);
    QFETCH(QString, events);
    // Connecting to a silent sender: pressure frames alone change nothing then.
    link->sender.setSilent(true);
    QVERIFY(link->openEngine());
    link->engine->startConnecting();
    EngineSignals recorded(link->engine.get(), true);
    feed(pieces);
    QCOMPARE(recorded.events.join(','), events);
    QCOMPARE(link->engine->pendingBytes(), 0);
}

void TestDevice::answers_matchOnlyTheWaitingRequest()
{
    link->sender.setSilent(true);
    QVERIFY(link->openEngine());
    EngineSignals recorded(link->engine.get(), true);
    link->engine->queryMode();
    feed({ pressureFrame("00002a"), answerFrame(GetSerial, QByteArray::fromHex("0001")) });
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

void TestDevice::download_mergesIntoOldMemoryAndRestarts_data()
{
    QTest::addColumn<int>("startApp");
    QTest::addColumn<int>("extraRows");
    QTest::addColumn<int>("answerDelayMs");
    QTest::newRow("from the application") << int(PressureSendingApp) << 0 << 0;
    QTest::newRow("from the bootloader") << int(Bootloader) << 0 << 0;
    // Rows still under way when the delayed bootloader query is answered.
    QTest::newRow("many rows, slow answers") << int(PressureSendingApp) << 17 << 15;
}

void TestDevice::download_mergesIntoOldMemoryAndRestarts()
{
    QFETCH(int, startApp);
    QFETCH(int, extraRows);
    QFETCH(int, answerDelayMs);
    // Old content: words inside touched rows but outside the image must survive.
    for (quint32 address : { 0x010u, 0x020u, 0x045u, 0x200u, 0xFE7F7Fu })
        link->sender.setProgramWord(address, quint16(0x1280 + address));
    link->sender.setEeprom(EepromBootFlagAddress, 0x5A);
    QVERIFY(link->connectAs(VX4App(startApp)));
    link->sender.setAnswerDelay(answerDelayMs);
    link->sender.clearRequests();
    QList<ProgramMemoryRow> rows
        = { imageRow(0x000, 0x1000, 0, 15), imageRow(0x040, 0x2000, 32, 63),
            imageRow(0xFE7F40, 0x3000, 0, 3) };
    for (int i = 0; i < extraRows; ++i)
        rows.insert(2, imageRow(0x1000 - 64 * i, quint16(i * 100)));
    const QMap<quint32, quint16> expected = memoryAfterDownload(link->sender, rows);

    QSignalSpy progress(link->engine.get(), &VX4Interface::vx4FirmwareUpdateProgressChanged);
    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    QSignalSpy reset(&link->sender, &SimulatedSender::didReset);
    QVERIFY(link->engine->startFirmwareUpdate(rows));
    QVERIFY(finished.wait(15000));
    QCOMPARE(finished.first(), (QVariantList { true, Success }));
    QCOMPARE(progress.size(), rows.size() + 1);
    for (int i = 0; i <= rows.size(); ++i)
        QCOMPARE(progress.at(i).first().toInt(), i);
    QTRY_VERIFY_WITH_TIMEOUT(!reset.isEmpty(), 5000);
    QCOMPARE(link->sender.eeprom(EepromBootFlagAddress), EepromBootFlagValid);
    QCOMPARE(link->sender.programMemory(), expected);

    // The download's part of the conversation, in order, each row read, written and read back
    // once; the connecting sequence's requests after APP CHANGE are left out.
    QList<quint8> core = { WriteEeprom };
    if (startApp == PressureSendingApp)
        core.prepend(AppChange);
    for (int i = 0; i < rows.size(); ++i)
        core << ReadProgMem << WriteProgMem << ReadProgMem;
    core << WriteEeprom << Reset;
    QList<quint8> sent = link->sender.requestCommands();
    sent.removeIf([](quint8 c) { return c == AppQuery || c > ReadEeprom; });
    QCOMPARE(sent.mid(0, core.size()), core);
    QCOMPARE(link->sender.requestCommands().count(WriteProgMem), rows.size());
    // After the restart the engine finds the application again.
    QTRY_VERIFY_WITH_TIMEOUT(
        link->engine->isConnected() && link->engine->app() == PressureSendingApp, 10000);
    QVERIFY(!link->engine->isFirmwareUpdateRunning());
}

void TestDevice::failures_countedPerStepAndTheFourthAborts_data()
{
    QTest::addColumn<Faults>("faults");
    QTest::addColumn<int>("appChanges");
    QTest::addColumn<QString>("result");
    const QByteArray shortRead(100, '\x12');
    QTest::newRow("state 0: four unknown applications")
        << repeated(AppQuery, 1, 4, "02") << 0 << aborted(0);
    QTest::newRow("state 0: three unknown applications, then on")
        << repeated(AppQuery, 1, 3, "02") << 1 << Success;
    QTest::newRow("state 1: APP CHANGE never accepted")
        << repeated(AppChange, 1, 8, "01") << -1 << aborted(1);
    // The third query is the settle query; the second is the connecting sequence's own.
    QTest::newRow("state 2: bootloader query answered by the application")
        << repeated(AppQuery, 3, 3, "01") << 2 << Success;
    QTest::newRow("state 5: four unconfirmed writes")
        << repeated(WriteProgMem, 1, 4, "00") << 1 << aborted(5);
    // Row 0: two short reads, two unconfirmed writes; row 1: two unconfirmed writes.
    QTest::newRow("states 4 and 5: two failures at each step of each row")
        << Faults { { ReadProgMem, 1, shortRead }, { ReadProgMem, 2, shortRead } }
            + repeated(WriteProgMem, 1, 2, "00") + repeated(WriteProgMem, 4, 5, "00")
        << 1 << Success;
}

void TestDevice::failures_countedPerStepAndTheFourthAborts()
{
    QFETCH(Faults, faults);
    QFETCH(int, appChanges);
    QFETCH(QString, result);
    QVERIFY(link->connectAs(PressureSendingApp));
    link->sender.setRestartDelay(0);
    QMap<quint8, int> seen;
    connect(&link->sender, &SimulatedSender::requestReceived, this, [&](const VX4Message &m) {
        const int nth = ++seen[m.command];
        for (const Fault &f : faults) {
            if (f.command != m.command || f.nth != nth)
                continue;
            const quint8 p = quint8(f.payload.at(0));
            // The sender answers a query truly, from the state that gives the answer.
            if (m.command == AppQuery && p <= 1)
                link->sender.setApp(VX4App(p));
            else {
                link->sender.dropAnswersTo(m.command, 1);
                link->sender.injectGarbage(answerFrame(m.command, f.payload));
            }
        }
    });
    link->sender.clearRequests();
    const QList<ProgramMemoryRow> rows = { imageRow(0x000, 0x1000), imageRow(0x040, 0x2000) };
    const QMap<quint32, quint16> expected = memoryAfterDownload(link->sender, rows);
    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    QVERIFY(link->engine->startFirmwareUpdate(rows));
    QVERIFY(finished.wait(15000));
    QCOMPARE(finished.first(), (QVariantList { result == Success, result }));
    if (appChanges >= 0)
        QCOMPARE(link->sender.requestCommands().count(AppChange), appChanges);
    if (result == Success)
        QCOMPARE(link->sender.programMemory(), expected);
    QVERIFY(!link->engine->isFirmwareUpdateRunning());
}

void TestDevice::silenceInEachState_endsWithItsTimeoutText_data()
{
    QTest::addColumn<int>("silenced");
    QTest::addColumn<QString>("text");
    const QString waiting = "Timeout while waiting for %1 response.";
    QTest::newRow("0") << int(AppQuery) << waiting.arg("application query");
    QTest::newRow("1") << int(AppChange) << waiting.arg("application change");
    QTest::newRow("3") << int(WriteEeprom) << waiting.arg("write to EEPROM");
    QTest::newRow("4") << int(ReadProgMem) << waiting.arg("read from program memory");
    QTest::newRow("5") << int(WriteProgMem) << waiting.arg("write to program memory");
}

void TestDevice::silenceInEachState_endsWithItsTimeoutText()
{
    QFETCH(int, silenced);
    QFETCH(QString, text);
    QVERIFY(link->connectAs(silenced <= AppChange ? PressureSendingApp : Bootloader));
    link->sender.dropAnswersTo(quint8(silenced), 1000);
    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    QVERIFY(link->engine->startFirmwareUpdate({ imageRow(0x40, 0x1234) }));
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished, (QList<QVariantList> { { false, text } }));
    QVERIFY(!link->engine->isFirmwareUpdateRunning());
    // The engine looks for the sender anew.
    link->sender.dropAnswersTo(quint8(silenced), 0);
    QTRY_VERIFY_WITH_TIMEOUT(link->engine->isConnected(), 10000);
}

void TestDevice::malformedDownloads_areRefused()
{
    QVERIFY(link->connectAs(Bootloader));
    QVERIFY(!link->engine->startFirmwareUpdate({}));
    QVERIFY(!link->engine->startFirmwareUpdate({ ProgramMemoryRow(ProgramRowWords) }));
    QVERIFY(!link->engine->startFirmwareUpdate({ ProgramMemoryRow(10) }));
    VX4Interface closed(QStringLiteral("/nonexistent/port"), PortSettings());
    QVERIFY(!closed.startFirmwareUpdate({ imageRow(0, 1) }));
}

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
