// The vx4ctl program run as a script runs it, against simulated senders served on pseudo-terminals
// by this test: each command's output and exit code, JSON output, flashing one and two senders.
#include "downloadimage.h"
#include "firmwareimage.h"
#include "firmwarepackage.h"
#include "hexrecord.h"
#include "simlink.h"

#include <QJsonDocument>
#include <QJsonObject>
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

/// How the simulated sender stands before the command runs.
enum Setup {
    Plain = 0,
    At12Psi = 1 << 0,
    At31Psi = 1 << 1,
    AtMinus30Psi = 1 << 2,
    InCalibrationMode = 1 << 4,
    InBootloader = 1 << 5,
    Silent = 1 << 7,
    FailingWrites = 1 << 8,
};

void apply(SimulatedSender &sender, int setup)
{
    if (setup & At12Psi)
        sender.setAppliedPressure(12);
    if (setup & At31Psi)
        sender.setAppliedPressure(31);
    if (setup & AtMinus30Psi)
        sender.setAppliedPressure(-30);
    if (setup & InCalibrationMode)
        sender.setMode(CalibrationMode);
    if (setup & InBootloader)
        sender.setApp(Bootloader);
    sender.setSilent(setup & Silent);
    if (setup & FailingWrites)
        sender.failNextWrites(10);
}

/// What a command may have changed on the sender, as one text a row can look for.
QString state(const SimulatedSender &sender)
{
    return QStringLiteral("app=%1 mode=%2 serial=%3 reading=%4")
        .arg(int(sender.app()))
        .arg(int(sender.mode()))
        .arg(sender.serialNumber())
        .arg(sender.reading());
}

/// Two whole rows (bytes 0-255) and the first eight words of the third: its other words are the
/// sender's own and must survive the download.
QByteArray hexImage(const QByteArray &lineEnd)
{
    QByteArray text;
    auto chunk = [&](quint16 start, int length) {
        for (int a = start; a < start + length; a += 16) {
            QByteArray data;
            for (int i = 0; i < 16; ++i)
                data.append(char((a + i) * 7));
            text += hexRecord(0, quint16(a), data) + lineEnd;
        }
    };
    chunk(0x0000, 256);
    chunk(0x0200, 16);
    return text + hexRecord(1, 0, "") + lineEnd;
}

/// The rows the window's download writes for `crLfHex`.
QList<ProgramMemoryRow> rowsOf(const QByteArray &crLfHex)
{
    return FirmwareImage::fromHex(crLfHex).rows;
}

QByteArray packageOf(const QByteArray &hexData)
{
    FirmwarePackage package;
    package.versionMajor = 2;
    package.versionMinor = 5;
    package.packagedOn = QDateTime(QDate(2026, 1, 2), QTime(3, 4));
    package.hexData = hexData;
    package.description = QStringLiteral("test image");
    package.md5 = packageDigest(package);
    return FirmwarePackageWriter::toBytes(package);
}

struct Run
{
    int code = -1;
    QString out;
    QString err;
};

} // namespace

class TestVx4ctl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void command_printsItsResultAndExitCode_data();
    void command_printsItsResultAndExitCode();
    void monitor_endsCleanlyWhenTerminated();
    void json_everyLineIsAnObject_data();
    void json_everyLineIsAnObject();
    void flash_leavesMemoryAsTheWindowsDownload_data();
    void flash_leavesMemoryAsTheWindowsDownload();
    void flash_refusedFile_exits2BeforeTouchingTheSender_data();
    void flash_refusedFile_exits2BeforeTouchingTheSender();
    void flash_twoSendersAtOnce_endsWithATableRowEach_data();
    void flash_twoSendersAtOnce_endsWithATableRowEach();
    void flash_onATerminal_drawsABarPerPort();

private:
    QString write(const QString &name, const QByteArray &bytes);
    /// Runs vx4ctl with "PORT", "PORT2", "HEXFILE" and "LOGFILE" replaced; the senders keep
    /// answering meanwhile, since this process's event loop serves them.
    Run run(QStringList args, const QStringList &ports);

    QTemporaryDir dir { qEnvironmentVariable("VX4_TEST_TMP", QDir::tempPath())
                        + QStringLiteral("/vx4ctl-XXXXXX") };
    QString hexFile;
};

void TestVx4ctl::initTestCase()
{
    QVERIFY(dir.isValid());
    hexFile = write("image.hex", hexImage("\r\n"));
}

QString TestVx4ctl::write(const QString &name, const QByteArray &bytes)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

