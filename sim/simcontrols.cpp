#include "simcontrols.h"

#include "ptyendpoint.h"
#include "simulatedsender.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cmath>

namespace {

constexpr char CalDateFormat[] = "yyyy-MM-dd hh:mm";
constexpr char DefaultGarbageHex[] = "5AA5FF00"; ///< bytes of "garbage" without any
constexpr int HelpColumn = 24; ///< where the help texts of the control commands start

bool parseInt(const QString &text, int low, int high, int *value)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < low || v > high)
        return false;
    *value = v;
    return true;
}

bool parseDouble(const QString &text, double *value)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    *value = v;
    return true;
}

bool parseChoice(const QString &text, const char *first, int firstValue, const char *second,
                 int secondValue, int *value)
{
    if (text == QLatin1String(first))
        *value = firstValue;
    else if (text == QLatin1String(second))
        *value = secondValue;
    else
        return false;
    return true;
}

bool parseVersion(const QString &text, quint8 *major, quint8 *minor)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 2)
        return false;
    int a = 0, b = 0;
    if (!parseInt(parts.at(0), 0, 255, &a) || !parseInt(parts.at(1), 0, 255, &b))
        return false;
    *major = quint8(a);
    *minor = quint8(b);
    return true;
}

/// A null date stands for "no calibration date stored".
bool parseCalDate(const QString &text, QDateTime *dt)
{
    if (text == QLatin1String("none")) {
        *dt = QDateTime();
        return true;
    }
    *dt = QDateTime::fromString(text, QLatin1String(CalDateFormat));
    return dt->isValid();
}

bool parseArgs(const SimControl &control, const QStringList &args, ControlValue *value)
{
    const QString arg = args.value(0);
    switch (control.kind) {
    case ArgKind::None:
        return args.isEmpty();
    case ArgKind::Any:
        return true;
    case ArgKind::Integer:
        return parseInt(arg, control.low, control.high, &value->number);
    case ArgKind::Real:
        return parseDouble(arg, &value->x);
    case ArgKind::OnOff:
        return parseChoice(arg, "on", 1, "off", 0, &value->number);
    case ArgKind::App:
        return parseChoice(arg, "bootloader", Bootloader, "pressure", PressureSendingApp,
                           &value->number);
    case ArgKind::Mode:
        return parseChoice(arg, "pressure", PressureSendingMode, "calibration", CalibrationMode,
                           &value->number);
    case ArgKind::Version:
        return parseVersion(arg, &value->major, &value->minor);
    case ArgKind::Date:
        return parseCalDate(args.join(QLatin1Char(' ')), &value->date);
    case ArgKind::RealPair:
        return args.size() == 2 && parseDouble(args.at(0), &value->x)
            && parseDouble(args.at(1), &value->y);
    case ArgKind::Wobble:
        if (!parseDouble(arg, &value->x) || value->x < 0)
            return false;
        value->hasY = args.size() > 1;
        return !value->hasY || (parseDouble(args.at(1), &value->y) && value->y > 0);
    case ArgKind::Repeat:
        if (arg == QLatin1String("always")) {
            value->number = 2;
            return args.size() == 1;
        }
        return args.size() == 1 && parseChoice(arg, "off", 0, "once", 1, &value->number);
    case ArgKind::Bytes:
        value->bytes = QByteArray::fromHex(args.isEmpty() ? QByteArray(DefaultGarbageHex)
                                                          : args.join(QString()).toLatin1());
        return !value->bytes.isEmpty();
    }
    return false;
}

/// Bytes given up front go out when the first request shows that somebody listens.
void injectOnFirstRequest(SimulatedSender &sender, const QByteArray &bytes)
{
    auto *once = new QMetaObject::Connection;
    *once = QObject::connect(&sender, &SimulatedSender::requestReceived, &sender,
                             [&sender, bytes, once]() {
                                 QObject::disconnect(*once);
                                 delete once;
                                 sender.injectGarbage(bytes);
                             });
}

