#pragma once

struct CtlOptions;
class CtlReport;

/// The commands on the calibration history: the stored runs, and the lab's policy.
namespace HistoryCommands {

/// "history [--serial N|TEXT]": every run; every sender with the number N, each under its own
/// text; or the sender of that text with the runs of the texts linked to it.
int history(const CtlOptions &options, const CtlReport &report);
/// "policy": the lab's current policy; "policy set KEY=VALUE...": records a new one, with who
/// changed it and when.
int policy(const CtlOptions &options, const CtlReport &report);

} // namespace HistoryCommands
