// The firmware download against the simulated sender over a pseudo-terminal: the bootloader
// sequence, the row merge, progress, failures, aborts, time-outs in every state and refusals.
#include "VX4interface.h"
#include "downloadimage.h"
#include "logcapture.h"
#include "simlink.h"
#include "vx4protocol.h"

#include <QSignalSpy>
#include <QtTest>

using namespace VX4Protocol;

namespace {
ProgramMemoryRow imageRow(quint32 address, quint16 seed, int firstSlot, int lastSlot)
{
    ProgramMemoryRow row(ProgramRowWords);
    row.address = address;
    for (int k = firstSlot; k <= lastSlot; ++k)
        row.words[k] = quint16(seed + k);
    return row;
}

QByteArray answerFrame(quint8 command, const QByteArray &payload)
{
    return VX4Message::buildFrame(AnswerMarker, quint8(FrameOverhead + payload.size()), command,
                                  payload);
}

QList<quint8> withoutAppQueries(const QList<quint8> &commands)
{
    QList<quint8> result;
    for (quint8 c : commands) {
        if (c != AppQuery)
            result.append(c);
    }
    return result;
}
} // namespace

class TestFirmwareDownload : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void download_mergesImageIntoMemoryAndRestarts_data();
    void download_mergesImageIntoMemoryAndRestarts();
    void delayedApplicationQuery_doesNotRepeatRows();
    void requestOnTheLineAtStart_isNotTakenForTheDownloads();
    void finishWhileWaitingForTheLine_neverBegins();
    void unconfirmedWrites_abortAfterFourFailures();
    void unknownApplication_abortsOnFourthAnswer_data();
    void unknownApplication_abortsOnFourthAnswer();
    void shortReadAnswer_countsAsFailureAndRereads();
    void silenceInEachState_endsWithItsTimeoutText_data();
    void silenceInEachState_endsWithItsTimeoutText();
    void finishMidDownload_sendsResetAndReportsNothing();
    void refusals_sendNothing();

private:
    bool connectTo(VX4App app);

    LogCapture *log = nullptr;
    SimLink *link = nullptr;
};

void TestFirmwareDownload::init()
{
    log = new LogCapture;
    link = new SimLink;
}

void TestFirmwareDownload::cleanup()
{
    delete link;
    delete log;
}

bool TestFirmwareDownload::connectTo(VX4App app)
{
    link->sender.setApp(app);
    if (!link->connectEngine())
        return false;
    return QTest::qWaitFor([this] { return link->engine->queuedMessages().isEmpty(); }, 3000);
}

void TestFirmwareDownload::download_mergesImageIntoMemoryAndRestarts_data()
{
    QTest::addColumn<int>("startApp");
    QTest::newRow("from the application") << int(PressureSendingApp);
    QTest::newRow("from the bootloader") << int(Bootloader);
}

