// What the history reads back: runs, senders, links and the lab's policy. Every read is bounded,
// so that a history someone filled with one huge field or millions of rows is refused with the
// reason instead of being read whole.
#include "calibrationhistory.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {

/// A column of the runs' read: its expression and, for a text, what the refusal calls it.
struct Column
{
    const char *expression;
    const char *field = nullptr; ///< a text column's name, bounded in length
};

const std::array<Column, 36> RunColumns { {
    { "r.id" },
    { "r.certificate_number", "certificate_number" },
    { "r.sender_serial", "sender_serial" },
    { "r.firmware", "firmware" },
    { "r.started_utc", "started_utc" },
    { "r.finished_utc", "finished_utc" },
    { "r.outcome", "outcome" },
    { "r.reason", "reason" },
    { "r.technician", "technician" },
    { "r.reference_calibrator", "reference_calibrator" },
    { "r.reference_due", "reference_due" },
    { "r.tolerance_psi" },
    { "r.next_calibration", "next_calibration" },
    { "r.pdf_sha256", "pdf_sha256" },
    { "r.calibrated", "calibrated" },
    { "r.company", "company" },
    { "r.calibrator_serial", "calibrator_serial" },
    { "r.calibrator_certificate", "calibrator_certificate" },
    { "r.decision_rule", "decision_rule" },
    { "r.procedure_id", "procedure_id" },
    { "r.ambient_celsius" },
    { "r.reference_uncertainty" },
    { "r.reference_uncertainty_percent" },
    { "r.reference_coverage" },
    { "r.calibration_saved" },
    { "r.replaces", "replaces" },
    { "p.point_index" },
    { "p.set_point" },
    { "p.reference" },
    { "p.as_found" },
    { "p.as_left_reference" },
    { "p.as_left" },
    { "p.as_found_capture", "as_found_capture" },
    { "p.as_left_capture", "as_left_capture" },
    { "p.as_found_u" },
    { "p.as_left_u" },
} };

/// `expression`, cut one character past the bound so that a longer text is seen, not read.
QString bounded(const QString &expression)
{
    return QStringLiteral("SUBSTR(%1, 1, %2)")
        .arg(expression)
        .arg(CalibrationHistory::MaxTextChars + 1);
}

QString placeholders(qsizetype count)
{
    QStringList marks;
    for (qsizetype i = 0; i < count; ++i)
        marks << QStringLiteral("?");
    return marks.join(QStringLiteral(", "));
}

std::optional<double> optionalDouble(const QVariant &value)
{
    return value.isNull() ? std::nullopt : std::optional(value.toDouble());
}

/// The run of the current row, new or the one read just before.
CalibrationRecord runOf(const QSqlQuery &q)
{
    CalibrationRecord r;
    r.id = q.value(0).toLongLong();
    r.certificateNumber = q.value(1).toString();
    r.senderSerial = q.value(2).toString();
    r.firmware = q.value(3).toString();
    r.started = QDateTime::fromString(q.value(4).toString(), Qt::ISODateWithMs);
    r.finished = QDateTime::fromString(q.value(5).toString(), Qt::ISODateWithMs);
    r.outcome = CalibrationRecord::outcomeFromText(q.value(6).toString())
                    .value_or(CalibrationRecord::Outcome::Aborted);
    r.reason = q.value(7).toString();
    r.technician = q.value(8).toString();
    r.referenceCalibrator = q.value(9).toString();
    r.referenceDueDate = QDate::fromString(q.value(10).toString(), Qt::ISODate);
    r.tolerancePsi = q.value(11).toDouble();
    r.nextCalibrationDate = QDate::fromString(q.value(12).toString(), Qt::ISODate);
    r.pdfSha256 = q.value(13).toString();
    r.calibrated = QDateTime::fromString(q.value(14).toString(), Qt::ISODate);
    r.company = q.value(15).toString();
    r.calibratorSerial = q.value(16).toString();
    r.calibratorCertificate = q.value(17).toString();
    r.decisionRule
        = CalibrationRecord::ruleFromText(q.value(18).toString()).value_or(DecisionRule::Simple);
    r.procedureId = q.value(19).toString();
    r.ambientCelsius = optionalDouble(q.value(20));
    if (!q.value(21).isNull())
        r.referenceUncertainty
            = ReferenceUncertainty { q.value(21).toDouble(), q.value(22).toInt() != 0,
                                     q.value(23).toDouble() };
    r.calibrationSaved = q.value(24).toInt() != 0;
    r.replaces = q.value(25).toString();
    return r;
}

