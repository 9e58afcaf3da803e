#include "sendersession.h"

#include "ctlwait.h"
#include "stopsignal.h"
#include "vx4log.h"

#define LOG VX4_LOG("vx4ctl")

SenderSession::SenderSession(const QString &port, const PortSettings &settings)
    : m_port(port)
    , m_engine(std::make_unique<VX4Interface>(port, settings))
{
}

SenderSession::~SenderSession()
{
    if (m_engine->isOpen()) {
        m_engine->setDataTerminalReady(false);
        m_engine->setRequestToSend(false);
        // What is still buffered (the last request of a command) leaves before the port closes.
        if (m_engine->bytesToWrite() > 0)
            m_engine->waitForBytesWritten(CloseFlushMs);
    }
    m_engine->close();
}

bool SenderSession::open(QString *why)
{
    if (!m_engine->open(QIODevice::ReadWrite)) {
        *why = m_engine->errorString();
        return false;
    }
    // A pseudo-terminal has no modem lines; the sender works without them.
    m_engine->setDataTerminalReady(true);
    m_engine->setRequestToSend(true);
    LOG << "Opened" << m_port;
    return true;
}

void SenderSession::beginConnecting()
{
    if (!m_connectedWatch)
        m_connectedWatch = QObject::connect(m_engine.get(), &VX4Interface::vx4ConnectedSignal,
                                            [this] { m_connected = true; });
    m_engine->startConnecting();
}

bool SenderSession::connectSender(int timeoutMs)
{
    beginConnecting();
    // The connecting sequence's last answer is decoded by now, but a poll may follow it.
    return waitUntil([this] { return m_connected || stopped(); }, timeoutMs) && m_connected;
}

bool SenderSession::request(quint8 command, const std::function<void()> &issue, VX4Message *answer)
{
    // Once stopped, nothing new goes out.
    if (stopped())
        return false;
    enum { Waiting, Answered, Failed } outcome = Waiting;
    VX4Interface *e = m_engine.get();
    const QList<QMetaObject::Connection> connections {
        QObject::connect(e, &VX4Interface::vx4ResponseRdy,
                         [&](const VX4Message &msg) {
                             if (msg.command != command || outcome != Waiting)
                                 return;
                             outcome = Answered;
                             if (answer)
                                 *answer = msg;
                         }),
        QObject::connect(e, &VX4Interface::vx4MessageTimeout,
                         [&](const VX4Message &msg) {
                             if (msg.command == command && outcome == Waiting)
                                 outcome = Failed;
                         }),
        // Losing the sender clears the queue: the request will never be answered.
        QObject::connect(e, &VX4Interface::vx4DisconnectedSignal,
                         [&] {
                             if (outcome == Waiting)
                                 outcome = Failed;
                         }),
    };
    issue();
    waitUntil([&] { return outcome != Waiting || stopped(); }, AnswerLimitMs);
    for (const auto &c : connections)
        QObject::disconnect(c);
    return outcome == Answered;
}

bool SenderSession::nextReading(int timeoutMs, int *psi, quint8 *adStatus)
{
    bool received = false;
    const auto c = QObject::connect(m_engine.get(), &VX4Interface::vx4PressureMsgRdy,
                                    [&](int pressure, const VX4Message &msg) {
                                        if (received || msg.payload.isEmpty())
                                            return;
                                        received = true;
                                        *psi = pressure;
                                        *adStatus = quint8(msg.payload.at(0));
                                    });
    waitUntil([&] { return received || stopped(); }, timeoutMs);
    QObject::disconnect(c);
    return received;
}

bool SenderSession::waitLineFree(int timeoutMs)
{
    return waitUntil([this] { return m_engine->queuedMessages().isEmpty() || stopped(); },
                     timeoutMs);
}

bool SenderSession::stopped() const
{
    return m_stop && m_stop->requested();
}

bool SenderSession::interrupt(int timeoutMs)
{
    bool quiet = false;
    const auto c = QObject::connect(m_engine.get(), &VX4Interface::vx4Interrupted,
                                    [&quiet] { quiet = true; });
    m_engine->interrupt();
    waitUntil([&] { return quiet; }, timeoutMs);
    QObject::disconnect(c);
    return quiet;
}
