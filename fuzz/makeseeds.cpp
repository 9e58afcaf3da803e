// fuzz_makeseeds DIR: writes the receive path's seed inputs into DIR, one file per case, each a
// control header (see fuzzentries.h) followed by frames as the sender and the PC write them.
#include "VX4message.h"
#include "vx4protocol.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

using namespace VX4Protocol;

namespace {

/// Whole input in one chunk.
const QByteArray OneChunk = QByteArray::fromHex("00ff");
/// One byte at a time.
const QByteArray ByteByByte = QByteArray::fromHex("0000");
/// Chunks of 1, 3 and 7 bytes in turn, after starting the connecting sequence.
const QByteArray ConnectThenMixed = QByteArray::fromHex("0a000206");

QByteArray answer(quint8 command, const QByteArray &payload)
{
    return VX4Message::buildFrame(AnswerMarker, quint8(FrameOverhead + payload.size()), command,
                                  payload);
}

QByteArray fromHex(const char *text)
{
    return QByteArray::fromHex(text);
}

QByteArray readRowAnswer()
{
    QByteArray words;
    for (int i = 0; i < ProgramRowBytes; ++i)
        words.append(char(i * 7 + 3));
    return answer(ReadProgMem, words);
}

bool write(const QDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "fuzz_makeseeds: cannot write %s\n", qPrintable(file.fileName()));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_makeseeds DIR\n");
        return 1;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));

    const QList<QPair<QString, QByteArray>> seeds = {
        { "worked-app-query-request", OneChunk + fromHex("3e07008baf0d0a") },
        { "worked-firmware-version-request", OneChunk + fromHex("3e0710999e0d0a") },
        { "worked-set-serial-request", OneChunk + fromHex("3e091104d272950d0a") },
        { "worked-app-query-answer", OneChunk + fromHex("3c0800015e9b0d0a") },
        { "answer-app-query-bootloader", OneChunk + answer(AppQuery, fromHex("00")) },
        { "answer-app-change", OneChunk + answer(AppChange, fromHex("01")) },
        { "answer-reset", OneChunk + answer(Reset, {}) },
        { "answer-write-prog-mem", OneChunk + answer(WriteProgMem, fromHex("01")) },
        { "answer-read-prog-mem", OneChunk + readRowAnswer() },
        { "answer-write-eeprom", OneChunk + answer(WriteEeprom, fromHex("0000a5")) },
        { "answer-read-eeprom", OneChunk + answer(ReadEeprom, fromHex("0000a5")) },
        { "answer-mode-query", OneChunk + answer(ModeQuery, fromHex("02")) },
        { "answer-mode-switch", OneChunk + answer(ModeSwitch, fromHex("01")) },
        { "answer-capture-pressure", OneChunk + answer(CapturePressure, fromHex("0202ee")) },
        { "answer-save-cal-data", OneChunk + answer(SaveCalData, fromHex("07de0305090700")) },
        { "answer-get-cal-data", OneChunk + answer(GetCalData, fromHex("0007de03050907")) },
        { "answer-get-firm-ver", OneChunk + answer(GetFirmVer, fromHex("0107")) },
        { "answer-set-serial", OneChunk + answer(SetSerial, fromHex("04d2")) },
        { "answer-get-serial", OneChunk + answer(GetSerial, fromHex("04d2")) },
        { "answer-get-ad-counts", OneChunk + answer(GetAdCounts, fromHex("007fff")) },
        { "answer-zero-psi", OneChunk + answer(ZeroPsi, {}) },
        { "answer-get-offset", OneChunk + answer(GetOffset, fromHex("ff9c")) },
        { "pressure-frame", OneChunk + answer(PressureMsg, fromHex("00ff38")) },
        { "garbage-then-answer",
          ByteByByte + fromHex("0011") + answer(GetSerial, fromHex("0007")) },
        { "bad-crc-then-answer",
          OneChunk + fromHex("3c0800015e9c0d0a") + answer(ModeQuery, fromHex("00")) },
        { "zero-length-then-answer", OneChunk + fromHex("3c00") + answer(AppQuery, fromHex("01")) },
        { "connecting-sequence",
          ConnectThenMixed + answer(AppQuery, fromHex("01")) + answer(GetFirmVer, fromHex("0107"))
              + answer(GetSerial, fromHex("04d2")) + answer(GetCalData, fromHex("0007de03050907"))
              + answer(PressureMsg, fromHex("00ff38")) + answer(ModeQuery, fromHex("00"))
              + answer(GetOffset, fromHex("ff9c")) + answer(AppQuery, fromHex("01")) },
    };
    for (const auto &seed : seeds) {
        if (!write(dir, seed.first, seed.second))
            return 1;
    }
    return 0;
}
