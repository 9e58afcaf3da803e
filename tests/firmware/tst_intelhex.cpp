// Intel HEX records to byte image, words and rows: parsing and its failures field by field,
// checksums, address records, pairing, rows, the dump, the image checks and objcopy's output.
#include "hextestdata.h"
#include "intelhex.h"
#include "logcapture.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>

using HexTestData::record;
using Entries = IntelHex::EntryList;

class TestIntelHex : public QObject
{
    Q_OBJECT

private slots:
    void parseRecord_givesOneElementPerField_data();
    void parseRecord_givesOneElementPerField();
    void badField_isLoggedAndFailsTheLines_data();
    void badField_isLoggedAndFailsTheLines();
    void textAfterNul_isIgnored();
    void checkRecord_acceptsOnlyTheTwosComplementSum_data();
    void checkRecord_acceptsOnlyTheTwosComplementSum();
    void wrongChecksum_failsTheLinesAndKeepsEarlierRecords();
    void endOfFileRecord_onlySetsItsFlag();
    void extendedAddressRecords_moveLaterData_data();
    void extendedAddressRecords_moveLaterData();
    void extendedAddressRecordWithoutTwoBytes_isRefused_data();
    void extendedAddressRecordWithoutTwoBytes_isRefused();
    void emptyLines_areSkipped();
    void recordsOutOfOrder_giveTheSameRows();
    void bytes_pairLowByteFirstIntoWords();
    void oddImage_neverPairsPastItsEnd();
    void words_areCutIntoRowsOf64();
    void noWords_giveOneRowWithoutAddress();
    void rowText_showsMissingWordsAsDashes();
    void dump_givesTheNoteAndTable_data();
    void dump_givesTheNoteAndTable();
    void dump_isEmptyOutsideItsColumnRange();
    void checkImage_refusesWhatWordsCannotHold_data();
    void checkImage_refusesWhatWordsCannotHold();
    void readFile_endsRecordsAtAnyLineEnd();
    void objcopyHex_parsesToTheBinary_data();
    void objcopyHex_parsesToTheBinary();
};

void TestIntelHex::parseRecord_givesOneElementPerField_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<quint32>>("fields");
    QTest::newRow("end of file") << ":00000001FF" << QList<quint32> { 0x3A, 0, 0, 1, 0xFF };
    QTest::newRow("data") << ":0300300002337A1E"
                          << QList<quint32> { 0x3A, 3, 0x0030, 0, 0x02, 0x33, 0x7A, 0x1E };
    QTest::newRow("lowercase") << ":0300300002337a1e"
                               << QList<quint32> { 0x3A, 3, 0x0030, 0, 0x02, 0x33, 0x7A, 0x1E };
    QTest::newRow("text after checksum")
        << ":00000001FF;junk" << QList<quint32> { 0x3A, 0, 0, 1, 0xFF };
    QTest::newRow("unknown type") << ":00000099FF" << QList<quint32> { 0x3A, 0, 0, 0x99, 0xFF };
}

void TestIntelHex::parseRecord_givesOneElementPerField()
{
    QFETCH(QString, text);
    QFETCH(QList<quint32>, fields);
    QCOMPARE(IntelHex::parseRecord(text), fields);
}

void TestIntelHex::badField_isLoggedAndFailsTheLines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("logged");
    const auto row = [](const char *name, const QString &text, const char *message) {
        QTest::newRow(name) << text << QStringLiteral("%1 \"%2\"").arg(message, text);
    };
    row("no colon", "00000001FF", "Invalid start to HEX record:");
    row("leading blank", " :00000001FF", "Invalid start to HEX record:");
    row("other start", "#00000001FF", "Invalid start to HEX record:");
    row("count not hex", ":G0000001FF", "Invalid byte count in HEX record:");
    row("count blank", ": 0000001FF", "Invalid byte count in HEX record:");
    row("count cut", ":0", "Invalid byte count in HEX record:");
    row("address not hex", ":0000X001FF", "Invalid address in HEX record:");
    row("address signed", ":00+00001FF", "Invalid address in HEX record:");
    row("address cut", ":00000", "Invalid address in HEX record:");
    row("type not hex", ":000000Z1FF", "Invalid record type in HEX record:");
    row("type cut", ":0000000", "Invalid record type in HEX record:");
    row("data not hex", ":0200000012G4E9", "Invalid data byte in HEX record:");
    row("count two beyond data", ":02000000AB", "Invalid data byte in HEX record:");
    row("count one beyond data", ":02000000ABCD", "Invalid checksum in HEX record:");
    row("checksum not hex", ":00000001F", "Invalid checksum in HEX record:");
    row("checksum missing", ":0100000001", "Invalid checksum in HEX record:");
    row("count FF, little data", ":FF000000ABCD", "Invalid data byte in HEX record:");
}

