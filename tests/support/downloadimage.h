#pragma once

#include "programmemoryrow.h"

#include <QList>
#include <QMap>

class SimulatedSender;

/// Program memory as `sender` should hold it after a successful download of `rows`: each touched
/// row is written whole, so the words the image leaves out keep what the row held before.
QMap<quint32, quint16> memoryAfterDownload(const SimulatedSender &sender,
                                           const QList<ProgramMemoryRow> &rows);
