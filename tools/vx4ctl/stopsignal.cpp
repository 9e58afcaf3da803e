#include "stopsignal.h"

#include "ctlreport.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int SignalExitBase = 128; ///< the shell's exit code of a process ended by a signal

int wakePipe[2] = { -1, -1 };
volatile sig_atomic_t firstSignal = 0;

void onSignal(int number)
{
    // Only async-signal-safe calls here: the event loop does the rest.
    if (firstSignal != 0)
        ::_exit(SignalExitBase + firstSignal);
    firstSignal = number;
    const char byte = char(number);
    [[maybe_unused]] const ssize_t n = ::write(wakePipe[1], &byte, 1);
}

} // namespace

StopSignal::StopSignal(const CtlReport *report)
{
    if (wakePipe[0] < 0 && ::pipe(wakePipe) != 0)
        return;
    ::fcntl(wakePipe[1], F_SETFL, O_NONBLOCK);
    m_notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier, &QSocketNotifier::activated, [this, report] {
        char byte = 0;
        if (::read(wakePipe[0], &byte, 1) != 1 || m_signal != 0)
            return;
        m_signal = byte;
        if (report)
            report->message("interrupted", { { "signal", name() } },
                            QStringLiteral("vx4ctl: interrupted by %1: stopping at a safe point "
                                           "(a second Ctrl-C quits at once)")
                                .arg(QLatin1String(name())));
    });
    firstSignal = 0;
    struct sigaction action = {};
    action.sa_handler = &onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

StopSignal::~StopSignal()
{
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    delete m_notifier;
}

int StopSignal::exitCode() const
{
    return m_signal == 0 ? 0 : SignalExitBase + m_signal;
}

const char *StopSignal::name() const
{
    return m_signal == SIGTERM ? "SIGTERM" : "SIGINT";
}
