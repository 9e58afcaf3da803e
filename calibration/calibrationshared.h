#pragma once

#include "VX4interface.h"
#include "calibrationrecord.h"
#include "uncertainty.h"

#include <QDateTime>
#include <QMap>
#include <QPointer>

#include <array>

/// Page ids of the calibration wizard and the set points its capture pages walk through.
namespace CalPages {
constexpr int Intro = 0; ///< who calibrates with which reference instrument
constexpr int FirstAsFound = 1; ///< as-found pass: readings with the old calibration
constexpr int LastAsFound = 5;
constexpr int FirstCalibration = 6; ///< calibration pass: the sender captures each point
constexpr int LastCalibration = 10;
constexpr int FirstVerification = 11; ///< verification pass: readings with the new calibration
constexpr int LastVerification = 15;
constexpr int Summary = 16; ///< certificate of calibration
constexpr int SetPointCount = 5;
constexpr std::array<int, SetPointCount> SetPointsPsi { 0, 750, 1500, 2250, 3000 }; ///< PSI
constexpr double DefaultTolerancePsi = 10; ///< a reading passes within +/- this, in PSI
constexpr double DefaultSettleSeconds = 10; ///< wait on a calibration page before Capture
constexpr int DefaultIntervalMonths = 12; ///< from one calibration to the next
} // namespace CalPages

// State the wizard's pages share; touched only by the GUI thread.

/// The engine of the sender being calibrated; set by every new wizard.
extern QPointer<VX4Interface> gPressureSender;
/// Page id to the pressure recorded on that as-found or verification page, in PSI.
extern QMap<int, qint16> gCapturedPressures;
/// Page id to the reference calibrator's value, in PSI, when that page's reading was recorded.
extern QMap<int, double> gReferencePressures;
/// Page id to how its reading was recorded: once stable, or on the technician's word.
extern QMap<int, Capture> gCaptureKinds;
/// Page id to the spread of the readings its capture was taken from; absent when it was not seen.
extern QMap<int, Uncertainty::Repeatability> gReadingSpread;
/// When the calibration was made: sent to the sender, printed, part of the PDF name.
extern QDateTime gCalibrationDateTime;
/// The sender's input voltage at each verification set point, in volts.
extern std::array<double, CalPages::SetPointCount> gVerificationVoltages;

/// The calibration setting `key` of the settings store, or `fallback` when it is not set.
QVariant calibrationSetting(const char *key, const QVariant &fallback);

/// Has the sender store its new calibration with gCalibrationDateTime and read the date back.
void updateCalibrationInfo();
