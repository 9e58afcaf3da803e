// The firmware download against the simulated sender over a pseudo-terminal: every way it ends,
// what it wrote, its counts, where it left the sender, the restarted sender's read-back, and an
// interruption at a safe point.
#include "VX4interface.h"
#include "downloadimage.h"
#include "simlink.h"

#include <QSignalSpy>
#include <QtTest>

using namespace VX4Protocol;
using Rows = QList<ProgramMemoryRow>;
using Setup = std::function<void(SimLink &)>;
using State = FirmwareDownload::SenderState;

namespace {
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
/// when `payload` is empty; or, with `lateMs`, answered that late.
struct Fault
{
    quint8 command;
    int nth;
    QByteArray payload;
    int lateMs = 0;
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

/// What reached the sender and what the engine tells of it: APP CHANGE, READ and WRITE PROG
/// MEM requests, the values written to the boot flag ("-": none), the counts and the state.
QString outcome(const VX4Interface &engine, const SimulatedSender &sender)
{
    QByteArray flags;
    for (const VX4Message &m : sender.requests()) {
        if (m.command == WriteEeprom && m.payload.size() >= 3)
            flags.append(m.payload.at(2));
    }
    const QList<quint8> sent = sender.requestCommands();
    const FirmwareDownload::Counts n = engine.firmwareUpdateCounts();
    static const char *states[] = { "untouched", "incomplete", "not valid", "updated", "unknown" };
    return QStringLiteral("changes %1, reads %2, writes %3, flag %4, rows %5/%6/%7/%8, %9")
        .arg(sent.count(AppChange))
        .arg(sent.count(ReadProgMem))
        .arg(sent.count(WriteProgMem))
        .arg(flags.isEmpty() ? "-" : flags.toHex())
        .arg(n.total)
        .arg(n.written)
        .arg(n.skipped)
        .arg(n.verified)
        .arg(states[int(engine.firmwareUpdateSenderState())]);
}
} // namespace

class TestDownload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("default.debug=false"); }
    void init();
    void download_endsAsTheSenderShows_data();
    void download_endsAsTheSenderShows();
    void interrupt_endsAtASafePoint_data();
    void interrupt_endsAtASafePoint();
    void malformedDownloads_areRefused();

private:
    std::unique_ptr<SimLink> link;
};

void TestDownload::init()
{
    link = std::make_unique<SimLink>();
    // Without a stream the engine's polls show that it watches the sender.
    link->sender.setStreamInterval(0);
    // Old content: words inside touched rows but outside the image must survive.
    for (quint32 address : { 0x010u, 0x020u, 0x045u, 0x200u, 0xFE7F7Fu })
        link->sender.setProgramWord(address, quint16(0x1280 + address));
    link->sender.setEeprom(EepromBootFlagAddress, 0x5A);
}

