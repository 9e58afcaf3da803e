// Firmware files: a package's HEX text to the rows of a download, or the line and what is wrong;
// objcopy's HEX files read and packed by vx4pack; package files as the writer lays them out and
// vx4pack writes them, and the reader refusing every damaged one.
#include "firmwareimage.h"
#include "firmwarepackage.h"
#include "hexrecord.h"
#include "intelhex.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <sys/resource.h>

using Reader = FirmwarePackageReader;
using Words = QList<QPair<quint32, quint32>>; ///< (word address, word)

namespace {

const QByteArray Eof = ":00000001FF";
const QByteArray End = "\r\n" + Eof; // the line end of the last data record, and the end record
const QByteArray Word0 = hexRecord(0, 0, "3412cdab"); // words 0x1234, 0xABCD at word address 0
const Words Words0 { { 0, 0x1234 }, { 1, 0xABCD } };

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

/// Runs a program to its end: its exit code (-1 when it did not end normally) and error output.
QPair<int, QString> run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    const bool ended
        = process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit;
    return { ended ? process.exitCode() : -1,
             QString::fromLocal8Bit(process.readAllStandardError()) };
}

const QByteArray SampleHex = ":00000001FF\r\n";
const QDateTime SampleDate(QDate(2024, 3, 1), QTime(10, 20, 30));

QByteArray samplePackage(qint32 formatVersion = FirmwarePackage::FormatVersion)
{
    FirmwarePackage package;
    package.formatVersion = formatVersion;
    package.versionMajor = 2;
    package.versionMinor = 5;
    package.packagedOn = SampleDate;
    package.hexData = SampleHex;
    package.description = QStringLiteral("Zé");
    package.md5 = packageDigest(package);
    return FirmwarePackageWriter::toBytes(package);
}

} // namespace

class TestFirmwareFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void hexText_givesTheWordsOrTheReason_data();
    void hexText_givesTheWordsOrTheReason();
    void objcopyHex_readsAndPacksAsItsBinary_data();
    void objcopyHex_readsAndPacksAsItsBinary();
    void writer_laysTheFieldsOutBigEndian();
    void vx4pack_refusesWhatTheUtilityWouldRefuse_data();
    void vx4pack_refusesWhatTheUtilityWouldRefuse();
    void packageBytes_areReadOnlyWhenIntact_data();
    void packageBytes_areReadOnlyWhenIntact();
    void packageFile_unreadableOrOversized_isRefused();

private:
    QString path(const char *name) const { return dir->filePath(QLatin1String(name)); }
    std::unique_ptr<QTemporaryDir> dir;
};

void TestFirmwareFiles::initTestCase()
{
#if !defined(__SANITIZE_ADDRESS__)
    // A length claim of gigabytes that the reader believed now fails to allocate.
    rlimit limit;
    QVERIFY(getrlimit(RLIMIT_AS, &limit) == 0);
    limit.rlim_cur = rlim_t(2) << 30;
    QVERIFY(setrlimit(RLIMIT_AS, &limit) == 0 && !std::malloc(size_t(3) << 30));
#endif
}

