#include "certificate.h"

#include "resourcepaths.h"

#include <QCoreApplication>
#include <QStringList>

namespace Certificate {

namespace {
const QString CrLf = QStringLiteral("\r\n");
constexpr int SignatureBlanks = 130; ///< width of the signature line, in &nbsp;
constexpr int ModelDigitIndex = 3; ///< first digit after the three-letter serial prefix

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

QString html(const CertificateData &d, const QUuid &id)
{
    const QDate date = d.calibrationDateTime.date();
    const QString dateText = date.toString(QStringLiteral("yyyy-MM-dd"));
    const QString timeText = d.calibrationDateTime.time().toString(QStringLiteral("hh:mm"));
    const QString nextDue = date.addYears(1).toString(QStringLiteral("yyyy-MM-dd"));

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
    doc += row("<tr><td align=right>Model:</td><td>", modelText(d.serialNumber));
    doc += row("<tr><td align=right>Serial Number:</td><td>", d.serialNumber);
    doc += row("<tr><td align=right>Firmware Version:</td><td>", d.firmwareVersion);
    doc += row("<tr><td align=right>Date and Time:</td><td>", dateText + u' ' + timeText);
    doc += row("<tr><td align=right>Next calibration due:</td><td>", nextDue);
    doc += row("<tr><td align=right>Technician:</td><td>", d.firstName + u' ' + d.lastName);
    doc += row("<tr><td align=right>Company:</td><td>", d.company);
    doc += row("<tr><td align=right>Calibrator Make:</td><td>", d.calibratorMakeModel);
    doc += row("<tr><td align=right>Calibrator Serial Number:</td><td>", d.calibratorSerialNumber);
    doc += row("<tr><td align=right>Calibrator Certificate Number:</td><td>",
               d.calibratorCertNumber);
    doc += row("<tr><td align=right>Calibrator Due Date:</td><td>", d.calibratorDueDate);
    doc += QStringLiteral("</table>") + CrLf;
    doc += QStringLiteral("<h2>Calibration Summary</h2>") + CrLf;
    doc += QStringLiteral("<table border=0 cellspacing=10>") + CrLf;
    doc += QStringLiteral("<tr><th>Setpoint</th><th>As Found</th><th>Verification</th>"
                          "<th>Result</th></tr>")
        + CrLf;
    for (int i = 0; i < CalPages::SetPointCount; ++i) {
        const int setPoint = CalPages::SetPointsPsi[i];
        const int asFoundId = CalPages::FirstAsFound + i;
        const int verificationId = CalPages::FirstVerification + i;
        const QString asFound = d.capturedPressures.contains(asFoundId)
            ? QString::number(d.capturedPressures.value(asFoundId))
            : QStringLiteral("N/A");
        const int verification = d.capturedPressures.value(verificationId, 0);
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
    doc += QStringLiteral("<p>") + id.toString();
    doc += QStringLiteral("</body>") + CrLf;
    doc += QStringLiteral("</html>") + CrLf;
    return doc;
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
