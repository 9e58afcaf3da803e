#pragma once

#include "VX4interface.h"

#include <functional>
#include <memory>

/// One sender on one port for one command: opens the engine on the port, waits until it has
/// connected, and runs single requests to their answer. With a stop signal every wait also ends
/// when it is raised.
class StopSignal;

class SenderSession
{
public:
    static constexpr int AnswerLimitMs = 5000; ///< beyond every request's own resends
    static constexpr int ReadingWaitMs = 1000; ///< a streaming sender sends 20 readings in this
    static constexpr int CloseFlushMs = 500; ///< for the last request to leave before closing

    SenderSession(const QString &port, const PortSettings &settings);
    ~SenderSession();

    const QString &port() const { return m_port; }
    VX4Interface &engine() { return *m_engine; }

    /// Opens the port, held for this process alone; false with the reason (no such port,
    /// permission denied, port busy).
    bool open(QString *why);
    /// Starts connecting; `isConnected()` turns true once the sender is found.
    void beginConnecting();
    bool isConnected() const { return m_connected; }
    /// Starts connecting and waits up to `timeoutMs` for the connection.
    bool connectSender(int timeoutMs);
    /// Calls `issue`, which queues a request for `command`, and waits for the answer; false when
    /// the engine gave the request up or lost the sender. The answer lands in `answer`.
    bool request(quint8 command, const std::function<void()> &issue, VX4Message *answer = nullptr);
    /// The next pressure frame within `timeoutMs`: its reading and A/D status byte.
    bool nextReading(int timeoutMs, int *psi, quint8 *adStatus);
    /// Waits until every queued request has been answered or given up.
    bool waitLineFree(int timeoutMs);

    void setStop(const StopSignal *stop) { m_stop = stop; }
    const StopSignal *stopSignal() const { return m_stop; }
    bool stopped() const;
    /// Stops the engine at a safe point: the request on the line ends once, nothing new goes
    /// out. True once the engine says the line is quiet.
    bool interrupt(int timeoutMs);

private:
    QString m_port;
    std::unique_ptr<VX4Interface> m_engine;
    bool m_connected = false;
    QMetaObject::Connection m_connectedWatch;
    const StopSignal *m_stop = nullptr;
};
