#include "fuzzchecks.h"

#include "VX4message.h"
#include "adstatus.h"
#include "decoding.h"
#include "firmwarepackage.h"
#include "framing.h"
#include "intelhex.h"
#include "vx4protocol.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace FuzzEntries {

namespace {

constexpr int MaxFrameBytes = 255; ///< the length byte's limit

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

// A good frame as the engine would see it: its fields, its rebuild and every decoding.
void checkGoodFrame(const QByteArray &frame, char marker, Outcome &outcome)
{
    ++outcome.goodFrames;
    if (frame.size() < 2 || frame.at(0) != marker || frame.size() != quint8(frame.at(1))
        || !VX4Message::checkCrc(frame)) {
        fail(outcome, QStringLiteral("cut frame is not whole: ") + hex(frame));
        return;
    }
    const VX4Message msg(frame);
    if (msg.isEmpty() != (frame.size() < VX4Protocol::MinMessageBytes) || msg.toString().isEmpty())
        fail(outcome, QStringLiteral("frame constructor: ") + hex(frame));
    if (msg.isEmpty())
        return;
    if (msg.length != quint8(frame.at(1)) || msg.command != quint8(frame.at(2))
        || msg.payload.size() != qMax<qsizetype>(0, frame.size() - VX4Protocol::FrameOverhead))
        fail(outcome, QStringLiteral("frame fields: ") + hex(frame));
    if (frame.size() >= VX4Protocol::FrameOverhead && frame.endsWith("\r\n")
        && VX4Message::buildFrame(quint8(marker), msg.length, msg.command, msg.payload) != frame)
        fail(outcome, QStringLiteral("frame does not rebuild: ") + hex(frame));

    const double volts = VX4AdStatus::countsToVolts(msg.payload);
    if (!std::isfinite(volts) || std::abs(volts) > 3.001)
        fail(outcome, QStringLiteral("A/D volts %1 from ").arg(volts) + hex(frame));
    if (VX4Decode::app(msg.payload) > UnknownApp || VX4Decode::mode(msg.payload) > UnknownMode)
        fail(outcome, QStringLiteral("application or mode out of range from ") + hex(frame));
    const QDateTime calDate = VX4Decode::calDateTime(msg.payload);
    if (calDate.isValid() && msg.payload.size() < 7)
        fail(outcome, QStringLiteral("calibration date from a short payload: ") + hex(frame));
    quint8 major = 0;
    quint8 minor = 0;
    VX4Decode::firmwareVersion(msg.payload, major, minor);
    VX4Decode::serialNumber(msg.payload);
    VX4Decode::adOffset(msg.payload);
    VX4Decode::pressure(msg.payload);
    VX4Message::commandName(msg.command);
}

} // namespace

void fail(Outcome &outcome, const QString &what)
{
    if (outcome.broken.isEmpty())
        outcome.broken = what;
}

// The parsing loop on a buffer of its own, checking each step's promise.
void split(QByteArray &buffer, char marker, const QByteArray &chunk, Outcome &outcome)
{
    buffer.append(chunk);
    for (;;) {
        const qsizetype before = buffer.size();
        const VX4Framing::Cut cut = VX4Framing::takeNext(buffer, marker);
        switch (cut.step) {
        case VX4Framing::Step::NeedMore:
            if (buffer.size() != before || buffer.size() >= MaxFrameBytes)
                fail(outcome, QStringLiteral("waiting with %1 bytes").arg(buffer.size()));
            return;
        case VX4Framing::Step::GarbageCleared:
            if (!buffer.isEmpty())
                fail(outcome, QStringLiteral("cleared buffer still holds ") + hex(buffer));
            return;
        case VX4Framing::Step::GarbageTrimmed:
            // On the PC's side a trim may also stop at an echoed request.
            if (buffer.size() >= before
                || (buffer.at(0) != marker
                    && (marker != char(VX4Protocol::AnswerMarker)
                        || buffer.at(0) != char(VX4Protocol::RequestMarker)))) {
                fail(outcome, QStringLiteral("trim left ") + hex(buffer));
                return;
            }
            continue;
        case VX4Framing::Step::MarkerDropped:
            if (buffer.size() + 1 != before) {
                fail(outcome, QStringLiteral("marker drop left ") + hex(buffer));
                return;
            }
            continue;
        case VX4Framing::Step::CrcMismatch:
            // Only the marker goes: a frame that began inside the bad one is still found.
            if (cut.bytes.isEmpty() || buffer.size() + 1 != before
                || VX4Message::checkCrc(cut.bytes)) {
                fail(outcome, QStringLiteral("bad frame cut wrongly: ") + hex(cut.bytes));
                return;
            }
            continue;
        case VX4Framing::Step::EchoSkipped:
            if (buffer.size() + cut.bytes.size() != before || !VX4Message::checkCrc(cut.bytes)
                || cut.bytes.at(0) != char(VX4Protocol::RequestMarker)) {
                fail(outcome, QStringLiteral("echo cut wrongly: ") + hex(cut.bytes));
                return;
            }
            continue;
        case VX4Framing::Step::Frame:
            if (buffer.size() + cut.bytes.size() != before) {
                fail(outcome, QStringLiteral("frame cut wrongly: ") + hex(cut.bytes));
                return;
            }
            checkGoodFrame(cut.bytes, marker, outcome);
            continue;
        }
    }
}

