#include "calsumpage.h"

#include "VX4calibrationwizard.h"
#include "calibrationshared.h"
#include "certificate.h"
#include "historyservice.h"
#include "intropage.h"
#include "settingskeys.h"
#include "vx4log.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QSaveFile>
#include <QTextEdit>
#include <QVBoxLayout>

#define LOG VX4_LOG("VX4calibrationwizard")

namespace {
const QString SheetsFolder = QStringLiteral("calibration sheets");
const QString HomeFolder = QStringLiteral("Ostrand"); ///< under the home folder
const QString HomeSheetsFolder = HomeFolder + QStringLiteral("/calibration sheets");
const QString VoltagesFile = QStringLiteral("calVoltages.csv");
constexpr int CertificateMinWidth = 500; ///< pixels
constexpr int CertificateMinHeight = 600; ///< pixels
} // namespace

CalSumPage::CalSumPage(QWidget *wizard, HistoryService *history)
    : QWizardPage(wizard)
    , history(history)
{
    setObjectName(QStringLiteral("summaryPage"));
    certificateView = new QTextEdit(this);
    certificateView->setObjectName(QStringLiteral("certificateView"));
    certificateView->setReadOnly(true);
    certificateView->setMinimumSize(CertificateMinWidth, CertificateMinHeight);
    numberLabel = new QLabel(this);
    numberLabel->setObjectName(QStringLiteral("numberLabel"));
    numberLabel->setWordWrap(true);
    retryButton = new QPushButton(tr("&Try Again"), this);
    retryButton->setObjectName(QStringLiteral("retryButton"));
    retryButton->hide();
    connect(retryButton, &QPushButton::clicked, this, &CalSumPage::drawNumber);
    printButton = new QPushButton(tr("&Print"), this);
    printButton->setObjectName(QStringLiteral("printButton"));
    connect(printButton, &QPushButton::clicked, this, &CalSumPage::onPrint);

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addWidget(numberLabel, 1);
    buttonRow->addWidget(retryButton);
    buttonRow->addWidget(printButton);
    auto *layout = new QVBoxLayout;
    layout->addWidget(certificateView, 1);
    layout->addLayout(buttonRow);
    setLayout(layout);
}

void CalSumPage::updateRecord()
{
    namespace Keys = SettingsStore::CalSetupGroup;
    const QDate calibrated = gCalibrationDateTime.date();
    CalibrationRecord &r = m_record;
    r.senderSerial = field(QStringLiteral("serialNumber")).toString();
    r.firmware = field(QStringLiteral("firmwareVersion")).toString();
    r.technician = field(QStringLiteral("firstName")).toString() + u' '
        + field(QStringLiteral("lastName")).toString();
    r.company = field(QStringLiteral("company")).toString();
    r.referenceCalibrator = field(QStringLiteral("calibratorMakeModel")).toString();
    r.calibratorSerial = field(QStringLiteral("calibratorSerialNumber")).toString();
    r.calibratorCertificate = field(QStringLiteral("calibratorCertNumber")).toString();
    const QDate due = field(QStringLiteral("calibratorDueDate")).toDate();
    r.referenceDueDate = due > IntroPage::UnsetDate ? due : QDate();
    bool ok = false;
    const double uncertainty
        = QLocale::c().toDouble(field(QStringLiteral("referenceUncertainty")).toString(), &ok);
    r.referenceUncertainty.reset();
    if (ok)
        r.referenceUncertainty = ReferenceUncertainty {
            uncertainty, field(QStringLiteral("referenceUncertaintyPercent")).toInt() == 1,
            field(QStringLiteral("referenceCoverage")).toDouble()
        };
    const double ambient
        = QLocale::c().toDouble(field(QStringLiteral("ambientCelsius")).toString(), &ok);
    r.ambientCelsius = ok ? std::optional(ambient) : std::nullopt;
    const QVariant tolerance = field(QStringLiteral("tolerancePsi"));
    r.tolerancePsi = tolerance.isValid() ? tolerance.toDouble() : CalPages::DefaultTolerancePsi;
    r.decisionRule = field(QStringLiteral("decisionRule")).toInt() == 1 ? DecisionRule::Guarded
                                                                        : DecisionRule::Simple;
    r.procedureId = field(QStringLiteral("procedureId")).toString().trimmed();
    r.calibrated = gCalibrationDateTime;
    r.nextCalibrationDate = calibrated.addMonths(
        calibrationSetting(Keys::IntervalMonths, CalPages::DefaultIntervalMonths).toInt());
    for (int i = 0; i < CalPages::SetPointCount; ++i) {
        CalibrationPoint &p = r.points[size_t(i)];
        p.setPoint = CalPages::SetPointsPsi[size_t(i)];
        const auto take = [&](int id, double &reading, double &reference, Capture &how,
                              std::optional<double> &u) {
            const bool taken = gCapturedPressures.contains(id);
            reading = gCapturedPressures.value(id);
            reference = gReferencePressures.value(id, p.setPoint);
            how = taken ? gCaptureKinds.value(id, Capture::Stable) : Capture::None;
            // Unknown unless both the reference's figure and the readings' spread are known.
            u.reset();
            if (taken && r.referenceUncertainty && gReadingSpread.contains(id))
                u = Uncertainty::budget(reference, *r.referenceUncertainty,
                                        gReadingSpread.value(id))
                        .expanded;
        };
        take(CalPages::FirstAsFound + i, p.asFound, p.asFoundReference, p.asFoundCapture,
             p.asFoundU);
        take(CalPages::FirstVerification + i, p.asLeft, p.asLeftReference, p.asLeftCapture,
             p.asLeftU);
    }
    // The PDF written before no longer shows this record.
    r.pdfSha256.clear();
}

