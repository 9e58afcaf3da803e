#pragma once

#include <QJsonObject>
#include <QString>

#include <cstdio>

/// vx4ctl's exit codes.
enum CtlExit {
    ExitDone = 0,
    ExitSenderFailed = 1, ///< the sender refused, failed or timed out
    ExitHistoryUnavailable = 1, ///< the calibration history cannot be opened or read
    ExitBadUsage = 2, ///< bad usage or a refused file
    ExitNoAnswer = 3, ///< no sender answered (or its port cannot be opened)
};

/// Where results and failures go: readable lines, or one JSON object per line with --json.
/// Failures are one line each: on standard error as "vx4ctl: WHAT: WHY", or with --json as an
/// object on standard output so a script reads one stream.
class CtlReport
{
public:
    explicit CtlReport(bool json);

    bool json() const { return m_json; }
    /// Standard output is a terminal and the output is meant for a person.
    bool toTerminal() const { return m_terminal; }

    /// One result: `plain` (one or more lines) or `object` as one JSON line.
    void result(const QJsonObject &object, const QString &plain) const;
    /// Prints the failure line and returns `code`.
    int failure(int code, const QString &what, const QString &why) const;
    /// Raw text for the terminal (progress bar drawing); ignored with --json.
    void terminalText(const QString &text) const;

private:
    bool m_json;
    bool m_terminal;
};
