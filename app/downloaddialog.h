#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>

class QTimer;
class VX4Interface;

/// The progress dialog of one firmware download: the sender, rows done of all, rows skipped, the
/// time taken and the time left while it runs; then its outcome and what to do next, which stay
/// until the technician closes it.
class DownloadDialog : public QProgressDialog
{
    Q_OBJECT

public:
    /// A download of `rows` rows of the package's firmware `packageVersion` ("2.6") to `sender`.
    DownloadDialog(QWidget *parent, VX4Interface *sender, int rows, const QString &packageVersion);

    /// The download has not ended yet: the button aborts it.
    bool isRunning() const { return running; }
    /// The firmware version the sender reported before the download; "not known" in its
    /// bootloader.
    static QString versionText(const VX4Interface *sender);
    /// The sender's serial number as it is shown, or words saying it is not known.
    static QString senderText(const VX4Interface *sender);

signals:
    /// The outcome in one line, for the window to keep until the technician's next action.
    void outcome(const QString &text);

public slots:
    void onProgress(int done);
    void onFinished(bool ok, const QString &text);
    void onReadBack(bool answered, const QString &version);

private:
    void refresh();
    void end(const QString &text);

    QPointer<VX4Interface> sender;
    QString senderName;
    QString versionBefore;
    QString packageVersion;
    QElapsedTimer clock;
    QTimer *ticker = nullptr;
    int rowsDone = 0;
    bool running = true;
};
