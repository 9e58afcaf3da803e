#include "ctloptions.h"

#include "portlock.h"
#include "servicerules.h"

#include <QCommandLineParser>
#include <QRegularExpression>

namespace {

const QStringList PortCommands = { "status", "monitor", "zero", "serial", "mode", "app", "flash" };
const QStringList Commands = QStringList { "ports", "history", "policy" } + PortCommands;

// A whole decimal number, digits only; false for anything else.
bool parseDigits(const QString &text, qint64 *value)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,18}$"));
    if (!digits.match(text).hasMatch())
        return false;
    *value = text.toLongLong();
    return true;
}

bool parseParity(const QString &text, PortSettings::Parity *parity)
{
    static const QList<QPair<QString, PortSettings::Parity>> names {
        { "none", PortSettings::Parity::None },   { "odd", PortSettings::Parity::Odd },
        { "even", PortSettings::Parity::Even },   { "mark", PortSettings::Parity::Mark },
        { "space", PortSettings::Parity::Space },
    };
    for (const auto &[name, value] : names) {
        if (text.compare(name, Qt::CaseInsensitive) == 0) {
            *parity = value;
            return true;
        }
    }
    return false;
}

bool parseFlow(const QString &text, PortSettings::Flow *flow)
{
    static const QList<QPair<QString, PortSettings::Flow>> names {
        { "none", PortSettings::Flow::Off },          { "off", PortSettings::Flow::Off },
        { "hardware", PortSettings::Flow::Hardware }, { "rtscts", PortSettings::Flow::Hardware },
        { "xonxoff", PortSettings::Flow::XonXoff },   { "software", PortSettings::Flow::XonXoff },
    };
    for (const auto &[name, value] : names) {
        if (text.compare(name, Qt::CaseInsensitive) == 0) {
            *flow = value;
            return true;
        }
    }
    return false;
}

// The command's own arguments, checked; empty when they are fine, else why not.
QString takeCommandArguments(CtlOptions &o, const QStringList &args)
{
    const QString &c = o.command;
    if (c == "policy") { // its own words: checked where it runs
        o.commandArguments = args;
        return {};
    }
    const int wanted = c == "serial" || c == "mode" || c == "app" || c == "flash" ? 1 : 0;
    if (args.size() != wanted) {
        if (wanted == 0)
            return QStringLiteral("%1 takes no argument, got \"%2\"").arg(c, args.join(' '));
        return QStringLiteral("%1 needs one argument, got %2").arg(c).arg(args.size());
    }
    if (c == "serial") {
        qint64 number = 0;
        if (!parseDigits(args.first(), &number))
            return QStringLiteral("the serial number \"%1\" is not a number").arg(args.first());
        if (number > VX4ServiceRules::MaxSerialNumber)
            return QStringLiteral("The serial number %1 is too large. Serial numbers range from "
                                  "0 to %2.")
                .arg(number)
                .arg(VX4ServiceRules::MaxSerialNumber);
        o.serialNumber = int(number);
    } else if (c == "mode") {
        if (args.first() == "pressure")
            o.targetMode = 0;
        else if (args.first() == "calibration")
            o.targetMode = 1;
        else
            return QStringLiteral("mode is pressure or calibration, not \"%1\"").arg(args.first());
    } else if (c == "app") {
        if (args.first() == "bootloader")
            o.targetBootloader = true;
        else if (args.first() == "application")
            o.targetBootloader = false;
        else
            return QStringLiteral("app is bootloader or application, not \"%1\"").arg(args.first());
    } else if (c == "flash") {
        o.firmwareFile = args.first();
    }
    return {};
}

} // namespace