void compareReceivers(const VX4ReceiveBuffer &receiver, const QByteArray &answers, Outcome &outcome)
{
    if (receiver.size() >= MaxFrameBytes || receiver.bytes() != answers)
        fail(outcome,
             QStringLiteral("receive buffer holds %1 bytes, the parser %2")
                 .arg(receiver.size())
                 .arg(answers.size()));
}

void giveUpStalledFrames(VX4ReceiveBuffer &receiver, Outcome &outcome)
{
    const char marker = char(VX4Protocol::AnswerMarker);
    for (int round = 0; round < MaxFrameBytes && outcome.broken.isEmpty(); ++round) {
        // A lone byte that is no marker waits for the next, which trims it.
        if (receiver.size() == 0 || receiver.bytes().at(0) != marker)
            return;
        if (receiver.missingBytes() <= 0) {
            fail(outcome,
                 QStringLiteral("held bytes no stall would give up: ") + hex(receiver.bytes()));
            return;
        }
        receiver.dropMarker();
        for (VX4Framing::Cut cut = receiver.next(); !VX4ReceiveBuffer::endsPass(cut.step);
             cut = receiver.next()) {
            if (cut.step == VX4Framing::Step::Frame)
                checkGoodFrame(cut.bytes, marker, outcome);
        }
    }
}

// An accepted image: rows of 64 in ascending order inside the word space, 16-bit words, no more
// words than the text has digits for; a refused one has no rows.
void checkImage(const FirmwareImage &image, qsizetype textSize, Outcome &outcome)
{
    if (!image.error.isEmpty()) {
        if (!image.rows.isEmpty())
            fail(outcome, QStringLiteral("refused image has rows: ") + image.error);
        return;
    }
    if (image.rows.isEmpty() || image.rows.size() > FirmwareImage::MaxRows)
        fail(outcome, QStringLiteral("accepted image has %1 rows").arg(image.rows.size()));
    qsizetype placed = 0;
    for (qsizetype i = 0; i < image.rows.size(); ++i) {
        const ProgramMemoryRow &row = image.rows.at(i);
        const bool ascending = i == 0 || row.address > image.rows.at(i - 1).address;
        const bool wordsFit = std::all_of(row.words.cbegin(), row.words.cend(), [](quint32 word) {
            return word <= 0xFFFF || word == ProgramMemoryRow::NoData;
        });
        if (row.words.size() != IntelHex::RowSize || row.address % IntelHex::RowSize != 0
            || row.address >= FirmwareImage::WordSpace || !ascending || !wordsFit) {
            fail(outcome, QStringLiteral("row %1 malformed: ").arg(i) + row.toString());
            return;
        }
        placed += std::count_if(row.words.cbegin(), row.words.cend(),
                                [](quint32 word) { return word != ProgramMemoryRow::NoData; });
    }
    // Every word of the image costs four hex digits of text.
    if (placed == 0 || placed > textSize / 4)
        fail(outcome, QStringLiteral("%1 words from %2 characters").arg(placed).arg(textSize));
}

// The plain record reader on the same CR LF lines (lines of line ends alone dropped) must give
// the same rows for every image accepted: nothing hidden behind a lone line end, nothing read
// otherwise.
void compareWithRecordReader(const FirmwareImage &image, const QByteArray &text, Outcome &outcome)
{
    if (!image.error.isEmpty())
        return;
    QStringList lines = QString::fromLatin1(text).split(QStringLiteral("\r\n"));
    lines.removeIf([](const QString &line) {
        return std::all_of(line.cbegin(), line.cend(),
                           [](QChar c) { return c == '\r' || c == '\n'; });
    });
    IntelHex hex;
    if (!hex.parseLines(lines) || !hex.endOfFileSeen
        || IntelHex::toRows(IntelHex::toWords(hex.bytes)) != image.rows)
        fail(outcome, QStringLiteral("the record reader reads the accepted image otherwise"));
}

// Reads `bytes` as a package file; an accepted package's HEX text goes on as in a download.
bool readPackage(const QByteArray &bytes, Outcome &outcome)
{
    const FirmwarePackageReader::Result result = FirmwarePackageReader::fromBytes(bytes);
    if (result.status != FirmwarePackageReader::Ok) {
        if (result.status != FirmwarePackageReader::WrongType
            && result.status != FirmwarePackageReader::Corrupt)
            fail(outcome, QStringLiteral("bytes read as status %1").arg(result.status));
        return false;
    }
    const FirmwarePackage &read = result.package;
    if (read.hexData.size() + 2 * read.description.size() + read.md5.size() > bytes.size())
        fail(outcome, QStringLiteral("package fields larger than the file"));

    checkImage(FirmwareImage::fromHex(read.hexData), read.hexData.size(), outcome);

    // What the reader accepts, the writer writes back so that the reader accepts it unchanged.
    FirmwarePackage copy = read;
    copy.md5 = packageDigest(copy);
    const FirmwarePackageReader::Result again
        = FirmwarePackageReader::fromBytes(FirmwarePackageWriter::toBytes(copy));
    const FirmwarePackage &back = again.package;
    if (again.status != FirmwarePackageReader::Ok || back.versionMajor != read.versionMajor
        || back.versionMinor != read.versionMinor || back.packagedOn != read.packagedOn
        || back.hexData != read.hexData || back.description != read.description)
        fail(outcome, QStringLiteral("package does not survive writing and reading back"));
    return true;
}

} // namespace FuzzEntries
