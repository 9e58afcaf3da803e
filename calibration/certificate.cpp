#include "certificate.h"

#include "labpolicy.h"
#include "resourcepaths.h"

#include <QCoreApplication>
#include <QStringList>

#include <cmath>

namespace Certificate {

namespace {
const QString CrLf = QStringLiteral("\r\n");
constexpr int SignatureBlanks = 130; ///< width of the signature line, in &nbsp;
constexpr int ModelDigitIndex = 3; ///< first digit after the three-letter serial prefix

QString tr(const char *text)
{
    return QCoreApplication::translate("CalSumPage", text);
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
    const QString open = QStringLiteral("<td style=\"white-space:nowrap\">");
    return QStringLiteral("<tr>") + open + texts.join(QStringLiteral("</td>") + open)
        + QStringLiteral("</td></tr>") + CrLf;
}

/// Two labelled values side by side; the values are the technician's and are escaped.
QString pairRow(const QString &label1, const QString &value1, const QString &label2,
                const QString &value2)
{
    return QStringLiteral("<tr><td align=right>%1</td><td>%2</td><td align=right>%3</td>"
                          "<td>%4</td></tr>")
               .arg(label1, value1.toHtmlEscaped(), label2, value2.toHtmlEscaped())
        + CrLf;
}

QString verdictWords(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Passed:
        return tr("within tolerance");
    case Verdict::Conditional:
        return tr("conditional");
    case Verdict::Failed:
        return tr("out of tolerance");
    case Verdict::NotTaken:
        break;
    }
    return tr("not measured");
}

const char Traceability[]
    = "has been calibrated using standards and instruments whose accuracies are traceable to the "
      "National Institute of Standards and Technology (NIST).";
} // namespace

QString verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Passed:
        return QStringLiteral("<font color=\"green\">Passed</font>");
    case Verdict::Conditional:
        return QStringLiteral("<font color=\"#b06000\">Conditional</font>");
    case Verdict::Failed:
        return QStringLiteral("<font color=\"red\">Failed</font>");
    case Verdict::NotTaken:
        break;
    }
    return QStringLiteral("Not verified");
}

QString resultLine(const CalibrationRecord &r)
{
    QString line;
    switch (r.result()) {
    case Verdict::Passed:
        line = tr("Result: within tolerance, as left.");
        break;
    case Verdict::Conditional:
        line = tr("Result: CONDITIONAL, as left: within tolerance, but not by the measurement "
                  "uncertainty.");
        break;
    case Verdict::Failed:
        line = tr("Result: OUT OF TOLERANCE, as left.");
        break;
    case Verdict::NotTaken:
        line = tr("Result: not verified: not every point was read as left.");
        break;
    }
    return line + u' ' + tr("As found: %1.").arg(verdictWords(r.asFoundResult()));
}

