// The engine and its download on a line as real senders and adapters make it: an application that
// acknowledges APP CHANGE and restarts later, noise, a vanishing port, a slow baud rate, listeners
// that look at the engine when its signals arrive; and a download that proves what it wrote:
// success only on the confirmed valid flag, every written row read back, rows that already match
// left alone, a bounded handover to the bootloader and a bounded wait for the line.
#include "VX4interface.h"
#include "downloadimage.h"
#include "enginesignals.h"
#include "logcapture.h"
#include "simlink.h"

#include <QSignalSpy>
#include <QtTest>

using namespace VX4Protocol;

namespace {
const QList<ProgramMemoryRow> TwoRows = { imageRow(0x040, 0x1000), imageRow(0x080, 0x2000) };
const QString Success = QStringLiteral("Firmware update completed successfully!");

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
} // namespace

class TestRealSender : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { link.reset(); }
    void validFlagUnconfirmed_neverSuccess();
    void rowsStoredWrong_writtenAgainOrAborted_data();
    void rowsStoredWrong_writtenAgainOrAborted();
    void reflash_writesOnlyRowsThatDiffer_data();
    void reflash_writesOnlyRowsThatDiffer();
    void applicationRestartingLate_changedOnceOrAtMostThrice_data();
    void applicationRestartingLate_changedOnceOrAtMostThrice();
    void deferredStart_givesUpAfterTwoSeconds();
    void appChange_acknowledgedThenIdentifiedByItsQuery_data();
    void appChange_acknowledgedThenIdentifiedByItsQuery();
    void noiseBeforeAnAnswer_costsNoRequest_data();
    void noiseBeforeAnAnswer_costsNoRequest();
    void vanishedPort_closedAndReportedOnce_data();
    void vanishedPort_closedAndReportedOnce();
    void slowBaudRate_longRequestsAnsweredWithoutResend();
    void signals_findTheDownloadUpdated();

private:
    QList<QVariant> download(const QList<ProgramMemoryRow> &rows, int waitMs = 15000);

    std::unique_ptr<SimLink> link;
};

void TestRealSender::init()
{
    link = std::make_unique<SimLink>();
}

QList<QVariant> TestRealSender::download(const QList<ProgramMemoryRow> &rows, int waitMs)
{
    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    if (!link->engine->startFirmwareUpdate(rows) || !finished.wait(waitMs))
        return {};
    return finished.first();
}

void TestRealSender::validFlagUnconfirmed_neverSuccess()
{
    QVERIFY(link->connectAs(Bootloader));
    connect(&link->sender, &SimulatedSender::requestReceived, this, [this](const VX4Message &m) {
        if (m.command == WriteEeprom && m.payload.size() >= 3
            && quint8(m.payload.at(2)) == EepromBootFlagValid)
            link->sender.dropAnswersTo(WriteEeprom, 1);
    });
    QSignalSpy progress(link->engine.get(), &VX4Interface::vx4FirmwareUpdateProgressChanged);
    const QList<QVariant> outcome = download(TwoRows);
    QCOMPARE(outcome,
             (QList<QVariant> { false,
                                "Timeout while waiting for the valid flag write response; the "
                                "new firmware is not marked valid." }));
    // The final progress value belongs to success alone.
    QCOMPARE(progress.size(), 2);
    QCOMPARE(flagWrites(link->sender), QByteArray::fromHex("ffa5a5a5"));
}

void TestRealSender::rowsStoredWrong_writtenAgainOrAborted_data()
{
    QTest::addColumn<int>("corrupt");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("writes");
    QTest::newRow("one row stored wrong once")
        << int(SimulatedSender::CorruptWrites::Once) << Success << 3;
    QTest::newRow("every row stored wrong")
        << int(SimulatedSender::CorruptWrites::Always)
        << "Aborting firmware update.  The row at address 0x000040 did not read back as written "
           "after 4 writes."
        << 4;
}

