#pragma once

#include <QString>

/// The debug log of a vx4ctl run: the engine's and the HEX reader's lines, time-stamped as the
/// window's debug log, appended to the --log file; without one they are dropped, so they never
/// mix with the results.
namespace CtlLog {

/// Installs the message handler; lines go nowhere until `openFile`.
void install();
/// Appends from now on to `path`; false with the reason when it cannot be written.
bool openFile(const QString &path, QString *error);
/// Writes what is buffered; called before the process ends.
void flush();

} // namespace CtlLog
