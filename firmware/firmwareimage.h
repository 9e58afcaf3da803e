#pragma once

#include "intelhex.h"
#include "programmemoryrow.h"

#include <QByteArray>
#include <QList>
#include <QString>

/// A firmware package's HEX text as the rows the download writes, or the reason it must not be
/// written: the one way from text to rows for the utility, vx4pack and their tests.
struct FirmwareImage
{
    static constexpr quint32 WordSpace = 1u << 24; ///< words that a 24-bit word address reaches
    static constexpr quint32 ByteSpace = 2 * WordSpace; ///< first byte address refused
    static constexpr qsizetype MaxRows = WordSpace / IntelHex::RowSize; ///< 262,144 rows
    /// Bytes of the longest HEX text accepted: the whole word space in records of 16 data bytes
    /// (what HEX tools write by default), ended by CR LF, with its address and end records.
    static constexpr qsizetype MaxTextSize
        = qsizetype(ByteSpace / 16) * 45 + qsizetype(ByteSpace >> 16) * 17 + 13;

    QList<ProgramMemoryRow> rows; ///< ascending row addresses; empty when `error` is set
    QString error; ///< why the technician must not write this image; empty when it is sound

    /// Parses the records (split at CR LF), checks each and the image, pairs the bytes into
    /// words and cuts them into rows.
    static FirmwareImage fromHex(const QByteArray &hexText);
};
