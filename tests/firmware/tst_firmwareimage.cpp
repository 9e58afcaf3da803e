// A package's HEX text to the rows of a download: texts that load (line ends, blanks, order,
// address records, bytes paired low first into rows of 64 words) and texts refused with the line
// and what is wrong, field by field.
#include "firmwareimage.h"
#include "hexrecord.h"

#include <QtTest>

using Words = QList<QPair<quint32, quint32>>; ///< (word address, word)

namespace {

const QByteArray Eof = ":00000001FF";
const QByteArray Word0 = hexRecord(0, 0, "3412cdab"); // words 0x1234, 0xABCD at word address 0
const Words Words0 { { 0, 0x1234 }, { 1, 0xABCD } };

} // namespace

class TestFirmwareImage : public QObject
{
    Q_OBJECT

private slots:
    void hexText_givesTheWordsOrTheReason_data();
    void hexText_givesTheWordsOrTheReason();
};

void TestFirmwareImage::hexText_givesTheWordsOrTheReason_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Words>("words"); // of the rows, in order
    QTest::addColumn<QString>("reason"); // part of the refusal; empty: the image loads

    const auto loads = [](const char *name, const QByteArray &text, const Words &words) {
        QTest::newRow(name) << text << words << QString();
    };
    loads("CR LF", Word0 + "\r\n" + Eof + "\r\n", Words0);
    loads("CR CR LF", Word0 + "\r\r\n" + Eof + "\r\r\n", Words0);
    loads("last record ended by LF alone", Word0 + "\r\n" + Eof + "\n", Words0);
    loads("blanks after the checksum, empty lines", "\r\n" + Word0 + " \t\r\n\r\n\n\r\n" + Eof,
          Words0);
    loads("records out of order", hexRecord(0, 0x82, "7856") + "\r\n" + Word0 + "\r\n" + Eof,
          Words0 + Words { { 0x41, 0x5678 } });
    loads("lower case", hexRecord(0, 0, "3412cdab").toLower() + "\r\n" + Eof, Words0);
    // Words 0x13F and 0x140 are the last of one row and the first of the next.
    loads("two rows", hexRecord(0, 0x27E, "cdab0102") + "\r\n" + Eof,
          { { 0x13F, 0xABCD }, { 0x140, 0x0201 } });
    loads("the last word of the word space",
          hexRecord(4, 0, "01FF") + "\r\n" + hexRecord(0, 0xFFFE, "3412") + "\r\n" + Eof,
          { { 0xFFFFFF, 0x1234 } });
    loads("segment address", ":020000021000EC\r\n" + hexRecord(0, 0x10, "3412") + "\r\n" + Eof,
          { { 0x8008, 0x1234 } });
    loads("segment address, odd paragraph",
          ":020000020123D8\r\n" + hexRecord(0, 0x10, "3412") + "\r\n" + Eof, { { 0x920, 0x1234 } });
    loads("other record types are passed over",
          hexRecord(5, 0, "00001234") + "\r\n" + Word0 + "\r\n" + Eof, Words0);

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
    refused("byte at 0x2000000",
            hexRecord(4, 0, "0200") + "\r\n" + hexRecord(0, 0, "3412") + "\r\n" + Eof,
            line2 + "the data record puts a byte at address 0x2000000, beyond");
    refused("record wrapping past 0xffffffff",
            hexRecord(4, 0, "FFFF") + "\r\n" + hexRecord(0, 0xFFFF, "3412") + "\r\n" + Eof,
            line2 + "the data record runs past the highest address, 0xffffffff.");
    refused("no end-of-file record", Word0 + "\r\n", "no end-of-file record");
    refused("no data", Eof, "no program data");
    refused("a byte twice", Word0 + "\r\n" + hexRecord(0, 2, "cdab") + "\r\n" + Eof,
            "the byte at address 0x2 more than once");
    refused("odd number of bytes", hexRecord(0, 0, "010203") + "\r\n" + Eof,
            "an odd number of bytes (3)");
    refused("low byte missing", hexRecord(0, 0x201, "0102") + "\r\n" + Eof,
            "0x201 without its partner at address 0x200");
    refused("wrong checksum", Eof + "\r\n:0100200001DD\r\n",
            line2 + "the record's checksum is DD, but its contents call for DE");
    // A record that does not read names the first field that fails.
    for (const auto &[record, field] : QList<QPair<const char *, const char *>> {
             { " :00000001FF", "it does not start with ':'" },
             { ":G0000001FF", "its byte count" },
             { ":0", "its byte count" },
             { ":00+00001FF", "its load address" },
             { ":000000Z1FF", "its record type" },
             { ":0200000012G4E9", "it holds fewer data bytes" },
             { ":02000000AB", "it holds fewer data bytes" },
             { ":02000000ABCD", "its checksum after the data" },
             { ":0100000001", "its checksum after the data" } })
        refused(record, "\r\n" + QByteArray(record), line2 + field);
    refused(
        "extended address of one byte", "\r\n" + hexRecord(4, 0, "01"),
        line2
            + "the extended address record must hold 2 data bytes (the address), but it holds 1.");
    // Refused for its size alone: as text it holds nothing but empty lines.
    refused("longer than a full image", QByteArray(FirmwareImage::MaxTextSize + 1, '\n'),
            QStringLiteral("is %1 bytes of HEX text").arg(FirmwareImage::MaxTextSize + 1));
}

void TestFirmwareImage::hexText_givesTheWordsOrTheReason()
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

QTEST_GUILESS_MAIN(TestFirmwareImage)
#include "tst_firmwareimage.moc"