QString CtlOptions::usage()
{
    return QStringLiteral(
        "Usage: vx4ctl [options] COMMAND [ARGUMENT]\n"
        "Checks, services and flashes Orvelle VX4 pressure senders without a window.\n"
        "\n"
        "Commands:\n"
        "  ports                                the serial ports the utility would offer\n"
        "  status                               serial number, firmware, application, mode,\n"
        "                                       calibration date, A/D offset and the reading;\n"
        "                                       several --port options: one line per sender\n"
        "  monitor [--seconds N]                one line per reading (until interrupted)\n"
        "  zero                                 zero the reading (only within +-30 PSI)\n"
        "  serial N                             write the serial number N (0 to 65535)\n"
        "  mode pressure|calibration            switch the operating mode\n"
        "  app bootloader|application           switch the running application\n"
        "  flash FILE [--no-verify]             download a firmware package or Intel HEX file;\n"
        "                                       several --port options flash several at once\n"
        "  history [--serial N|TEXT]            the stored calibration runs: of every sender\n"
        "                                       with that number, or of that sender\n"
        "  policy [set tolerance=PSI rule=simple|guarded procedure=ID [by=NAME]]\n"
        "                                       the lab's calibration policy, or a new one\n"
        "\n"
        "Options:\n"
        "  -p, --port PATH      the sender's serial port (every command but ports and history)\n"
        "  -b, --baud N         bits per second (default 9600)\n"
        "  --data-bits N        5 to 8 (default 8)\n"
        "  --parity P           none, odd, even, mark or space (default none)\n"
        "  --stop-bits S        1 or 2 (default 1)\n"
        "  --flow F             none, hardware or xonxoff (default none)\n"
        "  --timeout MS         wait this long for the sender to answer (default 3000)\n"
        "  --json               one JSON object per line, each with an \"event\" key\n"
        "  --log FILE           append the debug log to FILE\n"
        "  -h, --help           this text\n"
        "  -v, --version        the version\n"
        "\n"
        "Results go to standard output; progress, messages and failures to standard error.\n"
        "\n"
        "Exit codes: 0 done; 1 the sender refused, failed or timed out, or the history cannot\n"
        "be read; 2 bad usage or a refused file; 3 no sender answered; 4 the port cannot be\n"
        "opened (missing, permission denied, busy); 130 interrupted (SIGINT), 143 terminated\n"
        "(SIGTERM). With several ports: the highest of the senders' codes.\n");
}

