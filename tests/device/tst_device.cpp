// The engine against the simulated sender over a pseudo-terminal: request frames, connecting,
// resend timing seen by the sender, the lost sender, the receive path under noise, APP CHANGE, a
// vanishing port, a slow line; and the firmware download, every way it ends.
#include "VX4interface.h"
#include "downloadimage.h"
#include "enginesignals.h"
#include "simlink.h"

#include <QSignalSpy>
#include <QtTest>

using namespace VX4Protocol;
using Commands = QList<quint8>;
using Op = std::function<void(VX4Interface &)>;
using Rows = QList<ProgramMemoryRow>;
using Setup = std::function<void(SimLink &)>;

namespace {
/// A pressure frame, its status byte okay.
QByteArray pressureFrame(const char *hex)
{
    return answerFrame(PressureMsg, QByteArray::fromHex(hex));
}

const QString Success = QStringLiteral("Firmware update completed successfully!");

/// Parts of three rows, one near the top of the 24-bit range, and `extraRows` whole rows.
Rows image(int extraRows = 0, quint16 changed = 0)
{
    Rows rows = { imageRow(0x000, 0x1000, 0, 15), imageRow(0x040, 0x2000 + changed, 32, 63),
                  imageRow(0xFE7F40, 0x3000, 0, 3) };
    for (int i = 0; i < extraRows; ++i)
        rows.insert(2, imageRow(0x1000 - 64 * i, quint16(i * 100)));
    return rows;
}

/// The `nth` request (counted from 1) of `command` is answered with `payload`, or not at all
/// when `payload` is empty.
struct Fault
{
    quint8 command;
    int nth;
    QByteArray payload;
};
using Faults = QList<Fault>;

Faults repeated(quint8 command, int from, int to, const char *hex = "")
{
    Faults faults;
    for (int n = from; n <= to; ++n)
        faults.append({ command, n, QByteArray::fromHex(hex) });
    return faults;
}

QString aborted(int state)
{
    return QStringLiteral("Aborting firmware update.  Failed more than 3 times for state %1")
        .arg(state);
}

QString timedOut(const char *waitingFor)
{
    return QStringLiteral("Timeout while waiting for %1 response.").arg(waitingFor);
}

/// Values the sender was asked to write to the boot flag, in order.
QByteArray flagWrites(const SimulatedSender &sender)
{
    QByteArray values;
    for (const VX4Message &m : sender.requests()) {
        if (m.command == WriteEeprom && m.payload.size() >= 3)
            values.append(m.payload.at(2));
    }
    return values;
}

bool backInTheApplication(const VX4Interface &engine)
{
    return engine.isConnected() && engine.app() == PressureSendingApp
        && engine.queuedMessages().isEmpty();
}
} // namespace

class TestDevice : public QObject
{
    Q_OBJECT

private slots:
    void init() { link = std::make_unique<SimLink>(); }
    void initTestCase() { QLoggingCategory::setFilterRules("default.debug=false"); }
    void requests_carryTheirValuesHighByteFirst_data();
    void requests_carryTheirValuesHighByteFirst();
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
    void download_endsAsTheSenderShows_data();
    void download_endsAsTheSenderShows();
    void malformedDownloads_areRefused();

private:
    std::unique_ptr<SimLink> link;
};

void TestDevice::requests_carryTheirValuesHighByteFirst_data()
{
    QTest::addColumn<Op>("operation");
    QTest::addColumn<QByteArray>("frameWithoutCrc");
    const auto add = [](const char *name, const char *hex, const Op &op) {
        QTest::newRow(name) << op << QByteArray::fromHex(hex);
    };
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
    VX4Message::appendCrc(frameWithoutCrc);
    QCOMPARE(engine.queuedMessages().value(0).frame.toHex(), (frameWithoutCrc + "\r\n").toHex());
}

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
}

