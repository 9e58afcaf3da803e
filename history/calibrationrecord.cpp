#include "calibrationrecord.h"

#include <QJsonArray>

#include <algorithm>
#include <cmath>

namespace {

constexpr std::array<const char *, 3> OutcomeNames { "finished", "cancelled", "aborted" };
constexpr std::array<const char *, 3> CaptureNames { "none", "stable", "unstable" };

QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

} // namespace

bool CalibrationPoint::withinTolerance(double errorPsi, double tolerancePsi)
{
    return std::llround(std::abs(errorPsi) * 1000) <= std::llround(tolerancePsi * 1000);
}

bool CalibrationRecord::asFoundOutOfTolerance() const
{
    return std::any_of(points.begin(), points.end(), [this](const CalibrationPoint &p) {
        return p.asFoundCapture != Capture::None
            && !CalibrationPoint::withinTolerance(p.asFoundError(), tolerancePsi);
    });
}

QString CalibrationRecord::captureText(Capture capture)
{
    return QString::fromLatin1(CaptureNames.at(size_t(capture)));
}

std::optional<Capture> CalibrationRecord::captureFromText(const QString &text)
{
    for (size_t i = 0; i < CaptureNames.size(); ++i) {
        if (text == QLatin1String(CaptureNames[i]))
            return Capture(i);
    }
    return std::nullopt;
}

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
                                        { "reference", p.asFoundReference },
                                        { "asFound", p.asFound },
                                        { "asLeftReference", p.asLeftReference },
                                        { "asLeft", p.asLeft },
                                        { "asFoundCapture", captureText(p.asFoundCapture) },
                                        { "asLeftCapture", captureText(p.asLeftCapture) } });
    QJsonObject o { { "certificate", certificateNumber },
                    { "serial", senderSerial },
                    { "firmware", firmware },
                    { "started", timeText(started) },
                    { "finished", timeText(finished) },
                    { "calibrated", calibrated.toString(Qt::ISODate) },
                    { "outcome", outcomeText(outcome) },
                    { "reason", reason },
                    { "technician", technician },
                    { "company", company },
                    { "referenceCalibrator", referenceCalibrator },
                    { "calibratorSerial", calibratorSerial },
                    { "calibratorCertificate", calibratorCertificate },
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
    r.calibrated = QDateTime::fromString(o.value("calibrated").toString(), Qt::ISODate);
    r.technician = o.value("technician").toString();
    r.company = o.value("company").toString();
    r.referenceCalibrator = o.value("referenceCalibrator").toString();
    r.calibratorSerial = o.value("calibratorSerial").toString();
    r.calibratorCertificate = o.value("calibratorCertificate").toString();
    r.referenceDueDate = QDate::fromString(o.value("referenceDue").toString(), Qt::ISODate);
    r.tolerancePsi = o.value("tolerancePsi").toDouble();
    r.nextCalibrationDate = QDate::fromString(o.value("nextCalibration").toString(), Qt::ISODate);
    r.pdfSha256 = o.value("pdfSha256").toString();
    for (int i = 0; i < PointCount; ++i) {
        const QJsonObject p = pointArray.at(i).toObject();
        CalibrationPoint &point = r.points[size_t(i)];
        point.setPoint = p.value("setPoint").toDouble();
        point.asFoundReference = p.value("reference").toDouble();
        point.asFound = p.value("asFound").toDouble();
        // Lines written before the verification reference and the capture kinds were kept hold
        // captured points checked against one reference.
        point.asLeftReference = p.value("asLeftReference").toDouble(point.asFoundReference);
        point.asLeft = p.value("asLeft").toDouble();
        point.asFoundCapture
            = captureFromText(p.value("asFoundCapture").toString(QStringLiteral("stable")))
                  .value_or(Capture::None);
        point.asLeftCapture
            = captureFromText(p.value("asLeftCapture").toString(QStringLiteral("stable")))
                  .value_or(Capture::None);
    }
    return r;
}
