#include "flashjob.h"

#include "calibrationhistory.h"
#include "ctlreport.h"
#include "sendersession.h"
#include "vx4log.h"

#include <QTimer>

#define LOG VX4_LOG("vx4ctl")

FlashJob::FlashJob(const QString &port, const PortSettings &settings,
                   const QList<ProgramMemoryRow> &rows, bool verify, int connectTimeoutMs,
                   const QString &packageVersion)
    : m_port(port)
    , m_settings(settings)
    , m_rows(rows)
    , m_verify(verify)
    , m_connectTimeoutMs(connectTimeoutMs)
    , m_packageVersion(packageVersion)
{
}

FlashJob::~FlashJob() = default;

QString FlashJob::resultName() const
{
    if (m_state == State::Interrupted)
        return QStringLiteral("interrupted");
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
        if (m_state == State::Connecting && !m_interruptCode)
            finish(State::Failed, ExitNoAnswer,
                   QStringLiteral("no sender answered within %1 ms").arg(m_connectTimeoutMs));
    });
    connect(&e, &VX4Interface::vx4ConnectedSignal, this, [this, &e] {
        if (m_state != State::Connecting || m_interruptCode)
            return;
        m_state = State::Downloading;
        m_downloadClock.start();
        // Across a major version the serial text's model digit changes: one history still.
        connect(
            &e, &VX4Interface::vx4FirmwareReadBack, this,
            [&e, before = e.serialNumberString()](bool answered, const QString &version) {
                if (answered && !version.isEmpty())
                    CalibrationHistory().linkSenders(before, e.serialNumberString());
            },
            Qt::SingleShotConnection);
        if (!e.startFirmwareUpdate(m_rows, m_verify, m_packageVersion))
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
    connect(&e, &VX4Interface::vx4FirmwareReadBack, this, &FlashJob::onReadBack,
            Qt::QueuedConnection);
    connect(&e, &VX4Interface::vx4Interrupted, this, [this] {
        if (!m_interruptCode)
            return;
        if (m_state == State::Connecting)
            finish(State::Interrupted, m_interruptCode,
                   QStringLiteral("interrupted before the download began: the sender was not "
                                  "changed"));
        else if (m_state == State::Restarting)
            finish(State::Interrupted, m_interruptCode,
                   senderState() + QStringLiteral(" Its version was not read back."));
        else
            finish(State::Interrupted, m_interruptCode, senderState());
    });
    e.startConnecting();
}

void FlashJob::interrupt(int exitCode)
{
    if (isOver() || m_interruptCode)
        return;
    m_interruptCode = exitCode;
    LOG << "Flash of" << m_port << "interrupted";
    if (!m_session || !m_session->engine().isOpen()) {
        finish(State::Interrupted, exitCode, QStringLiteral("interrupted before the port opened"));
        return;
    }
    emit progressed();
    m_session->engine().interrupt();
    // The engine lets the request on the line end once; should it never say so, the job still
    // ends, knowing no more than that.
    QTimer::singleShot(InterruptLimitMs, this, [this] {
        if (isOver())
            return;
        finish(State::Interrupted, m_interruptCode,
               QStringLiteral("interrupted; the request on the line did not end: ")
                   + senderState());
    });
}

void FlashJob::onDownloadFinished(bool ok, const QString &message)
{
    // An interrupted download ends here too; the job ends once the line is quiet.
    if (m_state != State::Downloading || m_interruptCode)
        return;
    if (!ok) {
        finish(State::Failed, ExitSenderFailed, message + QLatin1Char(' ') + senderState());
        return;
    }
    m_message = message;
    m_state = State::Restarting;
    emit progressed();
    QTimer::singleShot(ReadBackLimitMs, this, [this] {
        if (m_state == State::Restarting && !m_interruptCode)
            finish(State::Failed, ExitSenderFailed,
                   QStringLiteral("flashed, but the restarted sender was never heard of"));
    });
}

void FlashJob::onReadBack(bool answered, const QString &version)
{
    if (m_state != State::Restarting || m_interruptCode)
        return;
    m_versionReadBack = version;
    if (!answered)
        finish(State::Failed, ExitSenderFailed,
               QStringLiteral("flashed, but the sender did not answer after its restart: its "
                              "version is unknown"));
    else if (version.isEmpty())
        finish(State::Failed, ExitSenderFailed,
               QStringLiteral("flashed, but the sender restarted into its bootloader: the new "
                              "image does not start"));
    else if (!m_packageVersion.isEmpty() && version != m_packageVersion)
        finish(State::Failed, ExitSenderFailed,
               QStringLiteral("flashed, but the sender reports %1, the package is %2")
                   .arg(version, m_packageVersion));
    else
        finish(State::Done, ExitDone,
               QStringLiteral("%1 The sender reports version %2.").arg(m_message, version));
}

QString FlashJob::senderState() const
{
    return FirmwareDownload::senderStateText(m_session->engine().firmwareUpdateSenderState());
}

void FlashJob::finish(State state, int exitCode, const QString &message)
{
    if (isOver())
        return;
    m_finishedMs = m_clock.nsecsElapsed() / 1e6;
    m_state = state;
    m_exitCode = exitCode;
    m_message = message;
    LOG << "Flash of" << m_port << "over:" << message;
    if (m_session && m_downloadClock.isValid())
        m_counts = m_session->engine().firmwareUpdateCounts();
    // The port is closed later: this may run inside one of the engine's own signals.
    QTimer::singleShot(0, this, [this] {
        m_session.reset();
        emit over();
    });
}

int FlashJob::rowsDone() const
{
    return isOver() ? m_counts.written + m_counts.skipped : m_rowsDone;
}

double FlashJob::elapsedMs() const
{
    if (isOver())
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
