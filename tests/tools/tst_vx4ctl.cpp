// The vx4ctl program run as a script runs it, against simulated senders served on pseudo-terminals
// by this test: each command's output, exit code and effect on the sender, plain and as JSON, and
// flashing one and two senders, to a pipe and to a terminal.
#include "downloadimage.h"
#include "firmwareimage.h"
#include "hexrecord.h"
#include "packagebytes.h"
#include "simlink.h"

#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

using namespace VX4Protocol;

namespace {

/// Two whole rows (bytes 0-255) and the first eight words of the third: its other words are the
/// sender's own and must survive the download.
QByteArray hexImage(const QByteArray &lineEnd)
{
    QByteArray text;
    for (int a = 0; a < 0x210; a += a == 0xF0 ? 0x110 : 16) {
        QByteArray data;
        for (int i = 0; i < 16; ++i)
            data.append(char((a + i) * 7));
        text += hexRecord(0, quint16(a), data) + lineEnd;
    }
    return text + hexRecord(1, 0, "") + lineEnd;
}

struct Run
{
    int code = -1;
    QString out, err; ///< standard output followed by standard error; standard error alone
};

} // namespace

class TestVx4ctl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void command_printsItsResultAndLeavesTheSenders_data();
    void command_printsItsResultAndLeavesTheSenders();

private:
    /// Runs vx4ctl with "PORT", "PORT2", "LOGFILE" and the names of initTestCase's files replaced;
    /// the senders keep answering meanwhile, since this process's event loop serves them. A
    /// monitor without an end is stopped after its first line.
    Run run(QStringList args, const QStringList &ports, bool terminal = false);

    QTemporaryDir dir { qEnvironmentVariable("VX4_TEST_TMP", QDir::tempPath())
                        + QStringLiteral("/vx4ctl-XXXXXX") };
    QMap<QString, QString> files;
};

void TestVx4ctl::initTestCase()
{
    QVERIFY(dir.isValid());
    const QByteArray hex = hexImage("\r\n");
    QByteArray corrupt = packageBytes(hex);
    corrupt[corrupt.size() / 2] = char(corrupt.at(corrupt.size() / 2) ^ 0x01);
    // clang-format off
    const QMap<QString, QByteArray> contents {
        { "HEXFILE", hex }, { "LFHEX", hexImage("\n") }, { "PACKAGE", packageBytes(hex) },
        { "LFPACKAGE", packageBytes(hexImage("\n")) }, { "CORRUPT", corrupt },
        { "NOTFIRMWARE", "hello\n" }, { "CUTSHORT", hex.chopped(13) } };
    // clang-format on
    for (auto it = contents.cbegin(); it != contents.cend(); ++it) {
        QFile file(dir.filePath(it.key()));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(it.value()) == it.value().size());
        files.insert(it.key(), file.fileName());
    }
    files.insert("MISSING", dir.filePath("MISSING"));
    files.insert("LOGFILE", dir.filePath("debug.log"));
}

Run TestVx4ctl::run(QStringList args, const QStringList &ports, bool terminal)
{
    for (QString &arg : args)
        arg = arg == "PORT"  ? ports.value(0)
            : arg == "PORT2" ? ports.value(1)
                             : files.value(arg, arg);
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VX4_EXTRA_PORTS", ports.value(0));
    process.setProcessEnvironment(env);
    // On a terminal, standard output goes to one of its own, drained as it fills.
    int master = -1, slave = -1;
    QByteArray screen;
    std::unique_ptr<QSocketNotifier> readable;
    if (terminal && ::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0) {
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        readable = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Read);
        connect(readable.get(), &QSocketNotifier::activated, this, [&] {
            char chunk[4096];
            for (ssize_t n; (n = ::read(master, chunk, sizeof chunk)) > 0;)
                screen.append(chunk, int(n));
        });
        process.setStandardOutputFile(QString::fromLocal8Bit(::ttyname(slave)));
    }
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(VX4CTL_PATH, args);
    if (args.value(args.size() - 1) == "monitor"
        && QTest::qWaitFor([&] { return process.canReadLine(); }, 10000))
        process.terminate();
    Run result; // a process still running is killed as it goes out of scope
    if (finished.wait(30000) && process.exitStatus() == QProcess::NormalExit)
        result.code = process.exitCode();
    if (terminal) {
        if (!QTest::qWaitFor([&] { return screen.contains("MESSAGE"); }, 5000))
            qWarning("The closing table never reached the terminal.");
        ::close(slave);
        ::close(master);
    }
    result.err = QString::fromUtf8(process.readAllStandardError());
    result.out
        = QString::fromUtf8(terminal ? screen : process.readAllStandardOutput()) + result.err;
    return result;
}

