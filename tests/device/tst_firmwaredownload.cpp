// The firmware download against the simulated sender over a pseudo-terminal: the merge into old
// memory and the restart, failures counted per step and their aborts, time-outs, cancel, refusals.
#include "VX4interface.h"
#include "downloadimage.h"
#include "logcapture.h"
#include "simlink.h"

#include <QSignalSpy>
#include <QtTest>

#include <algorithm>

using namespace VX4Protocol;

namespace {
ProgramMemoryRow imageRow(quint32 address, quint16 seed, int firstSlot = 0, int lastSlot = 63)
{
    ProgramMemoryRow row(ProgramRowWords);
    row.address = address;
    for (int k = firstSlot; k <= lastSlot; ++k)
        row.words[k] = quint16(seed + k);
    return row;
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

class TestFirmwareDownload : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { link.reset(); }
    void download_mergesIntoOldMemoryAndRestarts_data();
    void download_mergesIntoOldMemoryAndRestarts();
    void failures_countedPerStepAndTheFourthAborts_data();
    void failures_countedPerStepAndTheFourthAborts();
    void silenceInEachState_endsWithItsTimeoutText_data();
    void silenceInEachState_endsWithItsTimeoutText();
    void cancelMidDownload_sendsResetAndReportsNothing();
    void refusals_sendNothing();

private:
    bool connectTo(VX4App app);

    LogCapture log;
    std::unique_ptr<SimLink> link;
};

void TestFirmwareDownload::init()
{
    log.clear();
    link = std::make_unique<SimLink>();
}

bool TestFirmwareDownload::connectTo(VX4App app)
{
    link->sender.setApp(app);
    return link->connectEngine() && link->waitLineFree();
}

void TestFirmwareDownload::download_mergesIntoOldMemoryAndRestarts_data()
{
    QTest::addColumn<int>("startApp");
    QTest::addColumn<int>("extraRows");
    QTest::addColumn<int>("answerDelayMs");
    QTest::newRow("from the application") << int(PressureSendingApp) << 0 << 0;
    QTest::newRow("from the bootloader") << int(Bootloader) << 0 << 0;
    // Rows still under way when the delayed bootloader query is answered.
    QTest::newRow("many rows, slow answers") << int(PressureSendingApp) << 17 << 15;
}

void TestFirmwareDownload::download_mergesIntoOldMemoryAndRestarts()
{
    QFETCH(int, startApp);
    QFETCH(int, extraRows);
    QFETCH(int, answerDelayMs);
    // Old content: words inside touched rows but outside the image must survive.
    for (quint32 address : { 0x010u, 0x020u, 0x045u, 0x200u, 0xFE7F7Fu })
        link->sender.setProgramWord(address, quint16(0x1280 + address));
    link->sender.setEeprom(EepromBootFlagAddress, 0x5A);
    QVERIFY(connectTo(VX4App(startApp)));
    link->sender.setAnswerDelay(answerDelayMs);
    link->sender.clearRequests();
    QList<ProgramMemoryRow> rows
        = { imageRow(0x000, 0x1000, 0, 15), imageRow(0x040, 0x2000, 32, 63),
            imageRow(0xFE7F40, 0x3000, 0, 3) };
    for (int i = 0; i < extraRows; ++i)
        rows.insert(2, imageRow(0x1000 - 64 * i, quint16(i * 100)));
    const QMap<quint32, quint16> expected = memoryAfterDownload(link->sender, rows);

    QSignalSpy started(link->engine.get(), &VX4Interface::vx4FirmwareUpdateStarted);
    QSignalSpy progress(link->engine.get(), &VX4Interface::vx4FirmwareUpdateProgressChanged);
    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    QSignalSpy reset(&link->sender, &SimulatedSender::didReset);
    QVERIFY(link->engine->startFirmwareUpdate(rows));
    QCOMPARE(started.size(), 1);
    QVERIFY(finished.wait(15000));
    QCOMPARE(finished.first(), (QVariantList { true, Success }));
    QCOMPARE(progress.size(), rows.size() + 1);
    for (int i = 0; i <= rows.size(); ++i)
        QCOMPARE(progress.at(i).first().toInt(), i);
    QTRY_VERIFY_WITH_TIMEOUT(!reset.isEmpty(), 5000);
    QCOMPARE(reset.first().first().value<VX4App>(), PressureSendingApp);
    QCOMPARE(link->sender.eeprom(EepromBootFlagAddress), EepromBootFlagValid);
    QCOMPARE(link->sender.programMemory(), expected);

    // The bootloader's part of the conversation, in order, each row read and written once.
    QList<quint8> core = { WriteEeprom };
    if (startApp == PressureSendingApp)
        core.prepend(AppChange);
    for (int i = 0; i < rows.size(); ++i)
        core << ReadProgMem << WriteProgMem;
    core << WriteEeprom << Reset;
    QList<quint8> sent = link->sender.requestCommands();
    sent.removeAll(AppQuery);
    sent.erase(std::unique(sent.begin(), sent.end()), sent.end());
    QCOMPARE(sent.mid(0, core.size()), core);
    QCOMPARE(link->sender.requestCommands().count(WriteProgMem), rows.size());
    // After the restart the engine finds the application again.
    QTRY_VERIFY_WITH_TIMEOUT(
        link->engine->isConnected() && link->engine->app() == PressureSendingApp, 10000);
    QVERIFY(!link->engine->isFirmwareUpdateRunning());
}

void TestFirmwareDownload::failures_countedPerStepAndTheFourthAborts_data()
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
    QTest::newRow("state 2: bootloader query answered by the application")
        << repeated(AppQuery, 2, 2, "01") << 2 << Success;
    QTest::newRow("state 5: four unconfirmed writes")
        << repeated(WriteProgMem, 1, 4, "00") << 1 << aborted(5);
    // Row 0: two short reads, two unconfirmed writes; row 1: two unconfirmed writes.
    QTest::newRow("states 4 and 5: two failures at each step of each row")
        << Faults { { ReadProgMem, 1, shortRead }, { ReadProgMem, 2, shortRead } }
            + repeated(WriteProgMem, 1, 2, "00") + repeated(WriteProgMem, 4, 5, "00")
        << 1 << Success;
}