Run TestVx4ctl::run(QStringList args, const QStringList &ports)
{
    for (QString &arg : args) {
        if (arg == "PORT" || arg == "PORT2")
            arg = ports.value(arg == "PORT" ? 0 : 1);
        else if (arg == "HEXFILE")
            arg = hexFile;
        else if (arg == "LOGFILE")
            arg = dir.filePath("debug.log");
    }
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VX4_EXTRA_PORTS", ports.value(0));
    process.setProcessEnvironment(env);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(VX4CTL_PATH, args);
    Run result;
    if (!finished.wait(30000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

void TestVx4ctl::command_printsItsResultAndExitCode_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("setup");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("output"); ///< pattern the standard output must match
    QTest::addColumn<QString>("after"); ///< found in the sender's state afterwards

    const QString status = "^port: .*\nserial number: OVX4-1234\nfirmware version: 1\\.0\n"
                           "application: Pressure Sending Application\n"
                           "mode: Pressure Sending Mode\ncalibration date: Not calibrated\n"
                           "A/D offset: 0\nreading: 12 PSI \\(Okay\\)\n$";
    QTest::newRow("status") << QStringList { "--port", "PORT", "status" } << int(At12Psi) << 0
                            << status << "serial=1234";
    QTest::newRow("status: calibration mode reads volts")
        << QStringList { "--port", "PORT", "status" } << int(At12Psi | InCalibrationMode) << 0
        << "mode: Calibration Mode\n.*\nreading: 0\\.0\\d{3} V \\(Okay\\)\n$"
        << "mode=1";
    QTest::newRow("status: bootloader")
        << QStringList { "--port", "PORT", "status" } << int(InBootloader) << 0
        << "^port: .*\napplication: Bootloader Application\n$"
        << "app=0";
    QTest::newRow("status: silent sender")
        << QStringList { "--port", "PORT", "--timeout", "300", "status" } << int(Silent) << 3
        << "^$"
        << "";
    QTest::newRow("status: no such port")
        << QStringList { "--port", "/nonexistent/tty", "status" } << int(Plain) << 3 << "^$"
        << "";
    QTest::newRow("monitor") << QStringList { "--port", "PORT", "monitor", "--seconds", "0.4" }
                             << int(At12Psi) << 0
                             << "^(\\d{4}-\\d\\d-\\d\\dT[0-9:.]+ 12 PSI Okay\n){4,}$"
                             << "";
    QTest::newRow("zero at 12 PSI") << QStringList { "--port", "PORT", "zero" } << int(At12Psi) << 0
                                    << "^zeroed at 12 PSI; A/D offset: \\d+\n$"
                                    << "reading=0";
    QTest::newRow("zero at -30 PSI") << QStringList { "--port", "PORT", "zero" }
                                     << int(AtMinus30Psi) << 0 << "^zeroed at -30 PSI"
                                     << "reading=0";
    QTest::newRow("zero at 31 PSI: refused")
        << QStringList { "--port", "PORT", "zero" } << int(At31Psi) << 1 << "^$"
        << "reading=31";
    QTest::newRow("zero: calibration mode")
        << QStringList { "--port", "PORT", "zero" } << int(At12Psi | InCalibrationMode) << 1 << "^$"
        << "reading=12";
    QTest::newRow("serial 42") << QStringList { "--port", "PORT", "serial", "42" } << int(Plain)
                               << 0 << "^serial number: OVX4-0042\n$"
                               << "serial=42";
    QTest::newRow("serial 65535") << QStringList { "--port", "PORT", "serial", "65535" }
                                  << int(Plain) << 0 << "OVX4-65535"
                                  << "serial=65535";
    QTest::newRow("serial 65536: refused")
        << QStringList { "--port", "PORT", "serial", "65536" } << int(Plain) << 2 << "^$"
        << "serial=1234";
    QTest::newRow("serial -1: refused")
        << QStringList { "--port", "PORT", "serial", "x1" } << int(Plain) << 2 << "^$"
        << "serial=1234";
    QTest::newRow("serial: bootloader")
        << QStringList { "--port", "PORT", "serial", "42" } << int(InBootloader) << 1 << "^$"
        << "serial=1234";
    QTest::newRow("mode calibration") << QStringList { "--port", "PORT", "mode", "calibration" }
                                      << int(Plain) << 0 << "^mode: Calibration Mode\n$"
                                      << "mode=1";
    QTest::newRow("app bootloader") << QStringList { "--port", "PORT", "app", "bootloader" }
                                    << int(Plain) << 0 << "^application: Bootloader Application\n$"
                                    << "app=0";
    QTest::newRow("flash --no-verify")
        << QStringList { "--port", "PORT", "flash", "HEXFILE", "--no-verify" } << int(Plain) << 0
        << "\n\\S+ +done +3/3 "
        << "app=1";
    QTest::newRow("flash: sender fails its writes")
        << QStringList { "--port", "PORT", "flash", "HEXFILE" } << int(FailingWrites) << 1
        << "PORT +RESULT.*\n\\S+ +failed +\\d+/3 "
        << "app=0";
    QTest::newRow("flash: silent sender")
        << QStringList { "--port", "PORT", "--timeout", "300", "flash", "HEXFILE" } << int(Silent)
        << 3 << "\\S+ +no answer +0/3 "
        << "";
    QTest::newRow("ports") << QStringList { "ports" } << int(Plain) << 0
                           << "(^|\n)(/dev/pts/\\d+)\t\\2\n$"
                           << "";
    QTest::newRow("history: none kept yet")
        << QStringList { "history", "--serial", "42" } << int(Plain) << 0 << "^$"
        << "";
    for (const auto &[name, args] : QList<QPair<const char *, QStringList>> {
             { "usage: no command", {} },
             { "usage: unknown command", { "reboot" } },
             { "usage: status without a port", { "status" } },
             { "usage: two ports for status", { "--port", "PORT", "--port", "PORT2", "status" } },
             { "usage: --seconds on status", { "--port", "PORT", "status", "--seconds", "1" } },
             { "usage: --no-verify on zero", { "--port", "PORT", "zero", "--no-verify" } },
             { "usage: bad baud rate", { "--port", "PORT", "--baud", "fast", "status" } },
             { "usage: 1.5 stop bits", { "--port", "PORT", "--stop-bits", "1.5", "status" } },
             { "usage: mode sideways", { "--port", "PORT", "mode", "sideways" } },
             { "usage: unknown option", { "--port", "PORT", "--colour", "status" } },
         })
        QTest::newRow(name) << args << int(Plain) << 2 << "^$"
                            << "app=1 mode=0 serial=1234";
}

void TestVx4ctl::command_printsItsResultAndExitCode()
{
    QFETCH(QStringList, args);
    QFETCH(int, setup);
    QFETCH(int, code);
    QFETCH(QString, output);
    QFETCH(QString, after);

    SimLink link;
    apply(link.sender, setup);
    const Run result = run(args, { link.pty.slavePath() });

    QCOMPARE(result.code, code);
    QVERIFY2(QRegularExpression(output, QRegularExpression::DotMatchesEverythingOption)
                 .match(result.out)
                 .hasMatch(),
             qPrintable(result.out));
    QVERIFY2(state(link.sender).contains(after), qPrintable(state(link.sender)));
    // A failure is one line saying what and why; success says nothing on standard error.
    if (code == 0)
        QCOMPARE(result.err, QString());
    else
        QVERIFY2(QRegularExpression("^vx4ctl: [^\n]+: [^\n]+\n$").match(result.err).hasMatch(),
                 qPrintable(result.err));
}

void TestVx4ctl::monitor_endsCleanlyWhenTerminated()
{
    SimLink link;
    link.sender.setAppliedPressure(5);
    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(VX4CTL_PATH, { "--port", link.pty.slavePath(), "monitor" });
    QTRY_VERIFY_WITH_TIMEOUT(process.canReadLine(), 10000);
    process.terminate();
    QVERIFY(finished.wait(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    QVERIFY2(QRegularExpression("^(\\S+ 5 PSI Okay\n)+$").match(out).hasMatch(), qPrintable(out));
}

void TestVx4ctl::json_everyLineIsAnObject_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("setup");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("key"); ///< of the last object
    QTest::addColumn<QVariant>("value");

    QTest::newRow("status") << QStringList { "--json", "--port", "PORT", "status" } << int(At12Psi)
                            << 0 << "pressurePsi" << QVariant(12);
    QTest::newRow("flash") << QStringList { "--json", "--port", "PORT", "flash", "HEXFILE" }
                           << int(Plain) << 0 << "result" << QVariant("done");
    QTest::newRow("refused zero") << QStringList { "--json", "--port", "PORT", "zero" }
                                  << int(At31Psi) << 1 << "exitCode" << QVariant(1);
    QTest::newRow("usage") << QStringList { "--json", "--port", "PORT", "serial", "70000" }
                           << int(Plain) << 2 << "exitCode" << QVariant(2);
}

void TestVx4ctl::json_everyLineIsAnObject()
{
    QFETCH(QStringList, args);
    QFETCH(int, setup);
    QFETCH(int, code);
    QFETCH(QString, key);
    QFETCH(QVariant, value);

    SimLink link;
    apply(link.sender, setup);
    const Run result = run(args, { link.pty.slavePath() });
    QCOMPARE(result.code, code);
    QCOMPARE(result.err, QString());
    const QStringList lines = result.out.split('\n', Qt::SkipEmptyParts);
    QVERIFY(!lines.isEmpty());
    QJsonObject last;
    for (const QString &line : lines) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        QVERIFY2(error.error == QJsonParseError::NoError && doc.isObject(), qPrintable(line));
        last = doc.object();
    }
    QCOMPARE(last.value(key).toVariant(), value);
    if (code != 0)
        QVERIFY(!last.value("error").toString().isEmpty());
}

void TestVx4ctl::flash_leavesMemoryAsTheWindowsDownload_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("fromBootloader");
    QTest::addColumn<bool>("verify");

    QTest::newRow("package") << packageOf(hexImage("\r\n")) << false << true;
    QTest::newRow("HEX, line feeds, not verified") << hexImage("\n") << false << false;
    QTest::newRow("HEX, sender in its bootloader") << hexImage("\r\n") << true << true;
}

void TestVx4ctl::flash_leavesMemoryAsTheWindowsDownload()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, fromBootloader);
    QFETCH(bool, verify);

    SimLink link;
    for (quint32 w = 0x100; w < 0x140; ++w)
        link.sender.setProgramWord(w, quint16(0x1100 + w));
    if (fromBootloader)
        link.sender.setApp(Bootloader);
    // Late answers, as on a slow line: the closing requests are still on their way when the
    // download reports success.
    link.sender.setAnswerDelay(20);
    const QList<ProgramMemoryRow> rows = rowsOf(hexImage("\r\n"));
    QCOMPARE(rows.size(), 3);
    const QMap<quint32, quint16> expected = memoryAfterDownload(link.sender, rows);
    QFile::remove(dir.filePath("debug.log"));

    const QString path = write("firmware", file);
    const Run result = run(QStringList { "--port", "PORT", "--log", "LOGFILE", "flash", path }
                               + (verify ? QStringList() : QStringList { "--no-verify" }),
                           { link.pty.slavePath() });
    QCOMPARE(result.code, 0);
    QCOMPARE(link.sender.programMemory(), expected);
    QCOMPARE(link.sender.eeprom(EepromBootFlagAddress), EepromBootFlagValid);
    // The reset reached the sender after the image was marked valid: it runs the new image.
    const QList<quint8> commands = link.sender.requestCommands();
    QVERIFY(commands.lastIndexOf(Reset) > commands.lastIndexOf(WriteEeprom));
    // Each row is read before it is written and, when verified, read back after.
    QCOMPARE(commands.count(ReadProgMem), rows.size() * (verify ? 2 : 1));
    QCOMPARE(link.sender.app(), PressureSendingApp);
    QVERIFY2(result.out.contains(": row 3 of 3 (100 %)"), qPrintable(result.out));
    QVERIFY(QRegularExpression("\n\\S+ +done +3/3 +[0-9.]+ s +Firmware update completed "
                               "successfully!\n$")
                .match(result.out)
                .hasMatch());

    QFile log(dir.filePath("debug.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString logText = QString::fromUtf8(log.readAll());
    QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} VX4interface @ "
                               "\\d+ : Sent: ",
                               QRegularExpression::MultilineOption)
                .match(logText)
                .hasMatch());
}

