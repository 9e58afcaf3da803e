#pragma once

#include <QObject>
#include <QString>

class QDateTime;

/// The process-wide end of the logging path: the message handler hands every time-stamped line
/// to it, and it announces the line to whoever shows the log.
class QLogger : public QObject
{
    Q_OBJECT

public:
    /// The one logger; created on first use and kept until the process ends.
    static QLogger *instance();

    /// Installs `messageHandler` as the toolkit's message handler; the handler found in force
    /// before still receives every line. Installing twice keeps one installation.
    static void install();

    /// "yyyy-MM-dd hh:mm:ss.zzz" of `stamp`, a blank, then `message` unchanged.
    static QString formatLine(const QDateTime &stamp, const QString &message);

signals:
    void msgReady(const QString &line);

private:
    QLogger() = default;
};

/// The message handler: time-stamps each message, emits it from `QLogger::instance()` and passes
/// the same line on to the handler that was in force before.
void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message);
