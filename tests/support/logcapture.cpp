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

QStringList LogCapture::lines() const
{
    QMutexLocker locker(&mutex);
    return captured;
}

QString LogCapture::stripPrefix(const QString &line)
{
    static const QRegularExpression prefix(QStringLiteral("^\\S+ @ \\d+ : "));
    QString text = line;
    return text.remove(prefix);
}

QStringList LogCapture::texts() const
{
    QStringList result;
    for (const QString &line : lines())
        result.append(stripPrefix(line));
    return result;
}

QStringList LogCapture::textsFrom(const QString &source) const
{
    QStringList result;
    const QString head = source + QStringLiteral(" @ ");
    for (const QString &line : lines()) {
        if (line.startsWith(head))
            result.append(stripPrefix(line));
    }
    return result;
}

int LogCapture::count(const QString &text) const
{
    return int(texts().count(text));
}

void LogCapture::clear()
{
    QMutexLocker locker(&mutex);
    captured.clear();
}
