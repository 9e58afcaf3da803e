#include "firmwareupdateflow.h"

#include "VX4interface.h"
#include "firmwareimage.h"
#include "firmwarepackage.h"
#include "historyservice.h"
#include "settingskeys.h"
#include "vx4log.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSettings>
#include <QStatusBar>

// The technician's log knows the update as the main window's doing.
#define LOG VX4_LOG("mainwindow")

namespace Keys = SettingsStore::FirmwareFileGroup;

FirmwareUpdateFlow::FirmwareUpdateFlow(QWidget *window, QStatusBar *statusBar, SenderSource sender)
    : QObject(window)
    , window(window)
    , statusBar(statusBar)
    , currentSender(std::move(sender))
{
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

    QMessageBox confirm(window);
    confirm.setWindowTitle(tr("Orvelle® Firmware Update"));
    confirm.setIcon(QMessageBox::Warning);
    confirm.setText(tr("Orvelle® Firmware Update:  Version %1.%2\n")
                        .arg(package.versionMajor)
                        .arg(package.versionMinor)
                    + tr("Packaged on:  %1\n").arg(package.packagedOn.toString(Qt::TextDate))
                    + tr("MD5 hash:  ") + QString::fromLatin1(package.md5.toHex())
                    + QStringLiteral("\n\n") + package.description + QStringLiteral("\n"));
    confirm.setInformativeText(
        tr("You are about to update to Version %1.%2\nAre you sure you want to continue?")
            .arg(package.versionMajor)
            .arg(package.versionMinor));
    confirm.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    confirm.setDefaultButton(QMessageBox::Cancel);
    confirm.setEscapeButton(QMessageBox::Cancel);
    if (confirm.exec() != QMessageBox::Ok) {
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
    progress = new QProgressDialog(tr("Downloading firmware..."), tr("Abort"), 0, int(rows.size()),
                                   window);
    progress->setWindowModality(Qt::WindowModal);
    progress->setWindowTitle(tr("Orvelle® Firmware Update"));
    progress->setMinimumWidth(350);
    progress->setAutoClose(true);
    progress->setMinimumDuration(0);
    connect(progress, &QProgressDialog::canceled, this,
            &FirmwareUpdateFlow::onUIProgressDialogCanceled);
    // Queued, both: a modal dialog runs the event loop, which must not happen inside the
    // engine's answer handling. The outcome is shown after the engine has finished with it.
    connect(pressureSender, &VX4Interface::vx4FirmwareUpdateProgressChanged, progress,
            &QProgressDialog::setValue, Qt::QueuedConnection);
    connect(pressureSender, &VX4Interface::vx4FirmwareUpdateFinished, this,
            &FirmwareUpdateFlow::onVX4FirmwareUpdateFinished,
            Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection));
    // Across a major version the serial text's model digit changes: the history links the two
    // texts, so that the instrument keeps one history.
    connect(
        pressureSender, &VX4Interface::vx4FirmwareReadBack, this,
        [pressureSender, before = pressureSender->serialNumberString()](bool answered,
                                                                        const QString &version) {
            if (answered && !version.isEmpty())
                HistoryService::linkSenders(before, pressureSender->serialNumberString());
        },
        Qt::SingleShotConnection);
    // Always verified: success then means the sender holds the image, not that it said so.
    if (!pressureSender->startFirmwareUpdate(rows, true)) {
        delete progress;
        progress = nullptr;
        QMessageBox::warning(window, tr("Orvelle® Firmware Update"),
                             tr("The firmware update could not be started."));
    }
}

void FirmwareUpdateFlow::refuseFirmwareImage(const QString &reason)
{
    QMessageBox box(QMessageBox::Warning, tr("Orvelle® Firmware Update"),
                    tr("Corrupted HEX record encountered.  Giving up."), QMessageBox::Ok, window);
    box.setInformativeText(reason);
    box.exec();
}

void FirmwareUpdateFlow::onVX4FirmwareUpdateFinished(bool result, const QString &errorMsg)
{
    // Aborted by the technician: an outcome that was still on its way is not reported.
    if (!progress) {
        LOG << "Firmware update outcome after the abort, not shown:" << errorMsg;
        return;
    }
    if (result) {
        LOG << errorMsg;
        statusBar->showMessage(errorMsg);
        return;
    }
    LOG << "Firmware update failed:" << errorMsg;
    statusBar->showMessage(errorMsg);
    // The dialog stops waiting; its button now only closes it.
    if (progress) {
        progress->setLabelText(errorMsg);
        progress->setCancelButtonText(tr("Close"));
    }
    QMessageBox::warning(window, tr("Orvelle® Firmware Update"), errorMsg);
}

void FirmwareUpdateFlow::onUIProgressDialogCanceled()
{
    LOG << "!!!!! Firmware update canceled !!!!!";
    VX4Interface *pressureSender = currentSender();
    if (pressureSender)
        pressureSender->finishFirmwareUpdate();
    if (progress) {
        disconnect(progress, &QProgressDialog::canceled, this,
                   &FirmwareUpdateFlow::onUIProgressDialogCanceled);
        if (pressureSender)
            disconnect(pressureSender, &VX4Interface::vx4FirmwareUpdateProgressChanged, progress,
                       &QProgressDialog::setValue);
        progress->deleteLater();
        progress = nullptr;
    }
}
