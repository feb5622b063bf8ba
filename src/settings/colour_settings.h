#pragma once

#include "document/quantize_quality.h"

#include <QSettings>
#include <QString>

namespace settings {

/** How pictures that enter the animation (add, insert, paste, the wizard) are reduced to 256 colours. */
inline const QString paletteQualityKey = QStringLiteral("Software/Movaro Gif/Colours/Palette");
inline const QString ditheringKey = QStringLiteral("Software/Movaro Gif/Colours/Dither");

/**
 * The stored choice: "octree" or "best" for the palette, "none", "fs" or "ordered" for the
 * dithering. A missing or unknown value reads as the octree and no dithering.
 */
doc::ReductionChoice readReductionChoice(QSettings &store);
void writeReductionChoice(QSettings &store, const doc::ReductionChoice &choice);

} // namespace settings