// One entry per control; kept as a table by hand, one control to a paragraph.
// clang-format off
const std::vector<SimControl> controls = {
    { "pressure", nullptr, "PSI", "applied pressure (the drift goes on around it)",
      ArgKind::Real, 0, 0,
      { { "pressure", "PSI", "Applied pressure in PSI (0)." } },
      [](SimTarget &t, const ControlValue &v, QString *) {
          t.drift.basePsi = v.x;
          t.sender.setAppliedPressure(t.drift.now());
      } },
    { "wobble", nullptr, "PSI [SECONDS]",
      "drift amplitude and period; \"wobble 0\" holds the pressure still",
      ArgKind::Wobble, 0, 0,
      { { "wobble", "PSI", "Amplitude of the slow drift around the applied pressure, in PSI; "
                           "0 holds it still (3).", "3" },
        { "wobble-period", "SECONDS", "Period of the drift in seconds (8).", "8" } },
      [](SimTarget &t, const ControlValue &v, QString *) {
          t.drift.amplitudePsi = v.x;
          if (v.hasY)
              t.drift.periodS = v.y;
      } },
    { "silent", nullptr, "on|off", "stop answering and streaming / answer again",
      ArgKind::OnOff, 0, 0,
      { { "silent", nullptr, "Start silent: no answers, no stream.", "on" } },
      [](SimTarget &t, const ControlValue &v, QString *) { t.sender.setSilent(v.number); } },
    { "app", nullptr, "bootloader|pressure", "firmware application the sender runs",
      ArgKind::App, 0, 0,
      { { "app", "APP", "Running application: bootloader or pressure (pressure)." } },
      [](SimTarget &t, const ControlValue &v, QString *) { t.sender.setApp(VX4App(v.number)); } },
    { "mode", nullptr, "pressure|calibration", "",
      ArgKind::Mode, 0, 0,
      { { "mode", "MODE", "Operating mode: pressure or calibration (pressure)." } },
      [](SimTarget &t, const ControlValue &v, QString *) { t.sender.setMode(VX4Mode(v.number)); } },
    { "firmware", nullptr, "MAJOR.MINOR", "firmware version",
      ArgKind::Version, 0, 0,
      { { "firmware", "MAJOR.MINOR", "Firmware version (1.0)." } },
      [](SimTarget &t, const ControlValue &v, QString *) {
          t.sender.setFirmwareVersion(v.major, v.minor);
      } },
    { "serial", nullptr, "N", "serial number, 0 to 65535",
      ArgKind::Integer, 0, 65535,
      { { "serial", "N", "Serial number, 0 to 65535 (1234)." } },
      [](SimTarget &t, const ControlValue &v, QString *) {
          t.sender.setSerialNumber(quint16(v.number));
      } },
    { "caldate", nullptr, "YYYY-MM-DD HH:MM | none", "",
      ArgKind::Date, 0, 0,
      { { "cal-date", "DATE", "Calibration date \"YYYY-MM-DD HH:MM\", or none (none)." } },
      [](SimTarget &t, const ControlValue &v, QString *) { t.sender.setCalDateTime(v.date); } },
    { "adoffset", nullptr, "N", "A/D offset",
      ArgKind::Integer, -32768, 32767,
      { { "ad-offset", "N", "A/D offset (0)." } },
      [](SimTarget &t, const ControlValue &v, QString *) {
          t.sender.setAdOffset(qint16(v.number));
      } },
    { "adstatus", nullptr, "N",
      "A/D status of pressure frames: 0 okay, 1 time-out, 2 NACK, 3 config",
      ArgKind::Integer, 0, 255,
      { { "ad-status", "N", "A/D status of pressure frames: 0 okay, 1 time-out, 2 NACK, "
                            "3 config (0)." } },
      [](SimTarget &t, const ControlValue &v, QString *) {
          t.sender.setAdStatus(quint8(v.number));
      } },
    { "calerror", nullptr, "OFFSET GAIN",
      "error of the sender's own calibration: reading = GAIN*applied+OFFSET",
      ArgKind::RealPair, 0, 0,
      { { "cal-error-offset", "PSI", "Offset error of the sender's own calibration in PSI (0).",
          "0" },
        { "cal-error-gain", "GAIN", "Gain error of the sender's own calibration (1).", "1" } },
      [](SimTarget &t, const ControlValue &v, QString *) {
          t.sender.setCalibrationError(v.x, v.y);
      } },
    { "interval", nullptr, "MS", "period of pressure frames; 0 stops the stream",
      ArgKind::Integer, 0, 60000,
      { { "stream-interval", "MS", "Period of pressure frames in ms; 0 streams nothing (50)." } },
      [](SimTarget &t, const ControlValue &v, QString *) {
          t.sender.setStreamInterval(v.number);
      } },
    { "drop", nullptr, "N", "leave the next N requests unanswered",
      ArgKind::Integer, 0, 1000000,
      { { "drop", "N", "Leave the first N requests unanswered." } },
      [](SimTarget &t, const ControlValue &v, QString *) { t.sender.dropNextAnswers(v.number); } },
    { "corrupt", nullptr, "", "spoil the CRC of the next answer",
      ArgKind::None, 0, 0,
      { { "corrupt-crc", nullptr, "Spoil the CRC of the first answer.", "" } },
      [](SimTarget &t, const ControlValue &, QString *) { t.sender.corruptNextCrc(); } },
    { "garbage", nullptr, "[HEX]", "send these bytes now (default 5A A5 FF 00)",
      ArgKind::Bytes, 0, 0,
      { { "garbage", "HEX", "Send these bytes (hex) when the first request arrives." } },
      [](SimTarget &t, const ControlValue &v, QString *) {
          if (t.starting)
              injectOnFirstRequest(t.sender, v.bytes);
          else
              t.sender.injectGarbage(v.bytes);
      } },
    { "delay", nullptr, "MS", "answer this late",
      ArgKind::Integer, 0, 60000,
      { { "answer-delay", "MS", "Answer this many ms late (0)." } },
      [](SimTarget &t, const ControlValue &v, QString *) { t.sender.setAnswerDelay(v.number); } },
    { "late", nullptr, "MS", "answer the next request this late; later answers follow it",
      ArgKind::Integer, 0, 60000,
      { { "late-answer", "MS", "Answer the first request this many ms late; the answers after it "
                               "follow in order." } },
      [](SimTarget &t, const ControlValue &v, QString *) { t.sender.delayNextAnswer(v.number); } },
    { "emptyapp", nullptr, "N", "answer the next N application queries with no payload",
      ArgKind::Integer, 0, 1000000,
      { { "empty-app-answers", "N", "Answer the first N application queries with no payload." } },
      [](SimTarget &t, const ControlValue &v, QString *) {
          t.sender.setEmptyAppAnswers(v.number);
      } },
    { "echo", nullptr, "on|off", "echo every byte from the PC back, as a two-wire adapter does",
      ArgKind::OnOff, 0, 0,
      { { "echo", nullptr, "Echo every byte from the PC back to it (a two-wire line).", "on" } },
      [](SimTarget &t, const ControlValue &v, QString *) { t.pty.setEcho(v.number); } },
    { "failwrites", nullptr, "N", "refuse the next N program memory writes",
      ArgKind::Integer, 0, 1000000,
      { { "fail-writes", "N", "Refuse the first N program memory writes." } },
      [](SimTarget &t, const ControlValue &v, QString *) { t.sender.failNextWrites(v.number); } },
    { "corruptwrites", nullptr, "off|once|always",
      "store one word of written rows wrong, yet confirm them",
      ArgKind::Repeat, 0, 0,
      { { "corrupt-writes", "WHEN", "Store one word of the next (once) or every (always) "
                                    "written row wrong, yet confirm it (off)." } },
      [](SimTarget &t, const ControlValue &v, QString *) {
          t.sender.setCorruptWrites(SimulatedSender::CorruptWrites(v.number));
      } },
    { "restartdelay", nullptr, "MS", "restart this long after acknowledging APP CHANGE",
      ArgKind::Integer, 0, 60000,
      { { "restart-delay", "MS", "Restart into the other application this many ms after "
                                 "acknowledging APP CHANGE (30)." } },
      [](SimTarget &t, const ControlValue &v, QString *) { t.sender.setRestartDelay(v.number); } },
    { "noise", nullptr, "N", "send N noise pairs now: a stray marker and a large length byte",
      ArgKind::Integer, 1, 1000,
      { { "noise", "N", "Send N noise pairs when the first request arrives." } },
      [](SimTarget &t, const ControlValue &v, QString *) {
          QByteArray noise;
          for (int i = 0; i < v.number; ++i)
              noise += QByteArray::fromHex("3CF0");
          if (t.starting)
              injectOnFirstRequest(t.sender, noise);
          else
              t.sender.injectGarbage(noise);
      } },
    { "vanish", nullptr, "", "close the port under its user, as an unplugged adapter",
      ArgKind::None, 0, 0, {},
      [](SimTarget &t, const ControlValue &, QString *) { t.pty.vanish(); } },
    { "status", nullptr, "", "print the sender's state",
      ArgKind::None, 0, 0, {},
      [](SimTarget &t, const ControlValue &, QString *reply) { *reply = simStatus(t); } },
    { "help", nullptr, "", "this text",
      ArgKind::Any, 0, 0, {},
      [](SimTarget &, const ControlValue &, QString *reply) { *reply = controlHelp(); } },
    { "quit", "exit", "", "stop serving",
      ArgKind::Any, 0, 0, {},
      [](SimTarget &, const ControlValue &, QString *reply) {
          *reply = QStringLiteral("bye");
          QCoreApplication::quit();
      } },
};
// clang-format on

