#pragma once

#include "calibrationhistory.h"

#include <QList>
#include <QStringList>

/// One instrument of the history: every serial text it has had, linked by firmware updates that
/// changed its model digit, and its runs under all of them.
struct Instrument
{
    QStringList serials; ///< its texts, the current one first
    int runs = 0;

    QString serial() const { return serials.value(0); }
    /// "OVX5-0042 (was OVX4-0042)".
    QString name() const;

    /// The senders of the history grouped by their links, by current serial text.
    static QList<Instrument> group(const QList<CalibrationHistory::Sender> &senders,
                                   const QList<CalibrationHistory::SenderLink> &links);
};
