#include "firmwareupdateflow.h"

#include "VX4interface.h"
#include "downloaddialog.h"
#include "firmwareimage.h"
#include "firmwarepackage.h"
#include "historyservice.h"
#include "settingskeys.h"
#include "vx4log.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>

// The technician's log knows the update as the main window's doing.
#define LOG VX4_LOG("mainwindow")

namespace Keys = SettingsStore::FirmwareFileGroup;

FirmwareUpdateFlow::FirmwareUpdateFlow(QWidget *window, QLabel *outcome, SenderSource sender)
    : QObject(window)
    , window(window)
    , outcomeLabel(outcome)
    , currentSender(std::move(sender))
{
}

QProgressDialog *FirmwareUpdateFlow::progressDialog() const
{
    return progress;
}

void FirmwareUpdateFlow::start()
{
    LOG << "Update Firmware button clicked.";
    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    settings.beginGroup(Keys::Name);
    QString path = settings.value(Keys::FirmwareDirectory, QDir::currentPath()).toString();
    if (path.isEmpty())
        path = QDir::currentPath();
    const auto choose = chooseFile
        ? chooseFile
        : FileChooser([](auto... args) { return QFileDialog::getOpenFileName(args...); });
    const QString fileName
        = choose(window, tr("Select Orvelle® Firmware File"), path, tr("Firmware File (*.vx4f)"));
    if (fileName.isEmpty()) {
        LOG << "Bad firmware file name returned.";
        return;
    }
    LOG << "Selected file: " << fileName;
    settings.setValue(Keys::FirmwareDirectory, QFileInfo(fileName).absoluteFilePath());
    settings.endGroup();
    settings.sync();

    const FirmwarePackageReader::Result read = FirmwarePackageReader::read(fileName);
    switch (read.status) {
    case FirmwarePackageReader::CannotOpen:
        QMessageBox::critical(window, tr("Error Opening File"), tr("Could not open file."));
        return;
    case FirmwarePackageReader::WrongType:
        QMessageBox::information(window, tr("Error Opening File"), tr("Incorrect file type."));
        return;
    case FirmwarePackageReader::Corrupt:
        QMessageBox::information(window, tr("Error Opening File"), tr("File data is corrupt"));
        return;
    case FirmwarePackageReader::Ok:
        break;
    }
    const FirmwarePackage &package = read.package;

    if (!confirm(package)) {
        LOG << "Firmware update canceled by user.";
        return;
    }

    const FirmwareImage image = FirmwareImage::fromHex(package.hexData);
    if (!image.error.isEmpty()) {
        LOG << "Firmware image refused:" << image.error;
        refuseFirmwareImage(image.error);
        return;
    }
    const QList<ProgramMemoryRow> &rows = image.rows;

    VX4Interface *pressureSender = currentSender();
    if (!pressureSender || !pressureSender->isOpen()) {
        QMessageBox::warning(window, tr("Orvelle® Firmware Update"),
                             tr("The firmware update cannot start: the pressure sender's port is "
                                "not open."));
        return;
    }
    delete progress;
    const QString version
        = QStringLiteral("%1.%2").arg(package.versionMajor).arg(package.versionMinor);
    progress = new DownloadDialog(window, pressureSender, int(rows.size()), version);
    connect(progress, &QProgressDialog::canceled, this,
            &FirmwareUpdateFlow::onUIProgressDialogCanceled);
    connect(progress, &DownloadDialog::outcome, outcomeLabel, &QLabel::setText);
    // Queued, all: a modal dialog runs the event loop, which must not happen inside the engine's
    // answer handling. The outcome is shown after the engine has finished with it.
    connect(pressureSender, &VX4Interface::vx4FirmwareUpdateProgressChanged, progress,
            &DownloadDialog::onProgress, Qt::QueuedConnection);
    connect(pressureSender, &VX4Interface::vx4FirmwareUpdateFinished, progress,
            &DownloadDialog::onFinished, Qt::QueuedConnection);
    connect(pressureSender, &VX4Interface::vx4FirmwareReadBack, progress,
            &DownloadDialog::onReadBack, Qt::QueuedConnection);
    // Across a major version the serial text's model digit changes: the history links the two
    // texts, so that the instrument keeps one history.
    disconnect(linkOnReadBack);
    linkOnReadBack = connect(
        pressureSender, &VX4Interface::vx4FirmwareReadBack, this,
        [pressureSender, before = pressureSender->serialNumberString()](bool answered,
                                                                        const QString &version) {
            if (answered && !version.isEmpty())
                HistoryService::linkSenders(before, pressureSender->serialNumberString());
        },
        Qt::SingleShotConnection);
    // Always verified: success then means the sender holds the image, not that it said so.
    if (!pressureSender->startFirmwareUpdate(rows, true, version)) {
        delete progress;
        progress = nullptr;
        QMessageBox::warning(window, tr("Orvelle® Firmware Update"),
                             tr("The firmware update could not be started."));
    }
}

bool FirmwareUpdateFlow::confirm(const FirmwarePackage &package)
{
    QMessageBox box(window);
    box.setWindowTitle(tr("Orvelle® Firmware Update"));
    box.setIcon(QMessageBox::Warning);
    box.setText(tr("Orvelle® Firmware Update:  Version %1.%2\n")
                    .arg(package.versionMajor)
                    .arg(package.versionMinor)
                + tr("Packaged on:  %1\n").arg(package.packagedOn.toString(Qt::TextDate))
                + tr("MD5 hash:  ") + QString::fromLatin1(package.md5.toHex())
                + QStringLiteral("\n\n") + package.description + QStringLiteral("\n"));
    // Which sender, and from which version to which, before anything is sent.
    const VX4Interface *sender = currentSender();
    box.setInformativeText(
        tr("Sender %1: firmware %2 → %3.%4\n")
            .arg(DownloadDialog::senderText(sender), DownloadDialog::versionText(sender))
            .arg(package.versionMajor)
            .arg(package.versionMinor)
        + tr("You are about to update to Version %1.%2\nAre you sure you want to continue?")
              .arg(package.versionMajor)
              .arg(package.versionMinor));
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

void FirmwareUpdateFlow::refuseFirmwareImage(const QString &reason)
{
    QMessageBox box(QMessageBox::Warning, tr("Orvelle® Firmware Update"),
                    tr("Corrupted HEX record encountered.  Giving up."), QMessageBox::Ok, window);
    box.setInformativeText(reason);
    box.exec();
}

void FirmwareUpdateFlow::onUIProgressDialogCanceled()
{
    // A download that ended has been stopped by the engine already: Close only closes, and the
    // outcome stays in the window.
    if (progress && !progress->isRunning())
        return;
    LOG << "!!!!! Firmware update canceled !!!!!";
    VX4Interface *pressureSender = currentSender();
    if (pressureSender)
        pressureSender->finishFirmwareUpdate();
    if (pressureSender && outcomeLabel)
        outcomeLabel->setText(
            tr("Firmware update aborted.") + QLatin1Char(' ')
            + FirmwareDownload::senderStateText(pressureSender->firmwareUpdateSenderState()));
    if (progress) {
        disconnect(progress, &QProgressDialog::canceled, this,
                   &FirmwareUpdateFlow::onUIProgressDialogCanceled);
        if (pressureSender)
            disconnect(pressureSender, nullptr, progress, nullptr);
        progress->deleteLater();
        progress = nullptr;
    }
}