void TestDownload::download_endsAsTheSenderShows_data()
{
    QTest::addColumn<int>("startApp");
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<Faults>("faults");
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("version"); // the image's firmware version; the sender runs 1.0
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("expected"); // outcome(), and the read-back after a success
    const int App = PressureSendingApp, Boot = Bootloader;
    const auto row = [&](const char *name, int app, const Faults &faults, const QString &result,
                         const char *expected, const Setup &setup = {}, const Rows &rows = image(),
                         const char *version = "") {
        QTest::newRow(name) << app << rows << faults << setup << QString(version) << result
                            << QString(expected);
    };
    const auto flashedBefore = [](quint16 changed) {
        return [changed](SimLink &l) {
            QSignalSpy back(l.engine.get(), &VX4Interface::vx4FirmwareReadBack);
            QVERIFY(l.engine->startFirmwareUpdate(image(0, changed)) && back.wait(15000));
            QVERIFY(l.waitLineFree());
        };
    };
    const char *const flashed = "changes 1, reads 6, writes 3, flag ffa5, rows 3/3/0/3, updated, "
                                "back 1.0";
    row("from the application", App, {}, Success, flashed);
    // Rows that already hold the image are left alone.
    row("the same image again", Boot, {}, Success,
        "changes 1, reads 3, writes 0, flag ffa5, rows 3/0/3/0, updated, back 1.0",
        flashedBefore(0));
    row("one row changed", Boot, {}, Success,
        "changes 1, reads 4, writes 1, flag ffa5, rows 3/1/2/1, updated, back 1.0",
        flashedBefore(1));
    // A new version writes the rows it covers whole without reading them first.
    row("a new version", App, {}, Success,
        "changes 1, reads 8, writes 5, flag ffa5, rows 5/5/0/5, updated, back 1.0", {}, image(2),
        "2.6");
    row("the same version", App, {}, Success,
        "changes 1, reads 10, writes 5, flag ffa5, rows 5/5/0/5, updated, back 1.0", {}, image(2),
        "1.0");
    // An application that acknowledges APP CHANGE and restarts later is asked only once it has,
    // and given 5 s; one that never does is asked three times.
    const auto restart = [](int ms) { return [ms](SimLink &l) { l.sender.setRestartDelay(ms); }; };
    row("restart after 1.6 s", App, {}, Success, flashed, restart(1600));
    row("restart after 3 s", App, {}, Success, flashed, restart(3000));
    row("restart never", App, {}, aborted(1),
        "changes 3, reads 0, writes 0, flag -, rows 3/0/0/0, unknown", restart(60000));
    // Failures are counted per state; the fourth in one aborts.
    row("state 0: four unknown applications", App, repeated(AppQuery, 1, 4, "02"), aborted(0),
        "changes 0, reads 0, writes 0, flag -, rows 3/0/0/0, untouched");
    row("state 0: three unknown applications, then on", App, repeated(AppQuery, 1, 3, "02"),
        Success, flashed);
    // An empty answer names no application, not the bootloader.
    row("state 0: an empty answer", App, {}, Success, flashed,
        [](SimLink &l) { l.sender.setEmptyAppAnswers(1); });
    row("state 1: APP CHANGE never accepted", App, repeated(AppChange, 1, 8, "01"), aborted(1),
        "changes 3, reads 0, writes 0, flag -, rows 3/0/0/0, untouched");
    // The third query is the settle query; the second is the connecting sequence's own.
    row("state 2: bootloader query answered by the application", App,
        repeated(AppQuery, 3, 3, "01"), Success,
        "changes 2, reads 6, writes 3, flag ffa5, rows 3/3/0/3, updated, back 1.0");
    row("state 5: four unconfirmed writes", App, repeated(WriteProgMem, 1, 4, "00"), aborted(5),
        "changes 1, reads 1, writes 4, flag ff, rows 3/0/0/0, incomplete");
    // Row 0: two short reads, two unconfirmed writes; row 1: two short reads, counted afresh.
    const QByteArray shortRead(100, '\x12');
    row("states 4 and 5: two failures at each step of each row", App,
        Faults { { ReadProgMem, 1, shortRead },
                 { ReadProgMem, 2, shortRead },
                 { ReadProgMem, 5, shortRead },
                 { ReadProgMem, 6, shortRead } }
            + repeated(WriteProgMem, 1, 2, "00"),
        Success, "changes 1, reads 10, writes 5, flag ffa5, rows 3/3/0/3, updated, back 1.0");
    // The late answer's second copy must not pass for the next row's read.
    row("a read answered after its time-out", Boot, { { ReadProgMem, 2, {}, 1600 } }, Success,
        "changes 0, reads 7, writes 3, flag ffa5, rows 3/3/0/3, updated, back 1.0");
    // A two-wire line hands every request back before its answer; rows full of the answer's
    // start marker must not hold the line.
    Rows markerRows = image();
    for (ProgramMemoryRow &r : markerRows)
        std::replace_if(
            r.words.begin(), r.words.end(), [](quint32 w) { return w != ProgramMemoryRow::NoData; },
            quint32(0xFF3C));
    row(
        "an echoing line", Boot, {}, Success,
        "changes 0, reads 6, writes 3, flag ffa5, rows 3/3/0/3, updated, back 1.0",
        [](SimLink &l) { l.pty.setEcho(true); }, markerRows);
    // A row read back wrong is written again, but the valid flag never goes over it.
    const auto corrupt = [](SimulatedSender::CorruptWrites how) {
        return [how](SimLink &l) { l.sender.setCorruptWrites(how); };
    };
    row("one row stored wrong once", Boot, {}, Success,
        "changes 0, reads 7, writes 4, flag ffa5, rows 3/3/0/3, updated, back 1.0",
        corrupt(SimulatedSender::CorruptWrites::Once));
    row("every row stored wrong", Boot, {},
        "Aborting firmware update.  The row at address 0x000000 did not read back as written "
        "after 4 writes.",
        "changes 0, reads 5, writes 4, flag ff, rows 3/1/0/0, incomplete",
        corrupt(SimulatedSender::CorruptWrites::Always));
    // Silence in a state, and requests queued before the download that never end.
    row("silent in state 0", App, repeated(AppQuery, 1, 20), timedOut("application query"),
        "changes 0, reads 0, writes 0, flag -, rows 3/0/0/0, untouched");
    row("silent in state 5", Boot, repeated(WriteProgMem, 1, 20),
        timedOut("write to program memory"),
        "changes 0, reads 1, writes 3, flag ff, rows 3/0/0/0, incomplete");
    row("valid flag unconfirmed", Boot, repeated(WriteEeprom, 2, 20),
        "Timeout while waiting for the valid flag write response; the new firmware is not marked "
        "valid.",
        "changes 0, reads 6, writes 3, flag ffa5a5a5, rows 3/3/0/3, not valid");
    row("silent after the reset", Boot, {}, Success,
        "changes 0, reads 6, writes 3, flag ffa5, rows 3/3/0/3, updated, back none",
        [](SimLink &l) {
            QObject::connect(&l.sender, &SimulatedSender::didReset, &l.sender,
                             [&l] { l.sender.setSilent(true); });
        });
    row("line never free", App, {}, timedOut("application query"),
        "changes 0, reads 0, writes 0, flag -, rows 3/0/0/0, untouched", [](SimLink &l) {
            l.sender.setSilent(true);
            l.engine->queryMode();
            l.engine->queryMode();
        });
}

