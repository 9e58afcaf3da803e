#pragma once

/// Where the images compiled into the program live. The icon is the application's; the logos are
/// the calibration library's, which registers them itself.
namespace ResourcePaths {
inline constexpr char Icon[] = ":/images/VX5 Tarrow.ico";
inline constexpr char Watermark[] = ":/images/images/Orvelle_logo-vertical-150x288.png";
inline constexpr char CertificateLogo[] = ":/images/images/ostrand.png";
} // namespace ResourcePaths
