#include "downloaddialog.h"

#include "VX4interface.h"
#include "decoding.h"
#include "downloadprogress.h"
#include "senderidentity.h"

#include <QPushButton>
#include <QTimer>

namespace {
constexpr int TickMs = 1000; ///< the elapsed time and the time left are refreshed this often
} // namespace

DownloadDialog::DownloadDialog(QWidget *parent, VX4Interface *sender, int rows,
                               const QString &packageVersion)
    : QProgressDialog(parent)
    , sender(sender)
    , senderName(senderText(sender))
    , versionBefore(versionText(sender))
    , packageVersion(packageVersion)
    , ticker(new QTimer(this))
{
    setWindowTitle(tr("Orvelle® Firmware Update"));
    setWindowModality(Qt::WindowModal);
    setMinimumWidth(350);
    // The outcome stays on screen: the dialog neither closes nor empties itself at the end.
    setAutoClose(false);
    setAutoReset(false);
    setMinimumDuration(0);
    setRange(0, rows);
    // Enter must not stop a flash: Abort is no default button.
    auto *abort = new QPushButton(tr("Abort"), this);
    abort->setAutoDefault(false);
    setCancelButton(abort);
    clock.start();
    connect(ticker, &QTimer::timeout, this, &DownloadDialog::refresh);
    ticker->start(TickMs);
    refresh();
}

QString DownloadDialog::versionText(const VX4Interface *sender)
{
    if (!sender || sender->firmwareMajor() == VX4Decode::UnknownFirmwareMajor)
        return tr("not known");
    return sender->firmwareVersionString();
}

QString DownloadDialog::senderText(const VX4Interface *sender)
{
    const QString serial = sender
        ? VX4Identity::serialNumberText(sender->serialNumber(), sender->firmwareMajor())
        : QString();
    return serial.isEmpty() ? tr("(serial number not known)") : serial;
}

void DownloadDialog::onProgress(int done)
{
    if (!running)
        return;
    rowsDone = done;
    setValue(done);
    refresh();
}

void DownloadDialog::refresh()
{
    const int skipped = sender ? sender->firmwareUpdateCounts().skipped : 0;
    setLabelText(DownloadProgress::text(senderName, rowsDone, maximum(), skipped, clock.elapsed()));
}

void DownloadDialog::end(const QString &text)
{
    running = false;
    ticker->stop();
    setLabelText(text);
    setCancelButtonText(tr("Close"));
    emit outcome(QString(text).replace(QLatin1Char('\n'), QLatin1Char(' ')));
}

void DownloadDialog::onFinished(bool ok, const QString &text)
{
    if (!ok) {
        // One place for the failure: why it stopped, where the sender is, what to do next.
        const auto state
            = sender ? sender->firmwareUpdateSenderState() : FirmwareDownload::SenderState::Unknown;
        return end(text + QLatin1Char('\n') + FirmwareDownload::senderStateText(state));
    }
    setValue(maximum());
    end(text + QLatin1Char('\n') + tr("Waiting for the sender to restart..."));
}

void DownloadDialog::onReadBack(bool answered, const QString &version)
{
    QString text;
    if (!answered)
        text = tr("The sender did not connect again after its restart, so its firmware version "
                  "is not known: check that it answers.");
    else if (version.isEmpty())
        text = tr("The sender restarted in its bootloader, not in the new firmware: run Update "
                  "Firmware again.");
    else if (version != packageVersion)
        text = tr("Firmware %1 → %2, not the package's %3: the sender does not run this "
                  "package's firmware.")
                   .arg(versionBefore, version, packageVersion);
    else
        text = tr("Firmware %1 → %2").arg(versionBefore, version);
    end(tr("Firmware update completed successfully!") + QLatin1Char('\n') + text);
}
