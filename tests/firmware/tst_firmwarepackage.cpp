// Firmware package files: the byte layout, vx4pack round trips, and every way a file can be
// refused (wrong mark, altered or cut file, huge length claims, records not ended by CR LF).
#include "firmwarepackage.h"
#include "hextestdata.h"
#include "intelhex.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cstdlib>
#include <functional>
#include <new>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define VX4_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VX4_ASAN 1
#endif
#endif

using HexTestData::record;
using Reader = FirmwarePackageReader;

namespace {

const QByteArray SampleHex
    = (record(0, 0x0000, QByteArray::fromHex("00000400")) + "\r\n"
       + record(0, 0x0004, QByteArray::fromHex("3412cdab")) + "\r\n" + ":00000001FF\r\n")
          .toLatin1();

FirmwarePackage samplePackage()
{
    FirmwarePackage package;
    package.versionMajor = 2;
    package.versionMinor = 5;
    package.packagedOn = QDateTime(QDate(2024, 3, 1), QTime(10, 20, 30));
    package.hexData = SampleHex;
    package.description = QStringLiteral("Zero drift fixed.\nGrüße");
    package.md5 = packageDigest(package);
    return package;
}

quint32 bigEndianAt(const QByteArray &bytes, qsizetype offset)
{
    return qFromBigEndian<quint32>(bytes.constData() + offset);
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

struct PackRun
{
    int exitCode = -1;
    QString errors;
};

PackRun runVx4pack(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(VX4PACK_PATH), arguments);
    PackRun run;
    if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.errors = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

#ifndef VX4_ASAN
// Runs `job` in a child whose address space is capped a little above its present size, so an
// allocation of gigabytes fails there. 0: job passed, 1: job failed, 2: bad_alloc, 3: cap had
// no effect.
int runWithAddressSpaceCap(const std::function<bool()> &job)
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const rlim_t present
        = statm.readAll().split(' ').first().toULongLong() * rlim_t(sysconf(_SC_PAGESIZE));
    const rlim_t cap = present + (rlim_t(512) << 20);

    const pid_t child = fork();
    if (child == 0) {
        const rlimit limit { cap, cap };
        setrlimit(RLIMIT_AS, &limit);
        void *probe = std::malloc(size_t(4) << 30);
        if (probe)
            _exit(3);
        try {
            _exit(job() ? 0 : 1);
        } catch (const std::bad_alloc &) {
            _exit(2);
        }
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}
#endif

} // namespace

class TestFirmwarePackage : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void writer_laysFieldsOutByteForByte();
    void nullFields_areWrittenAsAllOnesLengths();
    void vx4pack_roundTripsVersionDateDescriptionAndImage();
    void vx4pack_packsObjcopyHexIntoTheSameBytes();
    void vx4pack_refusesBadInput_data();
    void vx4pack_refusesBadInput();
    void vx4pack_helpDocumentsTheOptions();
    void unreadablePath_cannotOpen_data();
    void unreadablePath_cannotOpen();
    void reversedMark_isWrongType();
    void changedByteAnywhere_isRefused();
    void cutAtEveryLength_isRefused();
    void otherFormatVersion_isAcceptedWhenTheDigestMatches();
    void localTimeMarkOfOlderWriters_isAccepted();
    void claimOfHugeArray_isCorruptWithoutAllocating_data();
    void claimOfHugeArray_isCorruptWithoutAllocating();
    void oversizedFile_isCorrupt();
    void hexLineEnds_mustBeCrLf_data();
    void hexLineEnds_mustBeCrLf();

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString path(const char *name) const { return dir->filePath(QLatin1String(name)); }
};

