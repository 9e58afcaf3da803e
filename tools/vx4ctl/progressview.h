#pragma once

#include "ctlreport.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>

class FlashJob;

/// The progress of a flash as it runs: on a terminal a bar per port (rows, bytes per second,
/// time left) redrawn in place; otherwise a plain line, or a JSON object, per port at every
/// tenth of its rows.
class ProgressView
{
public:
    static constexpr int RedrawMs = 100; ///< the terminal is redrawn at most this often
    static constexpr int BarWidth = 30; ///< characters of the bar

    ProgressView(const CtlReport &report, const QList<FlashJob *> &jobs);

    void update(const FlashJob *job);
    /// Draws the final state and leaves the cursor below the bars.
    void close();

private:
    void draw();
    QString barLine(const FlashJob *job) const;

    const CtlReport &report;
    QList<FlashJob *> jobs;
    QHash<const FlashJob *, int> lastTenth;
    QElapsedTimer sinceDraw;
    bool drawn = false;
};

/// The colour of a job's result: done green, interrupted yellow, any failure red.
CtlReport::Colour resultColour(const FlashJob &job);
/// "1:05" from seconds; "--:--" while unknown.
QString clockText(double seconds);
/// "1.5 kB/s" and the like.
QString rateText(double bytesPerSecond);
