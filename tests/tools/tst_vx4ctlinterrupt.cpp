// vx4ctl interrupted by a real SIGINT or SIGTERM, sent when the simulated sender receives a chosen
// request: what reached the senders after it, what vx4ctl said, and a flash run again afterwards.
#include "downloadimage.h"
#include "tst_vx4ctl.h"

#include <csignal>

using namespace VX4Protocol;

void TestVx4ctl::interruptedCommand_stopsAtASafePointAndSaysWhere_data()
{
    QTest::addColumn<QString>("args");
    QTest::addColumn<int>("signal"); ///< sent when the first sender gets its first `trigger`
    QTest::addColumn<int>("trigger");
    QTest::addColumn<bool>("silent"); ///< the senders stop answering at the signal
    QTest::addColumn<bool>("twice"); ///< a second SIGINT once the first is announced
    QTest::addColumn<QString>("output");
    // At 1200 baud every time-out is long: a request that timed out would be seen sent again.
    QTest::newRow("flash, Ctrl-C while rows are written")
        << "--baud 1200 --port PORT flash BIGHEX" << SIGINT << int(WriteProgMem) << false << false
        << "^PORT .*\n\\S+ +interrupted +130 +1/8 +1 +0 +[01] .*image is "
           "incomplete.*\n--\n.*vx4ctl: "
           "interrupted by SIGINT: stopping at a safe point.*\nvx4ctl: \\S+: flash: The sender "
           "is in its bootloader and its image is incomplete[^\n]*\n$";
    QTest::newRow("flash to two senders, SIGTERM, the senders fall silent")
        << "--baud 1200 --port PORT --port PORT2 flash BIGHEX" << SIGTERM << int(WriteProgMem)
        << true << false << "^PORT .*(\n\\S+ +interrupted +143 [^\n]+){2}\n--\n";
    QTest::newRow("flash, a second Ctrl-C ends at once")
        << "--baud 1200 --port PORT flash BIGHEX" << SIGINT << int(WriteProgMem) << true << true
        << "^--\n.*\nvx4ctl: interrupted by SIGINT[^\n]+\n$";
    QTest::newRow("serial, Ctrl-C with its request on the line")
        << "--baud 1200 --port PORT serial 42" << SIGINT << int(SetSerial) << true << false
        << "^--\nvx4ctl: interrupted by SIGINT[^\n]+\nvx4ctl: \\S+: serial: interrupted by "
           "SIGINT before the sender confirmed the change: see where it stands with vx4ctl "
           "status\n$";
}

void TestVx4ctl::interruptedCommand_stopsAtASafePointAndSaysWhere()
{
    QFETCH(QString, args);
    const int senders = int(args.count("--port"));
    QFETCH(int, signal);
    QFETCH(int, trigger);
    QFETCH(bool, silent);
    QFETCH(bool, twice);
    QFETCH(QString, output);
    std::vector<std::unique_ptr<SimLink>> links;
    QStringList ports;
    for (int i = 0; i < senders; ++i) {
        links.push_back(std::make_unique<SimLink>());
        QVERIFY(links.back()->control("delay 20"));
        ports.append(links.back()->pty.slavePath());
    }
    QList<int> marks; // requests each sender had when the signal went
    int seen = 0;
    bool secondSent = false;
    const auto signalled = [&](QProcess &process) {
        connect(&links.front()->sender, &SimulatedSender::requestReceived, &process,
                [&, pid = process.processId()](const VX4Message &m) {
                    if (m.command != trigger || ++seen != 1)
                        return;
                    for (const auto &link : links) {
                        marks.append(int(link->sender.requests().size()));
                        link->sender.setSilent(silent);
                    }
                    ::kill(pid_t(pid), signal);
                });
        connect(&process, &QProcess::readyReadStandardError, &process, [&] {
            if (twice && errSoFar.contains("interrupted by") && !std::exchange(secondSent, true))
                ::kill(pid_t(process.processId()), SIGINT);
        });
    };
    const Run result = run(args.split(' '), ports, false, signalled);
    QCOMPARE(result.code, 128 + signal);
    QVERIFY2(QRegularExpression(output, QRegularExpression::DotMatchesEverythingOption)
                 .match(result.out)
                 .hasMatch(),
             qPrintable(result.out));
    // Nothing new after the signal: the request on the line ends once, no row is written, no
    // sender restarted, none marked valid.
    QCOMPARE(marks.size(), senders);
    for (int i = 0; i < senders; ++i) {
        const SimulatedSender &sender = links.at(size_t(i))->sender;
        const QList<quint8> after = sender.requestCommands().mid(marks.at(i));
        QVERIFY2(after.size() <= 1 && !after.contains(Reset) && !after.contains(WriteEeprom),
                 qPrintable(result.out));
        QVERIFY(i > 0 || !after.contains(WriteProgMem));
    }
    if (!args.contains("flash"))
        return;
    // Flashing again recovers every sender.
    for (const auto &link : links)
        link->sender.setSilent(false);
    QCOMPARE(run(args.split(' '), ports).code, 0);
    for (const auto &link : links) {
        QCOMPARE(link->sender.programMemory(), memoryAfterDownload(SimulatedSender(), bigRows));
        QCOMPARE(link->sender.eeprom(EepromBootFlagAddress), EepromBootFlagValid);
    }
}
