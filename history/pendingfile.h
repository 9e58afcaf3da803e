#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

class QLockFile;

/// Holds "PATH.lock" (made with PATH's folder) until the returned object goes; nothing, with the
/// reason, when another program holds it for longer than `waitMs`. Only a lock whose program is
/// gone counts as stale, however long it has been held.
std::unique_ptr<QLockFile> lockFileBeside(const QString &path, int waitMs, QString *error);

/// A file of JSON lines waiting to be stored, shared by every program of this computer. It is
/// locked while it is read and while it is rewritten, never while a line is being stored, so a
/// line appended by another program meanwhile stays and an append never waits on a database.
/// A line is appended whole; a torn last line (a crash, a full disk) gets its line end first, so
/// it cannot swallow the next line.
class PendingFile
{
public:
    static constexpr qint64 MaxBytes = 64 * 1024 * 1024; ///< a larger file is not read at all
    static constexpr qsizetype MaxLineBytes = 1024 * 1024; ///< a longer line is kept, not read
    static constexpr int LockWaitMs = 5000; ///< file work only is done under the lock

    explicit PendingFile(const QString &path)
        : m_path(path)
    {
    }

    const QString &path() const { return m_path; }
    /// Appends `line` (without its line end).
    bool append(const QByteArray &line, QString *error) const;
    /// The lines waiting, in order; nothing (and `error`) when the file cannot be read.
    QList<QByteArray> lines(QString *error) const;
    /// Removes one occurrence of each of `done` from the file, keeping every other line,
    /// those appended since they were read included.
    bool remove(const QList<QByteArray> &done, QString *error) const;

private:
    QString m_path;
};
