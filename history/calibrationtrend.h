#pragma once

#include "calibrationrecord.h"

#include <QList>
#include <QPointF>

#include <array>
#include <optional>

/// What one sender's runs say over time: the as-found errors run by run and the drift between
/// calibrations. Runs come newest first, as CalibrationHistory::runs() lists them.
namespace CalibrationTrend {

using PerPoint = std::array<std::optional<double>, CalibrationRecord::PointCount>;

/// When the run was calibrated; a run that ended before the date was sent counts from its start.
QDateTime when(const CalibrationRecord &run);
/// The run whose calibration the sender held when `runs[index]` began: the newest older run whose
/// SAVE CAL DATA the sender acknowledged, whatever its outcome; null when none is stored.
const CalibrationRecord *baseline(const QList<CalibrationRecord> &runs, int index);
/// Per point: this run's as-found error minus the previous run's as-left error, in PSI, where
/// both readings were captured at the same set point.
PerPoint drift(const CalibrationRecord &run, const CalibrationRecord &previous);
/// Per point: (msecs since the epoch of when(), as-found error) of every run that captured it,
/// oldest first.
std::array<QList<QPointF>, CalibrationRecord::PointCount>
asFoundErrors(const QList<CalibrationRecord> &runs);

} // namespace CalibrationTrend
