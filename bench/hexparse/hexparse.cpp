// Times what the update flow does with a package's HEX text (FirmwareImage::fromHex: parse, check,
// pair into words and cut into rows) on a 1 MB text. Prints the median of several runs.
#include "firmwareimage.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <algorithm>

namespace {

constexpr qsizetype TextSize = 1024 * 1024; ///< bytes of HEX text
constexpr int RecordBytes = 16; ///< data bytes per record, as most tools write them
constexpr int Repetitions = 9;

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

QByteArray buildText()
{
    QByteArray text;
    quint32 address = 0;
    quint32 upper = 0xFFFFFFFF;
    while (text.size() < TextSize) {
        if (address >> 16 != upper) {
            upper = address >> 16;
            text += record(
                4, 0, QByteArray::fromHex(QByteArray::number(upper, 16).rightJustified(4, '0')));
        }
        QByteArray data(RecordBytes, Qt::Uninitialized);
        for (int i = 0; i < RecordBytes; ++i)
            data[i] = char((address + quint32(i)) * 7);
        text += record(0, address & 0xFFFF, data);
        address += RecordBytes;
    }
    return text + record(1, 0, {});
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QByteArray text = buildText();

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