void TestRealSender::rowsStoredWrong_writtenAgainOrAborted()
{
    QFETCH(int, corrupt);
    QFETCH(QString, text);
    QFETCH(int, writes);
    QVERIFY(link->connectAs(Bootloader));
    const QMap<quint32, quint16> expected = memoryAfterDownload(link->sender, TwoRows);
    link->sender.setCorruptWrites(SimulatedSender::CorruptWrites(corrupt));
    QCOMPARE(download(TwoRows), (QList<QVariant> { text == Success, text }));
    QCOMPARE(link->sender.requestCommands().count(WriteProgMem), writes);
    if (text == Success) {
        QCOMPARE(link->sender.programMemory(), expected);
        QCOMPARE(flagWrites(link->sender), QByteArray::fromHex("ffa5"));
    } else {
        // The valid flag never goes over memory that differs from the image.
        QCOMPARE(flagWrites(link->sender), QByteArray::fromHex("ff"));
        QCOMPARE(link->sender.eeprom(EepromBootFlagAddress), 0xFF);
    }
}

void TestRealSender::reflash_writesOnlyRowsThatDiffer_data()
{
    QTest::addColumn<int>("changedRow");
    QTest::addColumn<QString>("logged");
    QTest::newRow("the same image") << -1 << "Skipped 2 of 2 rows: they already held the image.";
    QTest::newRow("one row changed") << 1 << "Skipped 1 of 2 rows: they already held the image.";
}

void TestRealSender::reflash_writesOnlyRowsThatDiffer()
{
    QFETCH(int, changedRow);
    QFETCH(QString, logged);
    QVERIFY(link->connectAs(Bootloader));
    QCOMPARE(download(TwoRows).value(0), true);
    QVERIFY(link->waitLineFree());
    QList<ProgramMemoryRow> again = TwoRows;
    if (changedRow >= 0)
        again[changedRow].words[5] = 0x0ABC;
    const QMap<quint32, quint16> expected = memoryAfterDownload(link->sender, again);
    link->sender.clearRequests();
    const LogCapture log;
    QCOMPARE(download(again).value(0), true);
    QCOMPARE(link->sender.requestCommands().count(WriteProgMem), changedRow >= 0 ? 1 : 0);
    QCOMPARE(link->sender.programMemory(), expected);
    QCOMPARE(flagWrites(link->sender), QByteArray::fromHex("ffa5"));
    QVERIFY(log.contains('"' + logged + '"'));
}

void TestRealSender::applicationRestartingLate_changedOnceOrAtMostThrice_data()
{
    QTest::addColumn<int>("restartMs");
    QTest::addColumn<int>("appChanges");
    QTest::newRow("30 ms") << 30 << 1;
    QTest::newRow("80 ms") << 80 << 1;
    QTest::newRow("200 ms") << 200 << 1;
    QTest::newRow("never") << 60000 << 3;
}

void TestRealSender::applicationRestartingLate_changedOnceOrAtMostThrice()
{
    QFETCH(int, restartMs);
    QFETCH(int, appChanges);
    QVERIFY(link->connectAs(PressureSendingApp));
    link->sender.setRestartDelay(restartMs);
    link->sender.clearRequests();
    const QMap<quint32, quint16> expected = memoryAfterDownload(link->sender, TwoRows);
    QSignalSpy connected(link->engine.get(), &VX4Interface::vx4ConnectedSignal);
    const QList<QVariant> outcome = download(TwoRows, 20000);
    QCOMPARE(link->sender.requestCommands().count(AppChange), appChanges);
    if (appChanges == 1) {
        QCOMPARE(outcome, (QList<QVariant> { true, Success }));
        QCOMPARE(link->sender.programMemory(), expected);
        QVERIFY(connected.size() <= 2);
    } else {
        QCOMPARE(outcome,
                 (QList<QVariant> {
                     false, "Aborting firmware update.  Failed more than 3 times for state 1" }));
    }
}