void TestVx4ctl::flash_refusedFile_exits2BeforeTouchingTheSender_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("why");

    QByteArray corrupt = packageOf(hexImage("\r\n"));
    corrupt[corrupt.size() / 2] = char(corrupt.at(corrupt.size() / 2) ^ 0x01);
    QByteArray badChecksum = hexImage("\r\n");
    badChecksum[42] = badChecksum.at(42) == '0' ? '1' : '0';
    QTest::newRow("corrupt package") << corrupt << "File data is corrupt";
    QTest::newRow("package, line feeds only") << packageOf(hexImage("\n")) << "CR LF";
    QTest::newRow("not firmware") << QByteArray("hello\n") << "Incorrect file type.";
    QByteArray cutShort = hexImage("\r\n");
    cutShort.chop(13);
    QTest::newRow("no end record") << cutShort << "no end-of-file record";
    QTest::newRow("missing file") << QByteArray() << "Could not open file.";
}

void TestVx4ctl::flash_refusedFile_exits2BeforeTouchingTheSender()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, why);

    SimLink link;
    const QString path = file.isEmpty() ? dir.filePath("no-such-file") : write("refused", file);
    const Run result = run({ "--port", "PORT", "flash", path }, { link.pty.slavePath() });
    QCOMPARE(result.code, 2);
    QCOMPARE(result.out, QString());
    QVERIFY2(result.err.startsWith("vx4ctl: " + path + ": ") && result.err.count('\n') == 1,
             qPrintable(result.err));
    QVERIFY2(result.err.contains(why), qPrintable(result.err));
    QVERIFY(link.sender.requests().isEmpty());
}

