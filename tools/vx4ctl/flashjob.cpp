#include "flashjob.h"

#include "ctlreport.h"
#include "sendersession.h"
#include "vx4log.h"

#include <QTimer>

#include <algorithm>

#define LOG VX4_LOG("vx4ctl")

namespace {

/// Starts the download; without `verify` the rows are not read back after they are written.
bool startDownload(VX4Interface &engine, const QList<ProgramMemoryRow> &rows, bool verify)
{
    return engine.startFirmwareUpdate(rows, verify);
}

} // namespace

FlashJob::FlashJob(const QString &port, const PortSettings &settings,
                   const QList<ProgramMemoryRow> &rows, bool verify, int connectTimeoutMs)
    : m_port(port)
    , m_settings(settings)
    , m_rows(rows)
    , m_verify(verify)
    , m_connectTimeoutMs(connectTimeoutMs)
{
}

FlashJob::~FlashJob() = default;

QString FlashJob::resultName() const
{
    switch (m_exitCode) {
    case ExitDone:
        return QStringLiteral("done");
    case ExitNoAnswer:
        return QStringLiteral("no answer");
    case ExitPortUnavailable:
        return QStringLiteral("not opened");
    default:
        return QStringLiteral("failed");
    }
}

void FlashJob::start()
{
    m_clock.start();
    m_session = std::make_unique<SenderSession>(m_port, m_settings);
    QString why;
    if (!m_session->open(&why)) {
        finish(State::Failed, ExitPortUnavailable, why);
        return;
    }
    VX4Interface &e = m_session->engine();
    m_state = State::Connecting;
    QTimer::singleShot(m_connectTimeoutMs, this, [this] {
        if (m_state == State::Connecting)
            finish(State::Failed, ExitNoAnswer,
                   QStringLiteral("no sender answered within %1 ms").arg(m_connectTimeoutMs));
    });
    connect(&e, &VX4Interface::vx4ConnectedSignal, this, [this, &e] {
        if (m_state != State::Connecting)
            return;
        m_state = State::Downloading;
        m_downloadClock.start();
        if (!startDownload(e, m_rows, m_verify))
            finish(State::Failed, ExitSenderFailed,
                   QStringLiteral("the firmware update could not be started"));
        emit progressed();
    });
    connect(&e, &VX4Interface::vx4FirmwareUpdateProgressChanged, this, [this](int row) {
        m_rowsDone = row;
        emit progressed();
    });
    // Queued: the outcome is taken after the engine has finished handling the answer.
    connect(&e, &VX4Interface::vx4FirmwareUpdateFinished, this, &FlashJob::onDownloadFinished,
            Qt::QueuedConnection);
    e.startConnecting();
}

void FlashJob::onDownloadFinished(bool ok, const QString &message)
{
    if (m_state != State::Downloading)
        return;
    if (!ok) {
        finish(State::Failed, ExitSenderFailed, message);
        return;
    }
    m_state = State::Settling;
    emit progressed();
    // Success comes once the sender has confirmed the valid flag; the RESET behind it is never
    // answered, so its bytes must have left the port before the port closes.
    auto *check = new QTimer(this);
    QElapsedTimer settling;
    settling.start();
    connect(check, &QTimer::timeout, this, [this, check, settling] {
        VX4Interface &e = m_session->engine();
        const auto &queue = e.queuedMessages();
        const bool settled = e.bytesToWrite() == 0
            && std::none_of(queue.begin(), queue.end(), [](const VX4Message &m) {
                                 return m.command == VX4Protocol::Reset && !m.sent;
                             });
        if (settled)
            finish(State::Done, ExitDone, m_message);
        else if (settling.hasExpired(SettleLimitMs))
            finish(State::Failed, ExitSenderFailed,
                   QStringLiteral("the sender did not confirm the new image as valid"));
        if (isOver())
            check->deleteLater();
    });
    m_message = message;
    check->start(SettleCheckMs);
}

void FlashJob::finish(State state, int exitCode, const QString &message)
{
    if (isOver())
        return;
    if (m_finishedMs < 0 && m_clock.isValid())
        m_finishedMs = m_clock.nsecsElapsed() / 1e6;
    m_state = state;
    m_exitCode = exitCode;
    m_message = message;
    LOG << "Flash of" << m_port << "over:" << message;
    if (m_session && m_session->engine().isFirmwareUpdateRunning())
        m_session->engine().finishFirmwareUpdate();
    // The port is closed later: this may run inside one of the engine's own signals.
    QTimer::singleShot(0, this, [this] {
        m_session.reset();
        emit over();
    });
}

double FlashJob::elapsedMs() const
{
    if (m_finishedMs >= 0)
        return m_finishedMs;
    return m_clock.isValid() ? m_clock.nsecsElapsed() / 1e6 : 0;
}

double FlashJob::downloadMs() const
{
    return m_downloadClock.isValid() ? m_downloadClock.nsecsElapsed() / 1e6 : 0;
}

double FlashJob::bytesPerSecond() const
{
    const double ms = downloadMs();
    return ms > 0 ? m_rowsDone * ImageBytesPerRow * 1000.0 / ms : 0;
}

double FlashJob::secondsLeft() const
{
    if (m_rowsDone <= 0)
        return -1;
    const double perRowMs = downloadMs() / m_rowsDone;
    return (rowCount() - m_rowsDone) * perRowMs / 1000.0;
}