void TestRealSender::deferredStart_givesUpAfterTwoSeconds()
{
    // Two requests to a silent sender hold the line for about three seconds.
    link->sender.setSilent(true);
    QVERIFY(link->openEngine());
    link->engine->queryMode();
    link->engine->queryMode();
    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(link->engine->startFirmwareUpdate(TwoRows));
    QVERIFY(finished.wait(2600));
    QVERIFY(clock.elapsed() >= 1900);
    QCOMPARE(finished.first(),
             (QList<QVariant> { false, "Timeout while waiting for application query response." }));
    QVERIFY(!link->engine->isFirmwareUpdateRunning());
    QCOMPARE(link->sender.requestCommands().count(AppQuery), 0);
}

void TestRealSender::appChange_acknowledgedThenIdentifiedByItsQuery_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("restartMs");
    QTest::newRow("into the application at once") << int(Bootloader) << 0;
    QTest::newRow("into the bootloader at once") << int(PressureSendingApp) << 0;
    // Answered by the old application first: found again once it has restarted.
    QTest::newRow("into the application later") << int(Bootloader) << 60;
    QTest::newRow("into the bootloader later") << int(PressureSendingApp) << 60;
}

void TestRealSender::appChange_acknowledgedThenIdentifiedByItsQuery()
{
    QFETCH(int, from);
    QFETCH(int, restartMs);
    const bool intoApplication = from == Bootloader;
    link->sender.setApp(VX4App(from));
    link->sender.setRestartDelay(restartMs);
    QVERIFY(link->connectEngine());
    QVERIFY(link->waitLineFree());
    link->sender.setSerialNumber(4321);
    link->sender.clearRequests();
    EngineSignals recorded(link->engine.get());
    link->engine->changeApp();
    QVERIFY(QTest::qWaitFor(
        [&] {
            return link->engine->isConnected() && link->engine->app() == 1 - from
                && link->engine->queuedMessages().isEmpty();
        },
        5000));
    QTest::qWait(400); // the next poll finds nothing new
    QCOMPARE(int(link->engine->app()), 1 - from);
    QCOMPARE(link->engine->serialNumber(), intoApplication ? 4321 : 0);
    QCOMPARE(link->engine->firmwareMajor(), intoApplication ? 1 : 255);
    QCOMPARE(link->sender.requestCommands().count(AppChange), 1);
    // The acknowledgement names no application: only the new one is ever reported.
    if (restartMs == 0) {
        QCOMPARE(recorded.events.count("connected"), 1);
        QVERIFY(!recorded.events.contains(QStringLiteral("app %1").arg(from)));
    }
}

void TestRealSender::noiseBeforeAnAnswer_costsNoRequest_data()
{
    QTest::addColumn<QByteArray>("noise");
    QTest::addColumn<int>("withinMs");
    // A large length byte: the frame it starts never completes and is given up.
    QTest::newRow("noise pair") << QByteArray::fromHex("3cf0") << 450;
    QTest::newRow("two noise pairs") << QByteArray::fromHex("3c403c50") << 450;
    QTest::newRow("length byte below 7") << QByteArray::fromHex("3c03") << 100;
    // The bad frame takes the answer's first bytes: scanning resumes inside it.
    QTest::newRow("crc mismatch over the answer") << QByteArray::fromHex("3c0a") << 100;
}

