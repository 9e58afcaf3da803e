#pragma once

#include <QObject>
#include <QString>

#include <functional>

class DownloadDialog;
struct FirmwarePackage;
class QLabel;
class QProgressDialog;
class QWidget;
class VX4Interface;

/// One firmware update as the technician sees it: the package file, its refusal boxes, the
/// confirmation, the progress dialog with its abort, and the outcome.
class FirmwareUpdateFlow : public QObject
{
    Q_OBJECT

public:
    /// Asks for a file to open: (parent, caption, start path, filter) -> chosen path or empty.
    using FileChooser
        = std::function<QString(QWidget *, const QString &, const QString &, const QString &)>;
    /// The sender of the open port, or null; asked again whenever the flow needs it, since the
    /// port can close while a download runs.
    using SenderSource = std::function<VX4Interface *()>;

    /// Boxes and the progress dialog belong to `window`; the outcome stays in `outcome` too.
    FirmwareUpdateFlow(QWidget *window, QLabel *outcome, SenderSource sender);

    /// Replaces the file dialog, e.g. for tests; the default is QFileDialog::getOpenFileName.
    void setFileChooser(const FileChooser &chooser) { chooseFile = chooser; }
    /// The download's progress dialog; null before the first download and after an abort.
    QProgressDialog *progressDialog() const;

public slots:
    /// From the package choice to the start of the download.
    void start();
    void onUIProgressDialogCanceled();

private:
    void refuseFirmwareImage(const QString &reason);
    /// Shows the package, the sender and its version → the package's, and asks whether to go on;
    /// true for OK.
    bool confirm(const FirmwarePackage &package);

    QWidget *window;
    QLabel *outcomeLabel;
    SenderSource currentSender;
    DownloadDialog *progress = nullptr;
    FileChooser chooseFile;
    /// Links the sender's serial texts on its read-back; dropped at the next update, so that a
    /// download that never got one cannot link another sender's texts later.
    QMetaObject::Connection linkOnReadBack;
};