void TestDevice::connecting_asksByFirmwareAndSignalsInOrder()
{
    QFETCH(QString, controls);
    QFETCH(Commands, requests);
    QFETCH(QString, events);
    QVERIFY(link->control("serial 4321;adoffset -100;" + controls));
    QVERIFY(link->openEngine());
    EngineSignals recorded(link->engine.get());
    QVERIFY(link->connectEngine(5000));
    QCOMPARE(recorded.events.join(','), events);
    // The first poll follows at once and asks for the application only.
    QTRY_COMPARE(link->sender.requestCommands(), requests + Commands { AppQuery });
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
    QVERIFY2(qMin(t.at(1) - t.at(0), t.at(2) - t.at(1)) >= 488, qPrintable(QDebug::toString(t)));
    QVERIFY2(t.at(3) - t.at(2) >= 488, qPrintable(QDebug::toString(t)));
    QVERIFY2(qMin(t.at(4) - t.at(3), t.at(5) - t.at(4)) >= 985, qPrintable(QDebug::toString(t)));
    const VX4Message first = givenUp.at(0).at(0).value<VX4Message>();
    QCOMPARE(first.command, quint8(ModeQuery));
    QCOMPARE(first.sendCount, quint16(3));
    QCOMPARE(givenUp.at(1).at(0).value<VX4Message>().command, quint8(ZeroPsi));
    // RESET waits for no answer: written three times in quick succession.
    QVERIFY2(t.at(8) - t.at(6) < 300, qPrintable(QDebug::toString(t)));
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
    QTest::addColumn<int>("piece"); // bytes handed over at a time; 0: all at once
    const QByteArray p100 = pressureFrame("000064");
    const QByteArray m200 = pressureFrame("00ff38");
    const QByteArray mode = answerFrame(ModeQuery, QByteArray::fromHex("01"));
    const QString modeEvents = "mode 1,response 11";
    QByteArray badCrc = p100;
    badCrc[6] = char(badCrc.at(6) ^ 0xFF);
    const auto row = [&](const char *name, const QByteArray &bytes, const QString &events,
                         int piece = 0) { QTest::newRow(name) << bytes << events << piece; };
    row("two frames in one read", p100 + m200, "pressure 100,pressure -200");
    row("frames cut anywhere", p100 + m200 + mode, "pressure 100,pressure -200," + modeEvents, 3);
    row("request frames are garbage", QByteArray::fromHex("3e07008baf0d0a") + p100, "pressure 100");
    row("zero length drops only the marker", QByteArray::fromHex("3c00") + p100 + m200,
        "pressure 100,pressure -200");
    row("bad crc, then a good frame", badCrc + m200, "pressure -200");
    row("short pressure payload reads 0", pressureFrame("00ff"), "pressure 0");
    row("another request's answer is passed over",
        answerFrame(GetSerial, QByteArray::fromHex("0001")) + pressureFrame("00002a") + mode,
        "pressure 42," + modeEvents);
    // A large length byte starts a frame that never completes: it is given up in time.
    row("noise pair", QByteArray::fromHex("3cf0") + mode, modeEvents);
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
    for (qsizetype at = 0; at < bytes.size(); at += piece ? piece : bytes.size()) {
        QSignalSpy read(link->engine.get(), &QIODevice::readyRead);
        link->sender.injectGarbage(bytes.mid(at, piece ? piece : -1));
        QVERIFY(read.wait(2000));
    }
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
    QTest::qWait(400); // the next poll finds nothing new
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

void TestDevice::download_endsAsTheSenderShows_data()
{
    QTest::addColumn<int>("startApp");
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<Faults>("faults");
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("appChanges"); // -1: any number
    QTest::addColumn<int>("rowWrites"); // -1: any number
    QTest::addColumn<QByteArray>("flags"); // values written to the boot flag; empty: any
    const int App = PressureSendingApp, Boot = Bootloader;
    const auto row = [&](const char *name, int app, const Faults &faults, const QString &result,
                         int appChanges, int rowWrites = -1, const char *flags = "",
                         const Setup &setup = {}, const Rows &rows = image()) {
        QTest::newRow(name) << app << rows << faults << setup << result << appChanges << rowWrites
                            << QByteArray::fromHex(flags);
    };
    const auto flashedBefore = [](quint16 changed) {
        return [changed](SimLink &l) {
            QSignalSpy finished(l.engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
            QVERIFY(l.engine->startFirmwareUpdate(image(0, changed)) && finished.wait(15000));
            QVERIFY(QTest::qWaitFor([&] { return backInTheApplication(*l.engine); }, 10000));
        };
    };
    row("from the application", App, {}, Success, 1, 3, "ffa5");
    row("from the bootloader", Boot, {}, Success, 0, 3, "ffa5");
    // Rows still under way when the delayed bootloader query is answered.
    row(
        "many rows, slow answers", App, {}, Success, 1, 20, "ffa5",
        [](SimLink &l) { l.sender.setAnswerDelay(15); }, image(17));
    // Rows that already hold the image are left alone.
    row("the same image again", Boot, {}, Success, 1, 0, "ffa5", flashedBefore(0));
    row("one row changed", Boot, {}, Success, 1, 1, "ffa5", flashedBefore(1));
    // An application that acknowledges APP CHANGE and restarts later is asked only once it has;
    // one that never does is asked three times.
    const auto restart = [](int ms) { return [ms](SimLink &l) { l.sender.setRestartDelay(ms); }; };
    row("restart after 200 ms", App, {}, Success, 1, 3, "ffa5", restart(200));
    row("restart never", App, {}, aborted(1), 3, 0, "", restart(60000));
    // Failures are counted per state; the fourth in one aborts.
    row("state 0: four unknown applications", App, repeated(AppQuery, 1, 4, "02"), aborted(0), 0);
    row("state 0: three unknown applications, then on", App, repeated(AppQuery, 1, 3, "02"),
        Success, 1, 3);
    row("state 1: APP CHANGE never accepted", App, repeated(AppChange, 1, 8, "01"), aborted(1), -1,
        0);
    // The third query is the settle query; the second is the connecting sequence's own.
    row("state 2: bootloader query answered by the application", App,
        repeated(AppQuery, 3, 3, "01"), Success, 2, 3);
    row("state 5: four unconfirmed writes", App, repeated(WriteProgMem, 1, 4, "00"), aborted(5), 1,
        4, "ff");
    // Row 0: two short reads, two unconfirmed writes; row 1: two short reads, counted afresh.
    const QByteArray shortRead(100, '\x12');
    row("states 4 and 5: two failures at each step of each row", App,
        Faults { { ReadProgMem, 1, shortRead },
                 { ReadProgMem, 2, shortRead },
                 { ReadProgMem, 5, shortRead },
                 { ReadProgMem, 6, shortRead } }
            + repeated(WriteProgMem, 1, 2, "00"),
        Success, 1, 5);
    // A row read back wrong is written again, but the valid flag never goes over it.
    const auto corrupt = [](SimulatedSender::CorruptWrites how) {
        return [how](SimLink &l) { l.sender.setCorruptWrites(how); };
    };
    row("one row stored wrong once", Boot, {}, Success, 0, 4, "ffa5",
        corrupt(SimulatedSender::CorruptWrites::Once));
    row("every row stored wrong", Boot, {},
        "Aborting firmware update.  The row at address 0x000000 did not read back as written "
        "after 4 writes.",
        0, 4, "ff", corrupt(SimulatedSender::CorruptWrites::Always));
    // Silence in a state, and requests queued before the download that never end.
    row("silent in state 0", App, repeated(AppQuery, 1, 20), timedOut("application query"), 0);
    row("silent in state 4", Boot, repeated(ReadProgMem, 1, 20),
        timedOut("read from program memory"), 0, 0, "ff");
    row("silent in state 5", Boot, repeated(WriteProgMem, 1, 20),
        timedOut("write to program memory"), 0, 3, "ff");
    row("valid flag unconfirmed", Boot, repeated(WriteEeprom, 2, 20),
        "Timeout while waiting for the valid flag write response; the new firmware is not marked "
        "valid.",
        0, 3, "ffa5a5a5");
    row("line never free", App, {}, timedOut("application query"), 0, 0, "", [](SimLink &l) {
        l.sender.setSilent(true);
        l.engine->queryMode();
        l.engine->queryMode();
    });
}

void TestDevice::download_endsAsTheSenderShows()
{
    QFETCH(int, startApp);
    QFETCH(Rows, rows);
    QFETCH(Faults, faults);
    QFETCH(Setup, setup);
    QFETCH(QString, result);
    QFETCH(int, appChanges);
    QFETCH(int, rowWrites);
    QFETCH(QByteArray, flags);
    // Old content: words inside touched rows but outside the image must survive.
    for (quint32 address : { 0x010u, 0x020u, 0x045u, 0x200u, 0xFE7F7Fu })
        link->sender.setProgramWord(address, quint16(0x1280 + address));
    link->sender.setEeprom(EepromBootFlagAddress, 0x5A);
    QVERIFY(link->connectAs(VX4App(startApp)));
    if (setup)
        setup(*link);
    if (QTest::currentTestFailed())
        return;
    QMap<quint8, int> seen;
    connect(&link->sender, &SimulatedSender::requestReceived, this, [&](const VX4Message &m) {
        const int nth = ++seen[m.command];
        for (const Fault &f : faults) {
            if (f.command != m.command || f.nth != nth)
                continue;
            // The sender answers a query truly, from the state that gives the answer.
            if (m.command == AppQuery && !f.payload.isEmpty() && quint8(f.payload.at(0)) <= 1) {
                link->sender.setApp(VX4App(f.payload.at(0)));
                continue;
            }
            link->sender.dropAnswersTo(m.command, 1);
            if (!f.payload.isEmpty())
                link->sender.injectGarbage(answerFrame(m.command, f.payload));
        }
    });
    link->sender.clearRequests();
    const QMap<quint32, quint16> expected = memoryAfterDownload(link->sender, rows);
    VX4Interface *engine = link->engine.get();
    // What a listener finds when each signal arrives: the download's state is already updated.
    QStringList shown;
    connect(engine, &VX4Interface::vx4FirmwareUpdateProgressChanged, this, [&](int row) {
        shown.append(QString::number(row) + (engine->isFirmwareUpdateRunning() ? "" : " over"));
    });
    connect(engine, &VX4Interface::vx4FirmwareUpdateFinished, this,
            [&] { shown.append(QString::number(link->sender.eeprom(EepromBootFlagAddress), 16)); });
    QSignalSpy finished(engine, &VX4Interface::vx4FirmwareUpdateFinished);
    QVERIFY(engine->startFirmwareUpdate(rows));
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished, (QList<QVariantList> { { result == Success, result } }));
    QVERIFY(!engine->isFirmwareUpdateRunning());
    const QList<quint8> sent = link->sender.requestCommands();
    QCOMPARE(appChanges < 0 ? -1 : int(sent.count(AppChange)), appChanges);
    QCOMPARE(rowWrites < 0 ? -1 : int(sent.count(WriteProgMem)), rowWrites);
    QCOMPARE(flags.isEmpty() ? flags : flagWrites(link->sender), flags);
    const QString over = QStringLiteral("%1 over").arg(rows.size());
    if (result == Success) {
        // Each row shown, the last once the download is over; success once the flag is valid.
        QStringList progress;
        for (int i = 0; i < rows.size(); ++i)
            progress.append(QString::number(i));
        QCOMPARE(shown, progress << over << "a5");
        QCOMPARE(link->sender.programMemory(), expected);
        // After the restart the engine finds the application again.
        QVERIFY(QTest::qWaitFor([&] { return backInTheApplication(*engine); }, 10000));
    } else {
        QVERIFY(!shown.contains(over));
        // With the faults gone the engine finds the sender again.
        faults.clear();
        QVERIFY(link->control("silent off;corruptwrites off"));
        QTRY_VERIFY_WITH_TIMEOUT(engine->isConnected(), 10000);
    }
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