void TestRealSender::noiseBeforeAnAnswer_costsNoRequest()
{
    QFETCH(QByteArray, noise);
    QFETCH(int, withinMs);
    // As on a calibration page: no stream, no polling, so nothing else would clear the line.
    link->sender.setStreamInterval(0);
    QVERIFY(link->connectEngine());
    link->engine->pollForConnectionChange(false);
    QVERIFY(link->waitLineFree());
    link->sender.setSerialNumber(4321);
    link->sender.clearRequests();
    QSignalSpy serial(link->engine.get(), &VX4Interface::vx4SerialNumberChanged);
    QSignalSpy timeouts(link->engine.get(), &VX4Interface::vx4MessageTimeout);
    link->sender.injectGarbage(noise);
    QTest::qWait(20);
    QElapsedTimer clock;
    clock.start();
    link->engine->requestSerialNumber();
    QVERIFY(serial.wait(3000));
    QVERIFY2(clock.elapsed() < withinMs, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(serial.first().first().toInt(), 4321);
    QCOMPARE(link->sender.requestCommands(), QList<quint8> { GetSerial });
    QVERIFY(timeouts.isEmpty());
    QCOMPARE(link->engine->pendingBytes(), 0);
}

void TestRealSender::vanishedPort_closedAndReportedOnce_data()
{
    QTest::addColumn<bool>("downloading");
    QTest::newRow("idle") << false;
    QTest::newRow("during a download") << true;
}

void TestRealSender::vanishedPort_closedAndReportedOnce()
{
    QFETCH(bool, downloading);
    link->sender.setApp(Bootloader);
    QVERIFY(link->connectEngine());
    QVERIFY(link->waitLineFree());
    QSignalSpy lost(link->engine.get(), &VX4Interface::vx4PortLost);
    QSignalSpy disconnected(link->engine.get(), &VX4Interface::vx4DisconnectedSignal);
    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    if (downloading) {
        link->sender.setAnswerDelay(200);
        QVERIFY(link->engine->startFirmwareUpdate({ imageRow(0x40, 1) }));
        QTest::qWait(50);
    }
    link->pty.vanish();
    QVERIFY(lost.wait(3000));
    QVERIFY(!link->engine->isOpen());
    QVERIFY(!lost.first().first().toString().isEmpty());
    QTest::qWait(50);
    link->engine->close(); // as the window does on the news
    QCOMPARE(lost.size(), 1);
    QCOMPARE(disconnected.size(), 1);
    QCOMPARE(finished.size(), downloading ? 1 : 0);
    if (downloading)
        QCOMPARE(finished.first().first().toBool(), false);
    QVERIFY(!link->engine->isFirmwareUpdateRunning());
}

void TestRealSender::slowBaudRate_longRequestsAnsweredWithoutResend()
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

void TestRealSender::signals_findTheDownloadUpdated()
{
    link->sender.setApp(Bootloader);
    link->sender.setEeprom(EepromBootFlagAddress, 0x5A);
    QVERIFY(link->connectEngine());
    QVERIFY(link->waitLineFree());
    const QList<ProgramMemoryRow> rows
        = { imageRow(0x000, 0x100), imageRow(0x040, 0x200), imageRow(0x080, 0x300) };
    const QMap<quint32, quint16> expected = memoryAfterDownload(link->sender, rows);
    VX4Interface *engine = link->engine.get();
    // What a listener finds when each signal arrives: the state must already be updated.
    QStringList seen;
    connect(engine, &VX4Interface::vx4FirmwareUpdateProgressChanged, this, [&](int row) {
        const bool last = row == rows.size();
        seen.append(QStringLiteral("%1:%2").arg(row).arg(
            last ? int(engine->isFirmwareUpdateRunning())
                 : int(engine->queuedMessages().value(0).command)));
    });
    connect(engine, &VX4Interface::vx4FirmwareUpdateFinished, this, [&](bool ok) {
        seen.append(QStringLiteral("finished %1, running %2, flag %3")
                        .arg(ok)
                        .arg(engine->isFirmwareUpdateRunning())
                        .arg(link->sender.eeprom(EepromBootFlagAddress), 0, 16));
    });
    QSignalSpy finished(engine, &VX4Interface::vx4FirmwareUpdateFinished);
    QVERIFY(engine->startFirmwareUpdate(rows));
    QVERIFY(finished.wait(10000));
    // Each row's write is on the line when its progress is shown; success comes once the valid
    // flag is written and the download is over.
    QCOMPARE(seen, (QStringList { "0:3", "1:3", "2:3", "3:0", "finished 1, running 0, flag a5" }));
    QCOMPARE(link->sender.requestCommands().count(WriteProgMem), rows.size());
    QCOMPARE(link->sender.programMemory(), expected);
}

QTEST_GUILESS_MAIN(TestRealSender)
#include "tst_realsender.moc"
