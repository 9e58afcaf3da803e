// The vx4ctl program run as a script runs it, against simulated senders served on pseudo-terminals
// by this test: each command's results (standard output) and messages (standard error), exit code
// and effect on the sender, plain and as JSON; flashing several senders, to a pipe and a terminal.
#include "tst_vx4ctl.h"

#include "calibrationhistory.h"
#include "downloadimage.h"
#include "firmwareimage.h"
#include "hexrecord.h"
#include "packagebytes.h"

#include <QJsonDocument>
#include <QSocketNotifier>

#include <fcntl.h>
#include <grp.h>
#include <pty.h>
#include <sys/stat.h>
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

CalibrationRecord storedRun(const char *certificate, const char *serial, int day,
                            const char *technician)
{
    CalibrationRecord r;
    r.certificateNumber = certificate;
    r.senderSerial = serial;
    r.started = QDateTime(QDate(2026, 3, day), QTime(9, 15), Qt::UTC);
    r.technician = technician;
    return r;
}

} // namespace

void TestVx4ctl::initTestCase()
{
    QVERIFY(dir.isValid());
    const QByteArray hex = hexImage("\r\n");
    QByteArray corrupt = packageBytes(hex);
    corrupt[corrupt.size() / 2] = char(corrupt.at(corrupt.size() / 2) ^ 0x01);
    // clang-format off
    QMap<QString, QByteArray> contents {
        { "HEXFILE", hex }, { "LFHEX", hexImage("\n") }, { "PACKAGE", packageBytes(hex) },
        { "LFPACKAGE", packageBytes(hexImage("\n")) }, { "CORRUPT", corrupt },
        { "NOTFIRMWARE", "hello\n" }, { "CUTSHORT", hex.chopped(13) } };
    // clang-format on
    QByteArray big; // eight whole rows
    for (int a = 0; a < 8 * 128; a += 16)
        big += hexRecord(0, quint16(a), QByteArray(16, char(a / 16))) + "\r\n";
    contents.insert("BIGHEX", big + hexRecord(1, 0, "") + "\r\n");
    bigRows = FirmwareImage::fromHex(contents["BIGHEX"]).rows;
    for (auto it = contents.cbegin(); it != contents.cend(); ++it) {
        QFile file(dir.filePath(it.key()));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(it.value()) == it.value().size());
        files.insert(it.key(), file.fileName());
    }
    files.insert("MISSING", dir.filePath("MISSING"));
    files.insert("LOGFILE", dir.filePath("debug.log"));
    files.insert("LINK", dir.filePath("link"));
    // The history that vx4ctl lists: two runs, one of a technician whose name holds controls.
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("data")));
    CalibrationHistory history;
    QVERIFY(history.store(storedRun("VX4-2026-000001", "7", 4, "Eve\x1b[2J\nMallory")).id > 0);
    QVERIFY(history.store(storedRun("VX4-2026-000002", "12345", 5, "Bo")).id > 0);
}

