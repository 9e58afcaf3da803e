// The firmware download against the simulated sender over a pseudo-terminal: the image merged into
// the old memory, proved by reading back and marked valid only then; and every way it fails.
#include "VX4interface.h"
#include "downloadimage.h"
#include "simlink.h"

#include <QSignalSpy>
#include <QtTest>

using namespace VX4Protocol;
using Setup = std::function<void(SimLink &)>;

namespace {
const QList<ProgramMemoryRow> TwoRows = { imageRow(0x040, 0x1000), imageRow(0x080, 0x2000) };
const QString Success = QStringLiteral("Firmware update completed successfully!");

/// The `nth` request (counted from 1; 0: every one) of `command` is answered with `payload`, or
/// not at all when `payload` is empty.
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
} // namespace

class TestDownload : public QObject
{
    Q_OBJECT

private slots:
    void init() { link = std::make_unique<SimLink>(); }
    void initTestCase() { QLoggingCategory::setFilterRules("default.debug=false"); }
    void cleanup() { link.reset(); }
    void download_writesTheMergedImageThenMarksItValid_data();
    void download_writesTheMergedImageThenMarksItValid();
    void failure_endsTheDownloadWithItsText_data();
    void failure_endsTheDownloadWithItsText();
    void malformedDownloads_areRefused();

private:
    std::unique_ptr<SimLink> link;
};

void TestDownload::download_writesTheMergedImageThenMarksItValid_data()
{
    QTest::addColumn<int>("startApp");
    QTest::addColumn<int>("extraRows");
    QTest::addColumn<int>("answerDelayMs");
    QTest::addColumn<int>("again"); // 0: a first download; 1: the same image again; 2: changed
    QTest::newRow("from the application") << int(PressureSendingApp) << 0 << 0 << 0;
    QTest::newRow("from the bootloader") << int(Bootloader) << 0 << 0 << 0;
    // Rows still under way when the delayed bootloader query is answered.
    QTest::newRow("many rows, slow answers") << int(PressureSendingApp) << 17 << 15 << 0;
    QTest::newRow("the same image again") << int(Bootloader) << 0 << 0 << 1;
    QTest::newRow("one row changed") << int(Bootloader) << 0 << 0 << 2;
}

void TestDownload::download_writesTheMergedImageThenMarksItValid()
{
    QFETCH(int, startApp);
    QFETCH(int, extraRows);
    QFETCH(int, answerDelayMs);
    QFETCH(int, again);
    // Old content: words inside touched rows but outside the image must survive.
    for (quint32 address : { 0x010u, 0x020u, 0x045u, 0x200u, 0xFE7F7Fu })
        link->sender.setProgramWord(address, quint16(0x1280 + address));
    link->sender.setEeprom(EepromBootFlagAddress, 0x5A);
    QVERIFY(link->connectAs(VX4App(startApp)));
    QList<ProgramMemoryRow> rows
        = { imageRow(0x000, 0x1000, 0, 15), imageRow(0x040, 0x2000, 32, 63),
            imageRow(0xFE7F40, 0x3000, 0, 3) };
    for (int i = 0; i < extraRows; ++i)
        rows.insert(2, imageRow(0x1000 - 64 * i, quint16(i * 100)));
    VX4Interface *engine = link->engine.get();
    const auto backInTheApplication = [engine] {
        return engine->isConnected() && engine->app() == PressureSendingApp
            && engine->queuedMessages().isEmpty();
    };
    QSignalSpy finished(engine, &VX4Interface::vx4FirmwareUpdateFinished);
    if (again) {
        QVERIFY(engine->startFirmwareUpdate(rows) && finished.wait(15000));
        QVERIFY(QTest::qWaitFor(backInTheApplication, 10000));
        rows[1].words[40] += again - 1;
        startApp = PressureSendingApp;
        finished.clear();
    }
    const auto written = [&](int row) { return again == 0 || (again == 2 && row == 1); };
    link->sender.setAnswerDelay(answerDelayMs);
    link->sender.clearRequests();
    const QMap<quint32, quint16> expected = memoryAfterDownload(link->sender, rows);
    // What a listener finds when each signal arrives: a written row's write is on the line when
    // its progress shows; success comes once the valid flag is confirmed and the download is over.
    QStringList seen, shouldSee;
    connect(engine, &VX4Interface::vx4FirmwareUpdateProgressChanged, this, [&](int row) {
        seen.append(QStringLiteral("%1:%2").arg(row).arg(
            row < rows.size() ? engine->queuedMessages().value(0).command == WriteProgMem
                              : engine->isFirmwareUpdateRunning()));
    });
    connect(engine, &VX4Interface::vx4FirmwareUpdateFinished, this, [&](bool ok, QString text) {
        seen.append(QStringLiteral("%1 %2, running %3, flag %4")
                        .arg(ok)
                        .arg(text)
                        .arg(engine->isFirmwareUpdateRunning())
                        .arg(link->sender.eeprom(EepromBootFlagAddress), 0, 16));
    });
    QList<quint8> requests = { WriteEeprom };
    if (startApp == PressureSendingApp)
        requests.prepend(AppChange);
    for (int i = 0; i < rows.size(); ++i) {
        shouldSee.append(QStringLiteral("%1:%2").arg(i).arg(written(i)));
        requests << ReadProgMem;
        if (written(i))
            requests << WriteProgMem << ReadProgMem;
    }
    shouldSee << QStringLiteral("%1:0").arg(rows.size()) << "1 " + Success + ", running 0, flag a5";
    requests << WriteEeprom << Reset;

    QVERIFY(engine->startFirmwareUpdate(rows));
    QVERIFY(finished.wait(15000));
    QCOMPARE(seen, shouldSee);
    QCOMPARE(link->sender.programMemory(), expected);
    // After the restart the engine finds the application again.
    QVERIFY(QTest::qWaitFor(backInTheApplication, 10000));
    // The download's part of the conversation, in order, up to the first RESET; the connecting
    // sequence's requests after APP CHANGE and the polls are left out.
    QList<quint8> sent = link->sender.requestCommands();
    sent.removeIf([](quint8 c) { return c == AppQuery || c > ReadEeprom; });
    QCOMPARE(sent.mid(0, requests.size()), requests);
}

