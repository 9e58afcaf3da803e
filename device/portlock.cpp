#include "portlock.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

// Part of opening the engine's port: its lines read as the engine's.
#define LOG                                                                                        \
    qDebug() << "VX4interface"                                                                     \
             << "@" << __LINE__ << ":"

namespace {

constexpr int LockAttempts = 5; ///< a lock file removed under us by its last owner is made anew

/// Devices held by this process: a second record lock of the same process would be granted,
/// and closing it would drop the first.
QSet<QString> &heldHere()
{
    static QSet<QString> devices;
    return devices;
}

/// The first folder for lock files that can be written: the system's, as serial programs
/// share it, else the temporary folder.
QString lockFolder()
{
    for (const QString &dir :
         { QStringLiteral("/run/lock"), QStringLiteral("/var/lock"), QDir::tempPath() }) {
        if (QFileInfo(dir).isDir()
            && ::access(QFile::encodeName(dir).constData(), W_OK | X_OK) == 0)
            return dir;
    }
    return {};
}

/// The process holding a write lock on `fd`'s file, 0 when nobody holds one now.
pid_t lockHolder(int fd)
{
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd, F_GETLK, &lock) != 0 || lock.l_type == F_UNLCK)
        return 0;
    return lock.l_pid;
}

bool sameFile(int fd, const QByteArray &path)
{
    struct stat open = {};
    struct stat named = {};
    return ::fstat(fd, &open) == 0 && ::stat(path.constData(), &named) == 0
        && open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

} // namespace

PortLock::~PortLock()
{
    release();
}

QString PortLock::systemLocation(const QString &port)
{
    if (port.startsWith(QLatin1Char('/')) || port.startsWith(QLatin1String("./"))
        || port.startsWith(QLatin1String("../")))
        return port;
    return QStringLiteral("/dev/") + port;
}

QString PortLock::canonicalDevice(const QString &port)
{
    const QString location = systemLocation(port);
    const QString canonical = QFileInfo(location).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QFileInfo(location).absoluteFilePath())
                               : canonical;
}

bool PortLock::refuse(const QString &why)
{
    m_error = why;
    LOG << "Port" << m_port << "refused:" << why;
    return false;
}

QString PortLock::permissionText() const
{
    struct stat info = {};
    const struct group *owner = ::stat(QFile::encodeName(m_device).constData(), &info) == 0
        ? ::getgrgid(info.st_gid)
        : nullptr;
    if (!owner || info.st_gid == 0)
        return QStringLiteral("Permission denied: ask for read and write access to %1")
            .arg(m_device);
    const QString group = QString::fromLocal8Bit(owner->gr_name);
    return QStringLiteral("Permission denied: the port belongs to the group %1; add yourself to "
                          "it (sudo usermod -aG %1 \"$USER\") and log in again")
        .arg(group);
}

bool PortLock::acquire(const QString &port)
{
    release();
    m_port = port;
    m_device = canonicalDevice(port);
    m_error.clear();
    const QByteArray device = QFile::encodeName(m_device);
    // Nothing to hold: the serial library says so in its own words.
    if (!QFileInfo::exists(m_device))
        return true;
    if (::access(device.constData(), R_OK | W_OK) != 0 && errno == EACCES)
        return refuse(permissionText());
    if (heldHere().contains(m_device))
        return refuse(QStringLiteral("port busy: in use by process %1").arg(::getpid()));

    const QString folder = lockFolder();
    m_lockPath = folder + QStringLiteral("/vx4-")
        + QString::fromLatin1(QUrl::toPercentEncoding(m_device.mid(1))) + QStringLiteral(".lock");
    const QByteArray path = QFile::encodeName(m_lockPath);
    for (int attempt = 0; !folder.isEmpty() && attempt < LockAttempts; ++attempt) {
        const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0)
            break;
        // Another user's programs take the same file.
        ::fchmod(fd, 0666);
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (::fcntl(fd, F_SETLK, &lock) != 0) {
            const int why = errno;
            const pid_t holder = lockHolder(fd);
            ::close(fd);
            if (why != EACCES && why != EAGAIN)
                break;
            if (holder > 0)
                return refuse(QStringLiteral("port busy: in use by process %1").arg(holder));
            continue; // released meanwhile
        }
        // Its last owner may have removed the file between our open and our lock.
        if (!sameFile(fd, path)) {
            ::close(fd);
            continue;
        }
        const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
        if (::ftruncate(fd, 0) != 0 || ::write(fd, pid.constData(), size_t(pid.size())) < 0)
            LOG << "Cannot write the process number into" << m_lockPath;
        m_fd = fd;
        break;
    }
    // Without a lock folder the port still opens: keeping the technician from the sender would
    // be worse than an unguarded port.
    if (m_fd < 0)
        LOG << "No lock could be taken on" << m_device << "in" << m_lockPath;
    heldHere().insert(m_device);
    m_held = true;
    return true;
}

void PortLock::release()
{
    if (m_fd >= 0) {
        // Removed while still locked, so nobody locks the file on its way out.
        ::unlink(QFile::encodeName(m_lockPath).constData());
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_held)
        heldHere().remove(m_device);
    m_held = false;
}

void PortLock::openFailed(QSerialPort::SerialPortError error, const QString &reason)
{
    release();
    if (error == QSerialPort::PermissionError
        && ::access(QFile::encodeName(m_device).constData(), R_OK | W_OK) == 0)
        // The user may open it, so another program holds it exclusively.
        m_error = QStringLiteral("port busy: in use by another program (%1)").arg(reason);
    else if (error == QSerialPort::PermissionError)
        m_error = permissionText();
    else
        m_error = reason;
    LOG << "Port" << m_port << "cannot be opened:" << m_error;
}
