// The simulator's control lines and options change the sender, its drift and its faults, or are
// refused changing nothing.
#include "ptyendpoint.h"
#include "simcontrols.h"
#include "simulatedsender.h"

#include <QCommandLineParser>
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
};
} // namespace

class TestSimControls : public QObject
{
    Q_OBJECT

private slots:
    void init() { sim = std::make_unique<Sim>(); }
    void appChange_acknowledgedThenRestartedLater();
    void controlLine_changesSenderOrIsRefused_data();
    void controlLine_changesSenderOrIsRefused();
    void options_standForTheirCommands_data();
    void options_standForTheirCommands();

private:
    std::unique_ptr<Sim> sim;
};

void TestSimControls::appChange_acknowledgedThenRestartedLater()
{
    QSignalSpy sent(&sim->sender, &SimulatedSender::transmit);
    sim->sender.setStreamInterval(0);
    sim->sender.setRestartDelay(40);
    const QByteArray change = VX4Message::buildFrame(RequestMarker, FrameOverhead, AppChange, {});
    sim->sender.receive(change);
    QCOMPARE(VX4Message(sent.at(0).at(0).toByteArray()).payload, QByteArray(1, '\0'));
    // Still the application until the restart; a second change meanwhile changes nothing.
    sim->sender.receive(change);
    QCOMPARE(sim->sender.app(), PressureSendingApp);
    QTRY_COMPARE(sim->sender.app(), Bootloader);
    QTest::qWait(60);
    QCOMPARE(sim->sender.app(), Bootloader);
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
        { "wobble 1 0", "" }, { "interval 60001", "" }, { "corrupt now", "" }, { "bogus 1", "" },
        { "restartdelay 80", "restart 80 ms" }, { "restartdelay -1", "" },
        { "corruptwrites always", "corrupt writes always" }, { "corruptwrites twice", "" },
        { "noise 2", "bytes in 0 out 0" }, { "noise 0", "" }, { "vanish", "port vanished" } };
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
        { "--serial|70000", "!serial 70000" }, { "--garbage|", "!garbage " },
        { "--restart-delay|200|--corrupt-writes|once", "corruptwrites once;restartdelay 200" } };
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

QTEST_GUILESS_MAIN(TestSimControls)
#include "tst_simcontrols.moc"
