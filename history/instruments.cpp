#include "instruments.h"

#include <QHash>

#include <algorithm>

QString Instrument::name() const
{
    if (serials.size() < 2)
        return serial();
    return QStringLiteral("%1 (was %2)").arg(serial(), serials.mid(1).join(QStringLiteral(", ")));
}

QList<Instrument> Instrument::group(const QList<CalibrationHistory::Sender> &senders,
                                    const QList<CalibrationHistory::SenderLink> &links)
{
    // Each text points at the text it was grouped under; links join the two groups.
    QHash<QString, QString> parent;
    const auto root = [&](QString s) {
        while (parent.value(s, s) != s)
            s = parent.value(s);
        return s;
    };
    for (const CalibrationHistory::Sender &s : senders)
        parent.insert(s.serial, s.serial);
    // When a text became current: the time of the link that made it, else never.
    QHash<QString, QDateTime> since;
    for (const CalibrationHistory::SenderLink &l : links) {
        for (const QString &s : { l.oldSerial, l.newSerial }) {
            if (!parent.contains(s))
                parent.insert(s, s);
        }
        parent.insert(root(l.oldSerial), root(l.newSerial));
        if (!since.contains(l.newSerial) || since.value(l.newSerial) < l.when)
            since.insert(l.newSerial, l.when);
    }
    QHash<QString, Instrument> byRoot;
    for (const CalibrationHistory::Sender &s : senders) {
        Instrument &i = byRoot[root(s.serial)];
        i.serials << s.serial;
        i.runs += s.runs;
    }
    // A text linked to but without runs of its own still names the instrument it now is.
    for (auto it = parent.cbegin(); it != parent.cend(); ++it) {
        auto found = byRoot.find(root(it.key()));
        if (found != byRoot.end() && !found->serials.contains(it.key()))
            found->serials << it.key();
    }
    QList<Instrument> list;
    for (Instrument i : std::as_const(byRoot)) {
        std::sort(i.serials.begin(), i.serials.end(), [&](const QString &a, const QString &b) {
            const QDateTime ta = since.value(a), tb = since.value(b);
            return ta != tb ? ta > tb : a < b;
        });
        list << i;
    }
    std::sort(list.begin(), list.end(),
              [](const Instrument &a, const Instrument &b) { return a.serial() < b.serial(); });
    return list;
}
