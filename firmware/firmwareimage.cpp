#include "firmwareimage.h"

#include <QByteArrayView>
#include <QCoreApplication>

#include <algorithm>

namespace {

constexpr quint32 DataRecord = 0x00;
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

// Applies one line (CR LF removed) to `hex`; the reason when it must not be loaded, else empty.
QString loadLine(QByteArrayView line, IntelHex &hex, QList<quint32> &fields)
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
    if (fields.at(3) == DataRecord && count > 0) {
        const quint64 first = quint64(hex.upperAddress) + fields.at(2);
        const quint64 last = first + count - 1;
        if (last > LastAddress)
            return tr("the data record runs past the highest address, %1.")
                .arg(hexAddress(LastAddress));
        // The word address goes out in 24 bits: higher bytes would be written over low memory.
        if (last >= FirmwareImage::ByteSpace)
            return tr("the data record puts a byte at address %1, beyond the sender's program "
                      "memory (byte addresses below %2); it would be written over low memory "
                      "such as the reset vector.")
                .arg(hexAddress(std::max<quint64>(first, FirmwareImage::ByteSpace)),
                     hexAddress(FirmwareImage::ByteSpace));
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
    QList<quint32> fields;
    const QByteArrayView text(hexText);
    qsizetype start = 0;
    for (qsizetype number = 1; start <= text.size(); ++number) {
        qsizetype end = hexText.indexOf("\r\n", start);
        if (end < 0)
            end = text.size();
        const QString problem = loadLine(text.sliced(start, end - start), hex, fields);
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

    const auto byAddress
        = [](const IntelHex::Entry &a, const IntelHex::Entry &b) { return a.first < b.first; };
    if (!std::is_sorted(hex.bytes.cbegin(), hex.bytes.cend(), byAddress))
        std::sort(hex.bytes.begin(), hex.bytes.end(), byAddress);
    image.error = hex.checkImage();
    if (image.error.isEmpty())
        image.rows = IntelHex::toRows(IntelHex::toWords(hex.bytes));
    Q_ASSERT(image.rows.size() <= MaxRows);
    return image;
}
