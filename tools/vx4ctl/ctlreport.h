#pragma once

#include <QJsonObject>
#include <QString>

/// vx4ctl's exit codes. With several senders the run exits with the most severe of theirs, which
/// is the highest: an interruption, then a port that cannot be opened, then no answer, then a
/// sender that failed.
enum CtlExit {
    ExitDone = 0,
    ExitSenderFailed = 1, ///< the sender refused, failed or timed out
    ExitHistoryUnavailable = 1, ///< the calibration history cannot be opened or read
    ExitBadUsage = 2, ///< bad usage or a refused file
    ExitNoAnswer = 3, ///< the port opened, but no sender answered
    ExitPortUnavailable = 4, ///< the port cannot be opened: missing, permission, busy
    ExitInterrupted = 130, ///< stopped by SIGINT (Ctrl-C)
    ExitTerminated = 143, ///< stopped by SIGTERM
};

/// Where vx4ctl's output goes. Standard output carries only results: readable lines, or one JSON
/// object per result with --json. Everything else goes to standard error: progress, messages and
/// failures, as lines ("vx4ctl: WHAT: WHY") or, with --json, as JSON objects only. Every JSON
/// object names its kind in "event".
class CtlReport
{
public:
    enum class Colour { None, Good, Bad, Warn };

    explicit CtlReport(bool json);

    bool json() const { return m_json; }
    /// Progress bars: standard error is a terminal that can move its cursor.
    bool bars() const { return m_bars; }

    /// One result on standard output: `plain` (one or more lines) or `object` as one JSON line.
    void result(const char *event, QJsonObject object, const QString &plain) const;
    /// A message or progress line on standard error, in the same two forms.
    void message(const char *event, QJsonObject object, const QString &plain) const;
    /// Prints the failure on standard error and returns `code`.
    int failure(int code, const QString &what, const QString &why) const;
    /// Raw text for the terminal on standard error (the bars); ignored unless `bars()`.
    void barText(const QString &text) const;

    /// `text` in `colour` where the stream is a terminal that shows colour (not with NO_COLOR).
    QString paint(const QString &text, Colour colour, bool onStdout) const;

private:
    bool m_json;
    bool m_bars;
    bool m_colourOut;
    bool m_colourErr;
};
