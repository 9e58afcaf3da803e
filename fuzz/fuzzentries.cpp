#include "fuzzentries.h"

#include "VX4message.h"
#include "adstatus.h"
#include "decoding.h"
#include "firmwarepackage.h"
#include "framing.h"
#include "intelhex.h"
#include "receivebuffer.h"
#include "vx4protocol.h"

#include <QCryptographicHash>
#include <QStringList>

#include <algorithm>
#include <cmath>

namespace FuzzEntries {

namespace {

constexpr int MaxFrameBytes = 255; ///< the length byte's limit
constexpr int ChunkCountMask = 0x07; ///< bits of byte 0: chunk sizes that follow, less one

void fail(Outcome &outcome, const QString &what)
{
    if (outcome.broken.isEmpty())
        outcome.broken = what;
}

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
        case VX4Framing::Step::ZeroLengthCleared:
            if (!buffer.isEmpty())
                fail(outcome, QStringLiteral("cleared buffer still holds ") + hex(buffer));
            return;
        case VX4Framing::Step::GarbageTrimmed:
            if (buffer.size() >= before || buffer.at(0) != marker) {
                fail(outcome, QStringLiteral("trim left ") + hex(buffer));
                return;
            }
            continue;
        case VX4Framing::Step::CrcMismatch:
            if (cut.bytes.isEmpty() || buffer.size() + cut.bytes.size() != before
                || VX4Message::checkCrc(cut.bytes)) {
                fail(outcome, QStringLiteral("bad frame cut wrongly: ") + hex(cut.bytes));
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

// Sorted, paired images give words at distinct addresses: each lands in exactly one row slot.
void checkRows(const IntelHex &hex, Outcome &outcome)
{
    const IntelHex::EntryList words = IntelHex::toWords(hex.bytes);
    if (words.size() * 2 != hex.bytes.size()) {
        fail(outcome,
             QStringLiteral("%1 bytes gave %2 words").arg(hex.bytes.size()).arg(words.size()));
        return;
    }
    const QList<ProgramMemoryRow> rows = IntelHex::toRows(words);
    qsizetype placed = 0;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const ProgramMemoryRow &row = rows.at(i);
        const bool ascending = i == 0 || row.address > rows.at(i - 1).address;
        if (row.words.size() != IntelHex::RowSize || row.address % IntelHex::RowSize != 0
            || !ascending) {
            fail(outcome, QStringLiteral("row %1 malformed: ").arg(i) + row.toString());
            return;
        }
        placed += std::count_if(row.words.cbegin(), row.words.cend(),
                                [](quint32 word) { return word != ProgramMemoryRow::NoData; });
    }
    if (placed != words.size())
        fail(outcome, QStringLiteral("%1 words, %2 in rows").arg(words.size()).arg(placed));
}

// True when the image parsed and passed its check.
bool parseHex(const QStringList &lines, qsizetype textSize, Outcome &outcome)
{
    IntelHex hex;
    const bool parsed = hex.parseLines(lines);
    // Every byte of the image costs two hex digits of text.
    if (hex.bytes.size() > textSize / 2)
        fail(outcome,
             QStringLiteral("%1 image bytes from %2 characters")
                 .arg(hex.bytes.size())
                 .arg(textSize));
    const auto byAddress
        = [](const IntelHex::Entry &a, const IntelHex::Entry &b) { return a.first < b.first; };
    if (parsed && !std::is_sorted(hex.bytes.cbegin(), hex.bytes.cend(), byAddress))
        fail(outcome, QStringLiteral("parsed image is not sorted"));
    const QString problem = hex.checkImage();
    if (hex.bytes.isEmpty() && problem.isEmpty())
        fail(outcome, QStringLiteral("empty image passed the check"));
    const bool accepted = parsed && problem.isEmpty();
    if (accepted) {
        checkRows(hex, outcome);
    } else {
        // The steps after the check must cope with what it refuses, too.
        IntelHex::toRows(IntelHex::toWords(hex.bytes));
    }
    const int columns = 1 + int(textSize % 16);
    IntelHex::dump(hex.bytes, columns, 2);
    IntelHex::dump(IntelHex::toWords(hex.bytes), 8, 4);
    return accepted;
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

    if (checkHexLineEnds(read.hexData).isEmpty()) {
        IntelHex hex;
        if (hex.parseLines(QString::fromLatin1(read.hexData).split(QStringLiteral("\r\n")))
            && hex.checkImage().isEmpty())
            checkRows(hex, outcome);
    }

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

} // namespace

Outcome receivePath(const QByteArray &input)
{
    Outcome outcome;
    if (input.isEmpty())
        return outcome;
    const quint8 control = quint8(input.at(0));
    const QByteArray sizes = input.mid(1, (control & ChunkCountMask) + 1);
    if (sizes.isEmpty())
        return outcome;
    const QByteArray stream = input.mid(1 + sizes.size());

    VX4ReceiveBuffer receiver { char(VX4Protocol::AnswerMarker) };
    QByteArray answers;
    QByteArray requests;
    qsizetype at = 0;
    for (qsizetype n = 0; at < stream.size() && outcome.broken.isEmpty(); ++n) {
        const QByteArray chunk = stream.mid(at, quint8(sizes.at(n % sizes.size())) + 1);
        at += chunk.size();
        // One pass per read, as the engine's receive path runs it.
        receiver.append(chunk);
        while (!VX4ReceiveBuffer::endsPass(receiver.next().step)) { }
        split(answers, char(VX4Protocol::AnswerMarker), chunk, outcome);
        split(requests, char(VX4Protocol::RequestMarker), chunk, outcome);
        // The engine's receive buffer runs the same parser on the answer direction: it must keep
        // the same bytes.
        if (receiver.size() >= MaxFrameBytes || receiver.bytes() != answers)
            fail(outcome,
                 QStringLiteral("receive buffer holds %1 bytes, the parser %2")
                     .arg(receiver.size())
                     .arg(answers.size()));
    }
    outcome.pendingBytes = receiver.size();
    return outcome;
}

Outcome intelHex(const QByteArray &input)
{
    Outcome outcome;
    const QString text = QString::fromLatin1(input);
    parseHex(text.split(QStringLiteral("\r\n")), text.size(), outcome);
    // Split at LF, a CR before it is text after the checksum: this reading holds for both ends.
    outcome.accepted = parseHex(text.split(QLatin1Char('\n')), text.size(), outcome);
    return outcome;
}

Outcome package(const QByteArray &input)
{
    Outcome outcome;
    outcome.accepted = readPackage(input, outcome);
    // The digest guards every other field, so mutated files rarely get past it; with a matching
    // digest appended, the fields themselves are what the reader sees.
    QByteArray sealed = input;
    sealed.append(QByteArray::fromHex("00000010"));
    sealed.append(QCryptographicHash::hash(input, QCryptographicHash::Md5));
    readPackage(sealed, outcome);
    return outcome;
}

} // namespace FuzzEntries
