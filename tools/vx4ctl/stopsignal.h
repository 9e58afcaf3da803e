#pragma once

class CtlReport;
class QSocketNotifier;

/// Turns Ctrl-C (SIGINT) and SIGTERM into a clean stop while it lives: `requested()` becomes
/// true and the event loop wakes, so the command can end at a safe point and say where it left
/// the sender. A second signal ends the process at once, with the exit code of the first.
class StopSignal
{
public:
    /// With a `report`, the first signal is announced on standard error.
    explicit StopSignal(const CtlReport *report = nullptr);
    ~StopSignal();
    StopSignal(const StopSignal &) = delete;
    StopSignal &operator=(const StopSignal &) = delete;

    bool requested() const { return m_signal != 0; }
    /// 130 after SIGINT, 143 after SIGTERM, 0 before either.
    int exitCode() const;
    /// "SIGINT" or "SIGTERM".
    const char *name() const;

private:
    QSocketNotifier *m_notifier = nullptr;
    int m_signal = 0;
};
