#pragma once

#include <QByteArray>

/// One Intel HEX record of `type` at `address` with its checksum, upper case, without a line end.
inline QByteArray hexRecord(quint8 type, quint16 address, const QByteArray &data)
{
    QByteArray bytes
        = QByteArray(1, char(data.size())) + char(address >> 8) + char(address) + char(type) + data;
    quint8 sum = 0;
    for (char byte : bytes)
        sum -= quint8(byte);
    return ':' + bytes.append(char(sum)).toHex().toUpper();
}

/// The same with the data written in hex.
inline QByteArray hexRecord(quint8 type, quint16 address, const char *hexData)
{
    return hexRecord(type, address, QByteArray::fromHex(hexData));
}
