#include "pendingfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>

namespace {

std::unique_ptr<QLockFile> lock(const QString &path, QString *error)
{
    return lockFileBeside(path, PendingFile::LockWaitMs, error);
}

bool readLocked(const QString &path, QList<QByteArray> *lines, QString *error)
{
    QFile file(path);
    if (!file.exists())
        return true;
    if (file.size() > PendingFile::MaxBytes) {
        *error = QStringLiteral("%1 holds %2 bytes, more than the %3 it may")
                     .arg(path)
                     .arg(file.size())
                     .arg(PendingFile::MaxBytes);
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
        return false;
    }
    // A torn last line, without its line end, is a line of its own like any other.
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            lines->append(line);
    }
    return true;
}

bool writeLocked(const QString &path, const QList<QByteArray> &lines, QString *error)
{
    if (lines.isEmpty()) {
        if (!QFile::exists(path) || QFile::remove(path))
            return true;
        *error = QStringLiteral("%1 cannot be removed").arg(path);
        return false;
    }
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        for (const QByteArray &line : lines)
            file.write(line + '\n');
        if (file.commit())
            return true;
    }
    *error = QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
    return false;
}

} // namespace

std::unique_ptr<QLockFile> lockFileBeside(const QString &path, int waitMs, QString *error)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *error = QStringLiteral("the folder of %1 cannot be made").arg(path);
        return nullptr;
    }
    auto file = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
    file->setStaleLockTime(0);
    if (file->tryLock(waitMs))
        return file;
    *error = QStringLiteral("%1 is locked by another program").arg(path);
    return nullptr;
}

bool PendingFile::append(const QByteArray &line, QString *error) const
{
    const auto held = lock(m_path, error);
    if (!held)
        return false;
    QFile file(m_path);
    if (file.open(QIODevice::ReadWrite | QIODevice::Append)) {
        QByteArray bytes = line + '\n';
        if (file.size() > 0) {
            char last = '\n';
            if (file.seek(file.size() - 1) && file.getChar(&last) && last != '\n')
                bytes.prepend('\n');
        }
        if (file.write(bytes) == bytes.size() && file.flush())
            return true;
    }
    *error = QStringLiteral("%1 cannot be written: %2").arg(m_path, file.errorString());
    return false;
}

QList<QByteArray> PendingFile::lines(QString *error) const
{
    QList<QByteArray> result;
    if (!QFile::exists(m_path))
        return result;
    const auto held = lock(m_path, error);
    if (held && readLocked(m_path, &result, error))
        return result;
    return {};
}

bool PendingFile::remove(const QList<QByteArray> &done, QString *error) const
{
    if (done.isEmpty())
        return true;
    const auto held = lock(m_path, error);
    QList<QByteArray> current;
    if (!held || !readLocked(m_path, &current, error))
        return false;
    for (const QByteArray &line : done) {
        const qsizetype at = current.indexOf(line);
        if (at >= 0)
            current.removeAt(at);
    }
    return writeLocked(m_path, current, error);
}
