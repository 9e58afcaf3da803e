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

    /// The captured lines with their "source @ line : " prefix removed.
    QStringList texts() const { return textsFrom(QString()); }
    /// Texts of lines from `source` only (all lines for an empty `source`).
    QStringList textsFrom(const QString &source) const;
    bool contains(const QString &text) const { return texts().contains(text); }
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &message);

    mutable QMutex mutex;
    QStringList captured;
};