void TestFirmwareFiles::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestFirmwareFiles::hexText_givesTheWordsOrTheReason_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Words>("words"); // of the rows, in order
    QTest::addColumn<QString>("reason"); // part of the refusal; empty: the image loads

    const auto loads = [](const char *name, const QByteArray &text, const Words &words) {
        QTest::newRow(name) << text << words << QString();
    };
    loads("CR LF, lower case", Word0.toLower() + End + "\r\n", Words0);
    loads("CR CR LF", Word0 + "\r\r\n" + Eof + "\r\r\n", Words0);
    loads("last record ended by LF alone", Word0 + "\r\n" + Eof + "\n", Words0);
    loads("blanks after the checksum, empty lines", "\r\n" + Word0 + " \t\r\n\r\n\n\r\n" + Eof,
          Words0);
    loads("records out of order", hexRecord(0, 0x82, "7856") + "\r\n" + Word0 + End,
          Words0 + Words { { 0x41, 0x5678 } });
    // Words 0x13F and 0x140 are the last of one row and the first of the next.
    loads("two rows", hexRecord(0, 0x27E, "cdab0102") + End,
          { { 0x13F, 0xABCD }, { 0x140, 0x0201 } });
    loads("the last word of the word space",
          hexRecord(4, 0, "01FF") + "\r\n" + hexRecord(0, 0xFFFE, "3412") + End,
          { { 0xFFFFFF, 0x1234 } });
    loads("segment address, odd paragraph",
          ":020000020123D8\r\n" + hexRecord(0, 0x10, "3412") + End, { { 0x920, 0x1234 } });
    loads("other record types are passed over", hexRecord(5, 0, "00001234") + "\r\n" + Word0 + End,
          Words0);

    const auto refused = [](const char *name, const QByteArray &text, const QString &reason) {
        QTest::newRow(name) << text << Words() << reason;
    };
    const QString line2 = QStringLiteral("Line 2 of the firmware image: ");
    const QString lone = QStringLiteral("a line ends with a lone CR or LF and another record");
    refused("LF alone between records", Word0 + "\n" + Eof + "\r\n",
            "Line 1 of the firmware image: " + lone);
    refused("CR alone between records", Eof + "\r\n" + Word0 + "\r" + Eof, line2 + lone);
    refused("two records on a line", "\r\n" + Word0 + Eof + "\r\n",
            line2 + "there is more after the record's checksum");
    refused("byte at 0x2000000", hexRecord(4, 0, "0200") + "\r\n" + hexRecord(0, 0, "3412") + End,
            line2 + "the data record puts a byte at address 0x2000000, beyond");
    refused("record wrapping past 0xffffffff",
            hexRecord(4, 0, "FFFF") + "\r\n" + hexRecord(0, 0xFFFF, "3412") + End,
            line2 + "the data record runs past the highest address, 0xffffffff.");
    refused("no end-of-file record", Word0 + "\r\n", "no end-of-file record");
    refused("no data", Eof, "no program data");
    // Refused at once, at the line that gives it again.
    refused("a byte twice", Word0 + "\r\n" + hexRecord(0, 2, "cdab") + End,
            line2 + "the record gives the byte at address 0x2 more than once");
    refused("odd number of bytes", hexRecord(0, 0, "010203") + End, "an odd number of bytes (3)");
    refused("low byte missing", hexRecord(0, 0x201, "0102") + End,
            "0x201 without its partner at address 0x200");
    refused("wrong checksum", Eof + "\r\n:0100200001DD\r\n",
            line2 + "the record's checksum is DD, but its contents call for DE");
    // A record that does not read names the first field that fails.
    // clang-format off
    for (const auto &[record, field] : QList<QPair<const char *, const char *>> {
             { " :00000001FF", "it does not start with ':'" }, { ":G0000001FF", "its byte count" },
             { ":0", "its byte count" }, { ":00+00001FF", "its load address" },
             { ":000000Z1FF", "its record type" }, { ":0200000012G4E9", "it holds fewer data" },
             { ":02000000AB", "it holds fewer data" }, { ":02000000ABCD", "its checksum after" },
             { ":0100000001", "its checksum after" } })
        // clang-format on
        refused(record, "\r\n" + QByteArray(record), line2 + field);
    refused("extended address of one byte", "\r\n" + hexRecord(4, 0, "01"),
            line2 + "the extended address record must hold 2 data bytes");
    // Refused for its size alone: as text it holds nothing but empty lines.
    refused("longer than a full image", QByteArray(FirmwareImage::MaxTextSize + 1, '\n'),
            QStringLiteral("is %1 bytes of HEX text").arg(FirmwareImage::MaxTextSize + 1));
}

void TestFirmwareFiles::hexText_givesTheWordsOrTheReason()
{
    QFETCH(QByteArray, text);
    QFETCH(Words, words);
    QFETCH(QString, reason);
    const FirmwareImage image = FirmwareImage::fromHex(text);
    QVERIFY2(reason.isEmpty() ? image.error.isEmpty() : image.error.contains(reason),
             qPrintable(image.error));
    Words loaded;
    for (const ProgramMemoryRow &row : image.rows) {
        QCOMPARE(row.address % 64, 0u);
        for (qsizetype i = 0; i < row.words.size(); ++i) {
            if (row.words.at(i) != ProgramMemoryRow::NoData)
                loaded.append({ row.address + quint32(i), row.words.at(i) });
        }
    }
    QCOMPARE(loaded, words);
}