void TestFirmwarePackage::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestFirmwarePackage::writer_laysFieldsOutByteForByte()
{
    const FirmwarePackage package = samplePackage();
    const QByteArray bytes = FirmwarePackageWriter::toBytes(package);
    const qsizetype hexSize = package.hexData.size();
    const qsizetype textSize = package.description.size() * 2;
    QCOMPARE(bytes.size(), 53 + hexSize + textSize);

    QCOMPARE(bytes.left(16).toHex(), QByteArray("010203040000000c0000000200000005"));
    QCOMPARE(bigEndianAt(bytes, 16), quint32(QDate(2024, 3, 1).toJulianDay()));
    QCOMPARE(bigEndianAt(bytes, 20), quint32((10 * 3600 + 20 * 60 + 30) * 1000));
    QCOMPARE(quint8(bytes.at(24)), quint8(0xFF)); // local time
    QCOMPARE(bigEndianAt(bytes, 25), quint32(hexSize));
    QCOMPARE(bytes.mid(29, hexSize), package.hexData);
    QCOMPARE(bigEndianAt(bytes, 29 + hexSize), quint32(textSize));
    QCOMPARE(bytes.mid(33 + hexSize, 4).toHex(), QByteArray("005a0065")); // "Ze", UTF-16 BE
    const qsizetype digestAt = 33 + hexSize + textSize;
    QCOMPARE(bigEndianAt(bytes, digestAt), 16u);
    QCOMPARE(bytes.mid(digestAt + 4),
             QCryptographicHash::hash(bytes.left(digestAt), QCryptographicHash::Md5));
    QCOMPARE(package.md5, bytes.mid(digestAt + 4));
}

void TestFirmwarePackage::nullFields_areWrittenAsAllOnesLengths()
{
    FirmwarePackage package;
    const QByteArray bytes = FirmwarePackageWriter::toBytes(package);
    QCOMPARE(bytes.toHex(),
             QByteArray("01020304"
                        "0000000c"
                        "ffffffff"
                        "ffffffff" // mark, format, version
                        "00000000"
                        "ffffffff"
                        "ff" // null date and time, local
                        "ffffffff"
                        "ffffffff"
                        "ffffffff")); // HEX text, description, digest
}

void TestFirmwarePackage::vx4pack_roundTripsVersionDateDescriptionAndImage()
{
    // Written with line feeds alone and a blank line: the package must hold CR LF records.
    const QByteArray lfHex
        = QByteArray(SampleHex).replace("\r\n", "\n").replace(":0000", "\n:0000");
    QVERIFY(writeFile(path("image.hex"), lfHex));
    const QString description = QStringLiteral("Zero drift fixed. Grüße, µ");
    const PackRun run
        = runVx4pack({ "--version", "2.5", "--description", description, "--date",
                       "2024-03-01T10:20:30", "-o", path("out.vx4f"), path("image.hex") });
    QCOMPARE(run.errors, QString());
    QCOMPARE(run.exitCode, 0);

    const Reader::Result result = Reader::read(path("out.vx4f"));
    QCOMPARE(result.status, Reader::Ok);
    const FirmwarePackage &package = result.package;
    QCOMPARE(package.magic, FirmwarePackage::Magic);
    QCOMPARE(package.formatVersion, 12);
    QCOMPARE(package.versionMajor, 2);
    QCOMPARE(package.versionMinor, 5);
    QCOMPARE(package.packagedOn, QDateTime(QDate(2024, 3, 1), QTime(10, 20, 30)));
    QCOMPARE(package.description, description);
    QCOMPARE(package.hexData, SampleHex);
    QCOMPARE(package.md5, packageDigest(package));
    QCOMPARE(checkHexLineEnds(package.hexData), QString());
}