void TestDownload::failure_endsTheDownloadWithItsText_data()
{
    QTest::addColumn<int>("startApp");
    QTest::addColumn<Faults>("faults");
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("appChanges"); // -1: any number
    QTest::addColumn<int>("rowWrites"); // -1: any number
    QTest::addColumn<QByteArray>("flags"); // values written to the boot flag; empty: any
    const int App = PressureSendingApp;
    const Setup none = [](SimLink &) {};
    const auto row
        = [&](const char *name, int app, const Faults &faults, const QString &result,
              int appChanges, int rowWrites = -1, const char *flags = "", const Setup &setup = {}) {
              QTest::newRow(name) << app << faults << (setup ? setup : none) << result << appChanges
                                  << rowWrites << QByteArray::fromHex(flags);
          };
    // Counted per state; the fourth failure in one aborts.
    row("state 0: four unknown applications", App, repeated(AppQuery, 1, 4, "02"), aborted(0), 0);
    row("state 0: three unknown applications, then on", App, repeated(AppQuery, 1, 3, "02"),
        Success, 1, 2);
    row("state 1: APP CHANGE never accepted", App, repeated(AppChange, 1, 8, "01"), aborted(1), -1,
        0, "");
    // The third query is the settle query; the second is the connecting sequence's own.
    row("state 2: bootloader query answered by the application", App,
        repeated(AppQuery, 3, 3, "01"), Success, 2, 2);
    row("state 5: four unconfirmed writes", App, repeated(WriteProgMem, 1, 4, "00"), aborted(5), 1,
        4, "ff");
    // Row 0: two short reads, two unconfirmed writes; row 1: two unconfirmed writes.
    const QByteArray shortRead(100, '\x12');
    row("states 4 and 5: two failures at each step of each row", App,
        Faults { { ReadProgMem, 1, shortRead }, { ReadProgMem, 2, shortRead } }
            + repeated(WriteProgMem, 1, 2, "00") + repeated(WriteProgMem, 4, 5, "00"),
        Success, 1, 6);
    // A row read back wrong is written again, but the valid flag never goes over it.
    const auto corrupt = [](SimulatedSender::CorruptWrites how) {
        return [how](SimLink &l) { l.sender.setCorruptWrites(how); };
    };
    row("one row stored wrong once", int(Bootloader), {}, Success, 0, 3, "ffa5",
        corrupt(SimulatedSender::CorruptWrites::Once));
    row("every row stored wrong", int(Bootloader), {},
        "Aborting firmware update.  The row at address 0x000040 did not read back as written "
        "after 4 writes.",
        0, 4, "ff", corrupt(SimulatedSender::CorruptWrites::Always));
    // An application that acknowledges APP CHANGE and restarts later is asked only once it has;
    // one that never does is asked three times.
    const auto restart = [](int ms) { return [ms](SimLink &l) { l.sender.setRestartDelay(ms); }; };
    row("restart after 200 ms", App, {}, Success, 1, 2, "ffa5", restart(200));
    row("restart never", App, {}, aborted(1), 3, 0, "", restart(60000));
    // Silence in each state, and requests queued before that never end.
    row("silent in state 0", App, repeated(AppQuery, 1, 20), timedOut("application query"), 0);
    row("silent in state 1", App, repeated(AppChange, 1, 20), timedOut("application change"), -1);
    row("silent in state 3", int(Bootloader), repeated(WriteEeprom, 1, 20),
        timedOut("write to EEPROM"), 0, 0);
    row("silent in state 4", int(Bootloader), repeated(ReadProgMem, 1, 20),
        timedOut("read from program memory"), 0, 0, "ff");
    row("silent in state 5", int(Bootloader), repeated(WriteProgMem, 1, 20),
        timedOut("write to program memory"), 0, 3, "ff");
    row("valid flag unconfirmed", int(Bootloader), repeated(WriteEeprom, 2, 20),
        "Timeout while waiting for the valid flag write response; the new firmware is not marked "
        "valid.",
        0, 2, "ffa5a5a5");
    row("line never free", App, {}, timedOut("application query"), 0, 0, "", [](SimLink &l) {
        l.sender.setSilent(true);
        l.engine->queryMode();
        l.engine->queryMode();
    });
}

