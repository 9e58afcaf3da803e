#pragma once

#include <QList>
#include <QString>

/// One row of the sender's program memory as the bootloader reads and writes it.
struct ProgramMemoryRow
{
    static constexpr quint32 NoAddress = 0xFFFFFFFF; ///< the row has no address yet
    static constexpr quint32 NoData = 0xFFFFFFFF; ///< no word of the image for this slot

    quint32 address = NoAddress; ///< word address of the first word, a multiple of 64
    QList<quint32> words; ///< `size` entries: a 16-bit word or NoData
    quint32 size = 0;

    ProgramMemoryRow() = default;
    explicit ProgramMemoryRow(quint32 size);

    void reset();
    QString toString() const;
    bool operator==(const ProgramMemoryRow &other) const;
};
