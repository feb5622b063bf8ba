// Steps through an opened animation as the window does when the user picks frames far apart: the
// frame's picture made from the document (its rows decoded through the frame cache) and converted
// for painting. Prints the milliseconds each step took.
//
// Usage: step_tool FILE.gif [FRAME...]   (frames default to 0 999 500, limited to the last frame)

#include "app/picture_qimage.h"
#include "document/open_document.h"

#include <QElapsedTimer>
#include <QImage>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <vector>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: step_tool FILE.gif [FRAME...]\n");
        return 2;
    }
    std::vector<int> frames;
    for (int a = 2; a < argc; ++a)
        frames.push_back(std::atoi(argv[a]));
    if (frames.empty())
        frames = {0, 999, 500};

    doc::TGIFImage image;
    try {
        image = doc::openForEditing(argv[1]);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s: %s\n", argv[1], e.what());
        return 1;
    }
    std::printf("frames=%d", image.count());
    for (int f : frames) {
        f = std::clamp(f, 0, image.count() - 1);
        QElapsedTimer timer;
        timer.start();
        const QImage shown = app::toQImage(image.picture(f));
        std::printf(" step_%d_ms=%.2f", f, double(timer.nsecsElapsed()) / 1e6);
        if (shown.isNull())
            std::printf("(null)");
    }
    std::printf("\n");
    return 0;
}
