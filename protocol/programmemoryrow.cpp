#include "programmemoryrow.h"

ProgramMemoryRow::ProgramMemoryRow(quint32 size)
    : size(size)
{
    reset();
}

void ProgramMemoryRow::reset()
{
    address = NoAddress;
    words = QList<quint32>(qsizetype(size), NoData);
}

QString ProgramMemoryRow::toString() const
{
    QString text = QStringLiteral("%1: ").arg(address, 6, 16, QLatin1Char('0'));
    for (quint32 word : words) {
        if (word == NoData)
            text += QStringLiteral("---- ");
        else
            text += QStringLiteral("%1 ").arg(word, 4, 16, QLatin1Char('0'));
    }
    text += QLatin1Char('\n');
    return text;
}

bool ProgramMemoryRow::operator==(const ProgramMemoryRow &other) const
{
    return address == other.address && size == other.size && words == other.words;
}
