// vx4sim: serves a simulated Orvelle VX4 sender on a pseudo-terminal, for demos, training and
// trying the utility without hardware. Settings come from options; a line-based control channel
// on standard input changes them while it runs.
#include "ptyendpoint.h"
#include "simulatedsender.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int WobbleTickMs = 100; ///< how often the drifting applied pressure is updated
constexpr double DefaultWobblePsi = 3.0; ///< amplitude of the default drift
constexpr double DefaultWobblePeriodS = 8.0; ///< period of the default drift
constexpr char CalDateFormat[] = "yyyy-MM-dd hh:mm";
constexpr int StaleCheckMs = 500; ///< how often unread bytes on the terminal are looked at
constexpr int StaleBytesLimit = 1024; ///< unread bytes beyond which nobody is listening

const char *const ControlHelp = R"(Control commands (one per line on standard input):
  pressure PSI            applied pressure (the drift goes on around it)
  wobble PSI [SECONDS]    drift amplitude and period; "wobble 0" holds the pressure still
  silent on|off           stop answering and streaming / answer again
  app bootloader|pressure firmware application the sender runs
  mode pressure|calibration
  firmware MAJOR.MINOR    firmware version
  serial N                serial number, 0 to 65535
  caldate YYYY-MM-DD HH:MM | none
  adoffset N              A/D offset
  adstatus N              A/D status of pressure frames: 0 okay, 1 time-out, 2 NACK, 3 config
  calerror OFFSET GAIN    error of the sender's own calibration: reading = GAIN*applied+OFFSET
  interval MS             period of pressure frames; 0 stops the stream
  drop N                  leave the next N requests unanswered
  corrupt                 spoil the CRC of the next answer
  garbage [HEX]           send these bytes now (default 5A A5 FF 00)
  delay MS                answer this late
  failwrites N            refuse the next N program memory writes
  status                  print the sender's state
  help                    this text
  quit                    stop serving
End of input (a closed standard input) leaves the simulator serving.)";

void say(const QString &line)
{
    std::fprintf(stdout, "%s\n", qUtf8Printable(line));
    std::fflush(stdout);
}

bool parseApp(const QString &text, VX4App *app)
{
    if (text == QLatin1String("bootloader"))
        *app = Bootloader;
    else if (text == QLatin1String("pressure"))
        *app = PressureSendingApp;
    else
        return false;
    return true;
}

bool parseMode(const QString &text, VX4Mode *mode)
{
    if (text == QLatin1String("pressure"))
        *mode = PressureSendingMode;
    else if (text == QLatin1String("calibration"))
        *mode = CalibrationMode;
    else
        return false;
    return true;
}

bool parseFirmware(const QString &text, quint8 *major, quint8 *minor)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 2)
        return false;
    bool ok1 = false, ok2 = false;
    const uint a = parts.at(0).toUInt(&ok1);
    const uint b = parts.at(1).toUInt(&ok2);
    if (!ok1 || !ok2 || a > 255 || b > 255)
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

/// The applied pressure and its slow drift, so the utility's reading moves as a real one would.
struct Drift
{
    double basePsi = 0;
    double amplitudePsi = DefaultWobblePsi;
    double periodS = DefaultWobblePeriodS;
    QElapsedTimer clock;

    double now() const
    {
        if (amplitudePsi == 0 || periodS <= 0)
            return basePsi;
        const double t = clock.elapsed() / 1000.0;
        return basePsi + amplitudePsi * std::sin(2 * M_PI * t / periodS);
    }
};

class Simulator
{
public:
    Simulator(SimulatedSender &sender, PtyEndpoint &pty, Drift &drift)
        : sender(sender)
        , pty(pty)
        , drift(drift)
    {
    }

    /// Runs one control line; false when the line was not understood.
    bool run(const QString &line, QString *reply);
    QString status() const;

private:
    SimulatedSender &sender;
    PtyEndpoint &pty;
    Drift &drift;
};

