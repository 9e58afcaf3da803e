// vx4pack: writes a firmware package (.vx4f) from an Intel HEX file, for firmware engineers and
// tests.
#include "firmwareimage.h"
#include "firmwarepackage.h"
#include "vx4version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QTextStream>

#include <cstdio>

namespace {

enum ExitCode { Success = 0, BadInput = 1, CannotWrite = 2 };

int fail(const QString &message, int code = BadInput)
{
    QTextStream(stderr) << "vx4pack: " << message << Qt::endl;
    return code;
}

// Every record on a line of its own ended by CR LF, whatever the HEX file used.
QByteArray normaliseLineEnds(const QByteArray &text)
{
    QByteArray result;
    result.reserve(text.size() + text.size() / 32);
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        const bool end = i == text.size() || text.at(i) == '\n' || text.at(i) == '\r';
        if (!end)
            continue;
        if (i > start)
            result += text.mid(start, i - start) + "\r\n";
        if (i + 1 < text.size() && text.at(i) == '\r' && text.at(i + 1) == '\n')
            ++i;
        start = i + 1;
    }
    return result;
}

bool parseVersion(const QString &text, qint32 *major, qint32 *minor)
{
    static const QRegularExpression form(QStringLiteral("^(\\d{1,9})\\.(\\d{1,9})$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return false;
    *major = match.captured(1).toInt();
    *minor = match.captured(2).toInt();
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vx4pack"));
    // --version names the firmware's version; given alone, it asks for this program's own.
    if (app.arguments().size() == 2 && app.arguments().at(1) == QLatin1String("--version")) {
        std::printf("vx4pack %s\n", VX4_APP_VERSION);
        return 0;
    }

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes an Orvelle VX4 firmware package (.vx4f) holding the Intel HEX image HEXFILE,\n"
        "the firmware version, a description and the packaging date, with their MD5 digest.\n"
        "Line ends of the HEX file are written as CR LF. The image is checked as the utility\n"
        "checks it before a download, unless --no-check is given.\n"
        "Exit codes: 0 written, 1 bad input, 2 the package could not be written.\n"
        "Example: vx4pack --version 2.5 --description \"Zero drift fixed\" -o vx4-2.5.vx4f "
        "vx4.hex"));
    parser.addHelpOption();
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Firmware version as MAJOR.MINOR, e.g. 2.5."),
                                     QStringLiteral("MAJOR.MINOR"));
    const QCommandLineOption description(
        QStringLiteral("description"),
        QStringLiteral("Text shown to the technician before the update (default: empty)."),
        QStringLiteral("TEXT"));
    const QCommandLineOption descriptionFile(
        QStringLiteral("description-file"),
        QStringLiteral("Read the description from a UTF-8 text file instead."),
        QStringLiteral("FILE"));
    const QCommandLineOption date(
        QStringLiteral("date"),
        QStringLiteral("Packaging date and time, ISO 8601 as YYYY-MM-DDTHH:MM:SS, local time "
                       "(default: now)."),
        QStringLiteral("DATETIME"));
    const QCommandLineOption output(QStringList { QStringLiteral("o"), QStringLiteral("output") },
                                    QStringLiteral("Package file to write (required)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption noCheck(
        QStringLiteral("no-check"),
        QStringLiteral("Package the HEX text even if the utility would refuse it (for tests)."));
    parser.addOptions({ version, description, descriptionFile, date, output, noCheck });
    parser.addPositionalArgument(QStringLiteral("HEXFILE"), QStringLiteral("Intel HEX file."));
    parser.process(app);

    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return fail(QStringLiteral("give exactly one HEX file (see --help)"));
    if (!parser.isSet(output))
        return fail(QStringLiteral("give the package file to write with -o FILE"));
    if (!parser.isSet(version))
        return fail(QStringLiteral("give the firmware version with --version MAJOR.MINOR"));
    if (parser.isSet(description) && parser.isSet(descriptionFile))
        return fail(QStringLiteral("give --description or --description-file, not both"));

    FirmwarePackage package;
    if (!parseVersion(parser.value(version), &package.versionMajor, &package.versionMinor))
        return fail(QStringLiteral("version \"%1\" is not MAJOR.MINOR").arg(parser.value(version)));

    package.packagedOn = QDateTime::currentDateTime();
    if (parser.isSet(date)) {
        package.packagedOn = QDateTime::fromString(parser.value(date), Qt::ISODate).toLocalTime();
        if (!package.packagedOn.isValid())
            return fail(
                QStringLiteral("date \"%1\" is not YYYY-MM-DDTHH:MM:SS").arg(parser.value(date)));
    }

    package.description = parser.value(description);
    if (parser.isSet(descriptionFile)) {
        QFile file(parser.value(descriptionFile));
        if (!file.open(QIODevice::ReadOnly))
            return fail(
                QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
        package.description = QString::fromUtf8(file.readAll());
    }

    QFile hexFile(positional.first());
    if (!hexFile.open(QIODevice::ReadOnly))
        return fail(
            QStringLiteral("cannot read %1: %2").arg(hexFile.fileName(), hexFile.errorString()));
    package.hexData = normaliseLineEnds(hexFile.readAll());
    if (!parser.isSet(noCheck)) {
        // Refused here as the utility would refuse it, so a bad package is found before the field.
        const QString problem = FirmwareImage::fromHex(package.hexData).error;
        if (!problem.isEmpty())
            return fail(QStringLiteral("%1: %2").arg(hexFile.fileName(), problem));
    }

    package.md5 = packageDigest(package);
    QString error;
    if (!FirmwarePackageWriter::write(parser.value(output), package, &error))
        return fail(QStringLiteral("cannot write %1: %2").arg(parser.value(output), error),
                    CannotWrite);
    return Success;
}
