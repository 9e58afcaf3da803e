#pragma once

class QSocketNotifier;

/// Turns Ctrl-C (SIGINT) and SIGTERM into a clean stop while it lives: `requested()` becomes
/// true and the event loop wakes, so a monitor ends with its last line written and exit code 0.
class StopSignal
{
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal &) = delete;
    StopSignal &operator=(const StopSignal &) = delete;

    bool requested() const { return m_requested; }

private:
    QSocketNotifier *m_notifier = nullptr;
    bool m_requested = false;
};
