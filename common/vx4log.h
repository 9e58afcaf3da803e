#pragma once

#include <QDebug>

/// The first four items of every log line: source name, "@", line, ":". Each source file defines
/// its own LOG from this with the source name the technician's log is read by.
#define VX4_LOG(source) qDebug() << source << "@" << __LINE__ << ":"