void TestVx4ctl::command_printsItsResultAndLeavesTheSenders_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("setups"); ///< the simulator's control lines for each sender
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("output"); ///< pattern for standard output, then standard error
    QTest::addColumn<QString>("after"); ///< part of the first sender's state afterwards
    QTest::addColumn<QStringList>("results"); ///< of a flash, each sender's in the closing table
    QTest::addColumn<bool>("terminal");
    const auto row = [](const char *name, const QString &args, const char *setup, int code,
                        const char *output, const char *after = "") {
        QTest::newRow(name) << args.split(' ', Qt::SkipEmptyParts) << QStringList { setup } << code
                            << QString(output) << QString(after) << QStringList() << false;
    };
    const auto flash
        = [](const char *name, const QString &args, const QStringList &setups, int code,
             const char *output, const QStringList &results, bool terminal = false) {
              QTest::newRow(name) << args.split(' ') << setups << code << QString(output)
                                  << QString() << results << terminal;
          };
    row("status", "--port PORT status", "pressure 12", 0,
        "^port: .*\nserial number: OVX4-1234\nfirmware version: 1\\.0\n"
        "application: Pressure Sending Application\nmode: Pressure Sending Mode\n"
        "calibration date: Not calibrated\nA/D offset: 0\nreading: 12 PSI \\(Okay\\)\n$");
    row("status: calibration mode reads volts", "--port PORT status",
        "pressure 12;mode calibration", 0,
        "\nmode: Calibration Mode\n.*\nreading: 0\\.0\\d{3} V \\(Okay\\)\n$", "mode calibration");
    row("status: bootloader", "--port PORT status", "app bootloader", 0,
        "^port: .*\napplication: Bootloader Application\n$", "app bootloader");
    row("status: silent sender", "--port PORT --timeout 300 status", "silent on", 3, "^vx4ctl: ");
    row("status: no such port", "--port /nonexistent/tty status", "", 3, "^vx4ctl: ");
    row("monitor", "--port PORT monitor --seconds 0.4", "pressure 12", 0,
        "^(\\d{4}-\\d\\d-\\d\\dT[0-9:.]+ 12 PSI Okay\n){4,}$");
    row("monitor until terminated", "--port PORT monitor", "pressure 5", 0,
        "^(\\S+ 5 PSI Okay\n)+$");
    row("zero at -30 PSI", "--port PORT zero", "pressure -30", 0,
        "^zeroed at -30 PSI; A/D offset: -?\\d+\n$", "reading 0 PSI");
    row("zero at 31 PSI: refused", "--port PORT zero", "pressure 31", 1,
        "^vx4ctl: ", "reading 31 PSI");
    row("zero: calibration mode", "--port PORT zero", "pressure 12;mode calibration", 1,
        "^vx4ctl: ", "reading 12 PSI");
    row("serial 42", "--port PORT serial 42", "", 0, "^serial number: OVX4-0042\n$", "serial 42,");
    row("serial 65535", "--port PORT serial 65535", "", 0, "OVX4-65535", "serial 65535,");
    row("serial: bootloader", "--port PORT serial 42", "app bootloader", 1,
        "^vx4ctl: ", "serial 1234,");
    row("mode calibration", "--port PORT mode calibration", "", 0, "^mode: Calibration Mode\n$",
        "mode calibration");
    row("app bootloader", "--port PORT app bootloader", "", 0,
        "^application: Bootloader Application\n$", "app bootloader");
    row("ports", "ports", "", 0, "(^|\n)(/dev/pts/\\d+)\t\\2\n$");
    row("history: none kept yet", "history --serial 42", "", 0, "^$");
    // Every line of JSON output is an object; failures are objects too, on standard output.
    row("json: status", "--json --port PORT status", "pressure 12", 0,
        "^\\{.*\"pressurePsi\":12[,}].*\\}\n$");
    row("json: refused zero", "--json --port PORT zero", "pressure 31", 1,
        "^\\{\"error\":\"[^\"]+\",\"exitCode\":1,.*\\}\n$");
    row("json: usage", "--json --port PORT serial 70000", "", 2,
        "^\\{\"error\":\"[^\"]+\",\"exitCode\":2,.*\\}\n$", "serial 1234,");
    // A file that is no image is refused, naming the file and why.
    // clang-format off
    for (const auto &[file, why] : QList<QPair<const char *, const char *>> {
             { "CORRUPT", "File data is corrupt" }, { "LFPACKAGE", "CR LF" },
             { "NOTFIRMWARE", "Incorrect file type." }, { "CUTSHORT", "no end-of-file record" },
             { "MISSING", "Could not open file." } })
        // clang-format on
        row(file, QStringLiteral("--port PORT flash %1").arg(file), "", 2,
            qPrintable(QStringLiteral("^vx4ctl: /.*/%1: .*%2").arg(file, why)));
    for (const char *usage :
         { "", "reboot", "status", "--port PORT --port PORT2 status",
           "--port PORT status --seconds 1", "--port PORT zero --no-verify",
           "--port PORT --baud fast status", "--port PORT --stop-bits 1.5 status",
           "--port PORT mode sideways", "--port PORT --colour status", "--port PORT serial 65536",
           "--port PORT serial x1" })
        row(qPrintable("usage: " + QString(usage)), usage, "", 2, "^vx4ctl: ");
    // Late answers, as on a slow line: the closing requests are still on their way when the
    // download reports success.
    flash("package, logged", "--port PORT --log LOGFILE flash PACKAGE", { "delay 20" }, 0,
          ": row 3 of 3 \\(100 %\\).*\n\\S+ +done +3/3 +[0-9.]+ s +Firmware update completed "
          "successfully!\n$",
          { "done" });
    flash("HEX with line feeds, not verified", "--port PORT flash LFHEX --no-verify",
          { "delay 20" }, 0, "\n\\S+ +done +3/3 ", { "done" });
    flash("HEX, sender in its bootloader", "--port PORT flash HEXFILE", { "app bootloader" }, 0,
          "\n\\S+ +done +3/3 ", { "done" });
    flash("json", "--json --port PORT flash HEXFILE", { "" }, 0, "\"result\":\"done\"", { "done" });
    flash("sender fails its writes", "--port PORT flash HEXFILE", { "failwrites 10" }, 1,
          "PORT +RESULT.*\n\\S+ +failed +\\d+/3 .*\nvx4ctl: [^\n]+\n$", { "failed" });
    flash("silent sender", "--port PORT --timeout 300 flash HEXFILE", { "silent on" }, 3,
          "\\S+ +no answer +0/3 ", { "no answer" });
    flash("two senders, the second silent", "--timeout 500 --port PORT --port PORT2 flash HEXFILE",
          { "", "silent on" }, 3,
          "\nPORT +RESULT +ROWS +TIME +MESSAGE\n[^\n]+\n[^\n]+\nvx4ctl: [^\n]+\n$",
          { "done", "no answer" });
    // The bars are drawn, then drawn again in place: up two lines, each line cleared; no plain
    // progress lines.
    flash("two senders on a terminal", "--port PORT --port PORT2 flash HEXFILE", { "", "" }, 0,
          "^(?!.*\\(100 %\\)).*\x1b\\[2A\r\x1b\\[2K.*(\\[#{30}\\] 3/3 rows  done.*){2}",
          { "done", "done" }, true);
}