void TestDownload::failure_endsTheDownloadWithItsText()
{
    QFETCH(int, startApp);
    QFETCH(Faults, faults);
    QFETCH(Setup, setup);
    QFETCH(QString, result);
    QFETCH(int, appChanges);
    QFETCH(int, rowWrites);
    QFETCH(QByteArray, flags);
    QVERIFY(link->connectAs(VX4App(startApp)));
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
    setup(*link);
    const QMap<quint32, quint16> expected = memoryAfterDownload(link->sender, TwoRows);
    QSignalSpy progress(link->engine.get(), &VX4Interface::vx4FirmwareUpdateProgressChanged);
    QSignalSpy finished(link->engine.get(), &VX4Interface::vx4FirmwareUpdateFinished);
    QVERIFY(link->engine->startFirmwareUpdate(TwoRows));
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished, (QList<QVariantList> { { result == Success, result } }));
    const QList<quint8> sent = link->sender.requestCommands();
    QVERIFY(appChanges < 0 || sent.count(AppChange) == appChanges);
    QVERIFY(rowWrites < 0 || sent.count(WriteProgMem) == rowWrites);
    QVERIFY(flags.isEmpty() || flagWrites(link->sender) == flags);
    QVERIFY(!link->engine->isFirmwareUpdateRunning());
    if (result == Success) {
        QCOMPARE(link->sender.programMemory(), expected);
    } else {
        // The final progress value belongs to success alone.
        QVERIFY(progress.isEmpty() || progress.last().first().toInt() < TwoRows.size());
        // With the faults gone the engine finds the sender again.
        faults.clear();
        link->sender.setSilent(false);
        link->sender.setCorruptWrites(SimulatedSender::CorruptWrites::Off);
        link->sender.setRestartDelay(30);
        QTRY_VERIFY_WITH_TIMEOUT(link->engine->isConnected(), 10000);
    }
}

void TestDownload::malformedDownloads_areRefused()
{
    QVERIFY(link->connectAs(Bootloader));
    QVERIFY(!link->engine->startFirmwareUpdate({}));
    QVERIFY(!link->engine->startFirmwareUpdate({ ProgramMemoryRow(ProgramRowWords) }));
    QVERIFY(!link->engine->startFirmwareUpdate({ ProgramMemoryRow(10) }));
    VX4Interface closed(QStringLiteral("/nonexistent/port"), PortSettings());
    QVERIFY(!closed.startFirmwareUpdate({ imageRow(0, 1) }));
}

QTEST_GUILESS_MAIN(TestDownload)
#include "tst_download.moc"