void TestFirmwarePackage::vx4pack_packsObjcopyHexIntoTheSameBytes()
{
    const QString objcopy = QStringLiteral(OBJCOPY_PATH);
    if (objcopy.isEmpty())
        QSKIP("objcopy was not found when the build was configured");
    const QByteArray binary = HexTestData::binaryImage(20000);
    QVERIFY(writeFile(path("image.bin"), binary));
    QCOMPARE(HexTestData::runObjcopy(objcopy, path("image.bin"), path("image.hex"), 0x3000),
             QString());
    const PackRun run
        = runVx4pack({ "--version", "1.7", "-o", path("out.vx4f"), path("image.hex") });
    QCOMPARE(run.errors, QString());
    QCOMPARE(run.exitCode, 0);

    const Reader::Result result = Reader::read(path("out.vx4f"));
    QCOMPARE(result.status, Reader::Ok);
    QVERIFY(result.package.packagedOn.secsTo(QDateTime::currentDateTime()) < 600);
    IntelHex hex;
    QVERIFY(
        hex.parseLines(QString::fromLatin1(result.package.hexData).split(QStringLiteral("\r\n"))));
    QCOMPARE(hex.bytes.size(), binary.size());
    for (qsizetype i = 0; i < binary.size(); ++i)
        QCOMPARE(hex.bytes.at(i), IntelHex::Entry(0x3000 + quint32(i), quint8(binary.at(i))));
}

void TestFirmwarePackage::vx4pack_refusesBadInput_data()
{
    const QString good = record(0, 0, QByteArray::fromHex("0102")) + "\r\n:00000001FF\r\n";
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");
    QTest::newRow("no version") << good << QStringList {} << "--version MAJOR.MINOR";
    QTest::newRow("version without minor")
        << good << QStringList { "--version", "2" } << "version \"2\" is not MAJOR.MINOR";
    QTest::newRow("version with letters")
        << good << QStringList { "--version", "2.x" } << "version \"2.x\" is not MAJOR.MINOR";
    QTest::newRow("bad date") << good << QStringList { "--version", "2.5", "--date", "March" }
                              << "date \"March\" is not";
    QTest::newRow("wrong checksum")
        << ":0200000001020A\r\n:00000001FF\r\n"
        << QStringList { "--version", "2.5" } << "record that does not parse or check";
    QTest::newRow("odd image") << record(0, 0, QByteArray::fromHex("010203"))
            + "\r\n:00000001FF\r\n"
                               << QStringList { "--version", "2.5" } << "odd number of bytes";
    QTest::newRow("no end of file")
        << record(0, 0, QByteArray::fromHex("0102")) << QStringList { "--version", "2.5" }
        << "no end-of-file record";
    QTest::newRow("no data") << ":00000001FF" << QStringList { "--version", "2.5" }
                             << "holds no program data";
    QTest::newRow("missing HEX file")
        << QString() << QStringList { "--version", "2.5" } << "cannot read";
}

void TestFirmwarePackage::vx4pack_refusesBadInput()
{
    QFETCH(QString, hex);
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    if (!hex.isNull())
        QVERIFY(writeFile(path("image.hex"), hex.toLatin1()));
    const PackRun run
        = runVx4pack(arguments + QStringList { "-o", path("out.vx4f"), path("image.hex") });
    QVERIFY2(run.exitCode == 1, qPrintable(QString::number(run.exitCode)));
    QVERIFY2(run.errors.contains(message), qPrintable(run.errors));
    QVERIFY(!QFile::exists(path("out.vx4f")));
}

void TestFirmwarePackage::vx4pack_helpDocumentsTheOptions()
{
    QProcess process;
    process.start(QStringLiteral(VX4PACK_PATH), { QStringLiteral("--help") });
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    const QString help = QString::fromLocal8Bit(process.readAllStandardOutput());
    for (const char *option :
         { "--version", "--description", "--date", "-o", "--no-check", "HEXFILE" })
        QVERIFY2(help.contains(QLatin1String(option)), option);

    // Unchecked packing is there to make refusable packages for tests of the utility.
    QVERIFY(writeFile(path("bad.hex"), ":0200000001020A\r\n"));
    const PackRun run
        = runVx4pack({ "--no-check", "--version", "1.0", "-o", path("bad.vx4f"), path("bad.hex") });
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(Reader::read(path("bad.vx4f")).status, Reader::Ok);
}

