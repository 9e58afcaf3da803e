#include "firmwarefile.h"

#include "firmwarepackage.h"
#include "intelhex.h"

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

QList<ProgramMemoryRow> rowsFromHex(const QByteArray &hexText, QString *error)
{
    error->clear();
    // Records separated by line feeds alone would be read as one line: only the first would load.
    *error = checkHexLineEnds(hexText);
    if (!error->isEmpty())
        return {};
    IntelHex hex;
    if (!hex.parseLines(QString::fromLatin1(hexText).split(QStringLiteral("\r\n")))) {
        *error = QStringLiteral("Corrupted HEX record encountered.  Giving up.");
        return {};
    }
    // Bytes that do not pair into whole words would be written as something else.
    *error = hex.checkImage();
    if (!error->isEmpty())
        return {};
    const QList<ProgramMemoryRow> rows = IntelHex::toRows(IntelHex::toWords(hex.bytes));
    if (rows.isEmpty())
        *error = QStringLiteral("the image holds no program memory data");
    return rows;
}

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
    file.rows = rowsFromHex(hexText, &file.error);
    return file;
}
