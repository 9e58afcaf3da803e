#pragma once

#include "VX4message.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

struct CtlOptions;
class CtlReport;
class SenderSession;

/// What the commands on a sender share: names for the sender's state, the steps every command
/// takes before its own request, and the aligned tables of results.
namespace CommandSupport {

QString appName(VX4App app);
QString modeName(VX4Mode mode);
QString adStatusText(quint8 status);
QString timeStamp();

/// Opens the port and connects. Returns the exit code of the failure it printed, or nothing.
std::optional<int> connectOne(const CtlOptions &o, const CtlReport &r, SenderSession &s);
/// The service actions need the pressure sending application, as the window's buttons do.
std::optional<int> needApplication(const CtlReport &r, SenderSession &s, const QString &what);
/// A request that got no answer, or one cut short by an interruption.
int requestFailed(const CtlReport &r, SenderSession &s, const QString &what, const char *request);
/// Stops the engine at its next safe point after Ctrl-C or SIGTERM and says so; returns 130 or
/// 143.
int interrupted(const CtlReport &r, SenderSession &s, const QString &what);

/// Rows of cells in columns two blanks apart, the first row the header; the last column is not
/// padded. `paint` may dress a padded cell (colour) after the widths are taken.
QString alignedTable(const QList<QStringList> &rows,
                     const std::function<QString(int row, int column, const QString &cell)> &paint
                     = {});

/// `text` with control characters shown as escapes (\n, \t, \x1b), so a name cannot move the
/// cursor or break a line of a table.
QString escapeControls(const QString &text);

} // namespace CommandSupport
