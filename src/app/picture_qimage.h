#pragma once

#include "document/picture.h"

#include <QImage>

namespace app {

/** The picture as a QImage: indexed pictures keep their colour table, the others become RGB32/ARGB32. */
QImage toQImage(const doc::Picture &picture);

/** A QImage as a picture: indexed images stay indexed, images with alpha become Rgba32, others Rgb24. */
doc::Picture fromQImage(const QImage &image);

} // namespace app
