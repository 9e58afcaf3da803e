#pragma once

#include "calibrationrecord.h"
#include "calibrationshared.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

/// The certificate's content and the names and rows written beside it; no I/O.
namespace Certificate {

/// True when the point's as-left reading was taken and its error lies within `tolerancePsi`.
bool passes(const CalibrationPoint &point, double tolerancePsi);
/// The coloured "Passed" or "Failed" of a summary row.
QString resultText(const CalibrationPoint &point, double tolerancePsi);
/// An error cell: signed PSI and % of span, e.g. "+1.5 (0.05 %)".
QString errorText(double errorPsi);
/// The model named on the certificate, taken from the first digit of the serial number text.
QString modelText(const QString &serialNumber);
/// The whole certificate document of `record`, a finished run.
QString html(const CalibrationRecord &record);
/// The certificate as a PDF file's bytes: the same record gives the same bytes at any time, as
/// the history's SHA-256 of a stored run's certificate relies on.
QByteArray pdf(const CalibrationRecord &record);
/// The SHA-256 of `bytes` in lower-case hex, as the history keeps it.
QString sha256(const QByteArray &bytes);
/// `text` with every character a file name cannot hold replaced by '_'.
QString fileNameSafe(const QString &text);
/// "<serial> yyyy-MM-dd hh-mm-ss.pdf" for the calibration's date and time.
QString pdfFileName(const QString &serialNumber, const QDateTime &calibrated);
/// One line of the voltage file, without its line end.
QString voltagesRow(const QDateTime &written, const QString &serialNumber,
                    const QString &firmwareVersion,
                    const std::array<double, CalPages::SetPointCount> &volts);

} // namespace Certificate
