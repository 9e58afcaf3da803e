// The simulator's controls: each command line's effect on the sender or its refusal, the options
// turned into the same commands, garbage now or on the first request, and the help's layout.
#include "ptyendpoint.h"
#include "simcontrols.h"
#include "simulatedsender.h"
#include "vx4protocol.h"

#include <QCommandLineParser>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace VX4Protocol;

class TestSimControls : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void controlLine_changesSenderOrIsRefused_data();
    void controlLine_changesSenderOrIsRefused();
    void wobble_keepsThePeriodUnlessGiven_data();
    void wobble_keepsThePeriodUnlessGiven();
    void options_standForTheirCommands_data();
    void options_standForTheirCommands();
    void garbage_goesOutNowOrOnTheFirstRequest_data();
    void garbage_goesOutNowOrOnTheFirstRequest();
    void help_alignsTheTextsInOneColumn_data();
    void help_alignsTheTextsInOneColumn();

private:
    std::unique_ptr<SimulatedSender> sender;
    std::unique_ptr<PtyEndpoint> pty;
    std::unique_ptr<Drift> drift;
    std::unique_ptr<SimTarget> target;
};

void TestSimControls::init()
{
    sender = std::make_unique<SimulatedSender>();
    pty = std::make_unique<PtyEndpoint>(sender.get());
    drift = std::make_unique<Drift>();
    drift->amplitudePsi = 0; // the applied pressure is the base, whatever the clock says
    target = std::make_unique<SimTarget>(SimTarget { *sender, *pty, *drift });
}

void TestSimControls::cleanup()
{
    target.reset();
    drift.reset();
    pty.reset();
    sender.reset();
}

void TestSimControls::controlLine_changesSenderOrIsRefused_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("statusPart"); // empty: refused, the state stays

    QTest::newRow("pressure") << "pressure 1500"
                              << "applied 1500.0 PSI";
    QTest::newRow("pressure not a number") << "pressure high"
                                           << "";
    QTest::newRow("serial") << "serial 4321"
                            << "serial 4321";
    QTest::newRow("serial upper case command") << "SERIAL 7"
                                               << "serial 7";
    QTest::newRow("serial above range") << "serial 65536"
                                        << "";
    QTest::newRow("serial missing") << "serial"
                                    << "";
    QTest::newRow("app bootloader") << "app bootloader"
                                    << "app bootloader";
    QTest::newRow("app unknown") << "app boot"
                                 << "";
    QTest::newRow("mode calibration") << "mode calibration"
                                      << "mode calibration";
    QTest::newRow("mode unknown") << "mode bootloader"
                                  << "";
    QTest::newRow("firmware") << "firmware 2.7"
                              << "firmware 2.7";
    QTest::newRow("firmware without minor") << "firmware 2"
                                            << "";
    QTest::newRow("firmware minor above range") << "firmware 1.256"
                                                << "";
    QTest::newRow("caldate") << "caldate 2024-03-05 14:20"
                             << "caldate 2024-03-05 14:20";
    QTest::newRow("caldate spaced") << "caldate   2024-03-05   14:20"
                                    << "caldate 2024-03-05 14:20";
    QTest::newRow("caldate bad month") << "caldate 2024-13-05 14:20"
                                       << "";
    QTest::newRow("adoffset lowest") << "adoffset -32768"
                                     << "adoffset -32768";
    QTest::newRow("adoffset above range") << "adoffset 32768"
                                          << "";
    QTest::newRow("silent on") << "silent on"
                               << "silent on";
    QTest::newRow("silent unknown") << "silent yes"
                                    << "";
    QTest::newRow("calerror") << "calerror 10 2"
                              << "reading 10 PSI";
    QTest::newRow("calerror one number") << "calerror 10"
                                         << "";
    QTest::newRow("calerror three numbers") << "calerror 10 2 3"
                                            << "";
    QTest::newRow("interval above range") << "interval 60001"
                                          << "";
    QTest::newRow("corrupt with words") << "corrupt now"
                                        << "";
    QTest::newRow("status with words") << "status now"
                                       << "";
    QTest::newRow("unknown command") << "bogus 1"
                                     << "";
}

void TestSimControls::controlLine_changesSenderOrIsRefused()
{
    QFETCH(QString, line);
    QFETCH(QString, statusPart);
    const QString before = simStatus(*target);
    QString reply;
    const bool accepted = runControl(*target, line, &reply);
    QCOMPARE(accepted, !statusPart.isEmpty());
    if (accepted) {
        QCOMPARE(reply, QStringLiteral("ok"));
        QVERIFY2(simStatus(*target).contains(statusPart), qPrintable(simStatus(*target)));
    } else {
        QCOMPARE(simStatus(*target), before);
    }
}

