// The firmware update through the main window against the simulated sender: refused and declined
// packages, a vx4pack package written into the sender, a failing download and Abort.
#include "firmwarepackage.h"
#include "modalanswer.h"
#include "senderwindow.h"
#include "vx4protocol.h"

#include <QtTest>
#include <QtWidgets>

using namespace VX4Protocol;

namespace {
// A checksummed data record, CR LF ended.
QByteArray record(quint16 address, const QByteArray &data)
{
    QByteArray bytes = QByteArray(1, char(data.size())) + char(address >> 8) + char(address) + '\0';
    bytes += data;
    quint8 sum = 0;
    for (char c : bytes)
        sum -= quint8(c);
    return ':' + (bytes + char(sum)).toHex().toUpper() + "\r\n";
}

const QByteArray EndRecord = ":00000001FF\r\n";
const QByteArray TwoRows = record(0x80, QByteArray::fromHex("341278569A78BCDE00F011E022D033C0"))
    + record(0x200, QByteArray::fromHex("AA55")) + EndRecord;

QByteArray package(const QByteArray &hex)
{
    FirmwarePackage p;
    p.versionMajor = 2;
    p.versionMinor = 5;
    p.packagedOn = QDateTime(QDate(2026, 11, 30), QTime(14, 5, 9));
    p.hexData = hex;
    p.description = "Faster start-up.";
    p.md5 = packageDigest(p);
    return FirmwarePackageWriter::toBytes(p);
}
} // namespace

class TestFirmwareUpdate : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void refusedOrDeclinedPackage_sendsNothing_data();
    void refusedOrDeclinedPackage_sendsNothing();
    void vx4packPackage_isWrittenAroundTheSendersOtherWords();
    void failingDownload_warnsAndItsDialogThenOnlyCloses();
    void abort_resetsTheSenderAndRemovesTheDialog();

private:
    QString write(const QByteArray &bytes);
    /// Presses Update Firmware and picks `path` (none: cancels); returns the progress dialog.
    QProgressDialog *choose(const QString &path);

    QTemporaryDir dir;
    std::unique_ptr<SenderWindow> w;
    QString startPath; ///< where the last file dialog started
};

void TestFirmwareUpdate::init()
{
    clearSettings();
    w = std::make_unique<SenderWindow>();
    QVERIFY(w->openAndConnect());
    w->sender.clearRequests();
}

QString TestFirmwareUpdate::write(const QByteArray &bytes)
{
    QFile file(dir.filePath("fw.vx4f"));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write a package");
    return file.fileName();
}

QProgressDialog *TestFirmwareUpdate::choose(const QString &path)
{
    w->window->setFileChooser([=](QWidget *, const QString &, const QString &start,
                                  const QString &) { return startPath = start, path; });
    w->ui()->updateFirmButton->click();
    return w->window->firmwareProgressDialog();
}

void TestFirmwareUpdate::refusedOrDeclinedPackage_sendsNothing_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("box"); // none: the confirmation is declined
    const QByteArray good = package(TwoRows);
    const QString badHex = "Corrupted HEX record encountered.  Giving up.";
    QTest::newRow("declined") << good << QString();
    QTest::newRow("little-endian mark")
        << QByteArray(good).replace(0, 4, QByteArray::fromHex("04030201"))
        << "Incorrect file type.";
    QTest::newRow("description changed")
        << QByteArray(good).replace(good.size() - 30, 1, "x") << "File data is corrupt";
    QTest::newRow("cut short") << good.left(good.size() / 2) << "File data is corrupt";
    QTest::newRow("LF alone") << package(QByteArray(TwoRows).replace("\r\n", "\n")) << badHex;
    QTest::newRow("wrong checksum") << package(":0400000001020304F0\r\n" + EndRecord) << badHex;
    QTest::newRow("odd byte count") << package(record(0, "\1\2\3") + EndRecord) << badHex;
    QTest::newRow("no data record") << package(EndRecord) << badHex;
}

void TestFirmwareUpdate::refusedOrDeclinedPackage_sendsNothing()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, box);
    QString seen;
    const bool afterConfirmation
        = box.isEmpty() || box == "Corrupted HEX record encountered.  Giving up.";
    if (afterConfirmation) {
        ModalAnswer::expect([&](QWidget *modal) {
            if (!box.isEmpty())
                ModalAnswer::pressButton(QMessageBox::Ok, &seen);
            auto *confirmation = qobject_cast<QMessageBox *>(modal);
            confirmation->button(box.isEmpty() ? QMessageBox::Cancel : QMessageBox::Ok)->click();
        });
    } else {
        ModalAnswer::pressButton(QMessageBox::Ok, &seen);
    }
    const QString path = write(file);
    QVERIFY(!choose(path));
    QCOMPARE(seen, box);
    QTRY_VERIFY(!w->sender.requests().isEmpty()); // the polls go on; nothing else
    QCOMPARE(w->sender.requestCommands().count(AppQuery), w->sender.requests().size());
    choose(QString()); // the next choice starts at the refused file
    QCOMPARE(startPath, path);
}

