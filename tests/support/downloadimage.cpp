#include "downloadimage.h"

#include "simulatedsender.h"
#include "vx4protocol.h"

QMap<quint32, quint16> memoryAfterDownload(const SimulatedSender &sender,
                                           const QList<ProgramMemoryRow> &rows)
{
    QMap<quint32, quint16> expected = sender.programMemory();
    for (const ProgramMemoryRow &row : rows) {
        for (int k = 0; k < VX4Protocol::ProgramRowWords; ++k) {
            if (row.words.at(k) != ProgramMemoryRow::NoData)
                expected[row.address + k] = quint16(row.words.at(k));
            else
                expected[row.address + k] = sender.programWord(row.address + k);
        }
    }
    return expected;
}
