#pragma once

#include "fuzzchecks.h"

/// What one input does to the fuzzed entry points, shared by the libFuzzer programs and the
/// regression test so both run exactly the same code on an input; fuzzchecks.h has the checks.
namespace FuzzEntries {

/// Byte 0: bits 0-2 give how many chunk sizes follow (1 to 8); the other bits are unused (older
/// seeds set bit 3). Each chunk size byte is one less than its chunk; the sizes repeat over the
/// rest of the input, which goes chunk by chunk to the engine's receive buffer and to the frame
/// splitter with both markers. Every good frame is decoded. When the input ends, the line goes
/// quiet: an incomplete frame left is given up as the engine gives it up.
Outcome receivePath(const QByteArray &input);

/// The input as a firmware image's HEX text, compared with the plain record reader's reading of
/// its lines when accepted, and its words through the dump.
Outcome intelHex(const QByteArray &input);

/// The input as a package file, and again with a matching digest appended; an accepted package's
/// HEX text goes on as in a download, and the package must survive being written and read back.
Outcome package(const QByteArray &input);

} // namespace FuzzEntries
