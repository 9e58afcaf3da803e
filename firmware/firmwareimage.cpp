#include "firmwareimage.h"

#include <QByteArrayView>
#include <QCoreApplication>

#include <algorithm>
#include <array>

namespace {

constexpr quint32 DataRecord = 0x00;
constexpr int DataField = 4; ///< index of a record's first data byte among its fields
constexpr quint64 LastAddress = 0xFFFFFFFF; ///< highest byte address a HEX text can give

static_assert(quint64(FirmwareImage::MaxRows) * IntelHex::RowSize * 2 == FirmwareImage::ByteSpace,
              "every byte below ByteSpace lands in one of MaxRows rows");

QString tr(const char *text)
{
    return QCoreApplication::translate("FirmwareImage", text);
}

bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || isLineEnd(c);
}

QString hexAddress(quint64 address)
{
    return QStringLiteral("0x") + QString::number(address, 16);
}

QString hexByte(quint32 value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

QString faultText(IntelHex::Fault fault)
{
    switch (fault) {
    case IntelHex::Fault::None:
        break;
    case IntelHex::Fault::Start:
        return tr("it does not start with ':', so it is no HEX record.");
    case IntelHex::Fault::Count:
        return tr("its byte count (characters 2 and 3) is missing or not hexadecimal.");
    case IntelHex::Fault::Address:
        return tr("its load address (characters 4 to 7) is missing or not hexadecimal.");
    case IntelHex::Fault::Type:
        return tr("its record type (characters 8 and 9) is missing or not hexadecimal.");
    case IntelHex::Fault::Data:
        return tr("it holds fewer data bytes than its byte count says, or one that is not "
                  "hexadecimal.");
    case IntelHex::Fault::Checksum:
        return tr("its checksum after the data is missing or not hexadecimal.");
    }
    return {};
}

/// The image as it is loaded, straight into the rows the download takes: each byte is marked
/// when it is given, so a byte given twice is refused at once, and nothing holds a byte twice.
class RowStore
{
public:
    static constexpr int RowBytes = 2 * IntelHex::RowSize; ///< bytes of program memory in a row

    RowStore()
        : positions(FirmwareImage::MaxRows, 0)
    {
    }

    /// Puts `value` at `address` (below ByteSpace); false when that byte was given before.
    bool put(quint32 address, quint32 value)
    {
        const quint32 rowNumber = address / RowBytes;
        qint32 &position = positions[rowNumber];
        if (position == 0) {
            ProgramMemoryRow row(IntelHex::RowSize);
            row.address = rowNumber * IntelHex::RowSize;
            rows.append(row);
            given.append({ 0, 0 });
            position = qint32(rows.size());
        }
        const quint32 slot = address % RowBytes;
        quint64 &bits = given[position - 1][slot / 64];
        const quint64 bit = quint64(1) << (slot % 64);
        if (bits & bit)
            return false;
        bits |= bit;
        ++count;
        quint32 &word = rows[position - 1].words[slot / 2];
        if (word == ProgramMemoryRow::NoData)
            word = 0;
        word = slot % 2 ? (word & 0x00FF) | (value << 8) : (word & 0xFF00) | value;
        return true;
    }

    /// The rows in ascending order, or the reason the bytes do not form whole words.
    QString take(QList<ProgramMemoryRow> &out)
    {
        if (count == 0)
            return tr("The firmware image holds no program data.");
        if (count % 2 != 0)
            return tr("The firmware image holds an odd number of bytes (%1), so it does not form "
                      "whole program words.")
                .arg(count);
        for (qint32 position : positions) {
            if (position == 0)
                continue;
            const std::array<quint64, 2> &bits = given.at(position - 1);
            for (quint32 slot = 0; slot < RowBytes; slot += 2) {
                const bool low = (bits[slot / 64] >> (slot % 64)) & 1;
                const bool high = (bits[slot / 64] >> (slot % 64 + 1)) & 1;
                if (low == high)
                    continue;
                const quint32 address = rows.at(position - 1).address * 2 + slot + (low ? 0 : 1);
                return tr("The firmware image has a byte at address %1 without its partner at "
                          "address %2, so it does not form whole program words.")
                    .arg(hexAddress(address), hexAddress(address ^ 1u));
            }
        }
        // Sorted where they are: a second list of rows would double the peak.
        std::sort(rows.begin(), rows.end(),
                  [](const ProgramMemoryRow &a, const ProgramMemoryRow &b) {
                      return a.address < b.address;
                  });
        out = std::move(rows);
        return {};
    }

private:
    QList<qint32> positions; ///< per row number: 1 + its index in `rows`, 0 while untouched
    QList<ProgramMemoryRow> rows; ///< in the order they were first touched
    QList<std::array<quint64, 2>> given; ///< per row: a bit for each of its bytes given
    qsizetype count = 0; ///< bytes given
};

// Applies one line (CR LF removed) to `hex` and `store`; the reason when it must not be loaded,
// else empty.
QString loadLine(QByteArrayView line, IntelHex &hex, RowStore &store, QList<quint32> &fields)
{
    // Blank lines, and the CR of CR CR LF or a final LF on a line of their own, hold no record.
    if (std::all_of(line.begin(), line.end(), isLineEnd))
        return {};
    // A record behind a lone line end is invisible to a reader that splits lines at CR LF.
    const auto lineEnd = std::find_if(line.begin(), line.end(), isLineEnd);
    if (std::find(lineEnd, line.end(), ':') != line.end())
        return tr("a line ends with a lone CR or LF and another record follows it; records must "
                  "be separated by CR LF, or the records after it would be lost.");

    qsizetype end = 0;
    const IntelHex::Fault fault = IntelHex::readFields(line, &fields, &end);
    if (fault != IntelHex::Fault::None)
        return faultText(fault);
    if (!std::all_of(line.begin() + end, line.end(), isBlank))
        return tr("there is more after the record's checksum; a line must hold one record and "
                  "nothing else.");
    const quint32 checksum = IntelHex::checksumOf(fields);
    if (checksum != fields.last())
        return tr("the record's checksum is %1, but its contents call for %2, so the record is "
                  "damaged.")
            .arg(hexByte(fields.last()), hexByte(checksum));

    const quint32 count = fields.at(1);
    if (fields.at(3) == DataRecord) {
        const quint64 first = quint64(hex.upperAddress) + fields.at(2);
        const quint64 last = first + count - 1;
        if (count > 0 && last > LastAddress)
            return tr("the data record runs past the highest address, %1.")
                .arg(hexAddress(LastAddress));
        // The word address goes out in 24 bits: higher bytes would be written over low memory.
        if (count > 0 && last >= FirmwareImage::ByteSpace)
            return tr("the data record puts a byte at address %1, beyond the sender's program "
                      "memory (byte addresses below %2); it would be written over low memory "
                      "such as the reset vector.")
                .arg(hexAddress(std::max<quint64>(first, FirmwareImage::ByteSpace)),
                     hexAddress(FirmwareImage::ByteSpace));
        for (quint32 i = 0; i < count; ++i) {
            if (!store.put(quint32(first + i), fields.at(DataField + i)))
                return tr("the record gives the byte at address %1 more than once: an earlier "
                          "record gave it already.")
                    .arg(hexAddress(first + i));
        }
        return {};
    }
    if (!hex.applyRecord(fields))
        return tr("the extended address record must hold 2 data bytes (the address), but it "
                  "holds %1.")
            .arg(count);
    return {};
}

} // namespace

