#include "logcapture.h"

#include <QRegularExpression>

namespace {
LogCapture *active = nullptr;
QtMessageHandler previous = nullptr;
} // namespace

LogCapture::LogCapture()
{
    Q_ASSERT(!active);
    active = this;
    previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
    active = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (active) {
        QMutexLocker locker(&active->mutex);
        active->captured.append(message);
    }
    // Warnings and worse still reach the console, where a failing test's output shows them.
    if (previous && type != QtDebugMsg)
        previous(type, context, message);
}

QStringList LogCapture::textsFrom(const QString &source) const
{
    static const QRegularExpression prefix(QStringLiteral("^(\\S+) @ \\d+ : "));
    QMutexLocker locker(&mutex);
    QStringList result;
    for (const QString &line : captured) {
        const QRegularExpressionMatch m = prefix.match(line);
        if (source.isEmpty() || m.captured(1) == source)
            result.append(QString(line).remove(0, m.capturedLength()));
    }
    return result;
}

void LogCapture::clear()
{
    QMutexLocker locker(&mutex);
    captured.clear();
}
