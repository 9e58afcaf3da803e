// The firmware update from the main window against the simulated sender over a pseudo-terminal:
// choosing a package, the refusals, the confirmation, the download with its progress dialog, the
// outcome shown to the technician, and Abort.
#include "VX4interface.h"
#include "firmwarepackage.h"
#include "logcapture.h"
#include "modalanswer.h"
#include "qlogger.h"
#include "senderwindow.h"
#include "settingskeys.h"
#include "vx4protocol.h"

#include <QApplication>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

using namespace VX4Protocol;

namespace {
QByteArray withChecksums(const QByteArray &text)
{
    // Recomputes each record's checksum so test images can be written by hand.
    QByteArray out;
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        QByteArray body = QByteArray::fromHex(line.mid(1, line.size() - 3));
        quint8 sum = 0;
        for (char c : body)
            sum += quint8(c);
        out += ':' + body.toHex().toUpper()
            + QByteArray::number(quint8(-sum), 16).rightJustified(2, '0').toUpper() + "\r\n";
    }
    return out;
}

// Two rows: eight words from word address 0x40 and one word at 0x100.
const QByteArray TwoRowHex = withChecksums(":10008000341278569A78BCDE00F011E022D033C000\n"
                                           ":02020000AA5500\n"
                                           ":00000001FF\n");

FirmwarePackage makePackage(const QByteArray &hex, int major = 2, int minor = 5)
{
    FirmwarePackage p;
    p.versionMajor = major;
    p.versionMinor = minor;
    p.packagedOn = QDateTime(QDate(2026, 11, 30), QTime(14, 5, 9));
    p.hexData = hex;
    p.description = QStringLiteral("Faster start-up.");
    p.md5 = packageDigest(p);
    return p;
}
} // namespace

class TestFirmwareUpdate : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void cancelledFileDialog_logsAndShowsNothing();
    void refusedPackage_showsItsBoxAndRemembersThePath_data();
    void refusedPackage_showsItsBoxAndRemembersThePath();
    void confirmation_showsVersionDateDigestAndDescription();
    void badImage_isRefusedAfterConfirmationWithoutSending_data();
    void badImage_isRefusedAfterConfirmationWithoutSending();
    void outsideToolPackage_updatesTheSender();
    void failingDownload_warnsAndTheDialogOnlyCloses();
    void abort_sendsResetAndRemovesTheDialog();

private:
    QString writePackage(const FirmwarePackage &package, const QString &name = "fw.vx4f");
    /// Presses Update Firmware and answers the file dialog with `path` (empty: cancel); `next`
    /// arms the answer to what comes after the file dialog.
    void chooseFile(const QString &path, const std::function<void()> &next = {});
    QList<quint8> bootloaderRequests() const;

    QList<QStringList> chooserCalls;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<SenderWindow> w;
};

void TestFirmwareUpdate::init()
{
    QLogger::install();
    clearSettings();
    dir = std::make_unique<QTemporaryDir>();
    chooserCalls.clear();
    w = std::make_unique<SenderWindow>();
    QVERIFY(w->openAndConnect());
    QTRY_VERIFY(w->ui()->updateFirmButton->isEnabled());
    w->sender.clearRequests();
}

void TestFirmwareUpdate::cleanup()
{
    w.reset();
    dir.reset();
}

QString TestFirmwareUpdate::writePackage(const FirmwarePackage &package, const QString &name)
{
    const QString path = dir->filePath(name);
    QString error;
    if (!FirmwarePackageWriter::write(path, package, &error))
        qFatal("cannot write a package: %s", qPrintable(error));
    return path;
}

void TestFirmwareUpdate::chooseFile(const QString &path, const std::function<void()> &next)
{
    w->window->setFileChooser([this, path](QWidget *parent, const QString &caption,
                                           const QString &startPath, const QString &filter) {
        chooserCalls.append(
            { parent == w->window.get() ? "main window" : "other", caption, startPath, filter });
        return path;
    });
    if (next)
        next();
    w->ui()->updateFirmButton->click();
}

QList<quint8> TestFirmwareUpdate::bootloaderRequests() const
{
    QList<quint8> result;
    for (quint8 c : w->sender.requestCommands()) {
        if (c != AppQuery)
            result.append(c);
    }
    return result;
}

void TestFirmwareUpdate::cancelledFileDialog_logsAndShowsNothing()
{
    LogCapture log;
    chooseFile(QString());
    QCOMPARE(chooserCalls.size(), 1);
    QCOMPARE(chooserCalls.first(),
             (QStringList { "main window", "Select Orvelle® Firmware File", QDir::currentPath(),
                            "Firmware File (*.vx4f)" }));
    QVERIFY(log.contains(QStringLiteral("Bad firmware file name returned.")));
    QVERIFY(!log.texts().filter(QStringLiteral("Selected file:")).size());
    QVERIFY(bootloaderRequests().isEmpty());
}