void TestIntelHex::badField_isLoggedAndFailsTheLines()
{
    QFETCH(QString, text);
    QFETCH(QString, logged);
    LogCapture log;
    IntelHex hex;
    QVERIFY(!hex.parseLines({ text }));
    QCOMPARE(
        log.textsFrom(QStringLiteral("intelhex")),
        (QStringList { logged, QStringLiteral("Error converting HEX record to QList<quint32>.") }));
}

void TestIntelHex::textAfterNul_isIgnored()
{
    QCOMPARE(IntelHex::parseRecord(QStringLiteral(":00000001FF") + QChar(0) + QStringLiteral("ZZ")),
             (QList<quint32> { 0x3A, 0, 0, 1, 0xFF }));
    QVERIFY(IntelHex::parseRecord(QStringLiteral(":0000") + QChar(0) + QStringLiteral("0001FF"))
                .isEmpty());
}

void TestIntelHex::checkRecord_acceptsOnlyTheTwosComplementSum_data()
{
    QTest::addColumn<QList<quint32>>("fields");
    QTest::addColumn<bool>("passes");
    const auto parsed = [](const char *text) { return IntelHex::parseRecord(QLatin1String(text)); };
    QTest::newRow("end of file") << parsed(":00000001FF") << true;
    QTest::newRow("data") << parsed(":10010000214601360121470136007EFE09D2190140") << true;
    QTest::newRow("data, last byte changed")
        << parsed(":10010000214601360121470136007EFE09D2190141") << false;
    QTest::newRow("data, one data byte changed")
        << parsed(":10010000214601360121470136007EFE09D2190240") << false;
    QTest::newRow("address high byte counts") << parsed(":00010001FE") << true;
    QTest::newRow("extended address") << parsed(":020000040001F9") << true;
    QTest::newRow("empty list") << QList<quint32>() << false;
    QTest::newRow("count beyond the list") << QList<quint32> { 0x3A, 5, 0, 0, 0xFB } << false;
    QTest::newRow("count short of the list") << QList<quint32> { 0x3A, 0, 0, 0, 1, 0xFF } << false;
}

void TestIntelHex::checkRecord_acceptsOnlyTheTwosComplementSum()
{
    QFETCH(QList<quint32>, fields);
    QFETCH(bool, passes);
    QCOMPARE(IntelHex::checkRecord(fields), passes);
}

void TestIntelHex::wrongChecksum_failsTheLinesAndKeepsEarlierRecords()
{
    LogCapture log;
    IntelHex hex;
    QVERIFY(!hex.parseLines({ record(0, 0x10, QByteArray::fromHex("aabb")), ":0100200001DD",
                              record(0, 0x30, QByteArray::fromHex("cc")) }));
    QCOMPARE(log.textsFrom(QStringLiteral("intelhex")),
             QStringList { QStringLiteral("HEX record as QList<quint32> failed check.") });
    QCOMPARE(hex.bytes, (Entries { { 0x10, 0xAA }, { 0x11, 0xBB } }));
}

void TestIntelHex::endOfFileRecord_onlySetsItsFlag()
{
    IntelHex hex;
    QVERIFY(hex.parseLines({ ":00000001FF" }));
    QVERIFY(hex.endOfFileSeen);
    QVERIFY(hex.bytes.isEmpty());
    QCOMPARE(hex.upperAddress, 0u);
    // Records after it are still applied.
    QVERIFY(hex.parseLines({ record(0, 0x4, QByteArray::fromHex("01")) }));
    QCOMPARE(hex.bytes, (Entries { { 0x4, 0x01 } }));
}

void TestIntelHex::extendedAddressRecords_moveLaterData_data()
{
    QTest::addColumn<QString>("addressRecord");
    QTest::addColumn<quint32>("upper");
    QTest::newRow("linear") << ":020000040001F9" << 0x00010000u;
    QTest::newRow("linear, high") << ":02000004ABCD82" << 0xABCD0000u;
    QTest::newRow("segment") << ":020000021000EC" << 0x00010000u;
    QTest::newRow("segment, odd paragraph") << ":020000020123D8" << 0x00001230u;
}

