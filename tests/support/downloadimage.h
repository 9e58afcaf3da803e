#pragma once

#include "programmemoryrow.h"

#include <QList>
#include <QMap>

class SimulatedSender;

/// Program memory as `sender` should hold it after a successful download of `rows`: each touched
/// row is written whole, so the words the image leaves out keep what the row held before.
QMap<quint32, quint16> memoryAfterDownload(const SimulatedSender &sender,
                                           const QList<ProgramMemoryRow> &rows);

/// A row at `address` whose slots `firstSlot` to `lastSlot` hold seed, seed + 1, ...; the others
/// hold no data.
ProgramMemoryRow imageRow(quint32 address, quint16 seed, int firstSlot = 0, int lastSlot = 63);