void TestFirmwareUpdate::refusedPackage_showsItsBoxAndRemembersThePath_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    const QByteArray good = FirmwarePackageWriter::toBytes(makePackage(TwoRowHex));
    QByteArray swappedMark = good;
    swappedMark.replace(0, 4, QByteArray::fromHex("04030201"));
    QByteArray changed = good;
    changed[changed.size() - 30] = char(changed.at(changed.size() - 30) ^ 0x20);
    QTest::newRow("little-endian mark") << swappedMark << "Incorrect file type.";
    QTest::newRow("changed description") << changed << "File data is corrupt";
    QTest::newRow("cut short") << good.left(good.size() / 2) << "File data is corrupt";
}

void TestFirmwareUpdate::refusedPackage_showsItsBoxAndRemembersThePath()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    const QString path = dir->filePath(QStringLiteral("bad.vx4f"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();

    QString seen;
    chooseFile(path, [&seen] { ModalAnswer::pressButton(QMessageBox::Ok, &seen); });
    QTRY_COMPARE(seen, text);
    QVERIFY(bootloaderRequests().isEmpty());
    QSettings settings(SettingsStore::Organisation, SettingsStore::Application);
    QCOMPARE(settings.value(QStringLiteral("firmwarefile/firmwaredirectory")).toString(),
             QFileInfo(path).absoluteFilePath());
    // The next choice starts at the refused file.
    chooseFile(QString());
    QCOMPARE(chooserCalls.last().at(2), QFileInfo(path).absoluteFilePath());
}

void TestFirmwareUpdate::confirmation_showsVersionDateDigestAndDescription()
{
    LogCapture log;
    const FirmwarePackage package = makePackage(TwoRowHex);
    const QString path = writePackage(package);
    QString text;
    QString informative;
    chooseFile(path, [&] {
        ModalAnswer::expect([&](QWidget *modal) {
            auto *box = qobject_cast<QMessageBox *>(modal);
            QVERIFY(box);
            text = box->text();
            informative = box->informativeText();
            QCOMPARE(box->windowTitle(), QStringLiteral("Orvelle® Firmware Update"));
            QCOMPARE(box->icon(), QMessageBox::Warning);
            QCOMPARE(box->defaultButton(), box->button(QMessageBox::Cancel));
            // Escape declines, as Cancel does.
            QTest::keyClick(box, Qt::Key_Escape);
        });
    });
    QTRY_VERIFY(log.contains(QStringLiteral("Firmware update canceled by user.")));
    QCOMPARE(text,
             QStringLiteral("Orvelle® Firmware Update:  Version 2.5\n"
                            "Packaged on:  %1\n"
                            "MD5 hash:  %2\n\nFaster start-up.\n")
                 .arg(package.packagedOn.toString(Qt::TextDate),
                      QString::fromLatin1(package.md5.toHex())));
    QCOMPARE(informative,
             QStringLiteral("You are about to update to Version 2.5\nAre you sure you want to "
                            "continue?"));
    QVERIFY(bootloaderRequests().isEmpty());
}

void TestFirmwareUpdate::badImage_isRefusedAfterConfirmationWithoutSending_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<bool>("withReason");
    QTest::newRow("wrong checksum")
        << QByteArray(":0400000001020304F0\r\n:00000001FF\r\n") << false;
    QTest::newRow("line feeds alone") << QByteArray(TwoRowHex).replace("\r\n", "\n") << true;
    QTest::newRow("odd byte count") << withChecksums(":03000000010203FF\n:00000001FF\n") << true;
    QTest::newRow("no data record") << QByteArray(":00000001FF\r\n") << true;
}

void TestFirmwareUpdate::badImage_isRefusedAfterConfirmationWithoutSending()
{
    QFETCH(QByteArray, hex);
    QFETCH(bool, withReason);
    const QString path = writePackage(makePackage(hex));
    QString text;
    QString informative;
    chooseFile(path, [&] {
        ModalAnswer::expect([&](QWidget *modal) {
            ModalAnswer::pressButton(QMessageBox::Ok, &text, &informative);
            qobject_cast<QMessageBox *>(modal)->button(QMessageBox::Ok)->click();
        });
    });
    QTRY_COMPARE(text, QStringLiteral("Corrupted HEX record encountered.  Giving up."));
    QCOMPARE(!informative.isEmpty(), withReason);
    QVERIFY(bootloaderRequests().isEmpty());
    QVERIFY(!w->window->firmwareProgressDialog());
}

