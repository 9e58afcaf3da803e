#pragma once

struct CtlOptions;
class CtlReport;

/// vx4ctl flash: checks the file, downloads it to every --port at once and ends with a table of
/// the outcome per port. The exit code is 0 when every sender took the image, else the highest
/// code among the ports that did not.
int runFlash(const CtlOptions &options, const CtlReport &report);
