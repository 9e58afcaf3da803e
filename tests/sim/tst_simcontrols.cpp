// The simulated sender's bootloader stores rows where they are sent, and the simulator's control
// lines and options change the sender, its drift and its faults, or are refused changing nothing.
#include "bytes.h"
#include "ptyendpoint.h"
#include "simcontrols.h"
#include "simulatedsender.h"

#include <QCommandLineParser>
#include <QSignalSpy>
#include <QtTest>

using namespace VX4Protocol;

namespace {
struct Sim
{
    SimulatedSender sender;
    PtyEndpoint pty { &sender };
    // Held still: the applied pressure is the base, whatever the clock says.
    Drift drift { 0, 0, DefaultWobblePeriodS, {} };
    SimTarget target { sender, pty, drift };

    QString state() const
    {
        return simStatus(target)
            + QStringLiteral(", wobble %1 %2").arg(drift.amplitudePsi).arg(drift.periodS);
    }
    void request(quint8 command, const QByteArray &payload)
    {
        sender.receive(VX4Message::buildFrame(RequestMarker, quint8(FrameOverhead + payload.size()),
                                              command, payload));
    }
};
} // namespace

class TestSimControls : public QObject
{
    Q_OBJECT

private slots:
    void init() { sim = std::make_unique<Sim>(); }
    void bootloader_storesAndReadsRowsAtTheirAddress();
    void controlLine_changesSenderOrIsRefused_data();
    void controlLine_changesSenderOrIsRefused();
    void options_standForTheirCommands_data();
    void options_standForTheirCommands();
    void garbage_goesOutNowOrOnTheFirstRequest_data();
    void garbage_goesOutNowOrOnTheFirstRequest();

private:
    std::unique_ptr<Sim> sim;
};

void TestSimControls::bootloader_storesAndReadsRowsAtTheirAddress()
{
    sim->sender.setApp(Bootloader);
    QSignalSpy sent(&sim->sender, &SimulatedSender::transmit);
    QByteArray address, words;
    VX4Bytes::appendAddress24(address, 0x1C0);
    QMap<quint32, quint16> expected;
    for (quint16 k = 0; k < ProgramRowWords; ++k) {
        VX4Bytes::appendWord(words, 0x1000 + 3 * k);
        expected.insert(0x1C0 + k, 0x1000 + 3 * k);
    }
    sim->request(WriteProgMem, address + words);
    QCOMPARE(sim->sender.programMemory(), expected);
    sim->request(ReadProgMem, address);
    QCOMPARE(sent.size(), 2);
    QCOMPARE(VX4Message(sent.at(1).at(0).toByteArray()).payload, words);
}

void TestSimControls::controlLine_changesSenderOrIsRefused_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("statePart"); // empty: refused, the state stays
    // clang-format off
    const QList<QPair<const char *, const char *>> rows {
        { "pressure 1500", "applied 1500.0 PSI" }, { "pressure high", "" },
        { "SERIAL 4321", "serial 4321" }, { "serial 65536", "" }, { "serial", "" },
        { "app bootloader", "app bootloader" }, { "app boot", "" },
        { "mode calibration", "mode calibration" }, { "mode bootloader", "" },
        { "firmware 2.7", "firmware 2.7" }, { "firmware 1.256", "" }, { "firmware 2", "" },
        { "caldate   2024-03-05   14:20", "caldate 2024-03-05 14:20" },
        { "caldate 2024-13-05 14:20", "" }, { "adoffset -32768", "adoffset -32768" },
        { "adoffset 32768", "" }, { "silent on", "silent on" }, { "silent yes", "" },
        { "calerror 10 2", "reading 10 PSI" }, { "calerror 10", "" }, { "calerror 10 2 3", "" },
        { "wobble 2", "wobble 2 8" }, { "wobble 2 4", "wobble 2 4" }, { "wobble -1", "" },
        { "wobble 1 0", "" }, { "interval 60001", "" }, { "corrupt now", "" }, { "bogus 1", "" } };
    // clang-format on
    for (const auto &[line, part] : rows)
        QTest::newRow(line) << line << part;
}

void TestSimControls::controlLine_changesSenderOrIsRefused()
{
    QFETCH(QString, line);
    QFETCH(QString, statePart);
    const QString before = sim->state();
    QString reply;
    QCOMPARE(runControl(sim->target, line, &reply), !statePart.isEmpty());
    if (statePart.isEmpty())
        QCOMPARE(sim->state(), before);
    else
        QVERIFY2(reply == "ok" && sim->state().contains(statePart), qPrintable(sim->state()));
}

void TestSimControls::options_standForTheirCommands_data()
{
    QTest::addColumn<QString>("arguments"); // separated by '|'
    QTest::addColumn<QString>("commands"); // separated by ';', the refused marked by '!'
    // clang-format off
    const QList<QPair<const char *, const char *>> rows {
        { "--cal-date|2024-03-05 14:20|--serial|2417|--firmware|1.3", "firmware 1.3;serial 2417;caldate 2024-03-05 14:20" },
        { "--wobble-period|4", "wobble 3 4" }, { "--wobble|0", "wobble 0 8" },
        { "--cal-error-gain|1.1", "calerror 0 1.1" },
        { "--corrupt-crc|--silent", "silent on;corrupt" },
        { "--fail-writes|2|--answer-delay|30|--drop|1|--stream-interval|0", "interval 0;drop 1;delay 30;failwrites 2" },
        { "--serial|70000", "!serial 70000" }, { "--garbage|", "!garbage " } };
    // clang-format on
    for (const auto &[arguments, commands] : rows)
        QTest::newRow(arguments) << arguments << commands;
}

void TestSimControls::options_standForTheirCommands()
{
    QFETCH(QString, arguments);
    QFETCH(QString, commands);
    QCommandLineParser parser;
    addControlOptions(parser);
    QVERIFY2(parser.parse(QStringLiteral("vx4sim|").append(arguments).split('|')),
             qPrintable(parser.errorText()));
    QStringList lines;
    sim->target.starting = true;
    for (const QStringList &words : optionCommands(parser)) {
        QString reply;
        lines.append((runControl(sim->target, words, &reply) ? "" : "!") + words.join(' '));
    }
    QCOMPARE(lines.join(';'), commands);
}

void TestSimControls::garbage_goesOutNowOrOnTheFirstRequest_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("starting");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("default bytes now") << "garbage" << false << QByteArray::fromHex("5AA5FF00");
    QTest::newRow("given bytes now") << "garbage 01 0203" << false << QByteArray::fromHex("010203");
    QTest::newRow("given bytes up front") << "garbage 0102" << true << QByteArray::fromHex("0102");
}

void TestSimControls::garbage_goesOutNowOrOnTheFirstRequest()
{
    QFETCH(QString, line);
    QFETCH(bool, starting);
    QFETCH(QByteArray, bytes);
    QSignalSpy sent(&sim->sender, &SimulatedSender::transmit);
    sim->target.starting = starting;
    QString reply;
    QVERIFY(runControl(sim->target, line, &reply));
    QCOMPARE(sent.size(), starting ? 0 : 1);
    sim->request(AppQuery, {});
    sim->request(AppQuery, {});
    QCOMPARE(sent.size(), 3); // the garbage once, then the two answers
    QCOMPARE(sent.first().first().toByteArray(), bytes);
}

QTEST_GUILESS_MAIN(TestSimControls)
#include "tst_simcontrols.moc"
