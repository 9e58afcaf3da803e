// vx4sim: serves a simulated Orvelle VX4 sender on a pseudo-terminal, for demos, training and
// trying the utility without hardware. Settings come from options; a line-based control channel
// on standard input changes them while it runs.
#include "ptyendpoint.h"
#include "simcontrols.h"
#include "simulatedsender.h"
#include "vx4version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int WobbleTickMs = 100; ///< how often the drifting applied pressure is updated
constexpr int StaleCheckMs = 500; ///< how often unread bytes on the terminal are looked at
constexpr int StaleBytesLimit = 1024; ///< unread bytes beyond which nobody is listening

void say(const QString &line)
{
    std::fprintf(stdout, "%s\n", qUtf8Printable(line));
    std::fflush(stdout);
}

/// Lines typed or piped on standard input; the end of input only stops listening.
class ControlChannel
{
public:
    explicit ControlChannel(SimTarget &target)
        : target(target)
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
        if (runControl(target, line, &reply)) {
            if (!reply.isEmpty())
                say(reply);
        } else {
            say(QStringLiteral("error: not understood: %1 (try \"help\")").arg(line.trimmed()));
        }
    }

    SimTarget &target;
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
    QCoreApplication::setApplicationVersion(QStringLiteral(VX4_APP_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves a simulated Orvelle VX4 pressure sender on a pseudo-terminal and "
                       "prints the terminal's path. Open that path (or the --link) as the serial "
                       "port in the utility.\n\n")
        + controlHelp());
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption linkOpt(QStringLiteral("link"),
                                     QStringLiteral("Make a symbolic link to the terminal at PATH "
                                                    "(removed again on exit)."),
                                     QStringLiteral("PATH"));
    parser.addOption(linkOpt);
    addControlOptions(parser);
    const QCommandLineOption baudOpt(QStringLiteral("baud"),
                                     QStringLiteral("Pace the line to this baud rate; 0 sends at "
                                                    "once (0)."),
                                     QStringLiteral("BAUD"));
    const QCommandLineOption verboseOpt(QStringLiteral("verbose"),
                                        QStringLiteral("Print every request received."));
    parser.addOptions({ baudOpt, verboseOpt });
    parser.process(app);

    SimulatedSender sender;
    PtyEndpoint pty(&sender);
    Drift drift;
    SimTarget target { sender, pty, drift, true };

    // Options are the control commands given up front.
    for (const QStringList &words : optionCommands(parser)) {
        QString reply;
        if (!runControl(target, words, &reply)) {
            std::fprintf(stderr, "vx4sim: invalid option value: %s\n",
                         qUtf8Printable(words.join(QLatin1Char(' '))));
            return 2;
        }
    }
    target.starting = false;

    bool baudOk = true;
    const int baud = parser.value(baudOpt).isEmpty() ? 0 : parser.value(baudOpt).toInt(&baudOk);
    if (!baudOk || baud < 0) {
        std::fprintf(stderr, "vx4sim: invalid --baud value\n");
        return 2;
    }
    pty.setPacingBaud(baud);

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

    ControlChannel control(target);
    const int code = app.exec();
    if (probe >= 0)
        ::close(probe);
    return code;
}