void CalSumPage::initializePage()
{
    LOG << "CalSumPage::initializePage() called.";
    updateRecord();
    finishRowWritten = false;
    // One number, one certificate: a certificate written before with other content keeps its
    // number, and this one gets a new number that says which it replaces.
    if (!written.number.isEmpty()) {
        if (m_record.certificateNumber == written.number
            && Certificate::html(m_record) == writtenHtml) {
            m_record.pdfSha256 = written.pdfSha256;
        } else if (m_record.certificateNumber == written.number) {
            LOG << "Certificate" << written.number << "is replaced: the run has changed since.";
            m_record.replaced.append(written);
            m_record.replaces = written.number;
            m_record.certificateNumber.clear();
            written = {};
        }
    }
    // Once per certificate: entering the page again keeps the number drawn before.
    if (m_record.certificateNumber.isEmpty())
        drawNumber();
    else
        showCertificate();
}

void CalSumPage::drawNumber()
{
    if (drawing)
        return;
    drawing = true;
    drawProblem.clear();
    retryButton->hide();
    numberLabel->setText(tr("Drawing the certificate number from the calibration history..."));
    certificateView->clear();
    printButton->setEnabled(false);
    emit completeChanged();
    history->run<std::pair<QString, QString>>(
        this,
        [](CalibrationHistory &h) {
            QString error;
            const QString number = h.drawCertificateNumber(&error);
            return std::pair(number, error);
        },
        [this](const std::pair<QString, QString> &answer) {
            drawing = false;
            m_record.certificateNumber = answer.first;
            drawProblem = answer.first.isEmpty() ? answer.second : QString();
            if (!drawProblem.isEmpty())
                LOG << "No certificate number:" << drawProblem;
            showCertificate();
        });
}

void CalSumPage::showCertificate()
{
    const bool numbered = !m_record.certificateNumber.isEmpty();
    numberLabel->setText(numbered ? QString()
                                  : tr("No certificate can be issued: %1.").arg(drawProblem));
    retryButton->setVisible(!numbered);
    printButton->setEnabled(numbered);
    m_html = numbered ? Certificate::html(m_record) : QString();
    LOG << m_html;
    certificateView->setHtml(m_html);
    emit completeChanged();
}

bool CalSumPage::isComplete() const
{
    return !drawing && !m_record.certificateNumber.isEmpty();
}

