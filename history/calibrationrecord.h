#pragma once

#include <QDate>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <array>
#include <optional>

/// How a reading of a run was taken.
enum class Capture {
    None, ///< not captured: the run ended before this point
    Stable, ///< captured once the readings had settled
    Unstable ///< captured on the technician's word before they had
};

/// How a point's error is judged against the tolerance.
enum class DecisionRule {
    Simple, ///< passes when |error| <= tolerance
    Guarded ///< passes when |error| + U <= tolerance; between the two it is conditional
};

/// A point's or a run's conformity.
enum class Verdict {
    Passed, ///< within tolerance
    Conditional, ///< within tolerance, but not by the expanded uncertainty (guarded rule)
    Failed, ///< outside tolerance
    NotTaken ///< not measured: nothing can be said
};

/// The reference calibrator's uncertainty as its own certificate states it.
struct ReferenceUncertainty
{
    double value = 0; ///< +/- PSI, or +/- % of reading when `percentOfReading`
    bool percentOfReading = false;
    double coverageFactor = 2; ///< the k its certificate states

    /// The standard uncertainty at `referencePsi`, in PSI.
    double standard(double referencePsi) const;
    /// "±0.05 % of reading (k = 2)" or "±0.5 PSI (k = 2)".
    QString text() const;
};

/// One of the five points of a run, in PSI. Errors are the reading minus the reference
/// calibrator's value at that moment.
struct CalibrationPoint
{
    static constexpr double SpanPsi = 3000; ///< the sender's span, for errors in % of span

    double setPoint = 0;
    double asFoundReference = 0; ///< the reference calibrator's value at the as-found reading
    double asFound = 0;
    double asLeftReference = 0; ///< the reference calibrator's value at the verification reading
    double asLeft = 0;
    Capture asFoundCapture = Capture::None;
    Capture asLeftCapture = Capture::None;
    /// Expanded uncertainty (k = 2) of each reading's error, in PSI; unknown when its
    /// repeatability could not be seen.
    std::optional<double> asFoundU = std::nullopt;
    std::optional<double> asLeftU = std::nullopt;

    double asFoundError() const { return asFound - asFoundReference; }
    double asLeftError() const { return asLeft - asLeftReference; }
    static double percentOfSpan(double errorPsi) { return 100.0 * errorPsi / SpanPsi; }
    /// Within +/- `tolerancePsi`, limits included; errors are compared to the thousandth of a
    /// PSI so that a typed reference like 750.1 does not fail on its binary rounding.
    static bool withinTolerance(double errorPsi, double tolerancePsi);
    /// The verdict on one captured error under `rule`.
    static Verdict verdict(double errorPsi, std::optional<double> u, double tolerancePsi,
                           DecisionRule rule);
};

/// A certificate that was written for a run and then replaced by a new one.
struct ReplacedCertificate
{
    QString number;
    QString pdfSha256;
};

/// One calibration run as the history keeps it, whatever its outcome: everything its certificate
/// is made from, so that a stored run's certificate can be written again.
struct CalibrationRecord
{
    enum class Outcome { Finished, Cancelled, Aborted };
    static constexpr int PointCount = 5;

    qint64 id = 0; ///< given by the history; 0 until stored
    /// Empty only for a run that ended before its certificate was drawn; the history draws one.
    QString certificateNumber;
    QString senderSerial;
    QString firmware;
    QDateTime started;
    QDateTime finished;
    /// The calibration's date and time as sent to the sender and printed, with its UTC offset.
    QDateTime calibrated;
    Outcome outcome = Outcome::Finished;
    QString reason; ///< why the run was cancelled or aborted
    QString technician;
    QString company;
    QString referenceCalibrator; ///< make and model
    QString calibratorSerial;
    QString calibratorCertificate;
    QDate referenceDueDate;
    std::optional<ReferenceUncertainty> referenceUncertainty;
    double tolerancePsi = 10;
    DecisionRule decisionRule = DecisionRule::Simple;
    QString procedureId; ///< the calibration procedure's identification
    std::optional<double> ambientCelsius; ///< entered by the technician
    QDate nextCalibrationDate;
    QString pdfSha256;
    /// The sender acknowledged SAVE CAL DATA: it holds this run's calibration since.
    bool calibrationSaved = false;
    QString replaces; ///< the number of the certificate this one replaces
    QList<ReplacedCertificate> replaced; ///< certificates written for this run and replaced
    std::array<CalibrationPoint, PointCount> points {};

    Verdict asFoundVerdict(const CalibrationPoint &point) const;
    Verdict asLeftVerdict(const CalibrationPoint &point) const;
    /// The run's result as left: failed if any point failed, not taken if any was not verified,
    /// conditional if any was conditional, else passed.
    Verdict result() const;
    /// The same over the as-found points captured; NotTaken when none was.
    Verdict asFoundResult() const;
    /// True when any captured as-found point lies outside the tolerance.
    bool asFoundOutOfTolerance() const { return asFoundResult() == Verdict::Failed; }

    static QString outcomeText(Outcome outcome);
    static std::optional<Outcome> outcomeFromText(const QString &text);
    static QString captureText(Capture capture);
    static std::optional<Capture> captureFromText(const QString &text);
    static QString ruleText(DecisionRule rule);
    static std::optional<DecisionRule> ruleFromText(const QString &text);
    /// "passed", "conditional", "failed", "not taken": the history's and vx4ctl's words.
    static QString verdictText(Verdict verdict);
    static std::optional<Verdict> verdictFromText(const QString &text);

    /// The record as one JSON object (the pending file's lines and vx4ctl's --json output).
    QJsonObject toJson() const;
    /// Reads toJson()'s form back; a missing or wrong field gives nothing and says which.
    static std::optional<CalibrationRecord> fromJson(const QJsonObject &object, QString *error);
};