QString optionName(const SimOption &option)
{
    return QString::fromLatin1(option.name);
}

} // namespace

double Drift::now() const
{
    if (amplitudePsi == 0 || periodS <= 0)
        return basePsi;
    const double t = clock.elapsed() / 1000.0;
    return basePsi + amplitudePsi * std::sin(2 * M_PI * t / periodS);
}

const std::vector<SimControl> &simControls()
{
    return controls;
}

bool runControl(SimTarget &target, const QString &line, QString *reply)
{
    const QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return words.isEmpty() || runControl(target, words, reply);
}

bool runControl(SimTarget &target, const QStringList &words, QString *reply)
{
    const QString command = words.value(0).toLower();
    for (const SimControl &control : controls) {
        if (command != QLatin1String(control.command)
            && !(control.alias && command == QLatin1String(control.alias)))
            continue;
        ControlValue value;
        if (!parseArgs(control, words.mid(1), &value))
            return false;
        *reply = QStringLiteral("ok");
        control.apply(target, value, reply);
        return true;
    }
    return false;
}

QString controlHelp()
{
    QString text = QStringLiteral("Control commands (one per line on standard input):\n");
    for (const SimControl &control : controls) {
        QString usage = QString::fromLatin1(control.command);
        if (*control.syntax)
            usage += QLatin1Char(' ') + QLatin1String(control.syntax);
        text += QStringLiteral("  ") + usage;
        if (*control.help)
            text += QString(qMax(1, HelpColumn - int(usage.size())), QLatin1Char(' '))
                + QLatin1String(control.help);
        text += QLatin1Char('\n');
    }
    return text
        + QStringLiteral("End of input (a closed standard input) leaves the simulator serving.");
}

