#include "ptyendpoint.h"

#include "simulatedsender.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr int BitsPerByte = 10; ///< start bit, 8 data bits, stop bit
constexpr qint64 SpinLimitNs = 2000000; ///< waits shorter than this are spun, not timed

qint64 nowNs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.nsecsElapsed();
}
} // namespace

PtyEndpoint::PtyEndpoint(SimulatedSender *sender, QObject *parent)
    : QObject(parent)
    , m_sender(sender)
{
    connect(m_sender, &SimulatedSender::transmit, this, &PtyEndpoint::queueOutput);
}

PtyEndpoint::~PtyEndpoint()
{
    delete m_readNotifier;
    if (!m_linkPath.isEmpty())
        QFile::remove(m_linkPath);
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
}

bool PtyEndpoint::open(QString *error)
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // Raw line both ways, so CR LF and every other byte pass untouched.
    termios tio {};
    ::tcgetattr(m_slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(m_slave, TCSANOW, &tio);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slavePath = QString::fromLocal8Bit(name);
    // Our own slave descriptor stays open so the master never sees a hang-up between clients.
    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyEndpoint::onMasterReadable);
    m_paceTimer = new QTimer(this);
    m_paceTimer->setSingleShot(true);
    m_paceTimer->setTimerType(Qt::PreciseTimer);
    connect(m_paceTimer, &QTimer::timeout, this, &PtyEndpoint::schedule);
    return true;
}

void PtyEndpoint::vanish()
{
    m_vanished = true;
    delete m_readNotifier;
    m_readNotifier = nullptr;
    if (m_paceTimer)
        m_paceTimer->stop();
    m_incoming.clear();
    m_scheduled.clear();
    m_pending.clear();
    if (!m_linkPath.isEmpty())
        QFile::remove(m_linkPath);
    m_linkPath.clear();
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
}

bool PtyEndpoint::createLink(const QString &linkPath, QString *error)
{
    const QFileInfo existing(linkPath);
    if (existing.isSymLink() || existing.exists()) {
        if (!existing.isSymLink()) {
            if (error)
                *error = QStringLiteral("%1 exists and is not a link").arg(linkPath);
            return false;
        }
        QFile::remove(linkPath);
    }
    if (!QFile::link(m_slavePath, linkPath)) {
        if (error)
            *error = QStringLiteral("cannot create the link %1").arg(linkPath);
        return false;
    }
    m_linkPath = linkPath;
    return true;
}

void PtyEndpoint::onMasterReadable()
{
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, chunk, sizeof chunk);
        if (n <= 0)
            break;
        m_bytesIn += quint64(n);
        const QByteArray bytes(chunk, int(n));
        if (m_pacingBaud <= 0) {
            echo(bytes, 0);
            m_sender->receive(bytes);
            continue;
        }
        // The bytes reach the sender when their last bit would have crossed the line.
        m_inLineFreeAtNs = qMax(nowNs(), m_inLineFreeAtNs) + lineTimeNs(bytes.size());
        echo(bytes, m_inLineFreeAtNs);
        m_incoming.append({ m_inLineFreeAtNs, bytes });
    }
    schedule();
}

void PtyEndpoint::queueOutput(const QByteArray &bytes)
{
    if (m_master < 0)
        return;
    qint64 due = 0;
    if (m_pacingBaud > 0) {
        // An answer starts on the line when its request has arrived, not when we got round to it.
        const qint64 ready = m_deliveringDueNs > 0 ? m_deliveringDueNs : nowNs();
        m_lineFreeAtNs = qMax(ready, m_lineFreeAtNs) + lineTimeNs(bytes.size());
        due = m_lineFreeAtNs;
    }
    m_scheduled.append({ due, bytes });
    schedule();
}

void PtyEndpoint::echo(const QByteArray &bytes, qint64 lastDueNs)
{
    if (!m_echo)
        return;
    if (m_pacingBaud <= 0) {
        m_pending.append(bytes);
        writePending();
        return;
    }
    // Each byte is back as soon as it has crossed; the line stays free for the answer.
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const qint64 due = lastDueNs - lineTimeNs(bytes.size() - 1 - i);
        const auto at = std::upper_bound(
            m_scheduled.begin(), m_scheduled.end(), due,
            [](qint64 t, const QPair<qint64, QByteArray> &entry) { return t < entry.first; });
        m_scheduled.insert(at, { due, bytes.mid(i, 1) });
    }
}

qint64 PtyEndpoint::lineTimeNs(qsizetype bytes) const
{
    return qint64(bytes) * BitsPerByte * 1000000000LL / m_pacingBaud;
}

void PtyEndpoint::schedule()
{
    // Deliver what is due; wait for the rest with a timer that wakes a little early and then
    // spins to the exact moment, as millisecond timers alone would add up to a late line.
    for (;;) {
        qint64 next = -1;
        if (!m_incoming.isEmpty())
            next = m_incoming.first().first;
        if (!m_scheduled.isEmpty() && (next < 0 || m_scheduled.first().first < next))
            next = m_scheduled.first().first;
        if (next < 0)
            break;
        const qint64 wait = next - nowNs();
        if (wait > SpinLimitNs) {
            m_paceTimer->start(int((wait - SpinLimitNs) / 1000000));
            break;
        }
        while (nowNs() < next) { }
        deliverDue();
    }
    writePending();
}

void PtyEndpoint::deliverDue()
{
    const qint64 now = nowNs();
    while (!m_incoming.isEmpty() && m_incoming.first().first <= now) {
        const auto [due, bytes] = m_incoming.takeFirst();
        m_deliveringDueNs = due;
        m_sender->receive(bytes);
        m_deliveringDueNs = 0;
    }
    while (!m_scheduled.isEmpty() && m_scheduled.first().first <= now)
        m_pending.append(m_scheduled.takeFirst().second);
    writePending();
}

void PtyEndpoint::writePending()
{
    if (m_pending.isEmpty() || m_master < 0)
        return;
    const ssize_t n = ::write(m_master, m_pending.constData(), size_t(m_pending.size()));
    if (n > 0) {
        m_bytesOut += quint64(n);
        m_pending.remove(0, n);
    }
    // The pty's buffer is full: try again shortly.
    if (!m_pending.isEmpty() && !m_paceTimer->isActive())
        m_paceTimer->start(1);
}
