// The engine on a line as real senders and adapters make it: an application that acknowledges
// APP CHANGE and restarts later, noise on the line, a port that vanishes, a slow baud rate, and
// listeners that look at the engine when its download signals arrive.
#include "VX4interface.h"
#include "downloadimage.h"
#include "enginesignals.h"
#include "simlink.h"

#include <QSignalSpy>
#include <QtTest>

using namespace VX4Protocol;

class TestRealLine : public QObject
{
    Q_OBJECT

private slots:
    void init() { link = std::make_unique<SimLink>(); }
    void cleanup() { link.reset(); }
    void appChange_acknowledgedThenIdentifiedByItsQuery_data();
    void appChange_acknowledgedThenIdentifiedByItsQuery();
    void noiseBeforeAnAnswer_costsNoRequest_data();
    void noiseBeforeAnAnswer_costsNoRequest();
    void vanishedPort_closedAndReportedOnce_data();
    void vanishedPort_closedAndReportedOnce();
    void slowBaudRate_longRequestsAnsweredWithoutResend();
    void signals_findTheDownloadUpdated();

private:
    std::unique_ptr<SimLink> link;
};

void TestRealLine::appChange_acknowledgedThenIdentifiedByItsQuery_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("restartMs");
    QTest::newRow("into the application at once") << int(Bootloader) << 0;
    QTest::newRow("into the bootloader at once") << int(PressureSendingApp) << 0;
    // Answered by the old application first: found again once it has restarted.
    QTest::newRow("into the application later") << int(Bootloader) << 60;
    QTest::newRow("into the bootloader later") << int(PressureSendingApp) << 60;
}

void TestRealLine::appChange_acknowledgedThenIdentifiedByItsQuery()
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

void TestRealLine::noiseBeforeAnAnswer_costsNoRequest_data()
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

void TestRealLine::noiseBeforeAnAnswer_costsNoRequest()
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

void TestRealLine::vanishedPort_closedAndReportedOnce_data()
{
    QTest::addColumn<bool>("downloading");
    QTest::newRow("idle") << false;
    QTest::newRow("during a download") << true;
}

void TestRealLine::vanishedPort_closedAndReportedOnce()
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

void TestRealLine::slowBaudRate_longRequestsAnsweredWithoutResend()
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

void TestRealLine::signals_findTheDownloadUpdated()
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

QTEST_GUILESS_MAIN(TestRealLine)
#include "tst_realline.moc"
