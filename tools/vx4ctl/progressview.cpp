#include "progressview.h"

#include "ctlreport.h"
#include "flashjob.h"

#include <QJsonObject>

#include <cmath>

CtlReport::Colour resultColour(const FlashJob &job)
{
    if (job.state() == FlashJob::State::Interrupted)
        return CtlReport::Colour::Warn;
    return job.exitCode() == ExitDone ? CtlReport::Colour::Good : CtlReport::Colour::Bad;
}

QString clockText(double seconds)
{
    if (seconds < 0 || !std::isfinite(seconds))
        return QStringLiteral("--:--");
    const qint64 whole = qint64(std::ceil(seconds));
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

QString rateText(double bytesPerSecond)
{
    if (bytesPerSecond >= 1000)
        return QStringLiteral("%1 kB/s").arg(bytesPerSecond / 1000, 0, 'f', 1);
    return QStringLiteral("%1 B/s").arg(qRound(bytesPerSecond));
}

ProgressView::ProgressView(const CtlReport &report, const QList<FlashJob *> &jobs)
    : report(report)
    , jobs(jobs)
{
    sinceDraw.start();
}

void ProgressView::update(const FlashJob *job)
{
    if (report.bars()) {
        if (!drawn || job->isOver() || sinceDraw.hasExpired(RedrawMs))
            draw();
        return;
    }
    if (job->rowCount() == 0 || job->state() != FlashJob::State::Downloading)
        return;
    const int tenth = job->rowsDone() * 10 / job->rowCount();
    if (tenth <= lastTenth.value(job, 0))
        return;
    lastTenth.insert(job, tenth);
    const QJsonObject object {
        { "port", job->port() },
        { "row", job->rowsDone() },
        { "rows", job->rowCount() },
        { "bytesPerSecond", qRound(job->bytesPerSecond()) },
        { "secondsLeft",
          job->secondsLeft() < 0 ? QJsonValue()
                                 : QJsonValue(std::round(job->secondsLeft() * 10) / 10) },
    };
    report.message("progress", object,
                   QStringLiteral("%1: row %2 of %3 (%4 %), %5, %6 left")
                       .arg(job->port())
                       .arg(job->rowsDone())
                       .arg(job->rowCount())
                       .arg(tenth * 10)
                       .arg(rateText(job->bytesPerSecond()), clockText(job->secondsLeft())));
}

QString ProgressView::barLine(const FlashJob *job) const
{
    const int rows = qMax(1, job->rowCount());
    const int filled = job->rowsDone() * BarWidth / rows;
    QString status;
    switch (job->state()) {
    case FlashJob::State::Waiting:
    case FlashJob::State::Connecting:
        status = QStringLiteral("connecting");
        break;
    case FlashJob::State::Downloading:
        status = QStringLiteral("%1  %2 left")
                     .arg(rateText(job->bytesPerSecond()), clockText(job->secondsLeft()));
        break;
    case FlashJob::State::Restarting:
        status = QStringLiteral("starting the new image");
        break;
    case FlashJob::State::Done:
    case FlashJob::State::Failed:
    case FlashJob::State::Interrupted:
        status = report.paint(job->resultName(), resultColour(*job), false);
        break;
    }
    if (job->isInterrupting())
        status = QStringLiteral("stopping at a safe point");
    int portWidth = 0;
    for (const FlashJob *j : jobs)
        portWidth = qMax(portWidth, int(j->port().size()));
    return QStringLiteral("%1 [%2%3] %4/%5 rows  %6")
        .arg(job->port().leftJustified(portWidth))
        .arg(QString(filled, QLatin1Char('#')), QString(BarWidth - filled, QLatin1Char('-')))
        .arg(job->rowsDone())
        .arg(job->rowCount())
        .arg(status);
}

void ProgressView::draw()
{
    QString text;
    // Back to the first bar, then each line cleared and written again.
    if (drawn)
        text += QStringLiteral("\x1b[%1A").arg(jobs.size());
    for (const FlashJob *job : std::as_const(jobs))
        text += QStringLiteral("\r\x1b[2K") + barLine(job) + QLatin1Char('\n');
    report.barText(text);
    drawn = true;
    sinceDraw.restart();
}

void ProgressView::close()
{
    if (report.bars())
        draw();
}
