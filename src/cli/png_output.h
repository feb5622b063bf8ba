#pragma once

#include "document/picture.h"

#include <string>

namespace cli {

/** Writes the picture as PNG: RGBA when it has alpha or a designated transparent colour, else RGB. */
void writePng(const doc::Picture &picture, const std::string &path);

} // namespace cli