void TestVx4ctl::command_printsItsResultAndLeavesTheSenders()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, setups);
    QFETCH(int, code);
    QFETCH(QString, output);
    QFETCH(QString, after);
    QFETCH(QStringList, results);
    QFETCH(bool, terminal);
    std::vector<std::unique_ptr<SimLink>> senders;
    QStringList ports;
    const QList<ProgramMemoryRow> rows = FirmwareImage::fromHex(hexImage("\r\n")).rows;
    QList<QMap<quint32, quint16>> expected;
    for (const QString &setup : setups) {
        senders.push_back(std::make_unique<SimLink>());
        QVERIFY(senders.back()->control(setup));
        SimulatedSender &sender = senders.back()->sender;
        for (quint32 w = 0x100; w < 0x140; ++w)
            sender.setProgramWord(w, quint16(0x1100 + w));
        ports.append(senders.back()->pty.slavePath());
        expected.append(memoryAfterDownload(sender, rows));
    }

    const Run result = run(args, ports, terminal);
    QCOMPARE(result.code, code);
    QVERIFY2(QRegularExpression(output, QRegularExpression::DotMatchesEverythingOption)
                 .match(result.out)
                 .hasMatch(),
             qPrintable(result.out));
    const QString status = simStatus(senders.front()->target);
    QVERIFY2(status.contains(after), qPrintable(status));
    // A failure is one line on standard error saying what and why; JSON has no other output.
    const bool json = args.contains("--json");
    for (const QString &line : json ? result.out.split('\n', Qt::SkipEmptyParts) : QStringList())
        QVERIFY2(QJsonDocument::fromJson(line.toUtf8()).isObject(), qPrintable(line));
    QVERIFY2(code != 0 && !json
                 ? result.err.contains(QRegularExpression("^vx4ctl: [^\n]+: [^\n]+\n$"))
                 : result.err.isEmpty(),
             qPrintable(result.err));
    // Wrong usage and files that are no image never reach the sender.
    QVERIFY(code != 2 || senders.front()->sender.requests().isEmpty());
    for (int i = 0; i < results.size(); ++i) {
        const SimulatedSender &sender = senders.at(i)->sender;
        const QString table = QRegularExpression::escape(ports.at(i))
            + (json ? "\",\"result\":\"" : " +") + results.at(i);
        QVERIFY2(result.out.contains(QRegularExpression(table)), qPrintable(result.out));
        // The image is never marked valid over memory that does not hold it.
        QVERIFY(results.at(i) != "failed"
                || sender.eeprom(EepromBootFlagAddress) != EepromBootFlagValid);
        if (results.at(i) != "done")
            continue;
        QCOMPARE(sender.programMemory(), expected.at(i));
        QCOMPARE(sender.eeprom(EepromBootFlagAddress), EepromBootFlagValid);
        // The reset reached the sender after the image was marked valid: it runs the new image.
        const QList<quint8> commands = sender.requestCommands();
        QVERIFY(commands.lastIndexOf(Reset) > commands.lastIndexOf(WriteEeprom));
        QCOMPARE(sender.app(), PressureSendingApp);
        // Each row is read before it is written and, when verified, read back after.
        QCOMPARE(commands.count(ReadProgMem), rows.size() * (args.contains("--no-verify") ? 1 : 2));
    }
    // The debug log asked for holds the engine's lines, time-stamped to the millisecond.
    const QRegularExpression logged(
        "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} VX4interface @ \\d+ : Sent: ",
        QRegularExpression::MultilineOption);
    QFile log(files["LOGFILE"]);
    QVERIFY(
        !args.contains("LOGFILE")
        || (log.open(QIODevice::ReadOnly) && QString::fromUtf8(log.readAll()).contains(logged)));
}

QTEST_GUILESS_MAIN(TestVx4ctl)
#include "tst_vx4ctl.moc"