void TestVx4ctl::flash_twoSendersAtOnce_endsWithATableRowEach_data()
{
    QTest::addColumn<bool>("secondSilent");
    QTest::newRow("both answer") << false;
    QTest::newRow("the second is silent") << true;
}

void TestVx4ctl::flash_twoSendersAtOnce_endsWithATableRowEach()
{
    QFETCH(bool, secondSilent);

    SimLink first;
    SimLink second;
    second.sender.setSilent(secondSilent);
    const QList<ProgramMemoryRow> rows = rowsOf(hexImage("\r\n"));
    const QMap<quint32, quint16> expectedFirst = memoryAfterDownload(first.sender, rows);
    const QMap<quint32, quint16> expectedSecond
        = secondSilent ? second.sender.programMemory() : memoryAfterDownload(second.sender, rows);

    const Run result
        = run({ "--timeout", "500", "--port", "PORT", "--port", "PORT2", "flash", "HEXFILE" },
              { first.pty.slavePath(), second.pty.slavePath() });
    QCOMPARE(result.code, secondSilent ? 3 : 0);
    QCOMPARE(first.sender.programMemory(), expectedFirst);
    QCOMPARE(second.sender.programMemory(), expectedSecond);
    const QString table = result.out.mid(result.out.indexOf("PORT "));
    const QString firstRow = QRegularExpression::escape(first.pty.slavePath()) + " +done +3/3 ";
    const QString secondRow = QRegularExpression::escape(second.pty.slavePath())
        + (secondSilent ? " +no answer +0/3 " : " +done +3/3 ");
    QVERIFY2(QRegularExpression("^PORT +RESULT +ROWS +TIME +MESSAGE\n" + firstRow + ".*\n"
                                + secondRow + ".*\n$")
                 .match(table)
                 .hasMatch(),
             qPrintable(result.out));
    QCOMPARE(result.err.count('\n'), secondSilent ? 1 : 0);
}

