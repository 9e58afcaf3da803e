#include "certificate.h"

#include "resourcepaths.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QPdfWriter>
#include <QStringList>
#include <QTextDocument>

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
} // namespace

bool passes(int setPointPsi, int readingPsi)
{
    return readingPsi >= setPointPsi - CalPages::PassTolerancePsi
        && readingPsi <= setPointPsi + CalPages::PassTolerancePsi;
}

QString resultText(int setPointPsi, int readingPsi)
{
    return passes(setPointPsi, readingPsi) ? QStringLiteral("<font color=\"green\">Passed</font>")
                                           : QStringLiteral("<font color=\"red\">Failed</font>");
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
    doc += QStringLiteral("<tr><th>Setpoint</th><th>As Found</th><th>Verification</th>"
                          "<th>Result</th></tr>")
        + CrLf;
    for (const CalibrationPoint &p : r.points) {
        const int setPoint = int(p.setPoint);
        const QString asFound = p.asFoundCapture != Capture::None ? QString::number(p.asFound)
                                                                  : QStringLiteral("N/A");
        const int verification = int(p.asLeft);
        doc += QStringLiteral("<tr><td>") + QString::number(setPoint) + QStringLiteral("</td><td>")
            + asFound + QStringLiteral("</td><td>") + QString::number(verification)
            + QStringLiteral("</td><td>") + resultText(setPoint, verification)
            + QStringLiteral("</td></tr>") + CrLf;
    }
    doc += QStringLiteral("</table>") + CrLf;
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
    doc += QStringLiteral("<p>") + r.certificateNumber.toHtmlEscaped();
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
    return buffer.data();
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
