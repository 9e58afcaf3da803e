// A download that proves what it wrote: success only on the confirmed valid flag, every written
// row read back, rows that already match left alone, a bounded handover to the bootloader of an
// application that restarts late, and a bounded wait for the line.
#include "VX4interface.h"
#include "downloadimage.h"
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

class TestDownloadProof : public QObject
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

private:
    QList<QVariant> download(const QList<ProgramMemoryRow> &rows, int waitMs = 15000);

    std::unique_ptr<SimLink> link;
};

void TestDownloadProof::init()
{
    link = std::make_unique<SimLink>();
}

QList<QVariant> TestDownloadProof::download(const QList<ProgramMemoryRow> &rows, int waitMs)
{
    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    if (!link->engine->startFirmwareUpdate(rows) || !finished.wait(waitMs))
        return {};
    return finished.first();
}

void TestDownloadProof::validFlagUnconfirmed_neverSuccess()
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

void TestDownloadProof::rowsStoredWrong_writtenAgainOrAborted_data()
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

void TestDownloadProof::rowsStoredWrong_writtenAgainOrAborted()
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

void TestDownloadProof::reflash_writesOnlyRowsThatDiffer_data()
{
    QTest::addColumn<int>("changedRow");
    QTest::addColumn<QString>("logged");
    QTest::newRow("the same image") << -1 << "Skipped 2 of 2 rows: they already held the image.";
    QTest::newRow("one row changed") << 1 << "Skipped 1 of 2 rows: they already held the image.";
}

void TestDownloadProof::reflash_writesOnlyRowsThatDiffer()
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

void TestDownloadProof::applicationRestartingLate_changedOnceOrAtMostThrice_data()
{
    QTest::addColumn<int>("restartMs");
    QTest::addColumn<int>("appChanges");
    QTest::newRow("30 ms") << 30 << 1;
    QTest::newRow("80 ms") << 80 << 1;
    QTest::newRow("200 ms") << 200 << 1;
    QTest::newRow("never") << 60000 << 3;
}

void TestDownloadProof::applicationRestartingLate_changedOnceOrAtMostThrice()
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

void TestDownloadProof::deferredStart_givesUpAfterTwoSeconds()
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

QTEST_GUILESS_MAIN(TestDownloadProof)
#include "tst_downloadproof.moc"
