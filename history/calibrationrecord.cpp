#include "calibrationrecord.h"

#include <QJsonArray>

namespace {

constexpr std::array<const char *, 3> OutcomeNames { "finished", "cancelled", "aborted" };

QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

} // namespace

QString CalibrationRecord::outcomeText(Outcome outcome)
{
    return QString::fromLatin1(OutcomeNames.at(size_t(outcome)));
}

std::optional<CalibrationRecord::Outcome> CalibrationRecord::outcomeFromText(const QString &text)
{
    for (size_t i = 0; i < OutcomeNames.size(); ++i) {
        if (text == QLatin1String(OutcomeNames[i]))
            return Outcome(i);
    }
    return std::nullopt;
}

QJsonObject CalibrationRecord::toJson() const
{
    QJsonArray pointArray;
    for (const CalibrationPoint &p : points)
        pointArray.append(QJsonObject { { "setPoint", p.setPoint },
                                        { "reference", p.reference },
                                        { "asFound", p.asFound },
                                        { "asLeft", p.asLeft } });
    QJsonObject o { { "certificate", certificateNumber },
                    { "serial", senderSerial },
                    { "firmware", firmware },
                    { "started", timeText(started) },
                    { "finished", timeText(finished) },
                    { "outcome", outcomeText(outcome) },
                    { "reason", reason },
                    { "technician", technician },
                    { "referenceCalibrator", referenceCalibrator },
                    { "referenceDue", referenceDueDate.toString(Qt::ISODate) },
                    { "tolerancePsi", tolerancePsi },
                    { "nextCalibration", nextCalibrationDate.toString(Qt::ISODate) },
                    { "pdfSha256", pdfSha256 },
                    { "points", pointArray } };
    if (id > 0)
        o.insert("id", id);
    return o;
}

std::optional<CalibrationRecord> CalibrationRecord::fromJson(const QJsonObject &o, QString *error)
{
    CalibrationRecord r;
    const auto outcome = outcomeFromText(o.value("outcome").toString());
    const QJsonArray pointArray = o.value("points").toArray();
    r.certificateNumber = o.value("certificate").toString();
    r.started = QDateTime::fromString(o.value("started").toString(), Qt::ISODateWithMs);
    QString wrong;
    if (r.certificateNumber.isEmpty())
        wrong = QStringLiteral("certificate");
    else if (!r.started.isValid())
        wrong = QStringLiteral("started");
    else if (!outcome)
        wrong = QStringLiteral("outcome");
    else if (pointArray.size() != PointCount || !o.value("tolerancePsi").isDouble())
        wrong = pointArray.size() != PointCount ? QStringLiteral("points")
                                                : QStringLiteral("tolerancePsi");
    if (!wrong.isEmpty()) {
        if (error)
            *error = QStringLiteral("the record has no valid \"%1\"").arg(wrong);
        return std::nullopt;
    }
    r.id = o.value("id").toInteger();
    r.senderSerial = o.value("serial").toString();
    r.firmware = o.value("firmware").toString();
    r.finished = QDateTime::fromString(o.value("finished").toString(), Qt::ISODateWithMs);
    r.outcome = *outcome;
    r.reason = o.value("reason").toString();
    r.technician = o.value("technician").toString();
    r.referenceCalibrator = o.value("referenceCalibrator").toString();
    r.referenceDueDate = QDate::fromString(o.value("referenceDue").toString(), Qt::ISODate);
    r.tolerancePsi = o.value("tolerancePsi").toDouble();
    r.nextCalibrationDate = QDate::fromString(o.value("nextCalibration").toString(), Qt::ISODate);
    r.pdfSha256 = o.value("pdfSha256").toString();
    for (int i = 0; i < PointCount; ++i) {
        const QJsonObject p = pointArray.at(i).toObject();
        r.points[size_t(i)] = { p.value("setPoint").toDouble(), p.value("reference").toDouble(),
                                p.value("asFound").toDouble(), p.value("asLeft").toDouble() };
    }
    return r;
}