FirmwareImage FirmwareImage::fromHex(const QByteArray &hexText)
{
    FirmwareImage image;
    // Refused before anything is allocated for it.
    if (hexText.size() > MaxTextSize) {
        image.error = tr("The firmware image is %1 bytes of HEX text, more than the %2 bytes "
                         "that the sender's whole program memory takes; it cannot be an image "
                         "for this sender.")
                          .arg(hexText.size())
                          .arg(MaxTextSize);
        return image;
    }

    IntelHex hex;
    RowStore store;
    QList<quint32> fields;
    const QByteArrayView text(hexText);
    qsizetype start = 0;
    for (qsizetype number = 1; start <= text.size(); ++number) {
        qsizetype end = hexText.indexOf("\r\n", start);
        if (end < 0)
            end = text.size();
        const QString problem = loadLine(text.sliced(start, end - start), hex, store, fields);
        if (!problem.isEmpty()) {
            image.error
                = tr("Line %1 of the firmware image: %2").arg(QString::number(number), problem);
            return image;
        }
        start = end + 2;
    }
    if (!hex.endOfFileSeen) {
        image.error = tr("The firmware image has no end-of-file record (:00000001FF): the file "
                         "is incomplete, perhaps cut short.");
        return image;
    }

    image.error = store.take(image.rows);
    Q_ASSERT(image.rows.size() <= MaxRows);
    return image;
}
