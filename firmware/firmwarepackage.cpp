#include "firmwarepackage.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDataStream>
#include <QFile>
#include <QSaveFile>
#include <QtEndian>

namespace {

constexpr quint32 NullLength = 0xFFFFFFFF; ///< length field of a null array or string
constexpr int LengthSize = 4; ///< bytes of a length field

void prepare(QDataStream &stream)
{
    stream.setVersion(QDataStream::Qt_4_6);
    stream.setByteOrder(QDataStream::BigEndian);
}

void writeDigestedFields(QDataStream &stream, const FirmwarePackage &package)
{
    stream << package.magic << package.formatVersion << package.versionMajor << package.versionMinor
           << package.packagedOn << package.hexData << package.description;
}

// The stream reads long arrays in steps, but a length beyond the data left can only mean a cut or
// damaged file, so it is refused before anything is allocated for it.
bool lengthFits(QDataStream &stream)
{
    QIODevice *device = stream.device();
    const QByteArray field = device->peek(LengthSize);
    if (field.size() < LengthSize)
        return true; // the stream itself reports the end of data
    const quint32 length = qFromBigEndian<quint32>(field.constData());
    return length == NullLength || qint64(length) <= device->bytesAvailable() - LengthSize;
}

template<typename T> void readSized(QDataStream &stream, T &field)
{
    if (stream.status() != QDataStream::Ok)
        return;
    if (!lengthFits(stream)) {
        stream.setStatus(QDataStream::ReadCorruptData);
        return;
    }
    stream >> field;
}

QByteArray markBytes()
{
    QByteArray mark(LengthSize, Qt::Uninitialized);
    qToBigEndian(FirmwarePackage::Magic, mark.data());
    return mark;
}

} // namespace

QByteArray packageDigest(const FirmwarePackage &package)
{
    QByteArray serialised;
    QDataStream stream(&serialised, QIODevice::WriteOnly);
    prepare(stream);
    writeDigestedFields(stream, package);
    return QCryptographicHash::hash(serialised, QCryptographicHash::Md5);
}

FirmwarePackageReader::Result FirmwarePackageReader::read(const QString &path)
{
    Result result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.status = CannotOpen;
        return result;
    }
    if (file.read(LengthSize) != markBytes()) {
        result.status = WrongType;
        return result;
    }
    if (file.size() > MaxFileSize) {
        result.status = Corrupt;
        return result;
    }
    file.seek(0);
    return fromBytes(file.readAll());
}

FirmwarePackageReader::Result FirmwarePackageReader::fromBytes(const QByteArray &data)
{
    Result result;
    FirmwarePackage &package = result.package;
    QDataStream stream(data);
    prepare(stream);

    stream >> package.magic;
    if (stream.status() != QDataStream::Ok || package.magic != FirmwarePackage::Magic) {
        result.status = WrongType;
        return result;
    }
    stream >> package.formatVersion >> package.versionMajor >> package.versionMinor
        >> package.packagedOn;
    readSized(stream, package.hexData);
    readSized(stream, package.description);
    const qint64 digestedSize = stream.device()->pos();
    readSized(stream, package.md5);

    // The digest covers the bytes as written: a package from an older writer may mark its local
    // time with a byte that this library would serialise differently.
    const bool intact = stream.status() == QDataStream::Ok
        && package.md5
            == QCryptographicHash::hash(data.left(digestedSize), QCryptographicHash::Md5);
    result.status = intact ? Ok : Corrupt;
    return result;
}

QByteArray FirmwarePackageWriter::toBytes(const FirmwarePackage &package)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    prepare(stream);
    writeDigestedFields(stream, package);
    stream << package.md5;
    return bytes;
}

bool FirmwarePackageWriter::write(const QString &path, const FirmwarePackage &package,
                                  QString *error)
{
    QSaveFile file(path);
    const QByteArray bytes = toBytes(package);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}
