#include "intelhex.h"

#include <QDebug>
#include <QFile>

#include <algorithm>

#define LOG                                                                                        \
    qDebug() << "intelhex"                                                                         \
             << "@" << __LINE__ << ":"

namespace {

constexpr quint32 StartMark = 0x3A; ///< character code of ':'
constexpr quint32 DataRecord = 0x00;
constexpr quint32 EndOfFileRecord = 0x01;
constexpr quint32 ExtendedSegmentAddressRecord = 0x02; ///< base = value << 4
constexpr quint32 ExtendedLinearAddressRecord = 0x04; ///< base = value << 16
constexpr int HeaderFields = 4; ///< start mark, count, address, type
constexpr int FieldsBesideData = 5; ///< the header and the checksum

// Positions of the fields in the record text.
constexpr int CountAt = 1;
constexpr int AddressAt = 3;
constexpr int TypeAt = 7;
constexpr int DataAt = 9;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads `width` hexadecimal digits at `pos`; false when any lies past the end or is no digit.
bool hexField(QByteArrayView text, qsizetype pos, int width, quint32 *value)
{
    if (pos + width > text.size())
        return false;
    quint32 result = 0;
    for (int i = 0; i < width; ++i) {
        const int digit = hexDigit(text.at(pos + i));
        if (digit < 0)
            return false;
        result = (result << 4) | quint32(digit);
    }
    *value = result;
    return true;
}

// A record list whose length agrees with its byte count; anything else is never indexed.
bool wellFormed(const QList<quint32> &record)
{
    return record.size() >= FieldsBesideData
        && quint64(record.size()) == quint64(record.at(1)) + FieldsBesideData;
}

QString hexAddress(quint32 address)
{
    return QStringLiteral("0x") + QString::number(address, 16);
}

} // namespace

IntelHex::IntelHex(const QString &fileName)
{
    fileValid = readFile(fileName);
}

QList<quint32> IntelHex::parseRecord(const QString &record)
{
    QByteArray text = record.toLatin1();
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0)
        text.truncate(nul);

    QList<quint32> fields;
    qsizetype end = 0;
    switch (readFields(text, &fields, &end)) {
    case Fault::None:
        return fields;
    case Fault::Start:
        LOG << "Invalid start to HEX record:" << record;
        break;
    case Fault::Count:
        LOG << "Invalid byte count in HEX record:" << record;
        break;
    case Fault::Address:
        LOG << "Invalid address in HEX record:" << record;
        break;
    case Fault::Type:
        LOG << "Invalid record type in HEX record:" << record;
        break;
    case Fault::Data:
        LOG << "Invalid data byte in HEX record:" << record;
        break;
    case Fault::Checksum:
        LOG << "Invalid checksum in HEX record:" << record;
        break;
    }
    return {};
}

IntelHex::Fault IntelHex::readFields(QByteArrayView text, QList<quint32> *fields, qsizetype *end)
{
    fields->clear();
    if (text.isEmpty() || text.at(0) != ':')
        return Fault::Start;
    quint32 count = 0;
    if (!hexField(text, CountAt, 2, &count))
        return Fault::Count;
    quint32 address = 0;
    if (!hexField(text, AddressAt, 4, &address))
        return Fault::Address;
    quint32 type = 0;
    if (!hexField(text, TypeAt, 2, &type))
        return Fault::Type;

    fields->reserve(qsizetype(count) + FieldsBesideData);
    *fields << StartMark << count << address << type;
    for (quint32 i = 0; i < count; ++i) {
        quint32 byte = 0;
        if (!hexField(text, DataAt + 2 * qsizetype(i), 2, &byte)) {
            fields->clear();
            return Fault::Data;
        }
        fields->append(byte);
    }
    quint32 checksum = 0;
    const qsizetype checksumAt = DataAt + 2 * qsizetype(count);
    if (!hexField(text, checksumAt, 2, &checksum)) {
        fields->clear();
        return Fault::Checksum;
    }
    fields->append(checksum);
    *end = checksumAt + 2;
    return Fault::None;
}

bool IntelHex::checkRecord(const QList<quint32> &record)
{
    return wellFormed(record) && checksumOf(record) == record.last();
}

quint32 IntelHex::checksumOf(const QList<quint32> &record)
{
    const quint32 address = record.at(2);
    quint32 sum = record.at(1) + (address >> 8) + (address & 0xFF) + record.at(3);
    for (qsizetype i = HeaderFields; i < record.size() - 1; ++i)
        sum += record.at(i);
    return (0u - sum) & 0xFF;
}