void TestVx4ctl::flash_onATerminal_drawsABarPerPort()
{
    SimLink first;
    SimLink second;
    // Standard output on a terminal of its own, drained as it fills.
    int master = -1;
    int slave = -1;
    QVERIFY(::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0);
    const QString terminal = QString::fromLocal8Bit(::ttyname(slave));
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    QByteArray screen;
    QSocketNotifier readable(master, QSocketNotifier::Read);
    connect(&readable, &QSocketNotifier::activated, this, [&] {
        char chunk[4096];
        ssize_t n;
        while ((n = ::read(master, chunk, sizeof chunk)) > 0)
            screen.append(chunk, int(n));
    });

    QProcess process;
    process.setStandardOutputFile(terminal);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(
        VX4CTL_PATH,
        { "--port", first.pty.slavePath(), "--port", second.pty.slavePath(), "flash", hexFile });
    QVERIFY(finished.wait(30000));
    QCOMPARE(process.exitCode(), 0);
    QTRY_VERIFY(screen.contains("MESSAGE"));
    ::close(slave);
    ::close(master);

    // The bars are drawn, then drawn again in place: up two lines, each line cleared.
    const QString text = QString::fromUtf8(screen);
    QVERIFY2(text.contains("\x1b[2A\r\x1b[2K"), qPrintable(text));
    for (const SimLink *link : { &first, &second })
        QVERIFY2(text.contains(QRegularExpression(QRegularExpression::escape(link->pty.slavePath())
                                                  + " *\\[#{30}\\] 3/3 rows  done")),
                 qPrintable(text));
    // No plain progress lines on a terminal.
    QVERIFY(!text.contains("(100 %)"));
}

QTEST_GUILESS_MAIN(TestVx4ctl)
#include "tst_vx4ctl.moc"
