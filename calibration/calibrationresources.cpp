#include "calibrationresources.h"

#include <QtGlobal>

// Outside any namespace: the resource initialiser is declared globally.
static void initCalibrationResources()
{
    Q_INIT_RESOURCE(calibration);
}

void registerCalibrationImages()
{
    static const bool registered = (initCalibrationResources(), true);
    Q_UNUSED(registered);
}