void TestIntelHex::extendedAddressRecords_moveLaterData()
{
    QFETCH(QString, addressRecord);
    QFETCH(quint32, upper);
    IntelHex hex;
    QVERIFY(hex.parseLines({ record(0, 0x0002, QByteArray::fromHex("11")), addressRecord,
                             record(0, 0x0010, QByteArray::fromHex("22")),
                             record(0, 0xFFFF, QByteArray::fromHex("3344")) }));
    QCOMPARE(hex.upperAddress, upper);
    QCOMPARE(hex.bytes,
             (Entries { { 0x0002, 0x11 },
                        { upper + 0x10, 0x22 },
                        { upper + 0xFFFF, 0x33 },
                        { upper + 0x10000, 0x44 } }));
}

void TestIntelHex::extendedAddressRecordWithoutTwoBytes_isRefused_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("linear, no bytes") << record(4, 0, {});
    QTest::newRow("linear, one byte") << record(4, 0, QByteArray::fromHex("01"));
    QTest::newRow("segment, one byte") << record(2, 0, QByteArray::fromHex("10"));
}

void TestIntelHex::extendedAddressRecordWithoutTwoBytes_isRefused()
{
    QFETCH(QString, text);
    LogCapture log;
    IntelHex hex;
    QVERIFY(hex.parseLines({ ":020000040002F8" }));
    QVERIFY(!hex.parseLines({ text, record(0, 0, QByteArray::fromHex("55")) }));
    QCOMPARE(log.textsFrom(QStringLiteral("intelhex")),
             QStringList { QStringLiteral("Extended address record without its two address "
                                          "bytes: \"%1\"")
                               .arg(text) });
    QCOMPARE(hex.upperAddress, 0x00020000u);
    QVERIFY(hex.bytes.isEmpty());
    QVERIFY(!hex.applyRecord(IntelHex::parseRecord(text)));
}

void TestIntelHex::emptyLines_areSkipped()
{
    IntelHex hex;
    QVERIFY(hex.parseLines({ "", record(0, 0, QByteArray::fromHex("01")), "",
                             record(0, 1, QByteArray::fromHex("02")), ":00000001FF", "" }));
    QCOMPARE(hex.bytes, (Entries { { 0, 0x01 }, { 1, 0x02 } }));
}

void TestIntelHex::recordsOutOfOrder_giveTheSameRows()
{
    QStringList lines { ":020000040001F9" };
    for (quint16 address = 0; address < 0x200; address += 16)
        lines << record(0, address, HexTestData::binaryImage(16 + address).right(16));
    lines << ":00000001FF";
    QStringList shuffled = lines;
    std::reverse(shuffled.begin() + 1, shuffled.end() - 1);
    std::swap(shuffled[5], shuffled[17]);

    IntelHex ordered;
    IntelHex unordered;
    QVERIFY(ordered.parseLines(lines));
    QVERIFY(unordered.parseLines(shuffled));
    QCOMPARE(unordered.bytes, ordered.bytes);
    QVERIFY(std::is_sorted(unordered.bytes.begin(), unordered.bytes.end()));
    const QList<ProgramMemoryRow> rows = IntelHex::toRows(IntelHex::toWords(ordered.bytes));
    QCOMPARE(IntelHex::toRows(IntelHex::toWords(unordered.bytes)), rows);
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows.first().address, 0x8000u);
}

void TestIntelHex::bytes_pairLowByteFirstIntoWords()
{
    IntelHex hex;
    QVERIFY(hex.parseLines({ record(0, 0x0202, QByteArray::fromHex("cdab")),
                             record(0, 0x0200, QByteArray::fromHex("3412")) }));
    QCOMPARE(IntelHex::toWords(hex.bytes), (Entries { { 0x100, 0x1234 }, { 0x101, 0xABCD } }));
}

void TestIntelHex::oddImage_neverPairsPastItsEnd()
{
    LogCapture log;
    const Entries bytes { { 0x10, 0x01 }, { 0x11, 0x02 }, { 0x12, 0x03 } };
    QCOMPARE(IntelHex::toWords(bytes), (Entries { { 0x8, 0x0201 } }));
    QCOMPARE(log.textsFrom(QStringLiteral("intelhex")),
             QStringList { "Odd byte at the end of the image left out of the words: \"0x12\"" });
    QCOMPARE(IntelHex::toWords({ { 0x7, 0x01 } }), Entries());
}

