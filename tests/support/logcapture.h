#pragma once

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

/// Collects every debug line written while it exists, in the engine's "source @ line : text" form,
/// so tests can compare whole log lines. Only one may exist at a time.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();

    QStringList lines() const;
    /// The captured lines with their "source @ line : " prefix removed.
    QStringList texts() const;
    /// Texts of lines from `source` only.
    QStringList textsFrom(const QString &source) const;
    int count(const QString &text) const;
    bool contains(const QString &text) const { return count(text) > 0; }
    void clear();

    static QString stripPrefix(const QString &line);

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);

    mutable QMutex mutex;
    QStringList captured;
};
