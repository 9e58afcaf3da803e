// A package's HEX text to the rows of a download: texts that load (line ends, blanks, order, the
// top of the word space) and texts refused with the line and what is wrong.
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
    loads("the last word of the word space",
          hexRecord(4, 0, "01FF") + "\r\n" + hexRecord(0, 0xFFFE, "3412") + "\r\n" + Eof,
          { { 0xFFFFFF, 0x1234 } });

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
    refused("NUL after the checksum", "\r\n" + Word0 + QByteArray(1, '\0') + "\r\n" + Eof,
            line2 + "there is more after the record's checksum");
    refused("byte at 0x2000000",
            hexRecord(4, 0, "0200") + "\r\n" + hexRecord(0, 0, "3412") + "\r\n" + Eof,
            line2 + "the data record puts a byte at address 0x2000000, beyond");
    refused("record across 0x2000000",
            hexRecord(4, 0, "01FF") + "\r\n" + hexRecord(0, 0xFFFE, "34120100") + "\r\n" + Eof,
            line2 + "the data record puts a byte at address 0x2000000, beyond");
    refused("record wrapping past 0xffffffff",
            hexRecord(4, 0, "FFFF") + "\r\n" + hexRecord(0, 0xFFFF, "3412") + "\r\n" + Eof,
            line2 + "the data record runs past the highest address, 0xffffffff.");
    refused("no end-of-file record", Word0 + "\r\n", "no end-of-file record");
    refused("wrong checksum", Eof + "\r\n:0100200001DD\r\n",
            line2 + "the record's checksum is DD, but its contents call for DE");
    refused("leading blank", "\r\n " + Eof, line2 + "it does not start with ':'");
    refused("data cut short", "\r\n:02000000AB", line2 + "it holds fewer data bytes");
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