QString Simulator::status() const
{
    const QDateTime cal = sender.calDateTime();
    return QStringLiteral("app %1, mode %2, firmware %3.%4, serial %5, caldate %6, adoffset %7, "
                          "applied %8 PSI, reading %9 PSI, silent %10, requests %11, "
                          "bytes in %12 out %13")
        .arg(sender.app() == Bootloader ? QStringLiteral("bootloader") : QStringLiteral("pressure"))
        .arg(sender.mode() == CalibrationMode ? QStringLiteral("calibration")
                                              : QStringLiteral("pressure"))
        .arg(sender.firmwareMajor())
        .arg(sender.firmwareMinor())
        .arg(sender.serialNumber())
        .arg(cal.isValid() ? cal.toString(QLatin1String(CalDateFormat)) : QStringLiteral("none"))
        .arg(sender.adOffset())
        .arg(sender.appliedPressure(), 0, 'f', 1)
        .arg(sender.reading())
        .arg(sender.isSilent() ? QStringLiteral("on") : QStringLiteral("off"))
        .arg(sender.requests().size())
        .arg(pty.bytesFromPc())
        .arg(pty.bytesToPc());
}

bool Simulator::run(const QString &line, QString *reply)
{
    const QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return true;
    const QString command = words.first().toLower();
    const QStringList args = words.mid(1);
    const QString arg = args.value(0);
    int n = 0;
    double x = 0;

    if (command == QLatin1String("pressure") && parseDouble(arg, &x)) {
        drift.basePsi = x;
        sender.setAppliedPressure(drift.now());
    } else if (command == QLatin1String("wobble") && parseDouble(arg, &x) && x >= 0) {
        double period = drift.periodS;
        if (args.size() > 1 && !(parseDouble(args.at(1), &period) && period > 0))
            return false;
        drift.amplitudePsi = x;
        drift.periodS = period;
    } else if (command == QLatin1String("silent")
               && (arg == QLatin1String("on") || arg == QLatin1String("off"))) {
        sender.setSilent(arg == QLatin1String("on"));
    } else if (command == QLatin1String("app")) {
        VX4App app;
        if (!parseApp(arg, &app))
            return false;
        sender.setApp(app);
    } else if (command == QLatin1String("mode")) {
        VX4Mode mode;
        if (!parseMode(arg, &mode))
            return false;
        sender.setMode(mode);
    } else if (command == QLatin1String("firmware")) {
        quint8 major = 0, minor = 0;
        if (!parseFirmware(arg, &major, &minor))
            return false;
        sender.setFirmwareVersion(major, minor);
    } else if (command == QLatin1String("serial") && parseInt(arg, 0, 65535, &n)) {
        sender.setSerialNumber(quint16(n));
    } else if (command == QLatin1String("caldate")) {
        QDateTime dt;
        if (!parseCalDate(args.join(QLatin1Char(' ')), &dt))
            return false;
        sender.setCalDateTime(dt);
    } else if (command == QLatin1String("adoffset") && parseInt(arg, -32768, 32767, &n)) {
        sender.setAdOffset(qint16(n));
    } else if (command == QLatin1String("adstatus") && parseInt(arg, 0, 255, &n)) {
        sender.setAdStatus(quint8(n));
    } else if (command == QLatin1String("calerror") && args.size() == 2) {
        double gain = 1;
        if (!parseDouble(args.at(0), &x) || !parseDouble(args.at(1), &gain))
            return false;
        sender.setCalibrationError(x, gain);
    } else if (command == QLatin1String("interval") && parseInt(arg, 0, 60000, &n)) {
        sender.setStreamInterval(n);
    } else if (command == QLatin1String("drop") && parseInt(arg, 0, 1000000, &n)) {
        sender.dropNextAnswers(n);
    } else if (command == QLatin1String("corrupt") && args.isEmpty()) {
        sender.corruptNextCrc();
    } else if (command == QLatin1String("garbage")) {
        const QByteArray bytes = args.isEmpty()
            ? QByteArray::fromHex("5AA5FF00")
            : QByteArray::fromHex(args.join(QString()).toLatin1());
        if (bytes.isEmpty())
            return false;
        sender.injectGarbage(bytes);
    } else if (command == QLatin1String("delay") && parseInt(arg, 0, 60000, &n)) {
        sender.setAnswerDelay(n);
    } else if (command == QLatin1String("failwrites") && parseInt(arg, 0, 1000000, &n)) {
        sender.failNextWrites(n);
    } else if (command == QLatin1String("status") && args.isEmpty()) {
        *reply = status();
        return true;
    } else if (command == QLatin1String("help")) {
        *reply = QString::fromLatin1(ControlHelp);
        return true;
    } else if (command == QLatin1String("quit") || command == QLatin1String("exit")) {
        *reply = QStringLiteral("bye");
        QCoreApplication::quit();
        return true;
    } else {
        return false;
    }
    *reply = QStringLiteral("ok");
    return true;
}

