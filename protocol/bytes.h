#pragma once

#include <QByteArray>
#include <QtGlobal>

/// Numbers on the wire: 16-bit words and 24-bit program memory addresses, most significant byte
/// first. Readers take the index of the first byte; callers check the length beforehand.
namespace VX4Bytes {

inline void appendWord(QByteArray &bytes, quint16 value)
{
    bytes.append(char(value >> 8));
    bytes.append(char(value & 0xFF));
}

/// Only the low 24 bits of `address` go on the wire.
inline void appendAddress24(QByteArray &bytes, qint64 address)
{
    bytes.append(char((address >> 16) & 0xFF));
    bytes.append(char((address >> 8) & 0xFF));
    bytes.append(char(address & 0xFF));
}

inline quint16 wordAt(const QByteArray &bytes, qsizetype i)
{
    return quint16((quint8(bytes.at(i)) << 8) | quint8(bytes.at(i + 1)));
}

inline quint32 address24At(const QByteArray &bytes, qsizetype i)
{
    return (quint32(quint8(bytes.at(i))) << 16) | (quint32(quint8(bytes.at(i + 1))) << 8)
        | quint8(bytes.at(i + 2));
}

} // namespace VX4Bytes