void TestDownload::download_endsAsTheSenderShows()
{
    QFETCH(int, startApp);
    QFETCH(Rows, rows);
    QFETCH(Faults, faults);
    QFETCH(Setup, setup);
    QFETCH(QString, version);
    QFETCH(QString, result);
    QFETCH(QString, expected);
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
            if (f.lateMs > 0) {
                link->sender.delayNextAnswer(f.lateMs);
                continue;
            }
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
    const qsizetype firstArrival = link->arrivalMs.size(); // of requests().first()
    const QMap<quint32, quint16> expectedMemory = memoryAfterDownload(link->sender, rows);
    VX4Interface *engine = link->engine.get();
    // What a listener finds when each signal arrives: the download's state is already updated.
    QStringList shown;
    connect(engine, &VX4Interface::vx4FirmwareUpdateProgressChanged, this, [&](int row) {
        shown.append(QString::number(row) + (engine->isFirmwareUpdateRunning() ? "" : " over"));
    });
    connect(engine, &VX4Interface::vx4FirmwareUpdateFinished, this,
            [&] { shown.append(QString::number(link->sender.eeprom(EepromBootFlagAddress), 16)); });
    QSignalSpy finished(engine, &VX4Interface::vx4FirmwareUpdateFinished);
    QSignalSpy readBack(engine, &VX4Interface::vx4FirmwareReadBack);
    QVERIFY(engine->startFirmwareUpdate(rows, true, version));
    QVERIFY(finished.wait(30000));
    QCOMPARE(finished, (QList<QVariantList> { { result == Success, result } }));
    QVERIFY(!engine->isFirmwareUpdateRunning());
    const QString over = QStringLiteral("%1 over").arg(rows.size());
    if (result == Success) {
        // Each row shown, the last once the download is over; success once the flag is valid.
        QStringList progress;
        for (int i = 0; i < rows.size(); ++i)
            progress.append(QString::number(i));
        QCOMPARE(shown, progress << over << "a5");
        QCOMPARE(link->sender.programMemory(), expectedMemory);
        // From the application, no row is touched before the bootloader could have started: half
        // a second after APP CHANGE.
        const QList<quint8> sent = link->sender.requestCommands();
        if (startApp == PressureSendingApp) {
            const qsizetype change = sent.indexOf(AppChange);
            QVERIFY(change >= 0);
            const auto row = std::find_if(sent.begin() + change, sent.end(), [](quint8 c) {
                return c == ReadProgMem || c == WriteProgMem;
            });
            QVERIFY(row != sent.end());
            const qint64 gap = link->arrivalMs.at(firstArrival + (row - sent.begin()))
                - link->arrivalMs.at(firstArrival + change);
            QVERIFY2(gap >= 490, qPrintable(QString::number(gap)));
        }
        // The restarted sender connects again and tells its version.
        QVERIFY(readBack.wait(10000));
        const QVariantList back = readBack.first();
        QCOMPARE(outcome(*engine, link->sender) + ", back "
                     + (back.at(0).toBool() ? back.at(1).toString() : "none"),
                 expected);
        return;
    }
    QVERIFY(!shown.contains(over));
    QCOMPARE(outcome(*engine, link->sender), expected);
    // With the faults gone the engine asks the sender again once the line is quiet.
    faults.clear();
    QVERIFY(link->control("silent off;corruptwrites off"));
    QVERIFY(link->waitLineFree(10000));
    const qsizetype asked = link->sender.requests().size();
    QTRY_VERIFY_WITH_TIMEOUT(link->sender.requests().size() > asked, 5000);
    QVERIFY(readBack.isEmpty());
}