void TestFirmwarePackage::unreadablePath_cannotOpen_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("missing") << "absent.vx4f";
    QTest::newRow("folder") << ".";
}

void TestFirmwarePackage::unreadablePath_cannotOpen()
{
    QFETCH(QString, name);
    QCOMPARE(Reader::read(dir->filePath(name)).status, Reader::CannotOpen);
}

void TestFirmwarePackage::reversedMark_isWrongType()
{
    QByteArray bytes = FirmwarePackageWriter::toBytes(samplePackage());
    bytes.replace(0, 4, QByteArray::fromHex("04030201"));
    QVERIFY(writeFile(path("reversed.vx4f"), bytes));
    QCOMPARE(Reader::read(path("reversed.vx4f")).status, Reader::WrongType);
}

void TestFirmwarePackage::changedByteAnywhere_isRefused()
{
    const QByteArray intact = FirmwarePackageWriter::toBytes(samplePackage());
    QCOMPARE(Reader::fromBytes(intact).status, Reader::Ok);
    for (qsizetype i = 0; i < intact.size(); ++i) {
        for (char flip : { char(0x01), char(0x80) }) {
            QByteArray changed = intact;
            changed[i] = char(changed.at(i) ^ flip);
            const Reader::Status expected = i < 4 ? Reader::WrongType : Reader::Corrupt;
            if (Reader::fromBytes(changed).status != expected)
                QFAIL(qPrintable(QStringLiteral("byte %1 changed by %2 was not refused")
                                     .arg(i)
                                     .arg(int(quint8(flip)))));
        }
    }
    // Through a file as well, on a byte of the description.
    QByteArray changed = intact;
    changed[33 + SampleHex.size() + 1] = 'z';
    QVERIFY(writeFile(path("changed.vx4f"), changed));
    QCOMPARE(Reader::read(path("changed.vx4f")).status, Reader::Corrupt);
}

void TestFirmwarePackage::cutAtEveryLength_isRefused()
{
    const QByteArray intact = FirmwarePackageWriter::toBytes(samplePackage());
    for (qsizetype length = 0; length < intact.size(); ++length) {
        const Reader::Status expected = length < 4 ? Reader::WrongType : Reader::Corrupt;
        if (Reader::fromBytes(intact.left(length)).status != expected)
            QFAIL(qPrintable(QStringLiteral("file cut to %1 bytes was not refused").arg(length)));
    }
    QVERIFY(writeFile(path("cut.vx4f"), intact.chopped(1)));
    QCOMPARE(Reader::read(path("cut.vx4f")).status, Reader::Corrupt);
}

void TestFirmwarePackage::otherFormatVersion_isAcceptedWhenTheDigestMatches()
{
    FirmwarePackage package = samplePackage();
    package.formatVersion = 7;
    package.md5 = packageDigest(package);
    QVERIFY(writeFile(path("v7.vx4f"), FirmwarePackageWriter::toBytes(package)));
    const Reader::Result result = Reader::read(path("v7.vx4f"));
    QCOMPARE(result.status, Reader::Ok);
    QCOMPARE(result.package.formatVersion, 7);
    QCOMPARE(result.package.hexData, SampleHex);
}

void TestFirmwarePackage::localTimeMarkOfOlderWriters_isAccepted()
{
    // Older writers mark local times as standard (0) or daylight saving (1) time; this library
    // writes "local, unknown" (0xFF), so only the file's own bytes give its digest.
    for (char mark : { char(0), char(1) }) {
        QByteArray bytes = FirmwarePackageWriter::toBytes(samplePackage());
        bytes[24] = mark;
        const qsizetype digestAt = bytes.size() - 16;
        bytes.replace(digestAt, 16,
                      QCryptographicHash::hash(bytes.left(digestAt - 4), QCryptographicHash::Md5));
        const Reader::Result result = Reader::fromBytes(bytes);
        QCOMPARE(result.status, Reader::Ok);
        QCOMPARE(result.package.packagedOn, QDateTime(QDate(2024, 3, 1), QTime(10, 20, 30)));
    }
}

