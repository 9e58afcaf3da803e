#include "calibrationhistory.h"
#include "commandsupport.h"
#include "ctloptions.h"
#include "ctlreport.h"
#include "servicecommands.h"

#include <QFile>

namespace ServiceCommands {

int history(const CtlOptions &o, const CtlReport &r)
{
    const HistoryLocation location = HistoryLocation::fromSettings();
    // Listing an history that was never written leaves no empty database behind.
    if (location.backend == HistoryLocation::Backend::Sqlite && !QFile::exists(location.sqliteFile))
        return ExitDone;
    CalibrationHistory history(location);
    QString error;
    const auto runs
        = history.runs(o.historySerial < 0 ? QString() : QString::number(o.historySerial), &error);
    if (!runs)
        return r.failure(ExitHistoryUnavailable, QStringLiteral("history"), error);
    if (r.json()) {
        for (const CalibrationRecord &run : *runs)
            r.result("run", run.toJson(), {});
        return ExitDone;
    }
    if (runs->isEmpty())
        return ExitDone;
    // Names come from whoever typed them: a control character must not move the cursor.
    using CommandSupport::escapeControls;
    QList<QStringList> table { { "CERTIFICATE", "SERIAL", "STARTED", "OUTCOME", "TECHNICIAN" } };
    for (const CalibrationRecord &run : *runs) {
        QString outcome = CalibrationRecord::outcomeText(run.outcome);
        if (!run.reason.isEmpty())
            outcome += QStringLiteral(" (%1)").arg(run.reason);
        table.append({ escapeControls(run.certificateNumber), escapeControls(run.senderSerial),
                       run.started.toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm 'UTC'")),
                       escapeControls(outcome), escapeControls(run.technician) });
    }
    r.result("run", {}, CommandSupport::alignedTable(table));
    return ExitDone;
}

} // namespace ServiceCommands
