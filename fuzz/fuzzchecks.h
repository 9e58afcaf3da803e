#pragma once

#include "firmwareimage.h"
#include "receivebuffer.h"

#include <QByteArray>
#include <QString>

/// What every input to the fuzzed entry points must satisfy: the checks shared by the libFuzzer
/// programs and the regression test (the entries in fuzzentries.cpp feed them the input).
namespace FuzzEntries {

struct Outcome
{
    QString broken; ///< empty when every check held, else the first that failed
    int goodFrames = 0; ///< receive path: frames with a good CRC, cut with either marker, and
                        ///< found behind a stalled frame given up
    qsizetype pendingBytes = 0; ///< receive path: bytes the receive buffer holds after the last
                                ///< chunk
    bool accepted = false; ///< HEX: the firmware image has no error; package: the reader said
                           ///< Ok to the input as it is
};

/// Records the first check that failed.
void fail(Outcome &outcome, const QString &what);

/// One chunk through the frame parser on `buffer`, checking each step's promise; good frames are
/// checked as the engine would see them.
void split(QByteArray &buffer, char marker, const QByteArray &chunk, Outcome &outcome);

/// The engine's receive buffer after a pass must hold what the parser holds.
void compareReceivers(const VX4ReceiveBuffer &receiver, const QByteArray &answers,
                      Outcome &outcome);

/// The line has gone quiet: an incomplete frame held must say how many bytes it lacks, so the
/// engine can give it up; once its marker is dropped, the frames behind it are found.
void giveUpStalledFrames(VX4ReceiveBuffer &receiver, Outcome &outcome);

/// An accepted image's rows are sound; a refused image has none.
void checkImage(const FirmwareImage &image, qsizetype textSize, Outcome &outcome);

/// The plain record reader reads an accepted image alike.
void compareWithRecordReader(const FirmwareImage &image, const QByteArray &text, Outcome &outcome);

/// Reads `bytes` as a package file and checks what the reader makes of it; true when accepted.
bool readPackage(const QByteArray &bytes, Outcome &outcome);

} // namespace FuzzEntries
