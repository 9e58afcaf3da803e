#include "crcengine.h"

CrcEngine::CrcEngine(qint16 width, quint32 polynomial, quint32 initialValue, bool reflectInput,
                     bool reflectOutput, quint32 finalXor)
    : width(width)
    , polynomial(polynomial)
    , reflectInput(reflectInput)
    , reflectOutput(reflectOutput)
    , finalXor(finalXor)
    , reg(initialValue)
{
}

quint32 CrcEngine::compute(const QByteArray &bytes)
{
    const quint32 mask = (quint32(1) << width) - 1;
    const quint32 topBit = quint32(1) << (width - 1);
    // The byte counter is 16 bits wide on the original; frames never come near that.
    const qsizetype count = qMin<qsizetype>(bytes.size(), 0xFFFF);
    for (qsizetype i = 0; i < count; ++i) {
        quint32 byte = quint8(bytes.at(i));
        if (reflectInput)
            byte = reflect(byte, 8);
        reg ^= byte << (width - 8);
        for (int bit = 0; bit < 8; ++bit) {
            if (reg & topBit)
                reg = ((reg << 1) ^ polynomial) & mask;
            else
                reg = (reg << 1) & mask;
        }
    }
    quint32 result = reflectOutput ? reflect(reg, width) : reg;
    return result ^ finalXor;
}

quint32 CrcEngine::reflect(quint32 value, int bits)
{
    if (bits <= 0)
        return value;
    quint32 result = bits >= 32 ? 0 : value & ~((quint32(1) << bits) - 1);
    for (int i = 1; i <= bits; ++i) {
        if (value & (quint32(1) << (i - 1)))
            result |= quint32(1) << (bits - i);
    }
    return result;
}
