#pragma once

/// Makes the wizard's watermark and the certificate's logo reachable under their resource paths.
/// A static library's resources are not registered by themselves; calling it again does nothing.
void registerCalibrationImages();