QString statement(const CalibrationRecord &r)
{
    const QString tolerance = QStringLiteral("\u00B1") + psi(r.tolerancePsi, 1) + tr(" PSI");
    switch (r.result()) {
    case Verdict::Passed:
        break;
    case Verdict::Conditional:
        return tr("<p>Ostrand Manufacturing, Inc., states that the instrument listed above could "
                  "not be shown to meet the stated tolerance of %1: as left, the points marked "
                  "Conditional lie within it by less than their expanded uncertainty. It %2")
            .arg(tolerance, tr(Traceability));
    case Verdict::Failed:
        return tr("<p>Ostrand Manufacturing, Inc., states that the instrument listed above does "
                  "not meet the stated tolerance of %1: as left, the points marked Failed lie "
                  "outside it. It %2")
            .arg(tolerance, tr(Traceability));
    case Verdict::NotTaken:
        return tr("<p>Ostrand Manufacturing, Inc., makes no statement of conformity for the "
                  "instrument listed above: not every point was verified.");
    }
    return QStringLiteral(
        "<p>Ostrand Manufacturing, Inc., certifies that the instrument listed above meets or "
        "exceeds all published specifications and has been calibrated using standards and "
        "instruments whose accuracies are traceable to the National Institute of Standards and "
        "Technology (NIST) to standardize measureable conditions created in our facility for the "
        "purpose of conducting automated calibration procedures.");
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

QString uncertaintyText(std::optional<double> u)
{
    return u ? QStringLiteral("\u00B1") + psi(*u, 2) : tr("unknown");
}

QString modelText(const QString &serialNumber)
{
    if (serialNumber.size() > ModelDigitIndex)
        return tr("Orvelle® %1").arg(serialNumber.at(ModelDigitIndex));
    return tr("Orvelle® 5");
}

QString html(const CalibrationRecord &r)
{
    const QString dateText = r.calibrated.date().toString(QStringLiteral("yyyy-MM-dd"));
    const QString timeText = r.calibrated.time().toString(QStringLiteral("hh:mm"));
    const QString ambient = r.ambientCelsius
        ? QString::number(*r.ambientCelsius, 'f', 1) + QStringLiteral(" \u00B0C")
        : tr("not recorded");
    const QString notStated = tr("not stated");

    QString doc;
    doc += QStringLiteral("<html>") + CrLf;
    doc += QStringLiteral("<title>Ostrand Orvelle® Certificate of Calibration</title>") + CrLf;
    doc += QStringLiteral("<body>") + CrLf;
    doc += QStringLiteral("<center><img src=") + QLatin1String(ResourcePaths::CertificateLogo)
        + QStringLiteral(" /></center>") + CrLf;
    doc += QStringLiteral("<hr/>") + CrLf;
    doc += QStringLiteral("<center>");
    doc += QStringLiteral("<h2>Calibration Setup</h2>") + CrLf;
    doc += QStringLiteral("<table border=0 cellspacing=4>") + CrLf;
    doc += pairRow(tr("Certificate Number:"), r.certificateNumber, tr("Date and Time:"),
                   dateText + u' ' + timeText);
    doc += pairRow(tr("Model:"), modelText(r.senderSerial), tr("Next calibration due:"),
                   r.nextCalibrationDate.toString(QStringLiteral("yyyy-MM-dd")));
    doc += pairRow(tr("Serial Number:"), r.senderSerial, tr("Technician:"), r.technician);
    doc += pairRow(tr("Firmware Version:"), r.firmware, tr("Company:"), r.company);
    doc += pairRow(tr("Procedure:"), r.procedureId.isEmpty() ? notStated : r.procedureId,
                   tr("Ambient Temperature:"), ambient);
    doc += pairRow(tr("Calibrator Make:"), r.referenceCalibrator, tr("Calibrator Serial Number:"),
                   r.calibratorSerial);
    doc += pairRow(tr("Calibrator Certificate Number:"), r.calibratorCertificate,
                   tr("Calibrator Due Date:"),
                   r.referenceDueDate.toString(QStringLiteral("yyyy-MM-dd")));
    doc += pairRow(tr("Calibrator Uncertainty:"),
                   r.referenceUncertainty ? r.referenceUncertainty->text() : notStated,
                   r.replaces.isEmpty() ? QString() : tr("Replaces Certificate:"), r.replaces);
    doc += QStringLiteral("</table>") + CrLf;
    doc += QStringLiteral("<h2>Calibration Summary</h2>") + CrLf;
    doc += QStringLiteral("<table border=0 cellspacing=6>") + CrLf;
    // Each pass's reading and error under one heading; no heading breaks inside its words.
    doc += QStringLiteral("<tr><th rowspan=2>Set point</th><th rowspan=2>Reference</th>"
                          "<th colspan=2>As found</th><th colspan=2>As left</th>"
                          "<th rowspan=2>U (k=2)</th><th rowspan=2>Tolerance</th>"
                          "<th rowspan=2>Result</th></tr>")
               .replace(QStringLiteral("<th"), QStringLiteral("<th style=\"white-space:nowrap\""))
        + CrLf;
    doc += QStringLiteral("<tr><th>Reading</th><th>Error</th><th>Reading</th><th>Error</th></tr>")
        + CrLf;
    const QString tolerance = QStringLiteral("\u00B1") + psi(r.tolerancePsi, 1);
    bool unstable = false;
    for (const CalibrationPoint &p : r.points) {
        const bool found = p.asFoundCapture != Capture::None;
        const bool left = p.asLeftCapture != Capture::None;
        unstable = unstable || p.asFoundCapture == Capture::Unstable
            || p.asLeftCapture == Capture::Unstable;
        // One reference when both passes used the same, else the as-found one first.
        QString reference = psi(left || !found ? p.asLeftReference : p.asFoundReference, 1);
        if (found && left && p.asFoundReference != p.asLeftReference)
            reference = psi(p.asFoundReference, 1) + QStringLiteral(" / ") + reference;
        doc += cells({ psi(p.setPoint, 0), reference, readingText(p.asFound, p.asFoundCapture),
                       found ? errorText(p.asFoundError()) : QString(),
                       readingText(p.asLeft, p.asLeftCapture),
                       left ? errorText(p.asLeftError()) : QString(),
                       left ? uncertaintyText(p.asLeftU) : QString(), tolerance,
                       verdictText(r.asLeftVerdict(p)) });
    }
    doc += QStringLiteral("</table>") + CrLf;
    doc += QStringLiteral("<p>")
        + tr("Pressures, errors and U in PSI; errors also in % of the "
             "3000 PSI span.");
    if (unstable)
        doc += u' ' + tr("* captured before the reading was stable.");
    doc += QStringLiteral("</p>") + CrLf;
    doc += QStringLiteral("<p><b>") + resultLine(r).toHtmlEscaped() + QStringLiteral("</b></p>")
        + CrLf;
    doc += QStringLiteral("</center>");
    doc += QStringLiteral("<p>")
        + (r.decisionRule == DecisionRule::Guarded
               ? tr("Decision rule: guarded acceptance. A point passes when |error| + U is within "
                    "the tolerance, is Conditional when only |error| is, and fails beyond it.")
               : tr("Decision rule: simple acceptance. A point passes when |error| is within the "
                    "tolerance."))
        + u' '
        + tr("U is the expanded uncertainty of the error (k = 2, about 95 %) from the pressure "
             "calibrator, the sender's 1 PSI resolution and the repeatability of the readings; "
             "\"unknown\" where fewer than two readings were seen.")
        + QStringLiteral("</p>") + CrLf;
    doc += QStringLiteral("<br/><br/>") + CrLf;
    doc += QStringLiteral("<u>") + QStringLiteral("&nbsp;").repeated(SignatureBlanks)
        + QStringLiteral("</u><br/>") + CrLf;
    doc += QStringLiteral("Technician's signature") + CrLf;
    doc += QStringLiteral("<br/>") + CrLf;
    doc += statement(r) + CrLf;
    doc += QStringLiteral("</body>") + CrLf;
    doc += QStringLiteral("</html>") + CrLf;
    return doc;
}

} // namespace Certificate
