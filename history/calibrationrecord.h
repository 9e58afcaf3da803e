#pragma once

#include <QDate>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <array>
#include <optional>

/// How a reading of a run was taken.
enum class Capture {
    None, ///< not captured: the run ended before this point
    Stable, ///< captured once the readings had settled
    Unstable ///< captured on the technician's word before they had
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

    double asFoundError() const { return asFound - asFoundReference; }
    double asLeftError() const { return asLeft - asLeftReference; }
    static double percentOfSpan(double errorPsi) { return 100.0 * errorPsi / SpanPsi; }
    /// Within +/- `tolerancePsi`, limits included; errors are compared to the thousandth of a
    /// PSI so that a typed reference like 750.1 does not fail on its binary rounding.
    static bool withinTolerance(double errorPsi, double tolerancePsi);
};

/// One calibration run as the history keeps it, whatever its outcome: everything its certificate
/// is made from, so that a stored run's certificate can be written again.
struct CalibrationRecord
{
    enum class Outcome { Finished, Cancelled, Aborted };
    static constexpr int PointCount = 5;

    qint64 id = 0; ///< given by the history; 0 until stored
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
    double tolerancePsi = 10;
    QDate nextCalibrationDate;
    QString pdfSha256;
    std::array<CalibrationPoint, PointCount> points {};

    /// True when any captured as-found point lies outside the tolerance.
    bool asFoundOutOfTolerance() const;

    static QString outcomeText(Outcome outcome);
    static std::optional<Outcome> outcomeFromText(const QString &text);
    static QString captureText(Capture capture);
    static std::optional<Capture> captureFromText(const QString &text);

    /// The record as one JSON object (the pending file's lines and vx4ctl's --json output).
    QJsonObject toJson() const;
    /// Reads toJson()'s form back; a missing or wrong field gives nothing and says which.
    static std::optional<CalibrationRecord> fromJson(const QJsonObject &object, QString *error);
};
