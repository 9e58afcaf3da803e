#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

/// One firmware package (".vx4f") in memory: version, date, description and Intel HEX image.
struct FirmwarePackage
{
    static constexpr qint32 Magic = 0x01020304; ///< file type mark
    static constexpr qint32 FormatVersion = 12; ///< QDataStream::Qt_4_6

    qint32 magic = Magic;
    qint32 formatVersion = FormatVersion;
    qint32 versionMajor = -1;
    qint32 versionMinor = -1;
    QDateTime packagedOn;
    QByteArray hexData; ///< Intel HEX text, records separated by CR LF
    QString description;
    QByteArray md5; ///< MD5 of the serialisation of the fields above
};

/// MD5 of the serialisation of every field before `md5`.
QByteArray packageDigest(const FirmwarePackage &package);

/// Reads and checks package files; the caller tells the technician what went wrong.
class FirmwarePackageReader
{
public:
    enum Status {
        Ok,
        CannotOpen, ///< the file cannot be opened for reading
        WrongType, ///< the first four bytes are not the mark
        Corrupt, ///< the digest does not match (also a cut or altered file)
    };

    struct Result
    {
        Status status = CannotOpen;
        FirmwarePackage package;
    };

    static constexpr qint64 MaxFileSize = 64 * 1024 * 1024; ///< bytes; far above any image

    static Result read(const QString &path);
    /// The checks of `read` on a file's contents.
    static Result fromBytes(const QByteArray &data);
};

/// Writes package files in the layout the reader expects.
class FirmwarePackageWriter
{
public:
    /// The fields as they stand, `md5` included.
    static QByteArray toBytes(const FirmwarePackage &package);
    /// Writes `toBytes` to `path` in one step; on failure `error` says why.
    static bool write(const QString &path, const FirmwarePackage &package, QString *error);
};
