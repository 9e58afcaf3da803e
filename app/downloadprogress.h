#pragma once

#include <QString>

/// The words under a running download's progress bar: the sender, rows done of all, rows
/// skipped, the time taken and the time left at the rate measured so far.
namespace DownloadProgress {

/// "1:05", or "1:02:05" from an hour on.
QString duration(qint64 ms);

/// The dialog's label for `sender` after `done` of `total` rows, `skipped` of them already
/// holding the image, `elapsedMs` after the start.
QString text(const QString &sender, int done, int total, int skipped, qint64 elapsedMs);

} // namespace DownloadProgress