QString CalSumPage::numberProblem() const
{
    return drawProblem;
}

void CalSumPage::noteWritten()
{
    written = { m_record.certificateNumber, m_record.pdfSha256 };
    writtenHtml = Certificate::html(m_record);
}

CalibrationRecord CalSumPage::endRecord(bool finished)
{
    if (finished)
        return m_record;
    // The pages as they stand; a certificate written before keeps its number and hash, void.
    updateRecord();
    CalibrationRecord r = m_record;
    if (!written.number.isEmpty()) {
        r.certificateNumber = written.number;
        r.pdfSha256 = written.pdfSha256;
    }
    return r;
}

bool CalSumPage::validatePage()
{
    LOG << "CalSumPage::validatePage() called.";
    // Finish writes the certificate too: paper from Print can be lost, the file stays.
    QString folder;
    for (;;) {
        QStringList failures;
        if (!finishRowWritten) {
            const QString failure = writeVoltagesCsv(folder, &m_finishedCsv);
            finishRowWritten = failure.isEmpty();
            if (!finishRowWritten)
                failures.append(failure);
        }
        const QString failure = writeCertificatePdf(folder, &m_finishedPdf);
        if (!failure.isEmpty())
            failures.append(failure);
        if (failures.isEmpty())
            return true;
        if (!askRetry(failures, folder))
            return false;
    }
}

bool CalSumPage::askRetry(const QStringList &failures, QString &folder)
{
    for (;;) {
        QMessageBox box(QMessageBox::Warning, tr("Calibration"), failures.join(QLatin1Char('\n')),
                        QMessageBox::NoButton, this);
        box.setInformativeText(tr("Try again, or write the files to another folder?"));
        QPushButton *retry = box.addButton(QMessageBox::Retry);
        QPushButton *choose = box.addButton(tr("Choose Folder..."), QMessageBox::ActionRole);
        box.addButton(QMessageBox::Cancel);
        box.exec();
        if (!wizardOpen())
            return false;
        if (box.clickedButton() == retry)
            return true;
        if (box.clickedButton() != choose)
            return false;
        const QString start = folder.isEmpty() ? QDir::homePath() : folder;
        const QString chosen = folderChooser
            ? folderChooser(this, start)
            : QFileDialog::getExistingDirectory(this, tr("Choose Folder"), start);
        if (!wizardOpen())
            return false;
        if (!chosen.isEmpty()) {
            folder = chosen;
            return true;
        }
    }
}

bool CalSumPage::wizardOpen() const
{
    const auto *w = qobject_cast<const CalibrationWizard *>(wizard());
    return w && w->isVisible() && !w->isEnding();
}

void CalSumPage::onPrint()
{
    LOG << "Print button clicked";
    const QString csvFailure = writeVoltagesCsv();
    if (!csvFailure.isEmpty())
        warn(csvFailure);
    if (wizardOpen())
        saveCertificatePdf();
    if (!wizardOpen())
        return;

    LOG << "Opening printer dialog";
    QPrinter printer(QPrinter::ScreenResolution);
    QPrintDialog dialog(&printer, this);
    dialog.setWindowTitle(tr("Print Document"));
    if (dialog.exec() == QDialog::Accepted && wizardOpen()) {
        Certificate::print(m_record, &printer);
        // On paper it is issued as much as in a file.
        if (m_record.pdfSha256.isEmpty())
            m_record.pdfSha256 = Certificate::sha256(Certificate::pdf(m_record));
        noteWritten();
    }
}

QString CalSumPage::saveCertificatePdf()
{
    QString path;
    const QString failure = writeCertificatePdf(QString(), &path);
    if (!failure.isEmpty())
        warn(failure);
    return path;
}