bool IntelHex::applyRecord(const QList<quint32> &record)
{
    if (!wellFormed(record))
        return false;
    const quint32 count = record.at(1);
    const quint32 address = record.at(2);
    switch (record.at(3)) {
    case DataRecord:
        for (quint32 i = 0; i < count; ++i)
            bytes.append({ address + upperAddress + i, record.at(HeaderFields + i) });
        break;
    case EndOfFileRecord:
        endOfFileSeen = true;
        break;
    case ExtendedSegmentAddressRecord:
    case ExtendedLinearAddressRecord: {
        // The base lives in the first two data bytes; a shorter record has none to read.
        if (count < 2)
            return false;
        const quint32 base = (record.at(HeaderFields) << 8) + record.at(HeaderFields + 1);
        upperAddress = record.at(3) == ExtendedLinearAddressRecord ? base << 16 : base << 4;
        break;
    }
    default:
        break;
    }
    return true;
}

bool IntelHex::parseLines(const QStringList &lines)
{
    for (const QString &line : lines) {
        if (line.isEmpty())
            continue;
        const QList<quint32> record = parseRecord(line);
        if (record.isEmpty()) {
            LOG << "Error converting HEX record to QList<quint32>.";
            return false;
        }
        if (!checkRecord(record)) {
            LOG << "HEX record as QList<quint32> failed check.";
            return false;
        }
        if (!applyRecord(record)) {
            LOG << "Extended address record without its two address bytes:" << line;
            return false;
        }
    }
    std::stable_sort(bytes.begin(), bytes.end(),
                     [](const Entry &a, const Entry &b) { return a.first < b.first; });
    return true;
}

bool IntelHex::readFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = file.readAll();
    // A file may end its lines with CR LF, LF or CR alone; every one of them ends a record.
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c != '\n' && c != '\r')
            continue;
        lines.append(QString::fromLatin1(text.mid(start, i - start)));
        if (c == '\r' && i + 1 < text.size() && text.at(i + 1) == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(QString::fromLatin1(text.mid(start)));
    return parseLines(lines);
}

IntelHex::EntryList IntelHex::toWords(const EntryList &bytes)
{
    EntryList words;
    words.reserve(bytes.size() / 2);
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2) {
        const Entry &low = bytes.at(i);
        const Entry &high = bytes.at(i + 1);
        words.append({ low.first >> 1, (high.second << 8) + low.second });
    }
    if (bytes.size() % 2 != 0)
        LOG << "Odd byte at the end of the image left out of the words:"
            << hexAddress(bytes.last().first);
    return words;
}

QList<ProgramMemoryRow> IntelHex::toRows(const EntryList &words)
{
    QList<ProgramMemoryRow> rows;
    ProgramMemoryRow row(RowSize);
    for (const Entry &word : words) {
        const quint32 rowAddress = word.first & ~quint32(RowSize - 1);
        if (row.address == ProgramMemoryRow::NoAddress) {
            row.address = rowAddress;
        } else if (row.address != rowAddress) {
            rows.append(row);
            row.reset();
            row.address = rowAddress;
        }
        row.words[word.first - rowAddress] = word.second;
    }
    rows.append(row);
    return rows;
}

QString IntelHex::dump(const EntryList &entries, int columns, int fieldWidth)
{
    if (columns < 1 || columns > 16 || entries.isEmpty())
        return {};
    // A negative width would pad on the right and change the digits shown.
    const int width = qMax(0, fieldWidth);
    const QChar zero(QLatin1Char('0'));

    QString text = QStringLiteral(
        "\r\nRemember:\r\n1. The Intel Hex format has a different byte order than a PIC MCU.\r\n"
        "For example, what is represented in an Intel Hex file as 0x00 0x03 is actually opcode "
        "0x3000 to the MCU.\r\n2. Addresses in this output are assigned for each byte.  16-bit "
        "PIC memory organization assigns one address for every 16-bit word.  Addresses "
        "displayed here will be double the value of the corresponding 16-bit PIC address.\r\n");
    text += QString(8, QLatin1Char(' '));
    for (int c = 0; c < columns; ++c)
        text += QStringLiteral("%1 ").arg(c, width, 16, zero);
    text += QStringLiteral("\r\n");

    qsizetype i = 0;
    while (i < entries.size()) {
        const quint64 base = entries.at(i).first / quint32(columns) * quint32(columns);
        QStringList cells(columns, QStringLiteral("--"));
        for (; i < entries.size(); ++i) {
            const quint64 address = entries.at(i).first;
            if (address < base || address >= base + quint64(columns))
                break;
            cells[qsizetype(address - base)]
                = QStringLiteral("%1").arg(entries.at(i).second, width, 16, zero);
        }
        text += QStringLiteral("%1 ").arg(base, 7, 16, zero) + cells.join(QLatin1Char(' '))
            + QLatin1Char('\n');
    }
    return text;
}
