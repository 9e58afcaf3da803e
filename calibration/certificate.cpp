#include "certificate.h"

#include "resourcepaths.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QPdfWriter>
#include <QStringList>
#include <QTextDocument>

#include <cmath>

namespace Certificate {

namespace {
const QString CrLf = QStringLiteral("\r\n");
constexpr int SignatureBlanks = 130; ///< width of the signature line, in &nbsp;
constexpr int ModelDigitIndex = 3; ///< first digit after the three-letter serial prefix
constexpr int PdfResolution = 96; ///< dots per inch: the screen's, as the page was laid out for

QString tr(const char *text)
{
    return QCoreApplication::translate("CalSumPage", text);
}

QString row(const char *opening, const QString &value)
{
    return QLatin1String(opening) + value.toHtmlEscaped() + QLatin1String("</td></tr>") + CrLf;
}

QString psi(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

/// A reading's cell: "N/A" when it was not taken, marked when taken before it was stable.
QString readingText(double value, Capture capture)
{
    if (capture == Capture::None)
        return QStringLiteral("N/A");
    return psi(value, 0) + (capture == Capture::Unstable ? QStringLiteral(" *") : QString());
}

QString cells(const QStringList &texts)
{
    return QStringLiteral("<tr><td>") + texts.join(QStringLiteral("</td><td>"))
        + QStringLiteral("</td></tr>") + CrLf;
}

/// Replaces the bytes after `key` in `pdf`, up to `end`, by `value` when it has their length,
/// so that no offset of the file's cross-reference table moves.
void replaceSameLength(QByteArray &pdf, const QByteArray &key, char end, const QByteArray &value)
{
    const qsizetype at = pdf.indexOf(key);
    const qsizetype stop = at < 0 ? -1 : pdf.indexOf(end, at + key.size());
    if (stop >= 0 && stop - at - key.size() == value.size())
        pdf.replace(at + key.size(), value.size(), value);
}
} // namespace

bool passes(const CalibrationPoint &point, double tolerancePsi)
{
    return point.asLeftCapture != Capture::None
        && CalibrationPoint::withinTolerance(point.asLeftError(), tolerancePsi);
}

QString resultText(const CalibrationPoint &point, double tolerancePsi)
{
    return passes(point, tolerancePsi) ? QStringLiteral("<font color=\"green\">Passed</font>")
                                       : QStringLiteral("<font color=\"red\">Failed</font>");
}

QString errorText(double errorPsi)
{
    // Rounded before the sign is chosen, so that -0.04 shows as +0.0 and not as -0.0.
    const double shown = std::round(errorPsi * 10) / 10;
    const double percent = CalibrationPoint::percentOfSpan(shown);
    return QStringLiteral("%1%2 (%3 %)")
        .arg(shown < 0 ? QString() : QStringLiteral("+"))
        .arg(shown, 0, 'f', 1)
        .arg(std::abs(percent) < 0.005 ? 0.0 : percent, 0, 'f', 2);
}

QString modelText(const QString &serialNumber)
{
    if (serialNumber.size() > ModelDigitIndex)
        return tr("Orvelle® %1").arg(serialNumber.at(ModelDigitIndex));
    return tr("Orvelle® 5");
}

QString html(const CalibrationRecord &r)
{
    const QDate date = r.calibrated.date();
    const QString dateText = date.toString(QStringLiteral("yyyy-MM-dd"));
    const QString timeText = r.calibrated.time().toString(QStringLiteral("hh:mm"));
    const QString nextDue = r.nextCalibrationDate.toString(QStringLiteral("yyyy-MM-dd"));

    QString doc;
    doc += QStringLiteral("<html>") + CrLf;
    doc += QStringLiteral("<title>Ostrand Orvelle® Certificate of Calibration</title>") + CrLf;
    doc += QStringLiteral("<body>") + CrLf;
    doc += QStringLiteral("<center><img src=") + QLatin1String(ResourcePaths::CertificateLogo)
        + QStringLiteral(" /></center>") + CrLf;
    doc += QStringLiteral("<hr/>") + CrLf;
    doc += QStringLiteral("<center>");
    doc += QStringLiteral("<h2>Calibration Setup</h2>") + CrLf;
    doc += QStringLiteral("<table border=0 cellspacing=10>") + CrLf;
    doc += row("<tr><td align=right>Certificate Number:</td><td>", r.certificateNumber);
    doc += row("<tr><td align=right>Model:</td><td>", modelText(r.senderSerial));
    doc += row("<tr><td align=right>Serial Number:</td><td>", r.senderSerial);
    doc += row("<tr><td align=right>Firmware Version:</td><td>", r.firmware);
    doc += row("<tr><td align=right>Date and Time:</td><td>", dateText + u' ' + timeText);
    doc += row("<tr><td align=right>Next calibration due:</td><td>", nextDue);
    doc += row("<tr><td align=right>Technician:</td><td>", r.technician);
    doc += row("<tr><td align=right>Company:</td><td>", r.company);
    doc += row("<tr><td align=right>Calibrator Make:</td><td>", r.referenceCalibrator);
    doc += row("<tr><td align=right>Calibrator Serial Number:</td><td>", r.calibratorSerial);
    doc += row("<tr><td align=right>Calibrator Certificate Number:</td><td>",
               r.calibratorCertificate);
    doc += row("<tr><td align=right>Calibrator Due Date:</td><td>",
               r.referenceDueDate.toString(QStringLiteral("yyyy-MM-dd")));
    doc += QStringLiteral("</table>") + CrLf;
    doc += QStringLiteral("<h2>Calibration Summary</h2>") + CrLf;
    doc += QStringLiteral("<table border=0 cellspacing=10>") + CrLf;
    doc += QStringLiteral("<tr><th>Set point</th><th>Reference</th><th>As found</th>"
                          "<th>Error</th><th>As left</th><th>Error</th><th>Tolerance</th>"
                          "<th>Result</th></tr>")
        + CrLf;
    const QString tolerance = QStringLiteral("\u00B1") + psi(r.tolerancePsi, 1);
    bool unstable = false;
    bool asFoundTaken = false;
    for (const CalibrationPoint &p : r.points) {
        const bool found = p.asFoundCapture != Capture::None;
        const bool left = p.asLeftCapture != Capture::None;
        asFoundTaken = asFoundTaken || found;
        unstable = unstable || p.asFoundCapture == Capture::Unstable
            || p.asLeftCapture == Capture::Unstable;
        // One reference when both passes used the same, else the as-found one first.
        QString reference = psi(left || !found ? p.asLeftReference : p.asFoundReference, 1);
        if (found && left && p.asFoundReference != p.asLeftReference)
            reference = psi(p.asFoundReference, 1) + QStringLiteral(" / ") + reference;
        doc += cells({ psi(p.setPoint, 0), reference, readingText(p.asFound, p.asFoundCapture),
                       found ? errorText(p.asFoundError()) : QString(),
                       readingText(p.asLeft, p.asLeftCapture),
                       left ? errorText(p.asLeftError()) : QString(), tolerance,
                       resultText(p, r.tolerancePsi) });
    }
    doc += QStringLiteral("</table>") + CrLf;
    if (asFoundTaken)
        doc += QStringLiteral("<p>")
            + (r.asFoundOutOfTolerance() ? tr("As found: out of tolerance")
                                         : tr("As found: in tolerance"))
            + QStringLiteral("</p>") + CrLf;
    if (unstable)
        doc += QStringLiteral("<p>") + tr("* captured before the reading was stable")
            + QStringLiteral("</p>") + CrLf;
    doc += QStringLiteral("</center>");
    doc += QStringLiteral("<br/><br/><br/><br/>") + CrLf;
    doc += QStringLiteral("<br/><br/><br/>") + CrLf;
    doc += QStringLiteral("<u>") + QStringLiteral("&nbsp;").repeated(SignatureBlanks)
        + QStringLiteral("</u><br/><br/>") + CrLf;
    doc += QStringLiteral("Technician's signature") + CrLf;
    doc += QStringLiteral("<br/><br/><br/><br/><br/>") + CrLf;
    doc += QStringLiteral(
               "<p>Ostrand Manufacturing, Inc., certifies that the instrument listed above meets "
               "or exceeds all published specifications and has been calibrated using standards "
               "and instruments whose accuracies are traceable to the National Institute of "
               "Standards and Technology (NIST) to standardize measureable conditions created in "
               "our facility for the purpose of conducting automated calibration procedures.")
        + CrLf;
    doc += QStringLiteral("</body>") + CrLf;
    doc += QStringLiteral("</html>") + CrLf;
    return doc;
}

QByteArray pdf(const CalibrationRecord &record)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(PdfResolution);
        writer.setTitle(
            QStringLiteral("Certificate of Calibration %1").arg(record.certificateNumber));
        QTextDocument document;
        document.setHtml(html(record));
        document.print(&writer);
    }
    // The writer stamps the moment of writing; the calibration's own moment keeps the bytes the
    // same whenever a run's certificate is written again.
    QByteArray bytes = buffer.data();
    const QDateTime utc = record.calibrated.isValid() ? record.calibrated.toUTC()
                                                      : QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    const QByteArray stamp = utc.toString(QStringLiteral("yyyyMMddhhmmss")).toLatin1();
    // The writer adds the computer's UTC offset: "Z" where it is 0, "+01'00'" and the like
    // elsewhere. Either width is filled with the same moment in UTC.
    for (const char *zone : { "Z", "Z00'00'" })
        replaceSameLength(bytes, "/CreationDate (D:", ')', stamp + zone);
    // Later writers add a document id drawn at random: one from the certificate number instead.
    const QByteArray id
        = QCryptographicHash::hash(record.certificateNumber.toUtf8(), QCryptographicHash::Md5)
              .toHex()
              .toUpper();
    replaceSameLength(bytes, "/ID [<", ']', id + "><" + id + '>');
    return bytes;
}

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString fileNameSafe(const QString &text)
{
    static const QString forbidden = QStringLiteral("/\\:*?\"<>|");
    QString safe = text;
    for (QChar &c : safe) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || forbidden.contains(c))
            c = u'_';
    }
    return safe;
}

QString pdfFileName(const QString &serialNumber, const QDateTime &calibrated)
{
    return fileNameSafe(serialNumber) + u' '
        + calibrated.date().toString(QStringLiteral("yyyy-MM-dd "))
        + calibrated.time().toString(QStringLiteral("hh-mm-ss")) + QStringLiteral(".pdf");
}

QString voltagesRow(const QDateTime &written, const QString &serialNumber,
                    const QString &firmwareVersion,
                    const std::array<double, CalPages::SetPointCount> &volts)
{
    QStringList fields { written.toString(Qt::TextDate), serialNumber, firmwareVersion };
    for (double v : volts)
        fields.append(QString::number(v, 'f', 5));
    return fields.join(QStringLiteral(", "));
}

} // namespace Certificate
