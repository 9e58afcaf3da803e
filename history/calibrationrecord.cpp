#include "calibrationrecord.h"

#include <QJsonArray>

#include <algorithm>
#include <cmath>

namespace {

constexpr std::array<const char *, 3> OutcomeNames { "finished", "cancelled", "aborted" };
constexpr std::array<const char *, 3> CaptureNames { "none", "stable", "unstable" };
constexpr std::array<const char *, 2> RuleNames { "simple", "guarded" };
constexpr std::array<const char *, 4> VerdictNames { "passed", "conditional", "failed",
                                                     "not taken" };

template<typename E, size_t N>
std::optional<E> fromNames(const std::array<const char *, N> &names, const QString &text)
{
    for (size_t i = 0; i < N; ++i) {
        if (text == QLatin1String(names[i]))
            return E(i);
    }
    return std::nullopt;
}

QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODateWithMs) : QString();
}

QJsonValue optionalValue(std::optional<double> value)
{
    return value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null);
}

std::optional<double> optionalDouble(const QJsonValue &value)
{
    return value.isDouble() ? std::optional(value.toDouble()) : std::nullopt;
}

/// Worst first: one failed point fails the run, one not taken leaves it unverified.
Verdict combine(const QList<Verdict> &verdicts)
{
    for (Verdict worst : { Verdict::Failed, Verdict::NotTaken, Verdict::Conditional }) {
        if (verdicts.contains(worst))
            return worst;
    }
    return Verdict::Passed;
}

} // namespace

double ReferenceUncertainty::standard(double referencePsi) const
{
    const double expanded = percentOfReading ? value / 100 * std::abs(referencePsi) : value;
    return coverageFactor > 0 ? expanded / coverageFactor : expanded;
}

QString ReferenceUncertainty::text() const
{
    return QStringLiteral("\u00B1%1 %2 (k = %3)")
        .arg(QString::number(value),
             percentOfReading ? QStringLiteral("% of reading") : QStringLiteral("PSI"),
             QString::number(coverageFactor));
}

bool CalibrationPoint::withinTolerance(double errorPsi, double tolerancePsi)
{
    return std::llround(std::abs(errorPsi) * 1000) <= std::llround(tolerancePsi * 1000);
}

Verdict CalibrationPoint::verdict(double errorPsi, std::optional<double> u, double tolerancePsi,
                                  DecisionRule rule)
{
    if (!withinTolerance(errorPsi, tolerancePsi))
        return Verdict::Failed;
    if (rule == DecisionRule::Simple)
        return Verdict::Passed;
    // Without a known uncertainty the guard band cannot be shown to hold.
    return u && withinTolerance(std::abs(errorPsi) + *u, tolerancePsi) ? Verdict::Passed
                                                                       : Verdict::Conditional;
}

Verdict CalibrationRecord::asFoundVerdict(const CalibrationPoint &p) const
{
    if (p.asFoundCapture == Capture::None)
        return Verdict::NotTaken;
    return CalibrationPoint::verdict(p.asFoundError(), p.asFoundU, tolerancePsi, decisionRule);
}

Verdict CalibrationRecord::asLeftVerdict(const CalibrationPoint &p) const
{
    if (p.asLeftCapture == Capture::None)
        return Verdict::NotTaken;
    return CalibrationPoint::verdict(p.asLeftError(), p.asLeftU, tolerancePsi, decisionRule);
}

Verdict CalibrationRecord::result() const
{
    QList<Verdict> verdicts;
    for (const CalibrationPoint &p : points)
        verdicts << asLeftVerdict(p);
    return combine(verdicts);
}

Verdict CalibrationRecord::asFoundResult() const
{
    QList<Verdict> verdicts;
    for (const CalibrationPoint &p : points) {
        if (p.asFoundCapture != Capture::None)
            verdicts << asFoundVerdict(p);
    }
    return verdicts.isEmpty() ? Verdict::NotTaken : combine(verdicts);
}

QString CalibrationRecord::captureText(Capture capture)
{
    return QString::fromLatin1(CaptureNames.at(size_t(capture)));
}

std::optional<Capture> CalibrationRecord::captureFromText(const QString &text)
{
    return fromNames<Capture>(CaptureNames, text);
}

QString CalibrationRecord::outcomeText(Outcome outcome)
{
    return QString::fromLatin1(OutcomeNames.at(size_t(outcome)));
}

std::optional<CalibrationRecord::Outcome> CalibrationRecord::outcomeFromText(const QString &text)
{
    return fromNames<Outcome>(OutcomeNames, text);
}

