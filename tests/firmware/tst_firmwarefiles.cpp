// Firmware files: Intel HEX records to image, words and rows (failures field by field, objcopy's
// output), the image checks, and package files as vx4pack writes them and the reader refuses them.
#include "firmwarepackage.h"
#include "hexrecord.h"
#include "intelhex.h"
#include "logcapture.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <sys/resource.h>

using Entries = IntelHex::EntryList;
using Reader = FirmwarePackageReader;

namespace {

/// One Intel HEX record with its checksum, without a line end.
QString record(quint8 type, quint16 address, const char *hexData)
{
    return QString::fromLatin1(hexRecord(type, address, hexData));
}

/// Image bytes from `address` on.
Entries at(quint32 address, const QByteArray &bytes)
{
    Entries entries;
    for (char byte : bytes)
        entries.append({ address++, quint8(byte) });
    return entries;
}
Entries at(quint32 address, const char *hexBytes)
{
    return at(address, QByteArray::fromHex(hexBytes));
}

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(4711);
    for (char &byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

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

const QByteArray SampleHex
    = (record(0, 0, "00000400") + "\r\n" + record(0, 4, "3412cdab") + "\r\n:00000001FF\r\n")
          .toLatin1();
const QDateTime SampleDate(QDate(2024, 3, 1), QTime(10, 20, 30));

QByteArray samplePackage(qint32 formatVersion = FirmwarePackage::FormatVersion)
{
    FirmwarePackage package;
    package.formatVersion = formatVersion;
    package.versionMajor = 2;
    package.versionMinor = 5;
    package.packagedOn = SampleDate;
    package.hexData = SampleHex;
    package.description = QStringLiteral("Zero drift fixed. Grüße");
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
    void hexFile_givesTheImageOrFailsAtTheBadField_data();
    void hexFile_givesTheImageOrFailsAtTheBadField();
    void bytes_pairLowByteFirstIntoRowsOf64();
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

void TestFirmwareFiles::hexFile_givesTheImageOrFailsAtTheBadField_data()
{
    QTest::addColumn<QStringList>("lines"); // a file, the lines ended by CR LF
    QTest::addColumn<Entries>("image");
    QTest::addColumn<QStringList>("logged"); // empty: the file is valid
    QTest::newRow("lower case, text after the checksum")
        << QStringList { ":0300300002337a1e;junk" } << at(0x30, "02337a") << QStringList();
    QTest::newRow("NUL ends the record")
        << QStringList { QStringLiteral(":0100000055AA\0ZZ") } << at(0, "55") << QStringList();
    QTest::newRow("other types and records after the end")
        << QStringList { record(5, 0, "00001234"), ":00000001FF", record(0, 4, "01") }
        << at(4, "01") << QStringList();
    QTest::newRow("linear address, wrapping")
        << QStringList { record(0, 2, "11"), record(4, 0, "0001"), record(0, 0xFFFF, "3344") }
        << at(2, "11") + at(0x1FFFF, "3344") << QStringList();
    QTest::newRow("linear address, high")
        << QStringList { ":02000004ABCD82", record(0, 0x10, "22") } << at(0xABCD0010, "22")
        << QStringList();
    QTest::newRow("segment address") << QStringList { ":020000021000EC", record(0, 0x10, "22") }
                                     << at(0x10010, "22") << QStringList();
    QTest::newRow("segment address, odd paragraph")
        << QStringList { ":020000020123D8", record(0, 0x10, "22") } << at(0x1240, "22")
        << QStringList();
    QTest::newRow("out of order, blank lines, LF and CR alone")
        << QStringList { record(0, 4, "0506") + "\n" + record(0, 0, "0102"), "",
                         record(0, 2, "0304") + "\r:00000001FF" }
        << at(0, "010203040506") << QStringList();

    // A bad record fails the file, keeping what came before it, and the log names the field.
    const auto bad = [](const char *name, const QString &text, const QStringList &logged) {
        QTest::newRow(name) << QStringList { record(4, 0, "0002"), record(0, 0x10, "aa"), text,
                                             record(0, 0x20, "cc") }
                            << at(0x20010, "aa") << logged;
    };
    const auto field = [&](const char *name, const QString &text, const char *what) {
        bad(name, text,
            { QStringLiteral("Invalid %1 HEX record: \"%2\"").arg(QLatin1String(what), text),
              "Error converting HEX record to QList<quint32>." });
    };
    field("no colon", "00000001FF", "start to");
    field("count not hex", ":G0000001FF", "byte count in");
    field("count cut", ":0", "byte count in");
    field("address signed", ":00+00001FF", "address in");
    field("address cut", ":00000", "address in");
    field("type not hex", ":000000Z1FF", "record type in");
    field("data not hex", ":0200000012G4E9", "data byte in");
    field("count beyond the data", ":FF000000ABCD", "data byte in");
    field("count one beyond the data", ":02000000ABCD", "checksum in");
    field("checksum missing", ":0100000001", "checksum in");
    bad("checksum wrong", ":0100200001DD", { "HEX record as QList<quint32> failed check." });
    for (const QString &text : { record(4, 0, "01"), record(2, 0, "") })
        bad("address record short", text,
            { "Extended address record without its two address bytes: \"" + text + "\"" });
}

void TestFirmwareFiles::hexFile_givesTheImageOrFailsAtTheBadField()
{
    QFETCH(QStringList, lines);
    QFETCH(Entries, image);
    QFETCH(QStringList, logged);
    QVERIFY(writeFile(path("image.hex"), lines.join(QStringLiteral("\r\n")).toLatin1()));
    LogCapture log;
    const IntelHex hex(path("image.hex"));
    QCOMPARE(log.textsFrom(QStringLiteral("intelhex")), logged);
    QCOMPARE(hex.fileValid, logged.isEmpty());
    QCOMPARE(hex.bytes, image);
}

void TestFirmwareFiles::bytes_pairLowByteFirstIntoRowsOf64()
{
    LogCapture log;
    const Entries words = IntelHex::toWords(at(0x200, "3412") + at(0x27E, "cdab010203"));
    QCOMPARE(words, (Entries { { 0x100, 0x1234 }, { 0x13F, 0xABCD }, { 0x140, 0x0201 } }));
    QCOMPARE(log.texts(),
             QStringList { "Odd byte at the end of the image left out of the words: \"0x282\"" });

    ProgramMemoryRow first(64), second(64);
    first.address = 0x100;
    first.words[0] = 0x1234;
    first.words[63] = 0xABCD;
    second.address = 0x140;
    second.words[0] = 0x0201;
    QCOMPARE(IntelHex::toRows(words), (QList<ProgramMemoryRow> { first, second }));
    QCOMPARE(IntelHex::toRows({}), QList<ProgramMemoryRow> { ProgramMemoryRow(64) });
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
    const QByteArray binary = randomBytes(size);
    QVERIFY(writeFile(path("image.bin"), binary));
    QCOMPARE(run(objcopy,
                 { "-I", "binary", "-O", "ihex", "--change-addresses", QString::number(address),
                   path("image.bin"), path("image.hex") }),
             qMakePair(0, QString()));
    const IntelHex hex(path("image.hex"));
    QVERIFY(hex.fileValid && hex.endOfFileSeen);
    QCOMPARE(hex.bytes, at(address, binary));

    QCOMPARE(run(VX4PACK_PATH, { "--version", "1.7", "-o", path("out.vx4f"), path("image.hex") }),
             qMakePair(0, QString()));
    const Reader::Result package = Reader::read(path("out.vx4f"));
    QCOMPARE(package.status, Reader::Ok);
    QVERIFY(qAbs(package.package.packagedOn.secsTo(QDateTime::currentDateTime())) < 600);
    IntelHex packed;
    QVERIFY(packed.parseLines(QString::fromLatin1(package.package.hexData).split("\r\n")));
    QCOMPARE(packed.bytes, hex.bytes);
}

void TestFirmwareFiles::writer_laysTheFieldsOutBigEndian()
{
    FirmwarePackage package;
    package.versionMajor = 2;
    package.versionMinor = 5;
    package.packagedOn = SampleDate;
    package.hexData = ":00000001FF\r\n";
    package.description = QStringLiteral("Zé");
    const QByteArray bytes = FirmwarePackageWriter::toBytes(package);
    // Mark, format 12, version, Julian day, ms of the day, local time, HEX text, UTF-16 text.
    QCOMPARE(bytes.toHex(),
             QByteArray("010203040000000c0000000200000005"
                        "00258ad3023815b0ff"
                        "0000000d3a303030303030303146460d0a"
                        "00000004005a00e9"
                        "ffffffff"));
    package.md5 = packageDigest(package);
    QCOMPARE(FirmwarePackageWriter::toBytes(package),
             bytes.chopped(4) + QByteArray::fromHex("00000010")
                 + QCryptographicHash::hash(bytes.chopped(4), QCryptographicHash::Md5));
}

void TestFirmwareFiles::vx4pack_refusesWhatTheUtilityWouldRefuse_data()
{
    QTest::addColumn<QString>("hex"); // null: no HEX file
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error"); // empty: written
    const QString good = record(0, 0, "0102") + "\r\n:00000001FF\r\n";
    const QStringList v25 { "--version", "2.5" };
    QTest::newRow("no version") << good << QStringList() << "--version MAJOR.MINOR";
    QTest::newRow("version without minor")
        << good << QStringList { "--version", "2" } << "version \"2\" is not MAJOR.MINOR";
    QTest::newRow("bad date") << good << v25 + QStringList { "--date", "March" }
                              << "date \"March\"";
    QTest::newRow("wrong checksum") << ":0200000001020A\r\n:00000001FF" << v25
                                    << "Line 1 of the firmware image: the record's checksum is 0A";
    QTest::newRow("odd image") << record(0, 0, "010203") + "\r\n:00000001FF" << v25 << "odd number";
    QTest::newRow("no end of file") << record(0, 0, "0102") << v25 << "no end-of-file record";
    QTest::newRow("no data") << ":00000001FF" << v25 << "no program data";
    const QString end = "\r\n:00000001FF";
    QTest::newRow("address twice") << record(0, 0x10, "0102") + "\r\n" + record(0, 0x11, "0304")
            + end << v25 << "0x11 more than once";
    QTest::newRow("high byte missing") << record(0, 0x10, "01") + "\r\n" + record(0, 0x12, "010203")
            + end << v25 << "0x10 without its partner at address 0x11";
    QTest::newRow("low byte missing")
        << record(0, 0x201, "0102") + end << v25 << "0x201 without its partner at address 0x200";
    QTest::newRow("whole words, unsorted")
        << record(0, 8, "0304") + "\r\n" + record(0, 0, "0102") + end << v25 << "";
    QTest::newRow("no HEX file") << QString() << v25 << "cannot read";
    QTest::newRow("unchecked") << ":0200000001020A\r\n" << v25 + QStringList { "--no-check" } << "";
}

void TestFirmwareFiles::vx4pack_refusesWhatTheUtilityWouldRefuse()
{
    QFETCH(QString, hex);
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    QVERIFY(hex.isNull() || writeFile(path("image.hex"), hex.toLatin1()));
    const auto [exitCode, errors]
        = run(VX4PACK_PATH, arguments << "-o" << path("out.vx4f") << path("image.hex"));
    QVERIFY2(error.isEmpty() ? errors.isEmpty() : errors.contains(error), qPrintable(errors));
    QCOMPARE(exitCode, error.isEmpty() ? 0 : 1);
    QCOMPARE(Reader::read(path("out.vx4f")).status,
             error.isEmpty() ? Reader::Ok : Reader::CannotOpen);
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
    QTest::newRow("mark reversed")
        << QByteArray(intact).replace(0, 4, "\4\3\2\1") << int(Reader::WrongType);
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
    const QList<QPair<qsizetype, quint32>> claims { { 25, 0xFFFFFFF0 },
                                                    { 25, 0x80000000 },
                                                    { descriptionAt, 0xFFFFFFFE },
                                                    { descriptionAt, 0x7FFFFFFF },
                                                    { digestAt, 0xFFFFFFF0 } };
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
    QVERIFY(writeFile(file.fileName(), samplePackage().chopped(1)));
    QCOMPARE(Reader::read(file.fileName()).status, Reader::Corrupt);
}

QTEST_GUILESS_MAIN(TestFirmwareFiles)
#include "tst_firmwarefiles.moc"
