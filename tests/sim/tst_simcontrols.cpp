// The simulator's control lines and options change the sender, its drift and its faults, or are
// refused changing nothing; options stand for the control lines they name.
#include "simlink.h"

#include <QCommandLineParser>
#include <QtTest>

namespace {
/// The sender's state, with the drift the controls change.
QString state(const SimLink &sim)
{
    return simStatus(sim.target)
        + QStringLiteral(", wobble %1 %2").arg(sim.drift.amplitudePsi).arg(sim.drift.periodS);
}
} // namespace

class TestSimControls : public QObject
{
    Q_OBJECT

private slots:
    void input_changesSenderOrIsRefused_data();
    void input_changesSenderOrIsRefused();
};

void TestSimControls::input_changesSenderOrIsRefused_data()
{
    QTest::addColumn<QString>("input"); // a control line, or options separated by '|'
    // For a line: part of the state after it, empty when refused. For options: the control lines
    // they stand for, separated by ';', each refused one marked by '!'.
    QTest::addColumn<QString>("expected");
    // clang-format off
    const QList<QPair<const char *, const char *>> rows {
        { "pressure 1500", "applied 1500.0 PSI" }, { "pressure high", "" },
        { "SERIAL 4321", "serial 4321" }, { "serial 65536", "" },
        { "app bootloader", "app bootloader" }, { "mode calibration", "mode calibration" },
        { "mode bootloader", "" }, { "firmware 2.7", "firmware 2.7" }, { "firmware 1.256", "" },
        { "caldate   2024-03-05   14:20", "caldate 2024-03-05 14:20" },
        { "caldate 2024-13-05 14:20", "" }, { "adoffset -32768", "adoffset -32768" },
        { "silent on", "silent on" }, { "silent yes", "" }, { "calerror 10 2", "reading 10 PSI" },
        { "calerror 10", "" }, { "wobble 2", "wobble 2 8" }, { "wobble 2 4", "wobble 2 4" },
        { "wobble -1", "" }, { "interval 60001", "" }, { "bogus 1", "" },
        { "restartdelay 80", "restart 80 ms" }, { "corruptwrites always", "corrupt writes always" },
        { "corruptwrites twice", "" }, { "noise 2", "bytes in 0 out 4" },
        { "vanish", "port vanished" }, { "echo on", "echo on" },
        { "--echo|--late-answer|1300|--empty-app-answers|1", "late 1300;emptyapp 1;echo on" },
        { "--cal-date|2024-03-05 14:20|--serial|2417|--firmware|1.3", "firmware 1.3;serial 2417;caldate 2024-03-05 14:20" },
        { "--wobble-period|4", "wobble 3 4" }, { "--wobble|0", "wobble 0 8" },
        { "--corrupt-crc|--silent", "silent on;corrupt" },
        { "--fail-writes|2|--answer-delay|30|--drop|1|--stream-interval|0", "interval 0;drop 1;delay 30;failwrites 2" },
        { "--serial|70000", "!serial 70000" }, { "--garbage|", "!garbage " },
        { "--restart-delay|200|--corrupt-writes|once", "corruptwrites once;restartdelay 200" } };
    // clang-format on
    for (const auto &[input, expected] : rows)
        QTest::newRow(input) << input << expected;
}

void TestSimControls::input_changesSenderOrIsRefused()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    SimLink sim;
    QString reply;
    if (input.startsWith("--")) {
        QCommandLineParser parser;
        addControlOptions(parser);
        QVERIFY2(parser.parse(("vx4sim|" + input).split('|')), qPrintable(parser.errorText()));
        sim.target.starting = true;
        QStringList lines;
        for (const QStringList &words : optionCommands(parser))
            lines.append((runControl(sim.target, words, &reply) ? "" : "!") + words.join(' '));
        QCOMPARE(lines.join(';'), expected);
        return;
    }
    const QString before = state(sim);
    QCOMPARE(runControl(sim.target, input, &reply), !expected.isEmpty());
    if (expected.isEmpty())
        QCOMPARE(state(sim), before);
    else
        QVERIFY2(reply == "ok" && state(sim).contains(expected), qPrintable(state(sim)));
}

QTEST_GUILESS_MAIN(TestSimControls)
#include "tst_simcontrols.moc"
