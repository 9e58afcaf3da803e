#include "calsumpage.h"

#include "calibrationshared.h"
#include "certificate.h"
#include "vx4log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTextEdit>
#include <QUuid>
#include <QVBoxLayout>

#define LOG VX4_LOG("VX4calibrationwizard")

namespace {
const QString SheetsFolder = QStringLiteral("calibration sheets");
const QString HomeSheetsFolder = QStringLiteral("Ostrand/calibration sheets");
const QString VoltagesFile = QStringLiteral("calVoltages.csv");
constexpr int CertificateMinWidth = 500; ///< pixels
constexpr int CertificateMinHeight = 600; ///< pixels
} // namespace

CalSumPage::CalSumPage(QWidget *wizard)
    : QWizardPage(wizard)
{
    certificateView = new QTextEdit(this);
    certificateView->setReadOnly(true);
    certificateView->setMinimumSize(CertificateMinWidth, CertificateMinHeight);
    auto *printButton = new QPushButton(tr("&Print"), this);
    connect(printButton, &QPushButton::clicked, this, &CalSumPage::onPrint);

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(printButton);
    auto *layout = new QVBoxLayout;
    layout->addWidget(certificateView, 1);
    layout->addLayout(buttonRow);
    setLayout(layout);
}

void CalSumPage::initializePage()
{
    LOG << "CalSumPage::initializePage() called.";
    CertificateData data;
    data.serialNumber = field(QStringLiteral("serialNumber")).toString();
    data.firmwareVersion = field(QStringLiteral("firmwareVersion")).toString();
    data.firstName = field(QStringLiteral("firstName")).toString();
    data.lastName = field(QStringLiteral("lastName")).toString();
    data.company = field(QStringLiteral("company")).toString();
    data.calibratorMakeModel = field(QStringLiteral("calibratorMakeModel")).toString();
    data.calibratorSerialNumber = field(QStringLiteral("calibratorSerialNumber")).toString();
    data.calibratorCertNumber = field(QStringLiteral("calibratorCertNumber")).toString();
    data.calibratorDueDate = field(QStringLiteral("calibratorDueDate")).toString();
    data.calibrationDateTime = gCalibrationDateTime;
    data.capturedPressures = gCapturedPressures;

    m_html = Certificate::html(data, QUuid::createUuid());
    LOG << m_html;
    certificateView->setHtml(m_html);
}

bool CalSumPage::validatePage()
{
    LOG << "CalSumPage::validatePage() called.";
    writeVoltagesCsv();
    return true;
}

void CalSumPage::onPrint()
{
    LOG << "Print button clicked";
    writeVoltagesCsv();
    saveCertificatePdf();

    LOG << "Opening printer dialog";
    QPrinter printer(QPrinter::ScreenResolution);
    QPrintDialog dialog(&printer, this);
    dialog.setWindowTitle(tr("Print Document"));
    if (dialog.exec() == QDialog::Accepted)
        certificateView->document()->print(&printer);
}

QString CalSumPage::saveCertificatePdf()
{
    QDir dir(QString {});
    if (!findSheetsDirectory(dir)) {
        warn(tr("The certificate could not be saved as a PDF file: neither \"%1\" nor \"%2\" is "
                "a folder that can be written to.")
                 .arg(QDir::current().absoluteFilePath(SheetsFolder),
                      QDir::home().absoluteFilePath(HomeSheetsFolder)));
        return {};
    }
    LOG << "Building PDF file name";
    const QString fileName = Certificate::pdfFileName(
        field(QStringLiteral("serialNumber")).toString(), gCalibrationDateTime);
    const QString path = dir.absoluteFilePath(fileName);
    LOG << "Attempting to save:" << path;

    // Written afresh, so a file left from an earlier print cannot pass for this one.
    if (QFileInfo::exists(path) && !QFile::remove(path)) {
        LOG << "Could not replace" << path;
        warn(tr("The certificate could not be written to \"%1\".").arg(path));
        return {};
    }
    QPrinter printer(QPrinter::ScreenResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    certificateView->document()->print(&printer);
    const QFileInfo written(path);
    if (!written.isFile() || written.size() == 0) {
        LOG << "Could not write" << path;
        warn(tr("The certificate could not be written to \"%1\".").arg(path));
        return {};
    }
    return path;
}

bool CalSumPage::findSheetsDirectory(QDir &dir)
{
    const QStringList candidates {
        SheetsFolder,
        QStringLiteral("%1/%2").arg(QDir::homePath(), HomeSheetsFolder),
    };
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

void CalSumPage::writeVoltagesCsv()
{
    QString serial = QStringLiteral("OVX4-0000");
    QString firmware = QStringLiteral("0.0");
    if (gPressureSender) {
        serial = gPressureSender->serialNumberString();
        firmware = gPressureSender->firmwareVersionString();
    }

    QFile file(VoltagesFile);
    const QString where = QFileInfo(file).absoluteFilePath();
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append)) {
        LOG << "Cannot open" << where << file.errorString();
        warn(tr("The voltages could not be written to \"%1\": %2").arg(where, file.errorString()));
        return;
    }
    const QString row = Certificate::voltagesRow(QDateTime::currentDateTime(), serial, firmware,
                                                 gVerificationVoltages);
    LOG << row;
    const QByteArray line = row.toLocal8Bit() + '\n';
    const bool written = file.write(line) == line.size() && file.flush();
    file.close();
    if (!written) {
        LOG << "Cannot write" << where << file.errorString();
        warn(tr("The voltages could not be written to \"%1\": %2").arg(where, file.errorString()));
    }
}

void CalSumPage::warn(const QString &text)
{
    QMessageBox::warning(this, tr("Calibration"), text);
}
