#include "downloadimage.h"

#include "simulatedsender.h"
#include "vx4protocol.h"

QMap<quint32, quint16> memoryAfterDownload(const SimulatedSender &sender,
                                           const QList<ProgramMemoryRow> &rows)
{
    QMap<quint32, quint16> expected = sender.programMemory();
    for (const ProgramMemoryRow &row : rows) {
        for (int k = 0; k < VX4Protocol::ProgramRowWords; ++k) {
            const quint32 word = row.words.at(k);
            expected[row.address + k] = word != ProgramMemoryRow::NoData
                ? quint16(word)
                : sender.programWord(row.address + k);
        }
    }
    return expected;
}

ProgramMemoryRow imageRow(quint32 address, quint16 seed, int firstSlot, int lastSlot)
{
    ProgramMemoryRow row(VX4Protocol::ProgramRowWords);
    row.address = address;
    for (int k = firstSlot; k <= lastSlot; ++k)
        row.words[k] = quint16(seed + k);
    return row;
}
