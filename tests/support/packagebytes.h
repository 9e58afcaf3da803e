#pragma once

#include "firmwarepackage.h"

/// The bytes of a firmware package 2.5 around `hexData`, as the writer lays them out, with its
/// digest.
inline QByteArray packageBytes(const QByteArray &hexData)
{
    FirmwarePackage package;
    package.versionMajor = 2;
    package.versionMinor = 5;
    package.hexData = hexData;
    package.packagedOn = QDateTime(QDate(2026, 11, 30), QTime(14, 5, 9));
    package.description = QStringLiteral("Faster start-up.");
    package.md5 = packageDigest(package);
    return FirmwarePackageWriter::toBytes(package);
}
