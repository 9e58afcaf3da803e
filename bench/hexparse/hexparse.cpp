// Times what the update flow does with a package's HEX text (FirmwareImage::fromHex: parse, check,
// pair into words and cut into rows) on a 1 MB text; prints the median of several runs. Then the
// peak memory of reading and loading hostile and extreme files, each in a process of its own:
// the growth of the resident set from before the file is read to its highest point.
#include "firmwareimage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <functional>

namespace {

constexpr qsizetype TextSize = 1024 * 1024; ///< bytes of HEX text
constexpr int RecordBytes = 16; ///< data bytes per record, as most tools write them
constexpr int Repetitions = 9;
constexpr quint32 ByteSpace = FirmwareImage::ByteSpace;

QByteArray record(quint32 type, quint32 address, const QByteArray &data)
{
    quint32 sum = quint32(data.size()) + (address >> 8) + (address & 0xFF) + type;
    for (char byte : data)
        sum += quint8(byte);
    QByteArray text = ":" + QByteArray::number(data.size(), 16).rightJustified(2, '0')
        + QByteArray::number(address, 16).rightJustified(4, '0')
        + QByteArray::number(type, 16).rightJustified(2, '0') + data.toHex()
        + QByteArray::number((0u - sum) & 0xFF, 16).rightJustified(2, '0');
    return text.toUpper() + "\r\n";
}

/// Records of `recordBytes` data bytes from address 0 until `textSize` or the byte address
/// `end`; `stride` bytes apart (the gap left empty), each linear address record when needed.
QByteArray buildText(qsizetype textSize, int recordBytes, quint32 stride, quint64 end)
{
    QByteArray text;
    text.reserve(textSize + 64);
    quint32 upper = 0xFFFFFFFF;
    for (quint64 address = 0; address + recordBytes <= end; address += stride) {
        if (address >> 16 != upper) {
            upper = quint32(address >> 16);
            text += record(
                4, 0, QByteArray::fromHex(QByteArray::number(upper, 16).rightJustified(4, '0')));
        }
        QByteArray data(recordBytes, Qt::Uninitialized);
        for (int i = 0; i < recordBytes; ++i)
            data[i] = char((address + quint32(i)) * 7);
        const QByteArray next = record(0, address & 0xFFFF, data);
        if (text.size() + next.size() > textSize)
            break;
        text += next;
    }
    return text + record(1, 0, {});
}

qint64 statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const qsizetype at = text.indexOf(field);
    return at < 0 ? -1 : text.mid(at + qstrlen(field)).simplified().split(' ').first().toLongLong();
}

/// In a process of its own: reads `path`, loads it, prints the growth of the resident set.
int measure(const QString &path)
{
    const qint64 beforeKb = statusKb("VmRSS:");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    QElapsedTimer clock;
    clock.start();
    const QByteArray text = file.readAll();
    const FirmwareImage image = FirmwareImage::fromHex(text);
    const double seconds = clock.nsecsElapsed() / 1e9;
    QTextStream(stdout) << (statusKb("VmHWM:") - beforeKb) / 1024.0 << " " << seconds << " "
                        << (image.error.isEmpty() ? "accepted" : "refused") << Qt::endl;
    return 0;
}

int timeTypicalText(QTextStream &out)
{
    const QByteArray text = buildText(TextSize, RecordBytes, RecordBytes, ByteSpace);
    QList<double> times;
    qsizetype rowCount = 0;
    for (int run = 0; run < Repetitions; ++run) {
        QElapsedTimer timer;
        timer.start();
        const FirmwareImage image = FirmwareImage::fromHex(text);
        times.append(timer.nsecsElapsed() / 1e6);
        if (!image.error.isEmpty()) {
            out << "refused: " << image.error << Qt::endl;
            return 1;
        }
        rowCount = image.rows.size();
    }
    std::sort(times.begin(), times.end());
    out << "HEX text " << text.size() << " bytes, " << rowCount << " rows" << Qt::endl;
    out << "parse + checks + words + rows, median of " << Repetitions << ": "
        << QString::number(times.at(Repetitions / 2), 'f', 1) << " ms (min "
        << QString::number(times.first(), 'f', 1) << ", max "
        << QString::number(times.last(), 'f', 1) << ")" << Qt::endl;
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--measure")
        return measure(QString::fromLocal8Bit(argv[2]));
    QTextStream out(stdout);
    if (const int failed = timeTypicalText(out))
        return failed;

    const QByteArray duplicate = record(0, 0, QByteArray(255, '\x5A'));
    const QList<QPair<const char *, std::function<QByteArray()>>> files {
        { "one 255-byte record repeated to 63 MB",
          [&] { return duplicate.repeated(63 * 1024 * 1024 / duplicate.size()); } },
        { "the whole word space in 16-byte records",
          [] { return buildText(FirmwareImage::MaxTextSize, 16, 16, ByteSpace); } },
        { "the whole word space in 255-byte records",
          [] { return buildText(FirmwareImage::MaxTextSize, 255, 255, ByteSpace); } },
        { "32 words in every row", [] { return buildText(1 << 30, 64, 128, ByteSpace); } },
        { "one word in every row", [] { return buildText(1 << 30, 2, 128, ByteSpace); } },
        { "1 MB of 16-byte records", [] { return buildText(TextSize, 16, 16, ByteSpace); } },
    };
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("image.hex"));
    for (const auto &[name, build] : files) {
        qsizetype size = 0;
        {
            const QByteArray text = build();
            size = text.size();
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(text) != size)
                return 1;
        }
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), { "--measure", path });
        child.waitForFinished(600000);
        const QList<QByteArray> figures = child.readAllStandardOutput().simplified().split(' ');
        const double mb = size / 1048576.0;
        const double bound = 4 * mb + 32;
        const double peak = figures.value(0).toDouble();
        out << QString::asprintf("peak memory, %s: %.1f MB of text, %s, %.1f MB in %.2f s "
                                 "(bound %.1f MB: %s)",
                                 name, mb, figures.value(2).constData(), peak,
                                 figures.value(1).toDouble(), bound,
                                 peak <= bound ? "within" : "OVER")
            << Qt::endl;
    }
    return 0;
}
