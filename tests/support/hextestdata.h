#pragma once

#include <QByteArray>
#include <QProcess>
#include <QRandomGenerator>
#include <QString>

namespace HexTestData {

/// One Intel HEX record text with its checksum, without a line end.
inline QString record(quint8 type, quint16 address, const QByteArray &data)
{
    quint32 sum = quint32(data.size()) + (address >> 8) + (address & 0xFF) + type;
    for (char byte : data)
        sum += quint8(byte);
    return QStringLiteral(":%1%2%3%4%5")
        .arg(data.size(), 2, 16, QLatin1Char('0'))
        .arg(address, 4, 16, QLatin1Char('0'))
        .arg(type, 2, 16, QLatin1Char('0'))
        .arg(QString::fromLatin1(data.toHex()))
        .arg((0u - sum) & 0xFF, 2, 16, QLatin1Char('0'))
        .toUpper();
}

/// Bytes that differ from their neighbours, the same on every run.
inline QByteArray binaryImage(int size)
{
    QRandomGenerator generator(4711);
    QByteArray image(size, Qt::Uninitialized);
    for (char &byte : image)
        byte = char(generator.bounded(256));
    return image;
}

/// Converts `binary` to Intel HEX at `address` with objcopy; empty on failure.
inline QString runObjcopy(const QString &objcopy, const QString &binary, const QString &hex,
                          quint32 address)
{
    QProcess process;
    process.start(objcopy,
                  { QStringLiteral("-I"), QStringLiteral("binary"), QStringLiteral("-O"),
                    QStringLiteral("ihex"), QStringLiteral("--change-addresses"),
                    QStringLiteral("0x") + QString::number(address, 16), binary, hex });
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit
        || process.exitCode() != 0)
        return QString::fromLocal8Bit(process.readAllStandardError()) + QStringLiteral(" (failed)");
    return {};
}

} // namespace HexTestData
