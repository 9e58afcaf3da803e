#include "downloadprogress.h"

#include <QCoreApplication>

namespace DownloadProgress {

namespace {
QString tr(const char *text, int n = -1)
{
    return QCoreApplication::translate("MainWindow", text, nullptr, n);
}
} // namespace

QString duration(qint64 ms)
{
    const qint64 s = ms / 1000;
    const QLatin1Char zero('0');
    if (s < 3600)
        return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, zero);
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, zero)
        .arg(s % 60, 2, 10, zero);
}

QString text(const QString &sender, int done, int total, int skipped, qint64 elapsedMs)
{
    QString rows = tr("Sender %1: row %2 of %3").arg(sender).arg(done).arg(total);
    if (skipped > 0)
        rows += tr(", %n skipped (already held the image)", skipped);
    // The rows still to go at the pace of those done: nothing is known before the first.
    const QString left = done > 0 && done <= total
        ? tr("about %1 left").arg(duration(elapsedMs * (total - done) / done))
        : tr("time left not known yet");
    return tr("Downloading firmware...") + QLatin1Char('\n') + rows + QLatin1Char('\n')
        + tr("Elapsed %1, %2").arg(duration(elapsedMs), left);
}

} // namespace DownloadProgress