void readPoint(const QSqlQuery &q, CalibrationRecord &r)
{
    const int index = q.value(26).isNull() ? -1 : q.value(26).toInt();
    if (index < 0 || index >= CalibrationRecord::PointCount)
        return;
    CalibrationPoint &p = r.points[size_t(index)];
    p.setPoint = q.value(27).toDouble();
    p.asFoundReference = q.value(28).toDouble();
    p.asFound = q.value(29).toDouble();
    p.asLeftReference = q.value(30).toDouble();
    p.asLeft = q.value(31).toDouble();
    p.asFoundCapture
        = CalibrationRecord::captureFromText(q.value(32).toString()).value_or(Capture::None);
    p.asLeftCapture
        = CalibrationRecord::captureFromText(q.value(33).toString()).value_or(Capture::None);
    p.asFoundU = optionalDouble(q.value(34));
    p.asLeftU = optionalDouble(q.value(35));
}

} // namespace

std::optional<QList<CalibrationRecord>> CalibrationHistory::runs(const QString &serial,
                                                                 QString *error)
{
    return runs(serial.isEmpty() ? QStringList() : QStringList { serial }, error);
}

std::optional<QList<CalibrationRecord>> CalibrationHistory::runs(const QStringList &serials,
                                                                 QString *error)
{
    QString dummy;
    QString &why = error ? *error : dummy;
    if (!open(&why))
        return std::nullopt;
    const auto refuse = [&](const QString &reason) {
        why = QStringLiteral("%1 cannot be read: %2").arg(m_location.describe(), reason);
        return std::nullopt;
    };
    QStringList columns;
    for (const Column &c : RunColumns)
        columns << (c.field ? bounded(QLatin1String(c.expression)) : QLatin1String(c.expression));
    const QString where = serials.isEmpty()
        ? QString()
        : QStringLiteral("WHERE r.sender_serial IN (%1)").arg(placeholders(serials.size()));
    // At most five point rows a run: enough rows to see one run more than may be read.
    const qint64 rowLimit = (qint64(m_location.maxRuns) + 1) * CalibrationRecord::PointCount;
    QSqlQuery q(database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT %1 FROM calibration_runs r LEFT JOIN calibration_points p "
                             "ON p.run_id = r.id AND p.point_index BETWEEN 0 AND 4 %2 ORDER BY "
                             "r.started_utc DESC, r.id DESC, p.point_index LIMIT %3")
                  .arg(columns.join(QStringLiteral(", ")), where)
                  .arg(rowLimit));
    for (const QString &serial : serials)
        q.addBindValue(serial);
    if (!q.exec())
        return refuse(q.lastError().text().simplified());
    QList<CalibrationRecord> list;
    QHash<qint64, int> indexOf;
    while (q.next()) {
        for (int i = 0; i < int(RunColumns.size()); ++i) {
            if (RunColumns[size_t(i)].field && q.value(i).toString().size() > MaxTextChars)
                return refuse(QStringLiteral("run %1 has a \"%2\" longer than %3 characters")
                                  .arg(q.value(0).toLongLong())
                                  .arg(QLatin1String(RunColumns[size_t(i)].field))
                                  .arg(MaxTextChars));
        }
        if (list.isEmpty() || list.constLast().id != q.value(0).toLongLong()) {
            if (list.size() >= m_location.maxRuns)
                return refuse(QStringLiteral("it holds more than %1 runs to read at once")
                                  .arg(m_location.maxRuns));
            indexOf.insert(q.value(0).toLongLong(), int(list.size()));
            list.append(runOf(q));
        }
        readPoint(q, list.last());
    }
    // The certificates each run had replaced, by number, bounded like the runs.
    q.prepare(QStringLiteral("SELECT c.run_id, %1, %2 FROM certificate_numbers c JOIN "
                             "calibration_runs r ON r.id = c.run_id %3 %4 c.state = 'replaced' "
                             "ORDER BY c.sequence LIMIT %5")
                  .arg(bounded(QStringLiteral("c.number")), bounded(QStringLiteral("c.pdf_sha256")),
                       where, where.isEmpty() ? QStringLiteral("WHERE") : QStringLiteral("AND"))
                  .arg(rowLimit));
    for (const QString &serial : serials)
        q.addBindValue(serial);
    if (!q.exec())
        return refuse(q.lastError().text().simplified());
    qint64 replaced = 0;
    while (q.next()) {
        if (++replaced >= rowLimit || q.value(1).toString().size() > MaxTextChars
            || q.value(2).toString().size() > MaxTextChars)
            return refuse(QStringLiteral("its replaced certificates exceed what may be read"));
        const int at = indexOf.value(q.value(0).toLongLong(), -1);
        if (at >= 0)
            list[at].replaced.append({ q.value(1).toString(), q.value(2).toString() });
    }
    return list;
}

std::optional<QList<CalibrationHistory::Sender>> CalibrationHistory::senders(QString *error)
{
    if (!open(error))
        return std::nullopt;
    QSqlQuery q(database());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1, COUNT(*) FROM calibration_runs GROUP BY sender_serial "
                               "ORDER BY sender_serial LIMIT %2")
                    .arg(bounded(QStringLiteral("sender_serial")))
                    .arg(m_location.maxRuns + 1))) {
        if (error)
            *error = QStringLiteral("%1 cannot be read: %2")
                         .arg(m_location.describe(), q.lastError().text().simplified());
        return std::nullopt;
    }
    QList<Sender> list;
    while (q.next()) {
        if (list.size() >= m_location.maxRuns || q.value(0).toString().size() > MaxTextChars) {
            if (error)
                *error = QStringLiteral("%1 cannot be read: its senders exceed what may be read")
                             .arg(m_location.describe());
            return std::nullopt;
        }
        list.append({ q.value(0).toString(), q.value(1).toInt() });
    }
    return list;
}

