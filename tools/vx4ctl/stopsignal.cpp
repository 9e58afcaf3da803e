#include "stopsignal.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int wakePipe[2] = { -1, -1 };

void onSignal(int)
{
    // Only async-signal-safe calls here: the event loop does the rest.
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakePipe[1], &byte, 1);
}

} // namespace

StopSignal::StopSignal()
{
    if (wakePipe[0] < 0 && ::pipe(wakePipe) != 0)
        return;
    ::fcntl(wakePipe[1], F_SETFL, O_NONBLOCK);
    m_notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read);
    QObject::connect(m_notifier, &QSocketNotifier::activated, [this] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(wakePipe[0], &byte, 1);
        m_requested = true;
    });
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
