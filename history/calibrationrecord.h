#pragma once

#include <QDate>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <array>
#include <optional>

/// One of the five points of a run, in PSI.
struct CalibrationPoint
{
    double setPoint = 0;
    double reference = 0; ///< the reference calibrator's value
    double asFound = 0;
    double asLeft = 0;
};

/// One calibration run as the history keeps it, whatever its outcome.
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
    Outcome outcome = Outcome::Finished;
    QString reason; ///< why the run was cancelled or aborted
    QString technician;
    QString referenceCalibrator;
    QDate referenceDueDate;
    double tolerancePsi = 10;
    QDate nextCalibrationDate;
    QString pdfSha256;
    std::array<CalibrationPoint, PointCount> points {};

    static QString outcomeText(Outcome outcome);
    static std::optional<Outcome> outcomeFromText(const QString &text);

    /// The record as one JSON object (the pending file's lines and vx4ctl's --json output).
    QJsonObject toJson() const;
    /// Reads toJson()'s form back; a missing or wrong field gives nothing and says which.
    static std::optional<CalibrationRecord> fromJson(const QJsonObject &object, QString *error);
};
