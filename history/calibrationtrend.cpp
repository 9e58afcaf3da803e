#include "calibrationtrend.h"

namespace CalibrationTrend {

QDateTime when(const CalibrationRecord &run)
{
    return run.calibrated.isValid() ? run.calibrated : run.started;
}

const CalibrationRecord *baseline(const QList<CalibrationRecord> &runs, int index)
{
    for (int i = index + 1; i < runs.size(); ++i) {
        if (runs.at(i).calibrationSaved)
            return &runs.at(i);
    }
    return nullptr;
}

PerPoint drift(const CalibrationRecord &run, const CalibrationRecord &previous)
{
    PerPoint result;
    for (size_t i = 0; i < result.size(); ++i) {
        const CalibrationPoint &now = run.points[i];
        const CalibrationPoint &before = previous.points[i];
        if (now.asFoundCapture != Capture::None && before.asLeftCapture != Capture::None
            && now.setPoint == before.setPoint)
            result[i] = now.asFoundError() - before.asLeftError();
    }
    return result;
}

std::array<QList<QPointF>, CalibrationRecord::PointCount>
asFoundErrors(const QList<CalibrationRecord> &runs)
{
    std::array<QList<QPointF>, CalibrationRecord::PointCount> series;
    for (auto run = runs.crbegin(); run != runs.crend(); ++run) {
        const double x = double(when(*run).toMSecsSinceEpoch());
        for (size_t i = 0; i < series.size(); ++i) {
            if (run->points[i].asFoundCapture != Capture::None)
                series[i].append(QPointF(x, run->points[i].asFoundError()));
        }
    }
    return series;
}

} // namespace CalibrationTrend