/// Lines typed or piped on standard input; the end of input only stops listening.
class ControlChannel
{
public:
    explicit ControlChannel(Simulator &simulator)
        : simulator(simulator)
    {
        if (::fcntl(STDIN_FILENO, F_GETFD) == -1)
            return;
        ::fcntl(STDIN_FILENO, F_SETFL, ::fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
        notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read);
        QObject::connect(notifier, &QSocketNotifier::activated, [this]() { readInput(); });
    }
    ~ControlChannel() { delete notifier; }

private:
    void readInput()
    {
        char chunk[1024];
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return;
        if (n <= 0) {
            notifier->setEnabled(false);
            if (!pending.trimmed().isEmpty())
                handle(QString::fromLocal8Bit(pending));
            pending.clear();
            say(QStringLiteral("vx4sim: end of control input; still serving"));
            return;
        }
        pending.append(chunk, int(n));
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromLocal8Bit(pending.left(end));
            pending.remove(0, end + 1);
            handle(line);
        }
    }

    void handle(const QString &line)
    {
        QString reply;
        if (simulator.run(line, &reply)) {
            if (!reply.isEmpty())
                say(reply);
        } else {
            say(QStringLiteral("error: not understood: %1 (try \"help\")").arg(line.trimmed()));
        }
    }

    Simulator &simulator;
    QSocketNotifier *notifier = nullptr;
    QByteArray pending;
};

