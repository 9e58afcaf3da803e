#pragma once

#include <QStringList>

class QWidget;

/// The program's command line: the switches it knows, their help text, and the arguments it
/// does not know.
namespace CommandLine {

/// "--help" or "-h" is among the arguments.
bool wantsHelp(const QStringList &arguments);
/// The usage and every switch with what it reveals, for `program`.
QString helpText(const QString &program);
/// The arguments after the program name that look like switches but are none of ours (Qt's own
/// are taken off the list before the program sees it).
QStringList unrecognised(const QStringList &arguments);
/// One of ours that `argument` differs from only in case; empty when there is none.
QString nearest(const QString &argument);
/// Tells the technician, in a box over `parent`, which arguments were ignored.
void reportUnrecognised(QWidget *parent, const QStringList &unknown);

} // namespace CommandLine