QString CalSumPage::writeCertificatePdf(const QString &folder, QString *writtenPath)
{
    QDir dir(folder);
    if (folder.isEmpty() && !findSheetsDirectory(dir)) {
        return tr("The certificate could not be saved as a PDF file: neither \"%1\" nor \"%2\" "
                  "is a folder that can be written to.")
            .arg(QDir::current().absoluteFilePath(SheetsFolder),
                 QDir::home().absoluteFilePath(HomeSheetsFolder));
    }
    LOG << "Building PDF file name";
    const QString fileName = Certificate::pdfFileName(
        field(QStringLiteral("serialNumber")).toString(), gCalibrationDateTime);
    const QString path = dir.absoluteFilePath(fileName);
    LOG << "Attempting to save:" << path;

    // Written afresh, so a file left from an earlier print cannot pass for this one.
    if (QFileInfo::exists(path) && !QFile::remove(path)) {
        LOG << "Could not replace" << path;
        return tr("The certificate could not be written to \"%1\".").arg(path);
    }
    const QByteArray bytes = Certificate::pdf(m_record);
    QSaveFile file(path);
    if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()
        || !file.commit()) {
        LOG << "Could not write" << path << file.errorString();
        return tr("The certificate could not be written to \"%1\".").arg(path);
    }
    m_record.pdfSha256 = Certificate::sha256(bytes);
    noteWritten();
    if (writtenPath)
        *writtenPath = path;
    return QString();
}

bool CalSumPage::findSheetsDirectory(QDir &dir)
{
    return findWritableDirectory(
        { SheetsFolder, QStringLiteral("%1/%2").arg(QDir::homePath(), HomeSheetsFolder) }, dir);
}

bool CalSumPage::findWritableDirectory(const QStringList &candidates, QDir &dir)
{
    for (const QString &candidate : candidates) {
        const QDir sheets(candidate);
        if (!sheets.exists()) {
            LOG << "Directory" << sheets.path() << "does not exist creating...";
            if (!QDir().mkpath(candidate)) {
                LOG << "Failed to create direcotry" << sheets.path();
                continue;
            }
            LOG << "Created directory" << sheets.path();
        }
        if (!QFileInfo(sheets.path()).isWritable()) {
            LOG << sheets.path() << "is not writeable";
            continue;
        }
        LOG << sheets.path() << "is writeable";
        dir = sheets;
        return true;
    }
    return false;
}

QString CalSumPage::writeVoltagesCsv(const QString &folder, QString *writtenPath)
{
    QString serial = QStringLiteral("OVX4-0000");
    QString firmware = QStringLiteral("0.0");
    if (gPressureSender) {
        serial = gPressureSender->serialNumberString();
        firmware = gPressureSender->firmwareVersionString();
    }
    const QString row = Certificate::voltagesRow(QDateTime::currentDateTime(), serial, firmware,
                                                 gVerificationVoltages);
    LOG << row;
    const QByteArray line = row.toLocal8Bit() + '\n';

    // The working folder first, then the same home fallback as the certificates.
    const QStringList candidates = folder.isEmpty()
        ? QStringList { QStringLiteral("."),
                        QStringLiteral("%1/%2").arg(QDir::homePath(), HomeFolder) }
        : QStringList { folder };
    QStringList failures;
    for (const QString &candidate : candidates) {
        QDir dir;
        QFile file(QDir(candidate).filePath(VoltagesFile));
        const QString where = QFileInfo(file).absoluteFilePath();
        if (!findWritableDirectory({ candidate }, dir)) {
            failures.append(tr("The voltages could not be written to \"%1\": the folder cannot be "
                               "created or written to.")
                                .arg(where));
            continue;
        }
        if (!file.open(QIODevice::ReadWrite | QIODevice::Append)) {
            LOG << "Cannot open" << where << file.errorString();
            failures.append(tr("The voltages could not be written to \"%1\": %2")
                                .arg(where, file.errorString()));
            continue;
        }
        const bool written = file.write(line) == line.size() && file.flush();
        file.close();
        if (written && writtenPath)
            *writtenPath = where;
        if (written)
            return QString();
        LOG << "Cannot write" << where << file.errorString();
        failures.append(
            tr("The voltages could not be written to \"%1\": %2").arg(where, file.errorString()));
    }
    return failures.join(QLatin1Char('\n'));
}

void CalSumPage::warn(const QString &text)
{
    QMessageBox::warning(this, tr("Calibration"), text);
}