void TestSimControls::wobble_keepsThePeriodUnlessGiven_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<double>("amplitude");
    QTest::addColumn<double>("period");

    QTest::newRow("amplitude only") << "wobble 2" << true << 2.0 << 8.0;
    QTest::newRow("amplitude and period") << "wobble 2 4" << true << 2.0 << 4.0;
    QTest::newRow("held still") << "wobble 0" << true << 0.0 << 8.0;
    QTest::newRow("negative amplitude") << "wobble -1" << false << 0.0 << 8.0;
    QTest::newRow("zero period") << "wobble 1 0" << false << 0.0 << 8.0;
}

void TestSimControls::wobble_keepsThePeriodUnlessGiven()
{
    QFETCH(QString, line);
    QFETCH(bool, accepted);
    QFETCH(double, amplitude);
    QFETCH(double, period);
    QString reply;
    QCOMPARE(runControl(*target, line, &reply), accepted);
    QCOMPARE(drift->amplitudePsi, amplitude);
    QCOMPARE(drift->periodS, period);
}

void TestSimControls::options_standForTheirCommands_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("none") << QStringList() << QStringList() << true;
    QTest::newRow("identity") << QStringList { "--cal-date", "2024-03-05 14:20", "--serial",
                                               "2417",       "--firmware",       "1.3" }
                              << QStringList { "firmware 1.3", "serial 2417",
                                               "caldate 2024-03-05 14:20" }
                              << true;
    QTest::newRow("drift period alone")
        << QStringList { "--wobble-period", "4" } << QStringList { "wobble 3 4" } << true;
    QTest::newRow("drift amplitude alone")
        << QStringList { "--wobble", "0" } << QStringList { "wobble 0 8" } << true;
    QTest::newRow("calibration gain alone")
        << QStringList { "--cal-error-gain", "1.1" } << QStringList { "calerror 0 1.1" } << true;
    QTest::newRow("switches") << QStringList { "--corrupt-crc", "--silent" }
                              << QStringList { "silent on", "corrupt" } << true;
    QTest::newRow("faults") << QStringList { "--fail-writes", "2", "--answer-delay",    "30",
                                             "--drop",        "1", "--stream-interval", "0" }
                            << QStringList { "interval 0", "drop 1", "delay 30", "failwrites 2" }
                            << true;
    QTest::newRow("serial above range")
        << QStringList { "--serial", "70000" } << QStringList { "serial 70000" } << false;
    QTest::newRow("empty garbage")
        << QStringList { "--garbage", "" } << QStringList { "garbage " } << false;
}

void TestSimControls::options_standForTheirCommands()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, commands);
    QFETCH(bool, accepted);
    QCommandLineParser parser;
    addControlOptions(parser);
    QVERIFY2(parser.parse(QStringList { "vx4sim" } + arguments), qPrintable(parser.errorText()));

    QStringList lines;
    bool allAccepted = true;
    target->starting = true;
    for (const QStringList &words : optionCommands(parser)) {
        lines.append(words.join(QLatin1Char(' ')));
        QString reply;
        allAccepted = runControl(*target, words, &reply) && allAccepted;
    }
    QCOMPARE(lines, commands);
    QCOMPARE(allAccepted, accepted);
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
    QSignalSpy sent(sender.get(), &SimulatedSender::transmit);
    target->starting = starting;
    QString reply;
    QVERIFY(runControl(*target, line, &reply));
    QCOMPARE(sent.size(), starting ? 0 : 1);

    const QByteArray request = VX4Message::buildFrame(RequestMarker, FrameOverhead, AppQuery, {});
    sender->receive(request);
    sender->receive(request);
    QVERIFY(!sent.isEmpty());
    QCOMPARE(sent.first().first().toByteArray(), bytes);
    int garbageSends = 0;
    for (const QList<QVariant> &args : sent)
        garbageSends += args.first().toByteArray() == bytes;
    QCOMPARE(garbageSends, 1);
}

void TestSimControls::help_alignsTheTextsInOneColumn_data()
{
    QTest::addColumn<QString>("line");

    QTest::newRow("short usage")
        << "\n  pressure PSI            applied pressure (the drift goes on around it)\n";
    QTest::newRow("usage filling the column")
        << "\n  app bootloader|pressure firmware application the sender runs\n";
    QTest::newRow("usage without text") << "\n  mode pressure|calibration\n";
    QTest::newRow("usage longer than the column") << "\n  caldate YYYY-MM-DD HH:MM | none\n";
    QTest::newRow("command without words") << "\n  corrupt                 spoil the CRC";
}

void TestSimControls::help_alignsTheTextsInOneColumn()
{
    QFETCH(QString, line);
    QVERIFY2(controlHelp().contains(line), qPrintable(controlHelp()));
}

QTEST_GUILESS_MAIN(TestSimControls)
#include "tst_simcontrols.moc"