void TestDownload::interrupt_endsAtASafePoint_data()
{
    QTest::addColumn<int>("onRequest"); // interrupted as the sender receives it; -1: idle
    QTest::addColumn<int>("nth");
    QTest::addColumn<QString>("expected"); // the ends signalled; outcome() after a download
    const QString ended = QStringLiteral("Firmware update interrupted., interrupted; ");
    QTest::newRow("idle") << -1 << 0 << "interrupted";
    QTest::newRow("a row write answered")
        << int(WriteProgMem) << 2
        << ended + "changes 0, reads 3, writes 2, flag ff, rows 3/2/0/1, incomplete";
    // The sender keeps silent from the first read on.
    QTest::newRow("a row read unanswered")
        << int(ReadProgMem) << 1
        << ended + "changes 0, reads 1, writes 0, flag ff, rows 3/0/0/0, incomplete";
    QTest::newRow("the valid flag answered")
        << int(WriteEeprom) << 2
        << ended + "changes 0, reads 6, writes 3, flag ffa5, rows 3/3/0/3, updated";
}

void TestDownload::interrupt_endsAtASafePoint()
{
    QFETCH(int, onRequest);
    QFETCH(int, nth);
    QFETCH(QString, expected);
    QVERIFY(link->connectAs(Bootloader));
    VX4Interface *engine = link->engine.get();
    QStringList ends;
    connect(engine, &VX4Interface::vx4FirmwareUpdateFinished, this,
            [&](bool, const QString &text) { ends.append(text); });
    connect(engine, &VX4Interface::vx4Interrupted, this, [&] { ends.append("interrupted"); });
    int seen = 0;
    connect(&link->sender, &SimulatedSender::requestReceived, this, [&](const VX4Message &m) {
        if (m.command != onRequest || ++seen != nth)
            return;
        link->sender.setSilent(m.command == ReadProgMem);
        engine->interrupt();
    });
    link->sender.clearRequests();
    if (onRequest < 0)
        engine->interrupt();
    else
        QVERIFY(engine->startFirmwareUpdate(image()));
    QTRY_VERIFY(ends.contains("interrupted"));
    // Nothing more reaches the sender: no resend, no next row, no RESET, no poll.
    const qsizetype asked = link->sender.requests().size();
    QVERIFY(!QTest::qWaitFor([&] { return link->sender.requests().size() > asked; }, 1500));
    QCOMPARE(ends.join(", ") + (onRequest < 0 ? "" : "; " + outcome(*engine, link->sender)),
             expected);
    // Until it is asked to connect again.
    link->sender.setSilent(false);
    QSignalSpy connected(engine, &VX4Interface::vx4ConnectedSignal);
    engine->startConnecting();
    QVERIFY(connected.wait(5000));
}

void TestDownload::malformedDownloads_areRefused()
{
    QVERIFY(link->connectAs(Bootloader));
    QVERIFY(!link->engine->startFirmwareUpdate({}));
    QVERIFY(!link->engine->startFirmwareUpdate({ ProgramMemoryRow(ProgramRowWords) }));
    QVERIFY(!link->engine->startFirmwareUpdate({ ProgramMemoryRow(10) }));
    // An address the 24 bits on the wire cannot carry, or one inside a row.
    QVERIFY(!link->engine->startFirmwareUpdate({ imageRow(ProgramWordSpace, 1) }));
    QVERIFY(!link->engine->startFirmwareUpdate({ imageRow(0x20, 1) }));
    VX4Interface closed(QStringLiteral("/nonexistent/port"), PortSettings());
    QVERIFY(!closed.startFirmwareUpdate({ imageRow(0, 1) }));
}

QTEST_GUILESS_MAIN(TestDownload)
#include "tst_download.moc"