int signalPipe[2] = { -1, -1 };

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vx4sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves a simulated Orvelle VX4 pressure sender on a pseudo-terminal and "
                       "prints the terminal's path. Open that path (or the --link) as the serial "
                       "port in the utility.\n\n")
        + QString::fromLatin1(ControlHelp));
    parser.addHelpOption();
    const QCommandLineOption linkOpt(QStringLiteral("link"),
                                     QStringLiteral("Make a symbolic link to the terminal at PATH "
                                                    "(removed again on exit)."),
                                     QStringLiteral("PATH"));
    const QCommandLineOption serialOpt(QStringLiteral("serial"),
                                       QStringLiteral("Serial number, 0 to 65535 (1234)."),
                                       QStringLiteral("N"));
    const QCommandLineOption firmwareOpt(QStringLiteral("firmware"),
                                         QStringLiteral("Firmware version (1.0)."),
                                         QStringLiteral("MAJOR.MINOR"));
    const QCommandLineOption appOpt(QStringLiteral("app"),
                                    QStringLiteral("Running application: bootloader or pressure "
                                                   "(pressure)."),
                                    QStringLiteral("APP"));
    const QCommandLineOption modeOpt(QStringLiteral("mode"),
                                     QStringLiteral("Operating mode: pressure or calibration "
                                                    "(pressure)."),
                                     QStringLiteral("MODE"));
    const QCommandLineOption calDateOpt(QStringLiteral("cal-date"),
                                        QStringLiteral("Calibration date \"YYYY-MM-DD HH:MM\", or "
                                                       "none (none)."),
                                        QStringLiteral("DATE"));
    const QCommandLineOption adOffsetOpt(QStringLiteral("ad-offset"),
                                         QStringLiteral("A/D offset (0)."), QStringLiteral("N"));
    const QCommandLineOption adStatusOpt(QStringLiteral("ad-status"),
                                         QStringLiteral("A/D status of pressure frames: 0 okay, 1 "
                                                        "time-out, 2 NACK, 3 config (0)."),
                                         QStringLiteral("N"));
    const QCommandLineOption pressureOpt(QStringLiteral("pressure"),
                                         QStringLiteral("Applied pressure in PSI (0)."),
                                         QStringLiteral("PSI"));
    const QCommandLineOption wobbleOpt(QStringLiteral("wobble"),
                                       QStringLiteral("Amplitude of the slow drift around the "
                                                      "applied pressure, in PSI; 0 holds it "
                                                      "still (3)."),
                                       QStringLiteral("PSI"));
    const QCommandLineOption wobblePeriodOpt(QStringLiteral("wobble-period"),
                                             QStringLiteral("Period of the drift in seconds (8)."),
                                             QStringLiteral("SECONDS"));
    const QCommandLineOption calOffsetOpt(QStringLiteral("cal-error-offset"),
                                          QStringLiteral("Offset error of the sender's own "
                                                         "calibration in PSI (0)."),
                                          QStringLiteral("PSI"));
    const QCommandLineOption calGainOpt(QStringLiteral("cal-error-gain"),
                                        QStringLiteral("Gain error of the sender's own calibration "
                                                       "(1)."),
                                        QStringLiteral("GAIN"));
    const QCommandLineOption intervalOpt(QStringLiteral("stream-interval"),
                                         QStringLiteral("Period of pressure frames in ms; 0 "
                                                        "streams nothing (50)."),
                                         QStringLiteral("MS"));
    const QCommandLineOption baudOpt(QStringLiteral("baud"),
                                     QStringLiteral("Pace the line to this baud rate; 0 sends at "
                                                    "once (0)."),
                                     QStringLiteral("BAUD"));
    const QCommandLineOption silentOpt(QStringLiteral("silent"),
                                       QStringLiteral("Start silent: no answers, no stream."));
    const QCommandLineOption dropOpt(QStringLiteral("drop"),
                                     QStringLiteral("Leave the first N requests unanswered."),
                                     QStringLiteral("N"));
    const QCommandLineOption corruptOpt(QStringLiteral("corrupt-crc"),
                                        QStringLiteral("Spoil the CRC of the first answer."));
    const QCommandLineOption garbageOpt(QStringLiteral("garbage"),
                                        QStringLiteral("Send these bytes (hex) when the first "
                                                       "request arrives."),
                                        QStringLiteral("HEX"));
    const QCommandLineOption delayOpt(QStringLiteral("answer-delay"),
                                      QStringLiteral("Answer this many ms late (0)."),
                                      QStringLiteral("MS"));
    const QCommandLineOption failWritesOpt(QStringLiteral("fail-writes"),
                                           QStringLiteral("Refuse the first N program memory "
                                                          "writes."),
                                           QStringLiteral("N"));
    const QCommandLineOption verboseOpt(QStringLiteral("verbose"),
                                        QStringLiteral("Print every request received."));
    parser.addOptions({ linkOpt,         serialOpt,    firmwareOpt, appOpt,      modeOpt,
                        calDateOpt,      adOffsetOpt,  adStatusOpt, pressureOpt, wobbleOpt,
                        wobblePeriodOpt, calOffsetOpt, calGainOpt,  intervalOpt, baudOpt,
                        silentOpt,       dropOpt,      corruptOpt,  garbageOpt,  delayOpt,
                        failWritesOpt,   verboseOpt });
    parser.process(app);

    SimulatedSender sender;
    PtyEndpoint pty(&sender);
    Drift drift;
    Simulator simulator(sender, pty, drift);

    // Options are the control commands given up front.
    QStringList setup;
    auto add = [&](const QCommandLineOption &option, const char *command) {
        if (parser.isSet(option))
            setup.append(QLatin1String(command) + QLatin1Char(' ') + parser.value(option));
    };
    add(serialOpt, "serial");
    add(firmwareOpt, "firmware");
    add(appOpt, "app");
    add(modeOpt, "mode");
    add(calDateOpt, "caldate");
    add(adOffsetOpt, "adoffset");
    add(adStatusOpt, "adstatus");
    add(pressureOpt, "pressure");
    add(intervalOpt, "interval");
    add(dropOpt, "drop");
    add(delayOpt, "delay");
    add(failWritesOpt, "failwrites");
    if (parser.isSet(wobbleOpt) || parser.isSet(wobblePeriodOpt))
        setup.append(QStringLiteral("wobble %1 %2")
                         .arg(parser.value(wobbleOpt).isEmpty() ? QString::number(DefaultWobblePsi)
                                                                : parser.value(wobbleOpt))
                         .arg(parser.value(wobblePeriodOpt).isEmpty()
                                  ? QString::number(DefaultWobblePeriodS)
                                  : parser.value(wobblePeriodOpt)));
    if (parser.isSet(calOffsetOpt) || parser.isSet(calGainOpt))
        setup.append(QStringLiteral("calerror %1 %2")
                         .arg(parser.value(calOffsetOpt).isEmpty() ? QStringLiteral("0")
                                                                   : parser.value(calOffsetOpt))
                         .arg(parser.value(calGainOpt).isEmpty() ? QStringLiteral("1")
                                                                 : parser.value(calGainOpt)));
    if (parser.isSet(silentOpt))
        setup.append(QStringLiteral("silent on"));
    if (parser.isSet(corruptOpt))
        setup.append(QStringLiteral("corrupt"));
    for (const QString &line : std::as_const(setup)) {
        QString reply;
        if (!simulator.run(line, &reply)) {
            std::fprintf(stderr, "vx4sim: invalid option value: %s\n", qUtf8Printable(line));
            return 2;
        }
    }

    bool baudOk = true;
    const int baud = parser.value(baudOpt).isEmpty() ? 0 : parser.value(baudOpt).toInt(&baudOk);
    if (!baudOk || baud < 0) {
        std::fprintf(stderr, "vx4sim: invalid --baud value\n");
        return 2;
    }
    pty.setPacingBaud(baud);

    if (parser.isSet(garbageOpt)) {
        const QByteArray garbage = QByteArray::fromHex(parser.value(garbageOpt).toLatin1());
        if (garbage.isEmpty()) {
            std::fprintf(stderr, "vx4sim: invalid --garbage value\n");
            return 2;
        }
        auto *once = new QMetaObject::Connection;
        *once = QObject::connect(&sender, &SimulatedSender::requestReceived, &sender,
                                 [&sender, garbage, once]() {
                                     QObject::disconnect(*once);
                                     delete once;
                                     sender.injectGarbage(garbage);
                                 });
    }
    if (parser.isSet(verboseOpt)) {
        QObject::connect(&sender, &SimulatedSender::requestReceived, [](const VX4Message &request) {
            say(QStringLiteral("request: %1").arg(request.toString()));
        });
    }

    QString error;
    if (!pty.open(&error)) {
        std::fprintf(stderr, "vx4sim: cannot open a pseudo-terminal: %s\n", qUtf8Printable(error));
        return 1;
    }
    say(QStringLiteral("vx4sim: serving on %1").arg(pty.slavePath()));
    if (parser.isSet(linkOpt)) {
        if (!pty.createLink(parser.value(linkOpt), &error)) {
            std::fprintf(stderr, "vx4sim: %s\n", qUtf8Printable(error));
            return 1;
        }
        say(QStringLiteral("vx4sim: link %1 -> %2").arg(parser.value(linkOpt), pty.slavePath()));
    }

    // A real line loses what nobody reads; a terminal would keep it and hand the next program
    // to open the port a flood of old pressure frames.
    const int probe
        = ::open(pty.slavePath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    QTimer staleTimer;
    if (probe >= 0) {
        QObject::connect(&staleTimer, &QTimer::timeout, [probe]() {
            int unread = 0;
            if (::ioctl(probe, FIONREAD, &unread) == 0 && unread > StaleBytesLimit)
                ::tcflush(probe, TCIFLUSH);
        });
        staleTimer.start(StaleCheckMs);
    }

    // The drift: the applied pressure follows a slow sine around its base value.
    drift.clock.start();
    sender.setAppliedPressure(drift.now());
    QTimer driftTimer;
    QObject::connect(&driftTimer, &QTimer::timeout,
                     [&]() { sender.setAppliedPressure(drift.now()); });
    driftTimer.start(WobbleTickMs);

    // Ctrl+C and kill end the event loop, so the link is removed on the way out.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) == 0) {
        std::signal(SIGINT, onTerminationSignal);
        std::signal(SIGTERM, onTerminationSignal);
        std::signal(SIGHUP, onTerminationSignal);
        auto *signalNotifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(signalNotifier, &QSocketNotifier::activated, &app,
                         &QCoreApplication::quit);
    }

    ControlChannel control(simulator);
    const int code = app.exec();
    if (probe >= 0)
        ::close(probe);
    return code;
}
