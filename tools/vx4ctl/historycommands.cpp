#include "historycommands.h"

#include "calibrationhistory.h"
#include "commandsupport.h"
#include "ctloptions.h"
#include "ctlreport.h"
#include "servicerules.h"

#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>

namespace HistoryCommands {

namespace {

/// Listing a history that was never written leaves no empty database behind.
bool neverWritten(const HistoryLocation &location)
{
    return location.backend == HistoryLocation::Backend::Sqlite
        && !QFile::exists(location.sqliteFile);
}

/// The runs as one JSON object each, or in columns under a header. Names come from whoever typed
/// them: a control character must not move the cursor or break a line.
void printRuns(const CtlReport &r, const QList<CalibrationRecord> &runs)
{
    if (r.json()) {
        for (const CalibrationRecord &run : runs)
            r.result("run", run.toJson(), {});
        return;
    }
    if (runs.isEmpty())
        return;
    using CommandSupport::escapeControls;
    QList<QStringList> table { { "CERTIFICATE", "SERIAL", "STARTED", "OUTCOME", "TECHNICIAN" } };
    for (const CalibrationRecord &run : runs) {
        QString outcome = CalibrationRecord::outcomeText(run.outcome);
        if (run.outcome == CalibrationRecord::Outcome::Finished)
            outcome += QStringLiteral(" (%1)").arg(CalibrationRecord::verdictText(run.result()));
        else if (!run.reason.isEmpty())
            outcome += QStringLiteral(" (%1)").arg(run.reason);
        table.append({ escapeControls(run.certificateNumber), escapeControls(run.senderSerial),
                       run.started.toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm 'UTC'")),
                       escapeControls(outcome), escapeControls(run.technician) });
    }
    r.result("run", {}, CommandSupport::alignedTable(table));
}

/// The number of a serial text: "OVX4-0042" and "42" both have 42; -1 when it has none.
int numberOf(const QString &serial)
{
    bool ok = false;
    const int number = serial.section(u'-', -1).toInt(&ok);
    return ok ? number : -1;
}

} // namespace

int history(const CtlOptions &o, const CtlReport &r)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    static const QRegularExpression text(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9-]{0,31}$"));
    const QString &wanted = o.historySerial;
    const bool bare = digits.match(wanted).hasMatch();
    if (!wanted.isEmpty()
        && ((bare && wanted.toInt() > VX4ServiceRules::MaxSerialNumber)
            || !text.match(wanted).hasMatch()))
        return r.failure(ExitBadUsage, QStringLiteral("usage"),
                         QStringLiteral("--serial \"%1\" is neither a serial number (0 to %2) nor "
                                        "a serial number text such as OVX4-1234")
                             .arg(wanted)
                             .arg(VX4ServiceRules::MaxSerialNumber));
    const HistoryLocation location = HistoryLocation::fromSettings();
    if (neverWritten(location))
        return ExitDone;
    CalibrationHistory history(location);
    QString error;
    const auto failed
        = [&] { return r.failure(ExitHistoryUnavailable, QStringLiteral("history"), error); };
    if (bare) {
        // Every sender with that number, each under its own text: OVX4-0042 and OVX5-0042 may be
        // two instruments.
        const auto senders = history.senders(&error);
        if (!senders)
            return failed();
        QList<CalibrationRecord> all;
        for (const CalibrationHistory::Sender &s : *senders) {
            if (numberOf(s.serial) != wanted.toInt())
                continue;
            const auto runs = history.runs(s.serial, &error);
            if (!runs)
                return failed();
            all += *runs;
        }
        printRuns(r, all);
        return ExitDone;
    }
    // The whole text: that sender, under every text its firmware updates gave it.
    const auto serials = wanted.isEmpty() ? std::optional(QStringList())
                                          : history.instrumentSerials(wanted, &error);
    const auto runs = serials ? history.runs(*serials, &error) : std::nullopt;
    if (!runs)
        return failed();
    printRuns(r, *runs);
    return ExitDone;
}

int policy(const CtlOptions &o, const CtlReport &r)
{
    const HistoryLocation location = HistoryLocation::fromSettings();
    QStringList words = o.commandArguments;
    const bool set = !words.isEmpty() && words.takeFirst() == QLatin1String("set");
    if (!o.commandArguments.isEmpty() && (!set || words.isEmpty()))
        return r.failure(ExitBadUsage, QStringLiteral("usage"),
                         QStringLiteral("policy takes nothing, or set KEY=VALUE... (see vx4ctl "
                                        "--help)"));
    CalibrationHistory history(location);
    QString error;
    bool stored = false;
    const auto current = !set && neverWritten(location) ? std::optional(LabPolicy())
                                                        : history.policy(&stored, &error);
    if (!current)
        return r.failure(ExitHistoryUnavailable, QStringLiteral("policy"), error);
    LabPolicy p = *current;
    if (set) {
        p.changedBy = qEnvironmentVariable("USER", QStringLiteral("unknown"));
        p.changed = QDateTime::currentDateTimeUtc();
        for (const QString &word : std::as_const(words)) {
            const QString key = word.section(u'=', 0, 0);
            const QString value = word.section(u'=', 1);
            bool ok = !value.isEmpty() || key == QLatin1String("procedure");
            if (key == QLatin1String("tolerance"))
                p.tolerancePsi = value.toDouble(&ok);
            else if (key == QLatin1String("rule") && CalibrationRecord::ruleFromText(value))
                p.rule = *CalibrationRecord::ruleFromText(value);
            else if (key == QLatin1String("procedure"))
                p.procedureId = value.trimmed();
            else if (key == QLatin1String("by"))
                p.changedBy = value.trimmed();
            else
                ok = false;
            if (!ok || !word.contains(u'='))
                return r.failure(ExitBadUsage, QStringLiteral("usage"),
                                 QStringLiteral("\"%1\" is not tolerance=PSI, rule=simple|guarded, "
                                                "procedure=ID or by=NAME")
                                     .arg(word));
        }
        if (!p.problem().isEmpty())
            return r.failure(ExitBadUsage, QStringLiteral("policy"), p.problem());
        if (!history.setPolicy(p, &error))
            return r.failure(ExitHistoryUnavailable, QStringLiteral("policy"), error);
        stored = true;
    }
    const QJsonObject object { { "stored", stored },
                               { "tolerancePsi", p.tolerancePsi },
                               { "rule", CalibrationRecord::ruleText(p.rule) },
                               { "procedure", p.procedureId },
                               { "changedBy", p.changedBy },
                               { "changed", p.changed.toUTC().toString(Qt::ISODate) } };
    r.result("policy", object,
             stored ? QStringLiteral("%1\nset by %2 on %3")
                          .arg(p.summary(), p.changedBy,
                               p.changed.toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm 'UTC'")))
                    : QStringLiteral("no lab policy is stored: each computer's own calibration "
                                     "settings apply"));
    return ExitDone;
}

} // namespace HistoryCommands
