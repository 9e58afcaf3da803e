#pragma once

struct CtlOptions;
class CtlReport;

/// The commands on one sender (and the two without one): each runs to its end and returns the
/// exit code, having printed its result or its one failure line.
namespace ServiceCommands {

int ports(const CtlOptions &options, const CtlReport &report);
int status(const CtlOptions &options, const CtlReport &report);
int monitor(const CtlOptions &options, const CtlReport &report);
int zero(const CtlOptions &options, const CtlReport &report);
int serial(const CtlOptions &options, const CtlReport &report);
int mode(const CtlOptions &options, const CtlReport &report);
int app(const CtlOptions &options, const CtlReport &report);

} // namespace ServiceCommands