void TestFirmwareDownload::download_mergesImageIntoMemoryAndRestarts()
{
    QFETCH(int, startApp);
    // Old content: words inside touched rows but outside the image must survive.
    link->sender.setProgramWord(0x010, 0x1280);
    link->sender.setProgramWord(0x07F, 0xFFFF);
    link->sender.setProgramWord(0x0C5, 0xBEEF);
    link->sender.setProgramWord(0x200, 0x4444);
    link->sender.setEeprom(EepromBootFlagAddress, 0x5A);
    QVERIFY(connectTo(VX4App(startApp)));
    link->sender.clearRequests();

    const QList<ProgramMemoryRow> rows
        = { imageRow(0x000, 0x1000, 0, 15), imageRow(0x040, 0x2000, 32, 63),
            imageRow(0x0C0, 0x3000, 0, 3) };
    const QMap<quint32, quint16> expected = memoryAfterDownload(link->sender, rows);

    QSignalSpy started(link->engine.get(), &VX4Interface::vx4FirmwareUpdateStarted);
    QSignalSpy progress(link->engine.get(), &VX4Interface::vx4FirmwareUpdateProgressChanged);
    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    QSignalSpy reset(&link->sender, &SimulatedSender::didReset);
    QVERIFY(link->engine->startFirmwareUpdate(rows));
    QCOMPARE(started.size(), 1);
    QVERIFY(finished.wait(15000));
    QCOMPARE(finished.first().at(0).toBool(), true);
    QCOMPARE(finished.first().at(1).toString(),
             QStringLiteral("Firmware update completed successfully!"));
    QList<int> values;
    for (const auto &args : progress)
        values.append(args.first().toInt());
    QCOMPARE(values, (QList<int> { 0, 1, 2, 3 }));

    QTRY_VERIFY_WITH_TIMEOUT(!reset.isEmpty(), 5000);
    QCOMPARE(reset.first().first().value<VX4App>(), PressureSendingApp);
    QCOMPARE(link->sender.eeprom(EepromBootFlagAddress), EepromBootFlagValid);
    QCOMPARE(link->sender.programMemory(), expected);

    // The bootloader's part of the conversation, in order.
    const QList<quint8> commands = withoutAppQueries(link->sender.requestCommands());
    QList<quint8> core = { WriteEeprom, ReadProgMem,  WriteProgMem, ReadProgMem, WriteProgMem,
                           ReadProgMem, WriteProgMem, WriteEeprom,  Reset };
    if (startApp == PressureSendingApp)
        core.prepend(AppChange);
    QList<quint8> distinct;
    for (quint8 c : commands) {
        if (distinct.isEmpty() || distinct.last() != c)
            distinct.append(c);
    }
    QCOMPARE(distinct.mid(0, distinct.indexOf(Reset) + 1), core);
    QCOMPARE(link->sender.requests().first().command, quint8(AppQuery));

    // After the restart the engine finds the application again.
    QTRY_VERIFY_WITH_TIMEOUT(
        link->engine->isConnected() && link->engine->app() == PressureSendingApp, 10000);
    QVERIFY(!link->engine->isFirmwareUpdateRunning());
}

void TestFirmwareDownload::delayedApplicationQuery_doesNotRepeatRows()
{
    // Rows still under way when the delayed bootloader query is answered: each row is read and
    // written once all the same.
    QVERIFY(connectTo(PressureSendingApp));
    link->sender.setAnswerDelay(15);
    link->sender.clearRequests();
    QList<ProgramMemoryRow> rows;
    for (quint32 r = 0; r < 20; ++r)
        rows.append(imageRow(r * 64, quint16(r * 100), 0, 63));
    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    QVERIFY(link->engine->startFirmwareUpdate(rows));
    QVERIFY(finished.wait(15000));
    QCOMPARE(finished.first().at(0).toBool(), true);
    const QList<quint8> commands = link->sender.requestCommands();
    QCOMPARE(commands.count(ReadProgMem), 20);
    QCOMPARE(commands.count(WriteProgMem), 20);
    QVERIFY(log->contains(QStringLiteral("Ignoring a late application query answer.")));
    QCOMPARE(log->texts().filter(QStringLiteral("Was expecting")).size(), 0);
}

void TestFirmwareDownload::requestOnTheLineAtStart_isNotTakenForTheDownloads()
{
    // A poll still on the line when the technician starts: the download waits for its answer.
    QVERIFY(connectTo(PressureSendingApp));
    link->sender.setAnswerDelay(20);
    link->engine->queryApp();
    link->sender.clearRequests();
    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    QVERIFY(link->engine->startFirmwareUpdate({ imageRow(0x40, 0x4321, 0, 63) }));
    QVERIFY(
        log->contains(QStringLiteral("Firmware update waits for the requests already queued.")));
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().at(0).toBool(), true);
    QCOMPARE(link->sender.requestCommands().count(AppChange), 1);
    QCOMPARE(link->sender.programWord(0x40), quint16(0x4321));
}

void TestFirmwareDownload::finishWhileWaitingForTheLine_neverBegins()
{
    // A download waiting for a request on the line already counts as running; cancelled there,
    // it must not begin once the line is free.
    QVERIFY(connectTo(PressureSendingApp));
    link->sender.setAnswerDelay(200);
    link->engine->queryApp();
    QVERIFY(link->engine->startFirmwareUpdate({ imageRow(0x40, 0x4321, 0, 63) }));
    QVERIFY(link->engine->isFirmwareUpdateRunning());
    QVERIFY(!link->engine->startFirmwareUpdate({ imageRow(0x40, 0x4321, 0, 63) }));
    link->engine->finishFirmwareUpdate();
    QVERIFY(!link->engine->isFirmwareUpdateRunning());
    link->sender.clearRequests();
    QTRY_VERIFY_WITH_TIMEOUT(link->sender.requestCommands().contains(Reset), 5000);
    const auto downloadBegan = [this] {
        const QList<quint8> sent = link->sender.requestCommands();
        return sent.contains(AppChange) || sent.contains(WriteEeprom);
    };
    QVERIFY(!QTest::qWaitFor(downloadBegan, 2000));
    QVERIFY(!log->contains(QStringLiteral("firmwareUpdateMsgHandler called.")));
    QVERIFY(!link->engine->isFirmwareUpdateRunning());
}

