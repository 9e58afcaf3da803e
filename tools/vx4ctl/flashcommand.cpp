#include "flashcommand.h"

#include "commandsupport.h"
#include "ctloptions.h"
#include "ctlreport.h"
#include "ctlwait.h"
#include "firmwarefile.h"
#include "flashjob.h"
#include "progressview.h"
#include "stopsignal.h"

#include <QJsonArray>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

void printTable(const CtlReport &r, const std::vector<std::unique_ptr<FlashJob>> &jobs)
{
    QList<QStringList> table { { "PORT", "RESULT", "CODE", "ROWS", "WRITTEN", "SKIPPED", "VERIFIED",
                                 "TIME", "MESSAGE" } };
    for (const auto &job : jobs) {
        const double seconds = job->elapsedMs() / 1000.0;
        const FirmwareDownload::Counts &n = job->counts();
        if (r.json()) {
            QJsonObject object { { "port", job->port() },
                                 { "result", job->resultName() },
                                 { "rowsDone", job->rowsDone() },
                                 { "rows", job->rowCount() },
                                 { "rowsWritten", n.written },
                                 { "rowsSkipped", n.skipped },
                                 { "rowsVerified", n.verified },
                                 { "versionReadBack",
                                   job->versionReadBack().isEmpty()
                                       ? QJsonValue()
                                       : QJsonValue(job->versionReadBack()) },
                                 { "seconds", std::round(seconds * 1000) / 1000 },
                                 { "exitCode", job->exitCode() } };
            object.insert(job->exitCode() == ExitDone ? "message" : "error", job->message());
            r.result("result", object, {});
            continue;
        }
        table.append({ job->port(), job->resultName(), QString::number(job->exitCode()),
                       QStringLiteral("%1/%2").arg(job->rowsDone()).arg(job->rowCount()),
                       QString::number(n.written), QString::number(n.skipped),
                       QString::number(n.verified), QStringLiteral("%1 s").arg(seconds, 0, 'f', 1),
                       job->message() });
    }
    if (r.json())
        return;
    r.result("result", {},
             CommandSupport::alignedTable(table, [&](int row, int column, const QString &text) {
                 if (row == 0 || column != 1)
                     return text;
                 return r.paint(text, resultColour(*jobs.at(size_t(row - 1))), true);
             }));
}

} // namespace

int runFlash(const CtlOptions &o, const CtlReport &r)
{
    const FirmwareFile file = FirmwareFile::load(o.firmwareFile);
    if (!file.error.isEmpty())
        return r.failure(ExitBadUsage, o.firmwareFile, file.error);
    r.message("file",
              QJsonObject { { "file", o.firmwareFile },
                            { "summary", file.summary },
                            { "rows", int(file.rows.size()) },
                            { "ports", QJsonArray::fromStringList(o.ports) } },
              QStringLiteral("%1: %2, %3 rows, to %4")
                  .arg(o.firmwareFile, file.summary)
                  .arg(file.rows.size())
                  .arg(o.ports.join(QStringLiteral(", "))));

    std::vector<std::unique_ptr<FlashJob>> jobs;
    QList<FlashJob *> views;
    for (const QString &port : o.ports) {
        jobs.push_back(std::make_unique<FlashJob>(port, o.line, file.rows, o.verify,
                                                  o.connectTimeoutMs, file.version));
        views.append(jobs.back().get());
    }
    ProgressView progress(r, views);
    int over = 0;
    for (const auto &job : jobs) {
        FlashJob *j = job.get();
        QObject::connect(j, &FlashJob::progressed, [&progress, j] { progress.update(j); });
        QObject::connect(j, &FlashJob::over, [&progress, &over, j] {
            ++over;
            progress.update(j);
        });
    }
    // An interruption stops every sender at its next safe point; a second one ends at once.
    StopSignal stop(&r);
    for (const auto &job : jobs)
        job->start();
    waitUntil([&] { return over == int(jobs.size()) || stop.requested(); }, -1);
    if (stop.requested()) {
        for (const auto &job : jobs)
            job->interrupt(stop.exitCode());
        waitUntil([&] { return over == int(jobs.size()); }, -1);
    }
    progress.close();

    printTable(r, jobs);
    int code = ExitDone;
    for (const auto &job : jobs) {
        if (job->exitCode() == ExitDone)
            continue;
        code = std::max(code, job->exitCode());
        // With --json the table's object already carries the reason.
        if (!r.json())
            r.failure(job->exitCode(), job->port() + QLatin1String(": flash"), job->message());
    }
    return code;
}
