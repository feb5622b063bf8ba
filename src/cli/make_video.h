#pragma once

namespace cli {

/** Whether the arguments of `make` name a clip (--video), which makeVideo then handles. */
bool wantsVideo(int argc, char **argv);

/** movaro-gif-cli make --video CLIP [--start S] [--end S] [--fps N] [--width W] ... -o OUT.gif */
int makeVideo(int argc, char **argv);

} // namespace cli
