#pragma once

#include <QMutex>
#include <QStringList>

/// Collects every debug line written while it exists, in the engine's "source @ line : text" form,
/// so tests can compare whole log lines. Only one may exist at a time.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();

    QStringList lines() const
    {
        QMutexLocker locker(&mutex);
        return captured;
    }
    /// The captured lines with their "source @ line : " prefix removed.
    QStringList texts() const { return textsFrom(QString()); }
    /// Texts of lines from `source` only (all lines for an empty `source`).
    QStringList textsFrom(const QString &source) const;
    int count(const QString &text) const { return int(texts().count(text)); }
    bool contains(const QString &text) const { return count(text) > 0; }
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);

    mutable QMutex mutex;
    QStringList captured;
};
