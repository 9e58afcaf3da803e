#include "fuzzentries.h"

#include "fuzzchecks.h"
#include "intelhex.h"
#include "vx4protocol.h"

#include <QCryptographicHash>

namespace FuzzEntries {

namespace {
constexpr int ChunkCountMask = 0x07; ///< bits of byte 0: chunk sizes that follow, less one
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
        compareReceivers(receiver, answers, outcome);
    }
    outcome.pendingBytes = receiver.size();
    giveUpStalledFrames(receiver, outcome);
    return outcome;
}

Outcome intelHex(const QByteArray &input)
{
    Outcome outcome;
    const FirmwareImage image = FirmwareImage::fromHex(input);
    checkImage(image, input.size(), outcome);
    compareWithRecordReader(image, input, outcome);
    // The debug view of the words, at a width the input picks.
    IntelHex::EntryList words;
    for (const ProgramMemoryRow &row : image.rows) {
        for (qsizetype i = 0; i < row.words.size(); ++i) {
            if (row.words.at(i) != ProgramMemoryRow::NoData)
                words.append({ row.address + quint32(i), row.words.at(i) });
        }
    }
    IntelHex::dump(words, 1 + int(input.size() % 16), 4);
    outcome.accepted = image.error.isEmpty();
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