QString simStatus(const SimTarget &target)
{
    const SimulatedSender &sender = target.sender;
    const QDateTime cal = sender.calDateTime();
    return QStringLiteral("app %1, mode %2, firmware %3.%4, serial %5, caldate %6, adoffset %7, "
                          "applied %8 PSI, reading %9 PSI, silent %10, requests %11, "
                          "bytes in %12 out %13")
               .arg(sender.app() == Bootloader ? QStringLiteral("bootloader")
                                               : QStringLiteral("pressure"))
               .arg(sender.mode() == CalibrationMode ? QStringLiteral("calibration")
                                                     : QStringLiteral("pressure"))
               .arg(sender.firmwareMajor())
               .arg(sender.firmwareMinor())
               .arg(sender.serialNumber())
               .arg(cal.isValid() ? cal.toString(QLatin1String(CalDateFormat))
                                  : QStringLiteral("none"))
               .arg(sender.adOffset())
               .arg(sender.appliedPressure(), 0, 'f', 1)
               .arg(sender.reading())
               .arg(sender.isSilent() ? QStringLiteral("on") : QStringLiteral("off"))
               .arg(sender.requests().size())
               .arg(target.pty.bytesFromPc())
               .arg(target.pty.bytesToPc())
        + QStringLiteral(", restart %1 ms, echo %2, corrupt writes %3%4")
              .arg(sender.restartDelay())
              .arg(target.pty.echoes() ? QStringLiteral("on") : QStringLiteral("off"))
              .arg(QStringList { QStringLiteral("off"), QStringLiteral("once"),
                                 QStringLiteral("always") }
                       .at(int(sender.corruptWrites())))
              .arg(target.pty.hasVanished() ? QStringLiteral(", port vanished") : QString());
}

void addControlOptions(QCommandLineParser &parser)
{
    for (const SimControl &control : controls) {
        for (const SimOption &option : control.options) {
            if (option.valueName)
                parser.addOption(QCommandLineOption(optionName(option),
                                                    QString::fromLatin1(option.help),
                                                    QString::fromLatin1(option.valueName)));
            else
                parser.addOption(
                    QCommandLineOption(optionName(option), QString::fromLatin1(option.help)));
        }
    }
}

QList<QStringList> optionCommands(const QCommandLineParser &parser)
{
    QList<QStringList> commands;
    for (const SimControl &control : controls) {
        bool anySet = false;
        QStringList words { QString::fromLatin1(control.command) };
        for (const SimOption &option : control.options) {
            const bool set = parser.isSet(optionName(option));
            anySet = anySet || set;
            if (!option.valueName) {
                if (set && *option.fallback)
                    words.append(QString::fromLatin1(option.fallback));
                continue;
            }
            const QString value = set ? parser.value(optionName(option)).simplified() : QString();
            if (value.isEmpty())
                // An empty value stays a word, so it is refused rather than taken for none.
                words.append(option.fallback ? QString::fromLatin1(option.fallback) : QString());
            else
                words.append(value.split(QLatin1Char(' ')));
        }
        if (anySet)
            commands.append(words);
    }
    return commands;
}