void TestFirmwareFiles::objcopyHex_readsAndPacksAsItsBinary_data()
{
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("size");
    QTest::newRow("low, segment records") << 0x8000u << 150000;
    QTest::newRow("high, linear records") << 0x1FFF0u << 70000;
    QTest::newRow("beyond 1 MB") << 0x100000u << 4096;
}

void TestFirmwareFiles::objcopyHex_readsAndPacksAsItsBinary()
{
    // Looked for when the test runs: a machine may build the suite without binutils.
    const QString objcopy = QStandardPaths::findExecutable(QStringLiteral("objcopy"));
    if (objcopy.isEmpty())
        QSKIP("objcopy is not installed (Debian package binutils), so its HEX files go unchecked");
    QFETCH(quint32, address);
    QFETCH(int, size);
    QByteArray binary(size, Qt::Uninitialized);
    QRandomGenerator generator(4711);
    for (char &byte : binary)
        byte = char(generator.bounded(256));
    QVERIFY(writeFile(path("image.bin"), binary));
    QCOMPARE(run(objcopy,
                 { "-I", "binary", "-O", "ihex", "--change-addresses", QString::number(address),
                   path("image.bin"), path("image.hex") }),
             qMakePair(0, QString()));
    const IntelHex hex(path("image.hex"));
    QVERIFY(hex.fileValid && hex.endOfFileSeen && hex.bytes.size() == size);
    for (int i = 0; i < size; ++i)
        QCOMPARE(hex.bytes.at(i), IntelHex::Entry(address + i, quint8(binary.at(i))));

    QCOMPARE(run(VX4PACK_PATH, { "--version", "1.7", "-o", path("out.vx4f"), path("image.hex") }),
             qMakePair(0, QString()));
    const Reader::Result package = Reader::read(path("out.vx4f"));
    QCOMPARE(package.status, Reader::Ok);
    QVERIFY(qAbs(package.package.packagedOn.secsTo(QDateTime::currentDateTime())) < 600);
    QFile file(path("image.hex"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(package.package.hexData, file.readAll());
}

void TestFirmwareFiles::writer_laysTheFieldsOutBigEndian()
{
    // Mark, format 12, version, Julian day, ms of the day, local time, HEX text, UTF-16 text, the
    // MD5 of all before it.
    QCOMPARE(samplePackage().toHex(),
             QByteArray("010203040000000c0000000200000005"
                        "00258ad3023815b0ff"
                        "0000000d3a303030303030303146460d0a"
                        "00000004005a00e9"
                        "00000010fc31a03ee7cf91b85647b87cb7fdbb0e"));
}

void TestFirmwareFiles::vx4pack_refusesWhatTheUtilityWouldRefuse_data()
{
    QTest::addColumn<QByteArray>("hex"); // null: no HEX file
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error"); // empty: written
    const QByteArray good
        = hexRecord(0, 8, "0304") + "\n" + hexRecord(0, 0, "0102") + "\n:00000001FF";
    const QStringList v25 { "--version", "2.5" };
    QTest::newRow("no version") << good << QStringList() << "--version MAJOR.MINOR";
    QTest::newRow("version without minor")
        << good << QStringList { "--version", "2" } << "version \"2\" is not MAJOR.MINOR";
    QTest::newRow("bad date") << good << v25 + QStringList { "--date", "March" }
                              << "date \"March\"";
    // The image checks are those of the download, with the line named.
    QTest::newRow("wrong checksum") << QByteArray(":0200000001020A\r\n:00000001FF") << v25
                                    << "Line 1 of the firmware image: the record's checksum is 0A";
    QTest::newRow("whole words, unsorted, LF") << good << v25 << "";
    QTest::newRow("no HEX file") << QByteArray() << v25 << "cannot read";
    QTest::newRow("unchecked") << QByteArray(":0200000001020A\r\n")
                               << v25 + QStringList { "--no-check" } << "";
}

void TestFirmwareFiles::vx4pack_refusesWhatTheUtilityWouldRefuse()
{
    QFETCH(QByteArray, hex);
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QVERIFY(hex.isNull() || writeFile(path("image.hex"), hex));
    const auto [exitCode, errors]
        = run(VX4PACK_PATH, arguments << "-o" << path("out.vx4f") << path("image.hex"));
    QVERIFY2(error.isEmpty() ? errors.isEmpty() : errors.contains(error), qPrintable(errors));
    QCOMPARE(exitCode, error.isEmpty() ? 0 : 1);
    const Reader::Result written = Reader::read(path("out.vx4f"));
    QCOMPARE(written.status, error.isEmpty() ? Reader::Ok : Reader::CannotOpen);
    QVERIFY(!error.isEmpty()
            || (written.package.versionMajor == 2 && written.package.versionMinor == 5));
}

void TestFirmwareFiles::packageBytes_areReadOnlyWhenIntact_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");
    const QByteArray intact = samplePackage();
    QTest::newRow("intact") << intact << int(Reader::Ok);
    QTest::newRow("other format version") << samplePackage(7) << int(Reader::Ok);
    // Older writers mark local time as standard (0) or daylight saving (1) time, not unknown.
    for (char mark : { '\0', '\1' }) {
        QByteArray older = intact.chopped(16).replace(24, 1, &mark, 1);
        QTest::addRow("local time mark %d", mark)
            << older + QCryptographicHash::hash(older.chopped(4), QCryptographicHash::Md5)
            << int(Reader::Ok);
    }
    for (qsizetype i = 0; i < intact.size(); ++i) {
        for (char flip : { '\x01', '\x80' }) {
            QByteArray changed = intact;
            changed[i] = char(changed.at(i) ^ flip);
            QTest::addRow("byte %d ^ %02x", int(i), quint8(flip))
                << changed << int(i < 4 ? Reader::WrongType : Reader::Corrupt);
        }
        QTest::addRow("cut to %d bytes", int(i))
            << intact.left(i) << int(i < 4 ? Reader::WrongType : Reader::Corrupt);
    }
    const qsizetype descriptionAt = 29 + SampleHex.size();
    const qsizetype digestAt = intact.size() - 20;
    // clang-format off
    const QList<QPair<qsizetype, quint32>> claims { { 25, 0xFFFFFFF0 }, { 25, 0x80000000 },
        { descriptionAt, 0xFFFFFFFE }, { descriptionAt, 0x7FFFFFFF }, { digestAt, 0xFFFFFFF0 } };
    // clang-format on
    for (const auto &[offset, claim] : claims) {
        QByteArray huge = intact;
        qToBigEndian(claim, huge.data() + offset);
        QTest::addRow("length at %d claims %x", int(offset), claim) << huge << int(Reader::Corrupt);
    }
}

void TestFirmwareFiles::packageBytes_areReadOnlyWhenIntact()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    const Reader::Result result = Reader::fromBytes(bytes);
    QCOMPARE(int(result.status), status);
    if (status == Reader::Ok) {
        QCOMPARE(result.package.packagedOn, SampleDate);
        QCOMPARE(result.package.hexData, SampleHex);
    }
}

void TestFirmwareFiles::packageFile_unreadableOrOversized_isRefused()
{
    QCOMPARE(Reader::read(path("absent.vx4f")).status, Reader::CannotOpen);
    QCOMPARE(Reader::read(dir->path()).status, Reader::CannotOpen);
    QFile file(path("big.vx4f"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(samplePackage()) > 0);
    QVERIFY(file.resize(Reader::MaxFileSize + 1)); // sparse: nothing is written for the tail
    file.close();
    QCOMPARE(Reader::read(file.fileName()).status, Reader::Corrupt);
}

QTEST_GUILESS_MAIN(TestFirmwareFiles)
#include "tst_firmwarefiles.moc"