void TestFirmwareDownload::unconfirmedWrites_abortAfterFourFailures()
{
    QVERIFY(connectTo(Bootloader));
    link->sender.failNextWrites(4);
    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    QVERIFY(link->engine->startFirmwareUpdate({ imageRow(0x40, 0x1111, 0, 63) }));
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().at(0).toBool(), false);
    QCOMPARE(finished.first().at(1).toString(),
             QStringLiteral("Aborting firmware update.  Failed more than 3 times for state 5"));
    QCOMPARE(link->sender.eeprom(EepromBootFlagAddress), EepromBootFlagInvalid);
    QCOMPARE(link->sender.programWord(0x40), quint16(0xFFFF));
    QVERIFY(!link->engine->isFirmwareUpdateRunning());
    QCOMPARE(log->count(QStringLiteral("Firmware update completed successfully!")), 0);
}

void TestFirmwareDownload::unknownApplication_abortsOnFourthAnswer_data()
{
    QTest::addColumn<int>("unknownAnswers");
    QTest::addColumn<bool>("aborted");
    QTest::newRow("four unknown answers abort") << 4 << true;
    QTest::newRow("three unknown answers then the application") << 3 << false;
}

void TestFirmwareDownload::unknownApplication_abortsOnFourthAnswer()
{
    QFETCH(int, unknownAnswers);
    QFETCH(bool, aborted);
    QVERIFY(connectTo(PressureSendingApp));
    link->sender.setSilent(true);
    link->sender.setStreamInterval(0);
    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    QVERIFY(link->engine->startFirmwareUpdate({ imageRow(0, 1, 0, 63) }));
    for (int i = 0; i < unknownAnswers; ++i) {
        QCOMPARE(link->engine->queuedMessages().first().command, quint8(AppQuery));
        link->engine->receiveBytes(answerFrame(AppQuery, QByteArray::fromHex("02")));
    }
    QCOMPARE(log->count(QStringLiteral("Pressure sender is running an app of unknown type.")),
             unknownAnswers);
    if (aborted) {
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.first().at(1).toString(),
                 QStringLiteral("Aborting firmware update.  Failed more than 3 times for state 0"));
        return;
    }
    QVERIFY(finished.isEmpty());
    link->sender.setSilent(false);
    link->engine->receiveBytes(answerFrame(AppQuery, QByteArray::fromHex("01")));
    QVERIFY(log->contains(QStringLiteral("Switching to the bootloader application.")));
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().at(0).toBool(), true);
}

void TestFirmwareDownload::shortReadAnswer_countsAsFailureAndRereads()
{
    QVERIFY(connectTo(Bootloader));
    link->sender.dropAnswersTo(ReadProgMem, 1);
    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    QVERIFY(link->engine->startFirmwareUpdate({ imageRow(0x80, 0x7000, 0, 63) }));
    QTRY_VERIFY(link->sender.requestCommands().contains(ReadProgMem));
    link->engine->receiveBytes(answerFrame(ReadProgMem, QByteArray(100, '\x12')));
    QVERIFY(log->texts().filter(QStringLiteral("Was expecting an read from program memory")).size()
            == 1);
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.first().at(0).toBool(), true);
    QCOMPARE(link->sender.programWord(0x80), quint16(0x7000));
    QCOMPARE(link->sender.programWord(0xBF), quint16(0x7000 + 63));
}

void TestFirmwareDownload::silenceInEachState_endsWithItsTimeoutText_data()
{
    QTest::addColumn<int>("startApp");
    QTest::addColumn<int>("silenced");
    QTest::addColumn<int>("armAfter");
    QTest::addColumn<QString>("text");
    QTest::newRow("0 application query") << int(PressureSendingApp) << int(AppQuery) << -1
                                         << "Timeout while waiting for application query response.";
    QTest::newRow("1 application change")
        << int(PressureSendingApp) << int(AppChange) << -1
        << "Timeout while waiting for application change response.";
    QTest::newRow("2 bootloader query")
        << int(PressureSendingApp) << int(AppQuery) << int(AppChange)
        << "Timeout while waiting for application query response.";
    QTest::newRow("3 EEPROM write") << int(Bootloader) << int(WriteEeprom) << -1
                                    << "Timeout while waiting for write to EEPROM response.";
    QTest::newRow("4 row read") << int(Bootloader) << int(ReadProgMem) << -1
                                << "Timeout while waiting for read from program memory response.";
    QTest::newRow("5 row write") << int(Bootloader) << int(WriteProgMem) << -1
                                 << "Timeout while waiting for write to program memory response.";
}