std::optional<QList<CalibrationHistory::SenderLink>> CalibrationHistory::links(QString *error)
{
    if (!open(error))
        return std::nullopt;
    QSqlQuery q(database());
    q.setForwardOnly(true);
    const bool read = q.exec(QStringLiteral("SELECT %1, %2, %3 FROM sender_links ORDER BY "
                                            "linked_utc, id LIMIT %4")
                                 .arg(bounded(QStringLiteral("old_serial")),
                                      bounded(QStringLiteral("new_serial")),
                                      bounded(QStringLiteral("linked_utc")))
                                 .arg(MaxLinks + 1));
    QList<SenderLink> list;
    while (read && q.next()) {
        if (list.size() >= MaxLinks || q.value(0).toString().size() > MaxTextChars
            || q.value(1).toString().size() > MaxTextChars) {
            if (error)
                *error = QStringLiteral("%1 cannot be read: its serial links exceed what may be "
                                        "read")
                             .arg(m_location.describe());
            return std::nullopt;
        }
        list.append({ q.value(0).toString(), q.value(1).toString(),
                      QDateTime::fromString(q.value(2).toString(), Qt::ISODateWithMs) });
    }
    if (read)
        return list;
    if (error)
        *error = QStringLiteral("%1 cannot be read: %2")
                     .arg(m_location.describe(), q.lastError().text().simplified());
    return std::nullopt;
}

std::optional<QStringList> CalibrationHistory::instrumentSerials(const QString &serial,
                                                                 QString *error)
{
    const auto all = links(error);
    if (!all)
        return std::nullopt;
    QStringList found { serial };
    // Every text linked to one found, in either direction, until no new one turns up.
    for (qsizetype i = 0; i < found.size(); ++i) {
        for (const SenderLink &l : *all) {
            if (l.oldSerial == found.at(i) && !found.contains(l.newSerial))
                found << l.newSerial;
            if (l.newSerial == found.at(i) && !found.contains(l.oldSerial))
                found << l.oldSerial;
        }
    }
    return found;
}

std::optional<LabPolicy> CalibrationHistory::policy(bool *stored, QString *error)
{
    *stored = false;
    if (!open(error))
        return std::nullopt;
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("SELECT tolerance_psi, decision_rule, %1, %2, changed_utc FROM "
                               "lab_policy ORDER BY id DESC LIMIT 1")
                    .arg(bounded(QStringLiteral("procedure_id")),
                         bounded(QStringLiteral("changed_by"))))) {
        if (error)
            *error = QStringLiteral("%1 cannot be read: %2")
                         .arg(m_location.describe(), q.lastError().text().simplified());
        return std::nullopt;
    }
    LabPolicy policy;
    if (!q.next())
        return policy;
    *stored = true;
    policy.tolerancePsi = q.value(0).toDouble();
    policy.rule
        = CalibrationRecord::ruleFromText(q.value(1).toString()).value_or(DecisionRule::Simple);
    policy.procedureId = q.value(2).toString().left(MaxTextChars);
    policy.changedBy = q.value(3).toString().left(MaxTextChars);
    policy.changed = QDateTime::fromString(q.value(4).toString(), Qt::ISODateWithMs);
    return policy;
}

bool CalibrationHistory::setPolicy(const LabPolicy &policy, QString *error)
{
    const QString problem = policy.problem();
    if (!problem.isEmpty()) {
        *error = QStringLiteral("the policy is refused: %1").arg(problem);
        return false;
    }
    if (!open(error))
        return false;
    QSqlQuery q(database());
    q.prepare(QStringLiteral("INSERT INTO lab_policy (tolerance_psi, decision_rule, "
                             "procedure_id, changed_by, changed_utc) VALUES (?, ?, ?, ?, ?)"));
    q.addBindValue(policy.tolerancePsi);
    q.addBindValue(CalibrationRecord::ruleText(policy.rule));
    q.addBindValue(policy.procedureId.trimmed());
    q.addBindValue(policy.changedBy.isNull() ? QStringLiteral("") : policy.changedBy);
    const QDateTime changed
        = policy.changed.isValid() ? policy.changed : QDateTime::currentDateTimeUtc();
    q.addBindValue(changed.toUTC().toString(Qt::ISODateWithMs));
    if (q.exec())
        return true;
    *error = QStringLiteral("%1 cannot store the policy: %2")
                 .arg(m_location.describe(), q.lastError().text().simplified());
    dropConnection();
    return false;
}