void TestFirmwarePackage::claimOfHugeArray_isCorruptWithoutAllocating_data()
{
    QTest::addColumn<qsizetype>("lengthAt");
    QTest::addColumn<quint32>("claim");
    const qsizetype descriptionAt = 29 + SampleHex.size();
    const qsizetype digestAt = descriptionAt + 4 + samplePackage().description.size() * 2;
    QTest::newRow("HEX text, 4 GB") << qsizetype(25) << 0xFFFFFFF0u;
    QTest::newRow("HEX text, 2 GB") << qsizetype(25) << 0x80000000u;
    QTest::newRow("description, 4 GB") << descriptionAt << 0xFFFFFFFEu;
    QTest::newRow("description, odd") << descriptionAt << 0x7FFFFFFFu;
    QTest::newRow("digest, 4 GB") << digestAt << 0xFFFFFFF0u;
}

void TestFirmwarePackage::claimOfHugeArray_isCorruptWithoutAllocating()
{
    QFETCH(qsizetype, lengthAt);
    QFETCH(quint32, claim);
    QByteArray bytes = FirmwarePackageWriter::toBytes(samplePackage());
    qToBigEndian(claim, bytes.data() + lengthAt);
    QVERIFY(writeFile(path("huge.vx4f"), bytes));
    const QString file = path("huge.vx4f");
    QCOMPARE(Reader::read(file).status, Reader::Corrupt);
#ifdef VX4_ASAN
    QSKIP("the address sanitizer reserves more address space than the cap would leave");
#else
    QCOMPARE(
        runWithAddressSpaceCap([file] { return Reader::read(file).status == Reader::Corrupt; }), 0);
#endif
}

void TestFirmwarePackage::oversizedFile_isCorrupt()
{
    QFile file(path("big.vx4f"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(FirmwarePackageWriter::toBytes(samplePackage()));
    QVERIFY(file.resize(Reader::MaxFileSize + 1)); // sparse: nothing is written for the tail
    file.close();
    QCOMPARE(Reader::read(file.fileName()).status, Reader::Corrupt);
}

void TestFirmwarePackage::hexLineEnds_mustBeCrLf_data()
{
    QTest::addColumn<QByteArray>("hexData");
    QTest::addColumn<QString>("reason");
    const QString refused = QStringLiteral(
        "The firmware image in this package ends a line without CR LF (at byte %1), so the "
        "records after it would be lost.");
    QTest::newRow("CR LF") << QByteArray(":00000001FF\r\n:00000001FF\r\n") << QString();
    QTest::newRow("no final line end") << QByteArray(":00000001FF\r\n:00000001FF") << QString();
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("line feeds alone")
        << QByteArray(":00000001FF\n:00000001FF\n") << refused.arg(11);
    QTest::newRow("one line feed alone")
        << QByteArray(":00000001FF\r\n:00000001FF\n:00000001FF\r\n") << refused.arg(24);
    QTest::newRow("leading line feed") << QByteArray("\n:00000001FF\r\n") << refused.arg(0);
    QTest::newRow("carriage returns alone")
        << QByteArray(":00000001FF\r:00000001FF") << refused.arg(11);
    QTest::newRow("final carriage return") << QByteArray(":00000001FF\r") << refused.arg(11);
    QTest::newRow("LF CR") << QByteArray(":00000001FF\n\r") << refused.arg(11);
}

void TestFirmwarePackage::hexLineEnds_mustBeCrLf()
{
    QFETCH(QByteArray, hexData);
    QFETCH(QString, reason);
    QCOMPARE(checkHexLineEnds(hexData), reason);
}

QTEST_GUILESS_MAIN(TestFirmwarePackage)
#include "tst_firmwarepackage.moc"