Run TestVx4ctl::run(QStringList args, const QStringList &ports, bool terminal,
                    const std::function<void(QProcess &)> &started)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VX4_EXTRA_PORTS", ports.value(0));
    env.insert("TERM", "xterm");
    env.remove("NO_COLOR");
    while (!args.isEmpty() && args.first().contains(QRegularExpression("^[A-Z_]+="))) {
        const QString setting = args.takeFirst();
        env.insert(setting.section('=', 0, 0), setting.section('=', 1));
    }
    QFile::remove(files["LINK"]);
    if (!QFile::link(ports.value(0), files["LINK"]))
        return {};
    for (QString &arg : args)
        arg = arg == "PORT"  ? ports.value(0)
            : arg == "PORT2" ? ports.value(1)
            : arg == "PORT3" ? ports.value(2)
                             : files.value(arg, arg);
    QProcess process;
    process.setProcessEnvironment(env);
    if (std::exchange(asNobody, false))
        process.setChildProcessModifier([] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(127);
        });
    // On a terminal, standard error goes to one of its own, drained as it fills.
    int master = -1, slave = -1;
    QByteArray screen;
    std::unique_ptr<QSocketNotifier> readable;
    const auto drain = [&] {
        char chunk[4096];
        for (ssize_t n; (n = ::read(master, chunk, sizeof chunk)) > 0;)
            screen.append(chunk, int(n));
    };
    if (terminal && ::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0) {
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        readable = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Read);
        connect(readable.get(), &QSocketNotifier::activated, this, drain);
        process.setStandardErrorFile(QString::fromLocal8Bit(::ttyname(slave)));
    }
    QSignalSpy finished(&process, &QProcess::finished);
    errSoFar.clear();
    connect(&process, &QProcess::readyReadStandardError, this,
            [&] { errSoFar += process.readAllStandardError(); });
    process.start(VX4CTL_PATH, args);
    if (started)
        started(process);
    Run result; // a process still running is killed as it goes out of scope
    if (args.value(args.size() - 1) == "monitor"
        && QTest::qWaitFor([&] { return process.canReadLine(); }, 10000)) {
        VX4Interface second(files["LINK"], PortSettings());
        if (!second.open(QIODevice::ReadWrite))
            result.secondOpener
                = second.errorString().replace(QString::number(process.processId()), "N");
        process.terminate();
    }
    if (finished.wait(30000) && process.exitStatus() == QProcess::NormalExit)
        result.code = process.exitCode();
    if (terminal) {
        drain();
        ::close(slave);
        ::close(master);
    }
    result.err = QString::fromUtf8(terminal ? screen : errSoFar + process.readAllStandardError());
    result.out = QString::fromUtf8(process.readAllStandardOutput()) + "--\n" + result.err;
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
        QTest::newRow(name) << args.split(' ', Qt::SkipEmptyParts) << QString(setup).split('|')
                            << code << QString(output) << QString(after) << QStringList() << false;
    };
    const auto flash
        = [](const char *name, const QString &args, const QStringList &setups, int code,
             const char *output, const QStringList &results, bool terminal = false) {
              QTest::newRow(name) << args.split(' ') << setups << code << QString(output)
                                  << QString() << results << terminal;
          };
    row("status, short options", "-p PORT -b 9600 status", "pressure 12", 0,
        "^port: .*\nserial number: OVX4-1234\nfirmware version: 1\\.0\n"
        "application: Pressure Sending Application\nmode: Pressure Sending Mode\n"
        "calibration date: Not calibrated\nA/D offset: 0\nreading: 12 PSI \\(Okay\\)\n--\n$");
    row("status: silent sender", "--port PORT --timeout 300 status", "silent on", 3,
        "^--\nvx4ctl: ");
    row("status: no such port", "--port /nonexistent/tty status", "", 4,
        "^--\nvx4ctl: /nonexistent/tty: No such file or directory\n$");
    row("status: the window holds the port", "--port LINK status", "hold", 4,
        "^--\nvx4ctl: \\S+: port busy: in use by process PID\n$");
    row("status: permission denied", "NOBODY --port PORT status", "", 4,
        "^--\nvx4ctl: \\S+: Permission denied: the port belongs to the group dialout; add "
        "yourself to it \\(sudo usermod -aG dialout \"\\$USER\"\\) and log in again\n$");
    // A fixture at a glance: one line per sender, the failures' reasons on standard error.
    row("status of a fixture", "--timeout 500 -p PORT -p PORT2 -p PORT3 status",
        "pressure 12|mode calibration|silent on", 3,
        "^PORT +RESULT +SERIAL +FIRMWARE +APPLICATION +MODE +CALIBRATED +A/D OFFSET +READING\n"
        "\\S+ +ok +OVX4-1234 +1\\.0 +application +pressure +- +0 +12 PSI \\(Okay\\)\n"
        "\\S+ +ok +OVX4-1234 +1\\.0 +application +calibration +- +0 +0\\.0\\d{3} V \\(Okay\\)\n"
        "\\S+ +no answer( +-){7}\n--\nvx4ctl: \\S+: no sender answered within 500 ms\n$");
    row("monitor for a while", "--port PORT monitor --seconds 0.4", "pressure 12", 0,
        "^(\\d{4}-\\d\\d-\\d\\dT[0-9:.]+ 12 PSI Okay\n)+--\n$");
    row("monitor until terminated", "--port PORT monitor", "pressure 5", 0,
        "^(\\S+ 5 PSI Okay\n)+--\n$");
    row("zero at -30 PSI", "--port PORT zero", "pressure -30", 0,
        "^zeroed at -30 PSI; A/D offset: -?\\d+\n--\n$", "reading 0 PSI");
    row("zero at 31 PSI: refused", "--port PORT zero", "pressure 31", 1,
        "^--\nvx4ctl: ", "reading 31 PSI");
    row("serial 42", "--port PORT serial 42", "", 0, "^serial number: OVX4-0042\n--\n$",
        "serial 42,");
    row("serial: the sender keeps its number", "--port PORT serial 42", "forgetserial", 1,
        "^--\nvx4ctl: \\S+: serial: the sender kept serial number 1234\n$", "serial 1234,");
    row("mode calibration", "--port PORT mode calibration", "", 0, "^mode: Calibration Mode\n--\n$",
        "mode calibration");
    row("app bootloader", "--port PORT app bootloader", "", 0,
        "^application: Bootloader Application\n--\n$", "app bootloader");
    row("ports", "ports", "", 0, "(^|\n)(/dev/pts/\\d+)\t\\2\n--\n$");
    row("history in columns", "history", "", 0,
        "^CERTIFICATE +SERIAL +STARTED +OUTCOME +TECHNICIAN\n"
        "VX4-2026-000002  12345   2026-03-05 09:15 UTC  finished \\(not taken\\)  Bo\n"
        "VX4-2026-000001  7       2026-03-04 09:15 UTC  finished \\(not taken\\)  "
        "Eve\\\\x1b\\[2J\\\\nMallory\n--\n$");
    row("help", "--help", "", 0, "^(?!.*1\\.5).*--stop-bits S +1 or 2 .*4 the port cannot");
    // JSON: every line on either stream is an object with an "event"; results on standard output.
    row("json: status", "--json --port PORT status", "pressure 12", 0,
        "^\\{.*\"event\":\"status\".*\"pressurePsi\":12[,}].*\\}\n--\n$");
    row("json: usage", "--json --port PORT serial 70000", "", 2,
        "^--\n\\{\"error\":\"[^\"]+\",\"event\":\"error\",\"exitCode\":2,.*\\}\n$", "serial 1234,");
    // A file that is no image is refused, naming the file and why.
    // clang-format off
    for (const auto &[file, why] : QList<QPair<const char *, const char *>> {
             { "CORRUPT", "File data is corrupt" }, { "LFPACKAGE", "CR LF" },
             { "NOTFIRMWARE", "Incorrect file type." }, { "CUTSHORT", "no end-of-file record" },
             { "MISSING", "Could not open file." } })
        // clang-format on
        row(file, QStringLiteral("--port PORT flash %1").arg(file), "", 2,
            qPrintable(QStringLiteral("^--\nvx4ctl: /.*/%1: .*%2").arg(file, why)));
    for (const char *usage :
         { "", "reboot", "status", "--port PORT --port LINK flash HEXFILE",
           "--port PORT --port PORT2 zero", "--port PORT status --seconds 1",
           "--port PORT zero --no-verify", "--port PORT --baud fast status",
           "--port PORT --stop-bits 1.5 status", "--port PORT mode sideways",
           "--port PORT --colour status", "--port PORT serial 65536", "--port PORT serial x1" })
        row(qPrintable("usage: " + QString(usage)), usage, "", 2, "^--\nvx4ctl: ");
    // Late answers, as on a slow line: the closing requests are still on their way when the
    // download reports success. Results alone on standard output; the file and progress on
    // standard error.
    flash(
        "package, logged", "--port PORT --log LOGFILE flash PACKAGE", { "delay 20;firmware 2.5" },
        0,
        "^PORT +RESULT +CODE +ROWS +WRITTEN +SKIPPED +VERIFIED +TIME +MESSAGE\n\\S+ +done +0 +3/3 "
        "+3 +0 +3 +[0-9.]+ s +Firmware update completed successfully! The sender reports "
        "version 2\\.5\\.\n--\n\\S+: firmware package version 2\\.5, .*: row 3 of 3 \\(100 "
        "%\\)[^\n]*\n$",
        { "done" });
    // The version read back must be the package's; a HEX file has none to compare.
    flash("package, the sender keeps its old version", "--port PORT flash PACKAGE", { "" }, 1,
          "\n\\S+ +failed +1 +3/3 +3 +0 +3 .* flashed, but the sender reports 1\\.0, the package "
          "is 2\\.5\n",
          {});
    flash("HEX with line feeds, not verified", "--port PORT flash LFHEX --no-verify",
          { "delay 20" }, 0, "\n\\S+ +done +0 +3/3 +3 +0 +0 ", { "done" });
    flash("re-flash: every row held already", "--port PORT flash HEXFILE", { "flashed" }, 0,
          "\n\\S+ +done +0 +3/3 +0 +3 +0 ", { "done" });
    flash("json", "--json --port PORT flash HEXFILE", { "" }, 0,
          "^\\{[^\n]*\"event\":\"result\"[^\n]*\"result\":\"done\"[^\n]*\"rowsWritten\":3,[^\n]*"
          "\"versionReadBack\":\"1\\.0\"\\}\n--\n",
          { "done" });
    // A failure names where it left the sender and the next step.
    flash("sender fails its writes", "--port PORT flash HEXFILE", { "failwrites 10" }, 1,
          "PORT +RESULT.*\n\\S+ +failed +1 +\\d/3 .* The sender is in its bootloader and its image "
          "is incomplete: run the update again\\.\n--\n.*\nvx4ctl: [^\n]+\n$",
          { "failed" });
    // Mixed outcomes: each sender's own code, and the run's is the most severe.
    flash("three senders: missing, done, silent",
          "--timeout 500 --port /nonexistent/tty --port PORT --port PORT2 flash HEXFILE",
          { "", "silent on" }, 4,
          "^PORT +RESULT +CODE +ROWS .*\n\\S+ +not opened +4 [^\n]+\n\\S+ +done +0 "
          "[^\n]+\n\\S+ +no answer +3 [^\n]+\n--\n",
          { "done", "no answer" });
    // On a terminal the bars are drawn on standard error, then drawn again in place: up two
    // lines, each line cleared; no plain progress lines. Colour unless NO_COLOR is set; no bars
    // on a terminal that cannot move its cursor.
    flash(
        "two senders on a terminal", "--port PORT --port PORT2 flash HEXFILE", { "", "" }, 0,
        "--\n(?!.*\\(100 %\\)).*\x1b\\[2A\r\x1b\\[2K.*(\\[#{30}\\] 3/3 rows  \x1b\\[32mdone.*){2}",
        { "done", "done" }, true);
    flash("no colour", "NO_COLOR=1 --port PORT flash HEXFILE", { "" }, 0,
          "--\n(?!.*\x1b\\[3).*\\[#{30}\\] 3/3 rows  done\\s", { "done" }, true);
    flash("dumb terminal", "TERM=dumb --port PORT flash HEXFILE", { "" }, 0,
          "--\n(?!.*\x1b).*: row 3 of 3 \\(100 %\\)", { "done" }, true);
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
        SimLink &link = *senders.back();
        QStringList lines = setup.split(';');
        // Three words are this test's own: the port held open by an engine of this process, as
        // the window holds it, a sender that forgets a new serial number before it is read, and
        // one that holds the image already.
        const bool held = lines.removeAll("hold") > 0;
        const bool flashed = lines.removeAll("flashed") > 0;
        QVERIFY(!held || link.openEngine());
        if (lines.removeAll("forgetserial") > 0)
            connect(&link.sender, &SimulatedSender::requestReceived, this,
                    [&link](const VX4Message &m) {
                        if (m.command == GetSerial)
                            link.sender.setSerialNumber(1234);
                    });
        QVERIFY(link.control(lines.join(';')));
        for (quint32 w = 0x100; w < 0x140; ++w)
            link.sender.setProgramWord(w, quint16(0x1100 + w));
        ports.append(link.pty.slavePath());
        expected.append(memoryAfterDownload(link.sender, rows));
        if (flashed)
            for (auto it = expected.last().cbegin(); it != expected.last().cend(); ++it)
                link.sender.setProgramWord(it.key(), it.value());
    }
    if (args.removeAll("NOBODY") > 0) {
        const group *dialout = ::getgrnam("dialout");
        if (::geteuid() != 0 || !dialout)
            QSKIP("Dropping to the user nobody needs root and a dialout group.");
        const QByteArray tty = QFile::encodeName(ports.first());
        QVERIFY(::chown(tty, uid_t(-1), dialout->gr_gid) == 0 && ::chmod(tty, 0660) == 0);
        asNobody = true;
    }

    const Run result = run(args, ports, terminal);
    QCOMPARE(result.code, code);
    output.replace("PID", QString::number(QCoreApplication::applicationPid()));
    QVERIFY2(QRegularExpression(output, QRegularExpression::DotMatchesEverythingOption)
                 .match(result.out)
                 .hasMatch(),
             qPrintable(result.out));
    const QString status = simStatus(senders.front()->target);
    QVERIFY2(status.contains(after), qPrintable(status));
    // JSON: every line of both streams is an object naming its event. Otherwise a failure ends
    // with one line on standard error saying what and why.
    const bool json = args.contains("--json");
    for (const QString &line : json ? result.out.split('\n', Qt::SkipEmptyParts) : QStringList())
        QVERIFY2(line == "--" || QJsonDocument::fromJson(line.toUtf8())["event"].isString(),
                 qPrintable(line));
    QVERIFY2(code == 0 || json
                 || result.err.contains(QRegularExpression("(^|\n)vx4ctl: [^\n]+: [^\n]+\n$")),
             qPrintable(result.err));
    // One owner per sender: while vx4ctl holds the port, this process cannot open it either.
    if (args.endsWith("monitor"))
        QCOMPARE(result.secondOpener, QString("port busy: in use by process N"));
    // Wrong usage and files that are no image never reach the sender.
    QVERIFY(code != 2 || senders.front()->sender.requests().isEmpty());
    for (int i = 0; i < results.size(); ++i) {
        const SimulatedSender &sender = senders.at(i)->sender;
        const QString table = QRegularExpression::escape(ports.at(i))
            + (json ? "\",\"result\":\"" : " +") + results.at(i);
        QVERIFY2(result.out.contains(QRegularExpression(table)), qPrintable(result.out));
        if (results.at(i) != "done")
            continue;
        QCOMPARE(sender.programMemory(), expected.at(i));
        QCOMPARE(sender.eeprom(EepromBootFlagAddress), EepromBootFlagValid);
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
