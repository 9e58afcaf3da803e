#pragma once

#include <QDateTime>
#include <QDebug>
#include <QString>

/// The first four items of every log line: source name, "@", line, ":". Each source file defines
/// its own LOG from this with the source name the technician's log is read by.
#define VX4_LOG(source) qDebug() << source << "@" << __LINE__ << ":"

namespace VX4Log {

/// A line of the debug log: "yyyy-MM-dd hh:mm:ss.zzz" of `stamp`, a blank, then `message`.
inline QString formatLine(const QDateTime &stamp, const QString &message)
{
    // The two-argument arg() substitutes both at once: a '%' inside the message stays as it is.
    return QStringLiteral("%1 %2").arg(stamp.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")),
                                       message);
}

} // namespace VX4Log
