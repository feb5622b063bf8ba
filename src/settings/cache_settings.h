#pragma once

#include <QSettings>
#include <QString>

namespace settings {

/** Key of the budget of decoded frames held for stepping and playback, in megabytes. */
inline const QString frameCacheKey = QStringLiteral("Software/Movaro Gif/Cache/FrameBudgetMB");

inline constexpr int kDefaultFrameCacheMegabytes = 512;
inline constexpr int kMinimumFrameCacheMegabytes = 32;
inline constexpr int kMaximumFrameCacheMegabytes = 65536;

/**
 * The budget of decoded frames in megabytes: the stored number, kept between the minimum and the
 * maximum; the default when the value is missing or no number. A missing value is written, so
 * that the user finds the key to change.
 */
int readFrameCacheMegabytes(QSettings &store);

} // namespace settings