void TestFirmwareDownload::silenceInEachState_endsWithItsTimeoutText()
{
    QFETCH(int, startApp);
    QFETCH(int, silenced);
    QFETCH(int, armAfter);
    QFETCH(QString, text);
    QVERIFY(connectTo(VX4App(startApp)));
    if (armAfter < 0) {
        link->sender.dropAnswersTo(quint8(silenced), 1000);
    } else {
        connect(&link->sender, &SimulatedSender::requestReceived, this,
                [this, silenced, armAfter](const VX4Message &m) {
                    if (m.command == armAfter)
                        link->sender.dropAnswersTo(quint8(silenced), 1000);
                });
    }
    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    QVERIFY(link->engine->startFirmwareUpdate({ imageRow(0x40, 0x1234, 0, 63) }));
    QVERIFY(finished.wait(10000));
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.first().at(0).toBool(), false);
    QCOMPARE(finished.first().at(1).toString(), text);
    QVERIFY(log->contains(QStringLiteral("firmwareUpdateTimeoutHandler called.")));
    QVERIFY(!link->engine->isFirmwareUpdateRunning());
    QVERIFY(link->sender.eeprom(EepromBootFlagAddress) != EepromBootFlagValid
            || silenced == AppQuery || silenced == AppChange);
    // The engine looks for the sender anew; a new download may start with a clean count.
    link->sender.dropAnswersTo(quint8(silenced), 0);
    QTRY_VERIFY_WITH_TIMEOUT(link->engine->isConnected(), 10000);
}

void TestFirmwareDownload::finishMidDownload_sendsResetAndReportsNothing()
{
    QVERIFY(connectTo(Bootloader));
    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    QSignalSpy progress(link->engine.get(), &VX4Interface::vx4FirmwareUpdateProgressChanged);
    QList<ProgramMemoryRow> rows;
    for (quint32 r = 0; r < 20; ++r)
        rows.append(imageRow(r * 64, quint16(r), 0, 63));
    // The technician aborts while the third row is written.
    connect(link->engine.get(), &VX4Interface::vx4FirmwareUpdateProgressChanged, this,
            [this](int row) {
                if (row == 2) {
                    link->sender.clearRequests();
                    link->engine->finishFirmwareUpdate();
                }
            });
    QVERIFY(link->engine->startFirmwareUpdate(rows));
    QTRY_VERIFY_WITH_TIMEOUT(link->sender.requestCommands().contains(Reset), 5000);
    QCOMPARE(progress.size(), 3);
    QVERIFY(finished.isEmpty());
    QVERIFY(!link->engine->isFirmwareUpdateRunning());
    QCOMPARE(link->sender.eeprom(EepromBootFlagAddress), EepromBootFlagInvalid);
}

void TestFirmwareDownload::refusals_sendNothing()
{
    QVERIFY(connectTo(Bootloader));
    QSignalSpy started(link->engine.get(), &VX4Interface::vx4FirmwareUpdateStarted);
    link->sender.clearRequests();
    QVERIFY(!link->engine->startFirmwareUpdate({}));
    QVERIFY(!link->engine->startFirmwareUpdate({ ProgramMemoryRow(ProgramRowWords) }));
    ProgramMemoryRow shortRow(10);
    shortRow.address = 0x40;
    QVERIFY(!link->engine->startFirmwareUpdate({ shortRow }));
    VX4Interface closed(QStringLiteral("/nonexistent/port"), PortSettings());
    QVERIFY(!closed.startFirmwareUpdate({ imageRow(0, 1, 0, 63) }));
    QVERIFY(started.isEmpty());
    QVERIFY(withoutAppQueries(link->sender.requestCommands()).isEmpty());
}

QTEST_GUILESS_MAIN(TestFirmwareDownload)
#include "tst_firmwaredownload.moc"
