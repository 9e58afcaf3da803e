#pragma once

#include "calibrationrecord.h"
#include "calibrationshared.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

class QPagedPaintDevice;

/// The certificate's content and the names and rows written beside it; no file I/O.
namespace Certificate {

/// The coloured "Passed", "Conditional", "Failed" or "Not verified" of a summary row.
QString verdictText(Verdict verdict);
/// The run's result as left and its as-found result, as one line.
QString resultLine(const CalibrationRecord &record);
/// The conformity statement: the one certifying conformity only when every as-left point passed.
QString statement(const CalibrationRecord &record);
/// An error cell: signed PSI and % of span, e.g. "+1.5 (0.05 %)".
QString errorText(double errorPsi);
/// An uncertainty cell: "±1.24", or "unknown".
QString uncertaintyText(std::optional<double> u);
/// The model named on the certificate, taken from the first digit of the serial number text.
QString modelText(const QString &serialNumber);
/// The whole certificate document of `record`.
QString html(const CalibrationRecord &record);
/// Lays the certificate out on `device`'s pages, each page footed by the certificate number and
/// "Page x of y"; the PDF and the printer both go through here.
void print(const CalibrationRecord &record, QPagedPaintDevice *device);
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
