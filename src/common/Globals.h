#pragma once
// The console's three stateless helpers: a deck's title from a path, a player volume from a deck
// slider's position, and the time text of every time label but the clock.
#include <cstdint>
#include <QChar>
#include <QString>

namespace Globals {

// The directory separator of the paths the file dialog returns on this platform.
inline constexpr QChar kPathSeparator = u'/';

// The text after the last separator; the whole path when it holds none; empty when it ends in one.
// Throws OverflowError when a separator's position or the consumed count passes 32,767.
QString StripPath(const QString& path, QChar separator = kPathSeparator);

// -41 x position, in 16-bit arithmetic: 0 -> 0, 20 -> -820, 100 -> -4100.
// Throws OverflowError outside -799..799.
std::int16_t PlayerVolumeFromSlider(std::int16_t position);

// Minutes, ":", two-digit seconds, ".", one digit of tenths, each truncated: 61.5 -> "1:01.5".
// Minutes are never carried into hours. Throws FloatingPointError for a value that is not finite and
// OverflowError from 1,966,080 s (32,768 minutes) on.
QString FormatTime(float seconds);

} // namespace Globals