void TestIntelHex::words_areCutIntoRowsOf64()
{
    Entries words;
    for (quint32 address = 0x100; address < 0x140; address += 2)
        words.append({ address, address * 3 });
    words.append({ 0x140, 0xBEEF });
    words.append({ 0x17F, 0x1234 });
    const QList<ProgramMemoryRow> rows = IntelHex::toRows(words);
    QCOMPARE(rows.size(), 2);

    ProgramMemoryRow first(64);
    first.address = 0x100;
    for (int i = 0; i < 64; i += 2)
        first.words[i] = (0x100 + i) * 3;
    QCOMPARE(rows.at(0), first);

    ProgramMemoryRow second(64);
    second.address = 0x140;
    second.words[0] = 0xBEEF;
    second.words[63] = 0x1234;
    QCOMPARE(rows.at(1), second);
}

void TestIntelHex::noWords_giveOneRowWithoutAddress()
{
    const QList<ProgramMemoryRow> rows = IntelHex::toRows({});
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first(), ProgramMemoryRow(64));
    QCOMPARE(rows.first().address, ProgramMemoryRow::NoAddress);
}

void TestIntelHex::rowText_showsMissingWordsAsDashes()
{
    ProgramMemoryRow row(4);
    row.address = 0x1C0;
    row.words[0] = 0x1234;
    row.words[2] = 0x00AB;
    QCOMPARE(row.toString(), QStringLiteral("0001c0: 1234 ---- 00ab ---- \n"));
}

void TestIntelHex::dump_givesTheNoteAndTable_data()
{
    const QString note = QStringLiteral(
        "\r\nRemember:\r\n1. The Intel Hex format has a different byte order than a PIC MCU.\r\n"
        "For example, what is represented in an Intel Hex file as 0x00 0x03 is actually opcode "
        "0x3000 to the MCU.\r\n2. Addresses in this output are assigned for each byte.  16-bit "
        "PIC memory organization assigns one address for every 16-bit word.  Addresses "
        "displayed here will be double the value of the corresponding 16-bit PIC address.\r\n");
    QTest::addColumn<Entries>("entries");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("text");
    QTest::newRow("bytes, four columns")
        << Entries { { 0x10, 0xAB }, { 0x11, 0x01 }, { 0x13, 0xFF }, { 0x25, 0x07 } } << 4 << 2
        << note + "        00 01 02 03 \r\n0000010 ab 01 -- ff\n0000024 -- 07 -- --\n";
    QTest::newRow("words, three columns")
        << Entries { { 0x1, 0x1234 }, { 0x2, 0xBEEF }, { 0x1234567, 0x5 } } << 3 << 4
        << note + "        0000 0001 0002 \r\n0000000 -- 1234 beef\n1234566 -- 0005 --\n";
    QTest::newRow("one column, no width") << Entries { { 0x0, 0x0 }, { 0x2, 0xA } } << 1 << 0
                                          << note + "        0 \r\n0000000 0\n0000002 a\n";
}

void TestIntelHex::dump_givesTheNoteAndTable()
{
    QFETCH(Entries, entries);
    QFETCH(int, columns);
    QFETCH(int, width);
    QFETCH(QString, text);
    QCOMPARE(IntelHex::dump(entries, columns, width), text);
}

void TestIntelHex::dump_isEmptyOutsideItsColumnRange()
{
    const Entries entries { { 0, 1 } };
    QCOMPARE(IntelHex::dump(entries, 0, 2), QString());
    QCOMPARE(IntelHex::dump(entries, 17, 2), QString());
    QCOMPARE(IntelHex::dump({}, 16, 2), QString());
    QVERIFY(!IntelHex::dump(entries, 16, 2).isEmpty());
}

