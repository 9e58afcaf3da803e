// The firmware download against the simulated sender over a pseudo-terminal: the image merged into
// the old memory, proved by reading back and marked valid only then; and every way it fails.
#include "VX4interface.h"
#include "downloadimage.h"
#include "simlink.h"

#include <QSignalSpy>
#include <QtTest>

using namespace VX4Protocol;
using Rows = QList<ProgramMemoryRow>;
using Setup = std::function<void(SimLink &)>;

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

class TestDownload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules("default.debug=false"); }
    void init() { link = std::make_unique<SimLink>(); }
    void cleanup() { link.reset(); }
    void download_endsAsTheSenderShows_data();
    void download_endsAsTheSenderShows();
    void malformedDownloads_areRefused();

private:
    std::unique_ptr<SimLink> link;
};

void TestDownload::download_endsAsTheSenderShows_data()
{
    QTest::addColumn<int>("startApp");
    QTest::addColumn<Rows>("rows");
    QTest::addColumn<Faults>("faults");
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("appChanges"); // -1: any number
    QTest::addColumn<int>("rowWrites"); // -1: any number
    QTest::addColumn<QByteArray>("flags"); // values written to the boot flag; empty: any
    const int App = PressureSendingApp;
    const int Boot = Bootloader;
    const Setup none = [](SimLink &) {};
    const auto row = [&](const char *name, int app, const Faults &faults, const QString &result,
                         int appChanges, int rowWrites = -1, const char *flags = "",
                         const Setup &setup = {}, const Rows &rows = image()) {
        QTest::newRow(name) << app << rows << faults << (setup ? setup : none) << result
                            << appChanges << rowWrites << QByteArray::fromHex(flags);
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

void TestDownload::download_endsAsTheSenderShows()
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
        link->sender.setSilent(false);
        link->sender.setCorruptWrites(SimulatedSender::CorruptWrites::Off);
        QTRY_VERIFY_WITH_TIMEOUT(engine->isConnected(), 10000);
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
