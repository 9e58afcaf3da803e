#include "firmwarefile.h"

#include "firmwareimage.h"
#include "firmwarepackage.h"

#include <QFile>

namespace {

// Every record on a line of its own ended by CR LF, whatever line ends the HEX file used.
QByteArray withCrLf(const QByteArray &text)
{
    QByteArray result;
    result.reserve(text.size() + text.size() / 32);
    for (const QByteArray &line : text.split('\n')) {
        const QByteArray record = line.endsWith('\r') ? line.chopped(1) : line;
        if (!record.isEmpty())
            result += record + "\r\n";
    }
    return result;
}

} // namespace

FirmwareFile FirmwareFile::load(const QString &path)
{
    FirmwareFile file;
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        file.error = QStringLiteral("Could not open file. (%1)").arg(in.errorString());
        return file;
    }
    if (in.size() > FirmwarePackageReader::MaxFileSize) {
        file.error = QStringLiteral("the file is larger than any firmware image (%1 bytes)")
                         .arg(in.size());
        return file;
    }
    const QByteArray data = in.readAll();

    QByteArray hexText;
    const QByteArray mark = QByteArray::fromHex("01020304");
    if (data.startsWith(mark)) {
        const FirmwarePackageReader::Result read = FirmwarePackageReader::fromBytes(data);
        switch (read.status) {
        case FirmwarePackageReader::Ok:
            break;
        case FirmwarePackageReader::CannotOpen:
            file.error = QStringLiteral("Could not open file.");
            return file;
        case FirmwarePackageReader::WrongType:
            file.error = QStringLiteral("Incorrect file type.");
            return file;
        case FirmwarePackageReader::Corrupt:
            file.error = QStringLiteral("File data is corrupt");
            return file;
        }
        const FirmwarePackage &p = read.package;
        file.version = QStringLiteral("%1.%2").arg(p.versionMajor).arg(p.versionMinor);
        file.summary
            = QStringLiteral("firmware package version %1.%2, packaged on %3, MD5 %4")
                  .arg(p.versionMajor)
                  .arg(p.versionMinor)
                  .arg(p.packagedOn.toString(Qt::ISODate), QString::fromLatin1(p.md5.toHex()));
        hexText = p.hexData;
    } else if (data.trimmed().startsWith(':')) {
        file.summary = QStringLiteral("Intel HEX file");
        hexText = withCrLf(data.trimmed());
    } else {
        file.error = QStringLiteral("Incorrect file type. (neither a firmware package nor an "
                                    "Intel HEX file)");
        return file;
    }
    const FirmwareImage image = FirmwareImage::fromHex(hexText);
    file.rows = image.rows;
    file.error = image.error;
    return file;
}
