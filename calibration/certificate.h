#pragma once

#include "calibrationshared.h"

#include <QDateTime>
#include <QMap>
#include <QString>
#include <QUuid>

/// What a certificate of calibration is built from: the intro page's entries, the calibration's
/// date and time and the readings captured on the as-found and verification pages.
struct CertificateData
{
    QString serialNumber;
    QString firmwareVersion;
    QString firstName;
    QString lastName;
    QString company;
    QString calibratorMakeModel;
    QString calibratorSerialNumber;
    QString calibratorCertNumber;
    QString calibratorDueDate;
    QDateTime calibrationDateTime;
    QMap<int, qint16> capturedPressures; ///< page id to PSI
};

/// The certificate's content and the names and rows written beside it; no I/O.
namespace Certificate {

/// True when `readingPsi` lies within the pass tolerance of `setPointPsi`, limits included.
bool passes(int setPointPsi, int readingPsi);
/// The coloured "Passed" or "Failed" of a summary row.
QString resultText(int setPointPsi, int readingPsi);
/// The model named on the certificate, taken from the first digit of the serial number text.
QString modelText(const QString &serialNumber);
/// The whole certificate document; `id` is its identifier.
QString html(const CertificateData &data, const QUuid &id);
/// `text` with every character a file name cannot hold replaced by '_'.
QString fileNameSafe(const QString &text);
/// "<serial> yyyy-MM-dd hh-mm-ss.pdf" for the calibration's date and time.
QString pdfFileName(const QString &serialNumber, const QDateTime &calibrated);
/// One line of the voltage file, without its line end.
QString voltagesRow(const QDateTime &written, const QString &serialNumber,
                    const QString &firmwareVersion,
                    const std::array<double, CalPages::SetPointCount> &volts);

} // namespace Certificate