void TestIntelHex::checkImage_refusesWhatWordsCannotHold_data()
{
    QTest::addColumn<Entries>("bytes");
    QTest::addColumn<QString>("reason");
    const QString partner = QStringLiteral(
        "The firmware image has a byte at address %1 without its partner at address %2, so it "
        "does not form whole program words.");
    QTest::newRow("whole words") << Entries { { 0x0, 1 }, { 0x1, 2 }, { 0x8, 3 }, { 0x9, 4 } }
                                 << QString();
    QTest::newRow("whole words, unsorted")
        << Entries { { 0x9, 4 }, { 0x0, 1 }, { 0x8, 3 }, { 0x1, 2 } } << QString();
    QTest::newRow("no data") << Entries() << "The firmware image holds no program data.";
    QTest::newRow("odd count")
        << Entries { { 0x0, 1 }, { 0x1, 2 }, { 0x2, 3 } }
        << "The firmware image holds an odd number of bytes (3), so it does not form whole "
           "program words.";
    QTest::newRow("address twice")
        << Entries { { 0x10, 1 }, { 0x11, 2 }, { 0x11, 3 }, { 0x12, 4 } }
        << "The firmware image gives the byte at address 0x11 more than once.";
    QTest::newRow("same byte twice") << Entries { { 0x10, 1 }, { 0x10, 1 } }
                                     << "The firmware image gives the byte at address 0x10 more "
                                        "than once.";
    QTest::newRow("high byte missing")
        << Entries { { 0x10, 1 }, { 0x12, 2 }, { 0x13, 3 }, { 0x14, 4 } }
        << partner.arg(QStringLiteral("0x10"), QStringLiteral("0x11"));
    QTest::newRow("starts at an odd address")
        << Entries { { 0x201, 1 }, { 0x202, 2 } }
        << partner.arg(QStringLiteral("0x201"), QStringLiteral("0x200"));
    QTest::newRow("low byte missing later")
        << Entries { { 0x0, 1 }, { 0x1, 2 }, { 0x5, 3 }, { 0x6, 4 } }
        << partner.arg(QStringLiteral("0x5"), QStringLiteral("0x4"));
}

void TestIntelHex::checkImage_refusesWhatWordsCannotHold()
{
    QFETCH(Entries, bytes);
    QFETCH(QString, reason);
    QCOMPARE(IntelHex::checkImage(bytes), reason);
}

void TestIntelHex::readFile_endsRecordsAtAnyLineEnd()
{
    QTemporaryDir dir;
    const QByteArray records = record(0, 0x0, QByteArray::fromHex("0102")).toLatin1() + "\n"
        + record(0, 0x2, QByteArray::fromHex("0304")).toLatin1() + "\r"
        + record(0, 0x4, QByteArray::fromHex("0506")).toLatin1() + "\r\n" + ":00000001FF";
    QFile file(dir.filePath(QStringLiteral("mixed.hex")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(records);
    file.close();

    const IntelHex hex(file.fileName());
    QVERIFY(hex.fileValid);
    QVERIFY(hex.endOfFileSeen);
    QCOMPARE(hex.bytes.size(), 6);
    QCOMPARE(hex.bytes.last(), IntelHex::Entry(0x5, 0x06));
}

void TestIntelHex::objcopyHex_parsesToTheBinary_data()
{
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("size");
    QTest::newRow("low, segment records") << 0x8000u << 150000;
    QTest::newRow("high, linear records") << 0x1FFF0u << 70000;
    QTest::newRow("beyond 1 MB") << 0x100000u << 4096;
}

void TestIntelHex::objcopyHex_parsesToTheBinary()
{
    const QString objcopy = QStringLiteral(OBJCOPY_PATH);
    if (objcopy.isEmpty())
        QSKIP("objcopy was not found when the build was configured");
    QFETCH(quint32, address);
    QFETCH(int, size);

    QTemporaryDir dir;
    const QByteArray binary = HexTestData::binaryImage(size);
    QFile file(dir.filePath(QStringLiteral("image.bin")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(binary);
    file.close();
    const QString hexPath = dir.filePath(QStringLiteral("image.hex"));
    QCOMPARE(HexTestData::runObjcopy(objcopy, file.fileName(), hexPath, address), QString());

    const IntelHex hex(hexPath);
    QVERIFY(hex.fileValid);
    QVERIFY(hex.endOfFileSeen);
    QCOMPARE(hex.bytes.size(), binary.size());
    for (qsizetype i = 0; i < binary.size(); ++i) {
        if (hex.bytes.at(i) != IntelHex::Entry(address + quint32(i), quint8(binary.at(i))))
            QFAIL(qPrintable(QStringLiteral("byte %1 differs").arg(i)));
    }
    QCOMPARE(hex.checkImage(), QString());
    const QList<ProgramMemoryRow> rows = IntelHex::toRows(IntelHex::toWords(hex.bytes));
    QCOMPARE(rows.first().address, (address / 2) & ~63u);
    QCOMPARE(rows.first().words.at(int(address / 2 % 64)),
             quint32(quint8(binary.at(0)) | quint8(binary.at(1)) << 8));
}

QTEST_GUILESS_MAIN(TestIntelHex)
#include "tst_intelhex.moc"