QString CalibrationRecord::ruleText(DecisionRule rule)
{
    return QString::fromLatin1(RuleNames.at(size_t(rule)));
}

std::optional<DecisionRule> CalibrationRecord::ruleFromText(const QString &text)
{
    return fromNames<DecisionRule>(RuleNames, text);
}

QString CalibrationRecord::verdictText(Verdict verdict)
{
    return QString::fromLatin1(VerdictNames.at(size_t(verdict)));
}

std::optional<Verdict> CalibrationRecord::verdictFromText(const QString &text)
{
    return fromNames<Verdict>(VerdictNames, text);
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
                                        { "asLeftCapture", captureText(p.asLeftCapture) },
                                        { "asFoundU", optionalValue(p.asFoundU) },
                                        { "asLeftU", optionalValue(p.asLeftU) } });
    QJsonArray replacedArray;
    for (const ReplacedCertificate &c : replaced)
        replacedArray.append(QJsonObject { { "number", c.number }, { "pdfSha256", c.pdfSha256 } });
    QJsonValue reference(QJsonValue::Null);
    if (referenceUncertainty)
        reference = QJsonObject { { "value", referenceUncertainty->value },
                                  { "percentOfReading", referenceUncertainty->percentOfReading },
                                  { "coverageFactor", referenceUncertainty->coverageFactor } };
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
                    { "referenceUncertainty", reference },
                    { "tolerancePsi", tolerancePsi },
                    { "decisionRule", ruleText(decisionRule) },
                    { "procedureId", procedureId },
                    { "ambientCelsius", optionalValue(ambientCelsius) },
                    { "nextCalibration", nextCalibrationDate.toString(Qt::ISODate) },
                    { "pdfSha256", pdfSha256 },
                    { "calibrationSaved", calibrationSaved },
                    { "replaces", replaces },
                    { "replaced", replacedArray },
                    { "result", verdictText(result()) },
                    { "asFoundResult", verdictText(asFoundResult()) },
                    { "points", pointArray } };
    if (id > 0)
        o.insert("id", id);
    return o;
}

std::optional<CalibrationRecord> CalibrationRecord::fromJson(const QJsonObject &o, QString *error)
{
    CalibrationRecord r;
    const auto outcome = outcomeFromText(o.value("outcome").toString());
    const auto rule = ruleFromText(o.value("decisionRule").toString(QStringLiteral("simple")));
    const QJsonArray pointArray = o.value("points").toArray();
    r.certificateNumber = o.value("certificate").toString();
    r.started = QDateTime::fromString(o.value("started").toString(), Qt::ISODateWithMs);
    QString wrong;
    if (!outcome)
        wrong = QStringLiteral("outcome");
    else if (r.certificateNumber.isEmpty() && *outcome == Outcome::Finished)
        wrong = QStringLiteral("certificate");
    else if (!r.started.isValid())
        wrong = QStringLiteral("started");
    else if (pointArray.size() != PointCount)
        wrong = QStringLiteral("points");
    else if (!o.value("tolerancePsi").isDouble())
        wrong = QStringLiteral("tolerancePsi");
    else if (!rule)
        wrong = QStringLiteral("decisionRule");
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
    const QJsonObject reference = o.value("referenceUncertainty").toObject();
    if (reference.value("value").isDouble())
        r.referenceUncertainty
            = ReferenceUncertainty { reference.value("value").toDouble(),
                                     reference.value("percentOfReading").toBool(),
                                     reference.value("coverageFactor").toDouble(2) };
    r.tolerancePsi = o.value("tolerancePsi").toDouble();
    r.decisionRule = *rule;
    r.procedureId = o.value("procedureId").toString();
    r.ambientCelsius = optionalDouble(o.value("ambientCelsius"));
    r.nextCalibrationDate = QDate::fromString(o.value("nextCalibration").toString(), Qt::ISODate);
    r.pdfSha256 = o.value("pdfSha256").toString();
    // Lines written before the acknowledgement was kept: a finished run had sent its calibration.
    r.calibrationSaved = o.value("calibrationSaved").toBool(r.outcome == Outcome::Finished);
    r.replaces = o.value("replaces").toString();
    for (const QJsonValue &c : o.value("replaced").toArray())
        r.replaced.append({ c.toObject().value("number").toString(),
                            c.toObject().value("pdfSha256").toString() });
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
        point.asFoundU = optionalDouble(p.value("asFoundU"));
        point.asLeftU = optionalDouble(p.value("asLeftU"));
    }
    return r;
}