void TestFirmwareUpdate::vx4packPackage_isWrittenAroundTheSendersOtherWords()
{
    if (QStringLiteral(OBJCOPY_PATH).isEmpty())
        QSKIP("objcopy is not installed");
    // 424 bytes from byte address 0x400, word 0x200: four rows, the last one in part.
    QByteArray image;
    for (int i = 0; i < 424; ++i)
        image.append(char(i * 37 + 11));
    const QString bin = write(image), hex = dir.filePath("image.hex");
    const QString path = dir.filePath("image.vx4f");
    QCOMPARE(QProcess::execute(
                 OBJCOPY_PATH,
                 { "-I", "binary", "-O", "ihex", "--change-addresses", "0x400", bin, hex }),
             0);
    QCOMPARE(QProcess::execute(VX4PACK_PATH,
                               { "--version", "3.1", "--description", "Bench image", "--date",
                                 "2026-11-30T14:05:09", "-o", path, hex }),
             0);
    w->sender.setProgramWord(0x2F0, 0xBEEF);
    w->sender.failNextWrites(3); // a row may fail three times
    QSignalSpy status(w->window->statusBar(), &QStatusBar::messageChanged);
    QString confirmation;
    ModalAnswer::pressButton(QMessageBox::Ok, &confirmation);
    QProgressDialog *progress = choose(path);
    QCOMPARE(confirmation,
             QString("Orvelle® Firmware Update:  Version 3.1\nPackaged on:  %1\nMD5 hash:  %2\n\n"
                     "Bench image\n")
                 .arg(QDateTime(QDate(2026, 11, 30), QTime(14, 5, 9)).toString(Qt::TextDate),
                      FirmwarePackageReader::read(path).package.md5.toHex()));
    QVERIFY(progress && progress->maximum() == 4);
    QTRY_VERIFY_WITH_TIMEOUT(status.contains({ "Firmware update completed successfully!" }), 15000);
    QTRY_COMPARE(w->sender.eeprom(EepromBootFlagAddress), EepromBootFlagValid);
    for (int k = 0; k < image.size() / 2; ++k) // low byte first
        QCOMPARE(w->sender.programWord(0x200 + k),
                 quint16(quint8(image[2 * k]) | quint8(image[2 * k + 1]) << 8));
    QCOMPARE(w->sender.programWord(0x2F0), 0xBEEF);
    QVERIFY(!progress->isVisible() && w->waitForStatus("Connected"));
}

void TestFirmwareUpdate::failingDownload_warnsAndItsDialogThenOnlyCloses()
{
    w->sender.failNextWrites(100);
    ModalAnswer::pressButton(QMessageBox::Ok);
    QProgressDialog *progress = choose(write(package(TwoRows)));
    QVERIFY(progress);
    QString warning;
    ModalAnswer::pressButton(QMessageBox::Ok, &warning, nullptr, 15000);
    const QString text = "Aborting firmware update.  Failed more than 3 times for state 5";
    QTRY_COMPARE_WITH_TIMEOUT(warning, text, 15000);
    QVERIFY(progress->isVisible() && progress->labelText() == text);
    progress->findChild<QPushButton *>()->click();
    QTRY_VERIFY(!w->window->firmwareProgressDialog());
    QTRY_VERIFY(w->sender.requestCommands().contains(Reset));
}

void TestFirmwareUpdate::abort_resetsTheSenderAndRemovesTheDialog()
{
    QByteArray hex;
    for (int row = 0; row < 12; ++row)
        hex += record(quint16(row * 128), QByteArray::fromHex("11223344"));
    w->sender.setAnswerDelay(20);
    ModalAnswer::pressButton(QMessageBox::Ok);
    QProgressDialog *progress = choose(write(package(hex + EndRecord)));
    QVERIFY(progress);
    QTRY_VERIFY(progress->value() >= 2);
    QVERIFY(progress->value() < 12);
    progress->findChild<QPushButton *>()->click();
    QVERIFY(!w->window->firmwareProgressDialog());
    QTRY_VERIFY(w->sender.requestCommands().contains(Reset));
    QCOMPARE(w->sender.eeprom(EepromBootFlagAddress), EepromBootFlagInvalid);
}

QTEST_MAIN(TestFirmwareUpdate)
#include "tst_firmwareupdate.moc"