void TestFirmwareUpdate::outsideToolPackage_updatesTheSender()
{
    // The image comes from binutils and the package from vx4pack, as a firmware engineer makes
    // them.
    QByteArray image;
    for (int i = 0; i < 3 * 128 + 40; ++i)
        image.append(char((i * 37 + 11) & 0xFF));
    const QString bin = dir->filePath(QStringLiteral("image.bin"));
    const QString hexPath = dir->filePath(QStringLiteral("image.hex"));
    const QString package = dir->filePath(QStringLiteral("image.vx4f"));
    QFile binFile(bin);
    QVERIFY(binFile.open(QIODevice::WriteOnly));
    binFile.write(image);
    binFile.close();
    if (QStringLiteral(OBJCOPY_PATH).isEmpty())
        QSKIP("objcopy is not installed");
    QCOMPARE(QProcess::execute(
                 QStringLiteral(OBJCOPY_PATH),
                 { "-I", "binary", "-O", "ihex", "--change-addresses", "0x400", bin, hexPath }),
             0);
    QCOMPARE(QProcess::execute(
                 QStringLiteral(VX4PACK_PATH),
                 { "--version", "3.1", "--description", "Bench image", "-o", package, hexPath }),
             0);

    LogCapture log;
    chooseFile(package, [] {
        ModalAnswer::expect([](QWidget *modal) {
            qobject_cast<QMessageBox *>(modal)->button(QMessageBox::Ok)->click();
        });
    });
    QTRY_VERIFY(w->window->firmwareProgressDialog());
    QProgressDialog *progress = w->window->firmwareProgressDialog();
    QCOMPARE(progress->maximum(), 4);
    QVERIFY(progress->isModal() || progress->windowModality() == Qt::WindowModal);
    QCOMPARE(progress->labelText(), QStringLiteral("Downloading firmware..."));
    QSignalSpy status(w->window->statusBar(), &QStatusBar::messageChanged);
    QTRY_VERIFY_WITH_TIMEOUT(
        status.contains({ QStringLiteral("Firmware update completed successfully!") }), 15000);
    QTRY_VERIFY(!progress->isVisible());
    QTRY_COMPARE(w->sender.eeprom(EepromBootFlagAddress), EepromBootFlagValid);
    // Byte addresses 0x400.. are word addresses 0x200..; the low byte comes first.
    for (int k = 0; k < image.size() / 2; ++k) {
        const quint16 word = quint16(quint8(image.at(2 * k)) | quint8(image.at(2 * k + 1)) << 8);
        QCOMPARE(w->sender.programWord(0x200 + k), word);
    }
    QVERIFY(log.textsFrom(QStringLiteral("mainwindow"))
                .contains(QStringLiteral("\"Firmware update completed successfully!\"")));
    QTRY_VERIFY_WITH_TIMEOUT(w->statusText() == QStringLiteral("Connected"), 10000);
}

void TestFirmwareUpdate::failingDownload_warnsAndTheDialogOnlyCloses()
{
    LogCapture log;
    w->sender.failNextWrites(100);
    const QString path = writePackage(makePackage(TwoRowHex));
    QString warning;
    // The progress dialog is modal too: answer the first message box that shows over it.
    QTimer watcher;
    connect(&watcher, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box && box->isVisible() && box->icon() == QMessageBox::Warning
            && !box->button(QMessageBox::Cancel)) {
            watcher.stop();
            warning = box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    chooseFile(path, [&] {
        ModalAnswer::expect([&](QWidget *modal) {
            watcher.start(10);
            qobject_cast<QMessageBox *>(modal)->button(QMessageBox::Ok)->click();
        });
    });
    const QString text
        = QStringLiteral("Aborting firmware update.  Failed more than 3 times for state 5");
    QTRY_COMPARE_WITH_TIMEOUT(warning, text, 15000);
    QProgressDialog *progress = w->window->firmwareProgressDialog();
    QVERIFY(progress && progress->isVisible());
    QCOMPARE(progress->labelText(), text);
    QCOMPARE(log.count(QStringLiteral("Firmware update completed successfully!")), 0);
    QVERIFY(w->window->statusBar()->currentMessage()
            != QStringLiteral("Firmware update completed successfully!"));

    w->sender.clearRequests();
    progress->findChild<QPushButton *>()->click();
    QTRY_VERIFY(!w->window->firmwareProgressDialog());
    QTRY_VERIFY(w->sender.requestCommands().contains(Reset));
}

void TestFirmwareUpdate::abort_sendsResetAndRemovesTheDialog()
{
    LogCapture log;
    QByteArray hex;
    for (int row = 0; row < 12; ++row)
        hex += withChecksums(QByteArrayLiteral(":04")
                             + QByteArray::number(row * 128, 16).rightJustified(4, '0').toUpper()
                             + "0011223344FF\n");
    hex += ":00000001FF\r\n";
    const QString path = writePackage(makePackage(hex));
    w->sender.setAnswerDelay(20);
    chooseFile(path, [] {
        ModalAnswer::expect([](QWidget *modal) {
            qobject_cast<QMessageBox *>(modal)->button(QMessageBox::Ok)->click();
        });
    });
    QTRY_VERIFY(w->window->firmwareProgressDialog());
    QProgressDialog *progress = w->window->firmwareProgressDialog();
    QTRY_VERIFY(progress->value() >= 2);
    QVERIFY(progress->value() < 12);
    progress->findChild<QPushButton *>()->click();
    QVERIFY(log.contains(QStringLiteral("!!!!! Firmware update canceled !!!!!")));
    QVERIFY(!w->window->firmwareProgressDialog());
    QTRY_VERIFY(w->sender.requestCommands().contains(Reset));
    QVERIFY(!w->engine()->isFirmwareUpdateRunning());
}

QTEST_MAIN(TestFirmwareUpdate)
#include "tst_firmwareupdate.moc"