CtlOptions CtlOptions::parse(const QStringList &arguments, QString *error)
{
    CtlOptions o;
    error->clear();
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    const QCommandLineOption port(QStringList { "p", "port" }, {}, "PATH");
    const QCommandLineOption baud(QStringList { "b", "baud" }, {}, "N");
    const QCommandLineOption dataBits("data-bits", {}, "N");
    const QCommandLineOption parity("parity", {}, "P");
    const QCommandLineOption stopBits("stop-bits", {}, "S");
    const QCommandLineOption flow("flow", {}, "F");
    const QCommandLineOption timeout("timeout", {}, "MS");
    const QCommandLineOption json("json", {});
    const QCommandLineOption log("log", {}, "FILE");
    const QCommandLineOption seconds("seconds", {}, "N");
    const QCommandLineOption noVerify("no-verify", {});
    const QCommandLineOption serial("serial", {}, "N");
    const QCommandLineOption help(QStringList { "h", "help" }, {});
    const QCommandLineOption version(QStringList { "v", "version" }, {});
    parser.addOptions({ port, baud, dataBits, parity, stopBits, flow, timeout, json, log, seconds,
                        noVerify, serial, help, version });
    // The program name is expected first.
    if (!parser.parse(QStringList { QStringLiteral("vx4ctl") } + arguments)) {
        *error = parser.errorText();
        return o;
    }
    // Set first: a usage failure is reported in the form asked for.
    o.json = parser.isSet(json);
    o.help = parser.isSet(help);
    o.version = parser.isSet(version);
    if (o.help || o.version)
        return o;

    auto fail = [&](const QString &why) {
        *error = why;
        return o;
    };
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return fail(QStringLiteral("no command given"));
    o.command = positional.first();
    if (!Commands.contains(o.command))
        return fail(QStringLiteral("unknown command \"%1\"").arg(o.command));
    const QString why = takeCommandArguments(o, positional.mid(1));
    if (!why.isEmpty())
        return fail(why);

    o.logFile = parser.value(log);
    o.ports = parser.values(port);
    if (PortCommands.contains(o.command) && o.ports.isEmpty())
        return fail(QStringLiteral("%1 needs --port PATH").arg(o.command));
    if (!PortCommands.contains(o.command) && !o.ports.isEmpty())
        return fail(QStringLiteral("%1 takes no --port").arg(o.command));
    if (o.command != "flash" && o.command != "status" && o.ports.size() > 1)
        return fail(QStringLiteral("only flash and status take several --port options"));
    // One owner per sender: a link and the device it leads to are one port.
    QStringList devices;
    for (const QString &port : std::as_const(o.ports)) {
        const QString device = PortLock::canonicalDevice(port);
        const int earlier = int(devices.indexOf(device));
        if (earlier >= 0)
            return fail(QStringLiteral("%1 and %2 are the same port (%3)")
                            .arg(o.ports.at(earlier), port, device));
        devices.append(device);
    }

    const QList<QPair<const QCommandLineOption *, QString>> commandOnly { { &seconds, "monitor" },
                                                                          { &noVerify, "flash" },
                                                                          { &serial, "history" } };
    for (const auto &[option, command] : commandOnly) {
        if (parser.isSet(*option) && o.command != command)
            return fail(QStringLiteral("--%1 belongs to %2").arg(option->names().first(), command));
    }

    qint64 number = 0;
    if (parser.isSet(baud)) {
        if (!parseDigits(parser.value(baud), &number) || number < 1 || number > 4000000)
            return fail(QStringLiteral("--baud \"%1\" is not a baud rate").arg(parser.value(baud)));
        o.line.baudRate = qint32(number);
    }
    if (parser.isSet(dataBits)) {
        if (!parseDigits(parser.value(dataBits), &number) || number < 5 || number > 8)
            return fail(
                QStringLiteral("--data-bits \"%1\" is not 5 to 8").arg(parser.value(dataBits)));
        o.line.dataBits = int(number);
    }
    if (parser.isSet(parity) && !parseParity(parser.value(parity), &o.line.parity))
        return fail(QStringLiteral("--parity \"%1\" is not none, odd, even, mark or space")
                        .arg(parser.value(parity)));
    if (parser.isSet(stopBits)) {
        const QString s = parser.value(stopBits);
        if (s == "1")
            o.line.stopBits = PortSettings::StopBits::One;
        else if (s == "1.5")
            o.line.stopBits = PortSettings::StopBits::OneAndHalf;
        else if (s == "2")
            o.line.stopBits = PortSettings::StopBits::Two;
        else
            return fail(QStringLiteral("--stop-bits \"%1\" is not 1, 1.5 or 2").arg(s));
    }
    if (parser.isSet(flow) && !parseFlow(parser.value(flow), &o.line.flowControl))
        return fail(QStringLiteral("--flow \"%1\" is not none, hardware or xonxoff")
                        .arg(parser.value(flow)));
    const QString unsupported = o.line.unsupportedReason();
    if (!unsupported.isEmpty())
        return fail(unsupported);
    if (parser.isSet(timeout)) {
        if (!parseDigits(parser.value(timeout), &number) || number < 1 || number > 600000)
            return fail(QStringLiteral("--timeout \"%1\" is not 1 to 600000 ms")
                            .arg(parser.value(timeout)));
        o.connectTimeoutMs = int(number);
    }
    if (parser.isSet(seconds)) {
        bool ok = false;
        o.monitorSeconds = parser.value(seconds).toDouble(&ok);
        if (!ok || !(o.monitorSeconds >= 0) || o.monitorSeconds > 1e7)
            return fail(QStringLiteral("--seconds \"%1\" is not a number of seconds")
                            .arg(parser.value(seconds)));
    }
    o.verify = !parser.isSet(noVerify);
    o.historySerial = parser.value(serial);
    return o;
}
