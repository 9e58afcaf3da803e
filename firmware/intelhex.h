#pragma once

#include "programmemoryrow.h"

#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

/// Turns Intel HEX text into the byte image, words and rows of the sender's program memory.
class IntelHex
{
public:
    using Entry = QPair<quint32, quint32>; ///< (address, value)
    using EntryList = QList<Entry>;

    static constexpr int RowSize = 64; ///< words per row of program memory

    EntryList bytes; ///< (byte address, byte value), sorted by address after parseLines
    quint32 upperAddress = 0; ///< from the last extended address record, already shifted
    bool endOfFileSeen = false;
    bool fileValid = false;

    IntelHex() = default;
    explicit IntelHex(const QString &fileName);

    /// The first field of a record text that does not read, or None.
    enum class Fault { None, Start, Count, Address, Type, Data, Checksum };

    /// Fields of one record (start mark, count, address, type, data..., checksum); empty on
    /// failure.
    static QList<quint32> parseRecord(const QString &record);
    /// The fields of `text` as it stands (no cut at NUL) into `fields`, which is emptied first;
    /// on success `end` is the index after the checksum. Nothing is logged.
    static Fault readFields(QByteArrayView text, QList<quint32> *fields, qsizetype *end);
    static bool checkRecord(const QList<quint32> &record);
    /// The checksum that the record's other fields call for; the record must be well formed.
    static quint32 checksumOf(const QList<quint32> &record);
    /// Applies a checked record to the image; false, with no effect, when it cannot be applied.
    bool applyRecord(const QList<quint32> &record);
    bool parseLines(const QStringList &lines);
    bool readFile(const QString &fileName);

    static EntryList toWords(const EntryList &bytes);
    static QList<ProgramMemoryRow> toRows(const EntryList &words);
    static QString dump(const EntryList &entries, int columns, int fieldWidth);
};
