#pragma once

#include <QByteArray>
#include <QtGlobal>

/// Bitwise, most-significant-bit-first CRC calculator for widths of 8 to 31 bits.
/// One object serves one computation: the register is not reset after compute().
class CrcEngine
{
public:
    CrcEngine(qint16 width, quint32 polynomial, quint32 initialValue, bool reflectInput,
              bool reflectOutput, quint32 finalXor);

    quint32 compute(const QByteArray &bytes);
    static quint32 reflect(quint32 value, int bits);

private:
    qint16 width;
    quint32 polynomial;
    bool reflectInput;
    bool reflectOutput;
    quint32 finalXor;
    quint32 reg;
};