void TestFirmwareDownload::failures_countedPerStepAndTheFourthAborts()
{
    QFETCH(Faults, faults);
    QFETCH(int, appChanges);
    QFETCH(QString, result);
    QVERIFY(connectTo(PressureSendingApp));
    QMap<quint8, int> seen;
    connect(&link->sender, &SimulatedSender::requestReceived, this, [&](const VX4Message &m) {
        const int nth = ++seen[m.command];
        for (const Fault &f : faults) {
            if (f.command != m.command || f.nth != nth)
                continue;
            const quint8 p = quint8(f.payload.at(0));
            // The sender answers a switch or a query truly, from the state that gives the answer.
            if (m.command == AppChange)
                link->sender.setApp(p == 0 ? PressureSendingApp : Bootloader);
            else if (m.command == AppQuery && p <= 1)
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

void TestFirmwareDownload::silenceInEachState_endsWithItsTimeoutText_data()
{
    QTest::addColumn<int>("startApp");
    QTest::addColumn<int>("silenced");
    QTest::addColumn<QString>("text");
    QTest::newRow("0 application query") << int(PressureSendingApp) << int(AppQuery)
                                         << "Timeout while waiting for application query response.";
    QTest::newRow("1 application change")
        << int(PressureSendingApp) << int(AppChange)
        << "Timeout while waiting for application change response.";
    QTest::newRow("3 EEPROM write") << int(Bootloader) << int(WriteEeprom)
                                    << "Timeout while waiting for write to EEPROM response.";
    QTest::newRow("4 row read") << int(Bootloader) << int(ReadProgMem)
                                << "Timeout while waiting for read from program memory response.";
    QTest::newRow("5 row write") << int(Bootloader) << int(WriteProgMem)
                                 << "Timeout while waiting for write to program memory response.";
}

void TestFirmwareDownload::silenceInEachState_endsWithItsTimeoutText()
{
    QFETCH(int, startApp);
    QFETCH(int, silenced);
    QFETCH(QString, text);
    QVERIFY(connectTo(VX4App(startApp)));
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

void TestFirmwareDownload::cancelMidDownload_sendsResetAndReportsNothing()
{
    QVERIFY(connectTo(Bootloader));
    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    QList<ProgramMemoryRow> rows;
    for (quint32 r = 0; r < 20; ++r)
        rows.append(imageRow(r * 64, quint16(r)));
    // The technician cancels while the third row is written.
    connect(link->engine.get(), &VX4Interface::vx4FirmwareUpdateProgressChanged, this,
            [this](int row) {
                if (row == 2)
                    link->engine->finishFirmwareUpdate();
            });
    QVERIFY(link->engine->startFirmwareUpdate(rows));
    QTRY_VERIFY_WITH_TIMEOUT(link->sender.requestCommands().contains(Reset), 5000);
    QCOMPARE(link->sender.requestCommands().count(ReadProgMem), 3);
    QVERIFY(finished.isEmpty());
    QVERIFY(!link->engine->isFirmwareUpdateRunning());
    QCOMPARE(link->sender.eeprom(EepromBootFlagAddress), EepromBootFlagInvalid);
}

void TestFirmwareDownload::refusals_sendNothing()
{
    QVERIFY(connectTo(Bootloader));
    QSignalSpy started(link->engine.get(), &VX4Interface::vx4FirmwareUpdateStarted);
    ProgramMemoryRow shortRow(10);
    shortRow.address = 0x40;
    QVERIFY(!link->engine->startFirmwareUpdate({}));
    QVERIFY(!link->engine->startFirmwareUpdate({ ProgramMemoryRow(ProgramRowWords) }));
    QVERIFY(!link->engine->startFirmwareUpdate({ shortRow }));
    VX4Interface closed(QStringLiteral("/nonexistent/port"), PortSettings());
    QVERIFY(!closed.startFirmwareUpdate({ imageRow(0, 1) }));
    QVERIFY(started.isEmpty());
    QVERIFY(!link->engine->isFirmwareUpdateRunning());
}

QTEST_GUILESS_MAIN(TestFirmwareDownload)
#include "tst_firmwaredownload.moc"
