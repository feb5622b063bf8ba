#pragma once

#include <string>

namespace doc {

/**
 * The entry point `entry` of the helper module `file` (a shared object beside the programs),
 * loaded on first use and kept loaded. The decoders that pull in large libraries (GraphicsMagick,
 * FFmpeg) live in such modules so that a program starts without loading them; only a picture or
 * clip that needs one loads it. Returns nullptr and sets `error` when the module cannot be loaded.
 *
 * The module is looked for beside the program (../lib/movaro-gif from its folder, as installed),
 * then where the build puts it.
 */
void *helperModuleEntry(const char *file, const char *entry, std::string &error);

} // namespace doc
