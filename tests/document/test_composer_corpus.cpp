// Composed frames of third-party GIF files against the frames other decoders expect:
// - gif-test-suite: raw RGBA frames per displayed frame; compared on every pixel the
//   expectation shows opaque (its unpainted screen is transparent, ours a fill colour); a
//   group of zero-delay images shows as one frame and is compared with the group's last image;
//   a case listing no frames must be refused by the open;
// - wuffs NIA checksums (wuffs, Blink and Go files): CRC-32 of every composed frame as BGRA
//   (unpainted pixels transparent black) with its cumulative time and the loop count;
// - both: the flattened document, composed again, shows the same pictures wherever the
//   reduction keeps a picture exactly (256 colours or fewer).
// Every case passes or stands in kDiffers with the rule that makes it differ; a listed case that
// stops differing, or differs in another way, fails too, so the table stays true.

#include "document/composer.h"
#include "document/gif_error.h"
#include "document/gif_reader.h"

#include "support/corpus.h"
#include "support/crc32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace doc;

namespace {

// The cases that do not give what the other decoders give: how the difference begins, and why.
struct Differs {
    std::string shows;
    std::string why;
};
const std::map<std::string, Differs> kDiffers = {
    // A file without any image opens as an empty document: there is no frame to compose. The
    // suite wants a refusal, or one empty frame for no-data.
    {"gif-test-suite/no-data", {"0 images do not group", "no image: an empty document"}},
    {"gif-test-suite/zero-width", {"opened,", "no image: an empty document"}},
    {"gif-test-suite/zero-height", {"opened,", "no image: an empty document"}},
    {"gif-test-suite/zero-size", {"opened,", "no image: an empty document"}},
    // The reader refuses what follows an image descriptor cut short: a missing local table is
    // "Premature end of data", a ';' read as LZW minimum code size (59) is beyond 11.
    {"gif-test-suite/image-zero-width", {"refused: Invalid LZW code size", "reader: LZW minimum code size above 11 is refused"}},
    {"gif-test-suite/image-zero-height", {"refused: Premature end of data", "reader: local colour table cut short"}},
    {"gif-test-suite/image-zero-size", {"refused: Premature end of data", "reader: local colour table cut short"}},
    // An index beyond the colour table reads as black; the suite refuses the file.
    {"gif-test-suite/invalid-colors", {"opened,", "indices beyond the table read as black"}},
    // Plain text extensions are kept with their frame but never drawn; the suite refuses them.
    {"gif-test-suite/plain-text", {"opened,", "plain text is not drawn"}},
    // An extension label other than the four kinds fails the read ("Unknown extension type").
    {"gif-test-suite/unknown-extension", {"refused: Unknown extension type", "reader: unknown extension label is an error"}},
    // An application extension block size below 10 fails the read.
    {"blink-images/resources/short-app-extension-string.gif", {"refused: Unsupported Application Extension block size", "reader: application block size below 10"}},
    // The screen is the logical screen, frames are clipped to it; wuffs widens its canvas to
    // take in the first frame (4 x 2 instead of 2 x 2).
    {"wuffs/test/data/artificial-gif/frame-out-of-bounds.gif", {"checksum", "screen is the logical screen"}},
    // The first graphic control extension of a frame is its primary one (delay 200 ms); wuffs
    // takes the last (300 ms).
    {"wuffs/test/data/artificial-gif/multiple-graphic-controls.gif", {"checksum", "first graphic control is primary"}},
};

std::vector<uint8_t> readFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

/** The open command's reading: the reader, then the stricter check of the composer. */
TGIFImage openDocument(const std::vector<uint8_t> &bytes)
{
    TGIFImage d;
    loadFromBytes(d, bytes.data(), bytes.size());
    checkOpenable(bytes.data(), bytes.size());
    return d;
}

int delayOf(const TGIFImage &d, int documentFrame)
{
    const TGIFGraphicControlExtension *gce = d.frame(documentFrame).graphicControl();
    return gce ? gce->delay : 0;
}

/** Document indices of the frames with an image, in order (the composer's frames). */
std::vector<int> imageFrames(const TGIFImage &d)
{
    std::vector<int> frames;
    for (int i = 0; i < d.count(); ++i)
        if (d.frame(i).hasPixels())
            frames.push_back(i);
    return frames;
}

/**
 * "" when the flattened document, composed again (as a viewer shows the written file), gives the
 * same pictures as the read one at every frame whose picture the reduction keeps exactly
 * (256 colours or fewer).
 */
std::string checkFlattenedShowsTheSame(const TGIFImage &read)
{
    TGIFImage flattened = read;
    FlattenFrames(flattened);
    FrameComposer before(read);
    FrameComposer after(flattened);
    for (int i = 0; i < flattened.count(); ++i) {
        const Picture a = before.ComposedFrame(before.composerIndex(i));
        const Picture b = after.ComposedFrame(i);
        std::vector<uint32_t> colours;
        for (std::size_t k = 0; k + 2 < a.data().size(); k += 3)
            colours.push_back(uint32_t(a.data()[k]) << 16 | a.data()[k + 1] << 8 | a.data()[k + 2]);
        std::sort(colours.begin(), colours.end());
        if (std::unique(colours.begin(), colours.end()) - colours.begin() > 256)
            continue;
        if (a.data() != b.data())
            return "flattened frame " + std::to_string(i) + " shows other pixels";
    }
    return "";
}

// --- gif-test-suite ------------------------------------------------------------------------

using Ini = std::map<std::string, std::map<std::string, std::string>>;

Ini readIni(const std::filesystem::path &path)
{
    Ini ini;
    std::ifstream in(path);
    std::string line, section;
    auto trim = [](std::string s) {
        const auto b = s.find_first_not_of(" \t\r");
        const auto e = s.find_last_not_of(" \t\r");
        return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
    };
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
        } else if (const auto eq = line.find('='); eq != std::string::npos) {
            ini[section][trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
        }
    }
    return ini;
}

std::vector<std::string> splitList(const std::string &s)
{
    std::vector<std::string> items;
    std::stringstream in(s);
    std::string item;
    while (std::getline(in, item, ','))
        if (!item.empty())
            items.push_back(item);
    return items;
}

/** "" when the case gives what the suite expects, otherwise what differs. */
std::string checkSuiteCase(const std::string &name)
{
    const auto dir = testsupport::corpusPath("gif-test-suite");
    Ini conf = readIni(dir / (name + ".conf"));
    const std::vector<std::string> expected = splitList(conf["config"]["frames"]);
    const auto bytes = readFile(dir / conf["config"]["input"]);

    TGIFImage d;
    std::string reshown;
    try {
        d = openDocument(bytes);
        reshown = checkFlattenedShowsTheSame(d);
    } catch (const std::exception &e) {
        return expected.empty() ? "" : std::string("refused: ") + e.what();
    }
    if (expected.empty())
        return "opened, the suite expects a refusal";
    if (!reshown.empty())
        return reshown;

    // Displayed frame j is the last image of the j-th zero-delay group, or image j when the
    // suite shows every image (an animation whose delays are all zero).
    const std::vector<int> images = imageFrames(d);
    std::vector<int> shown;
    if (images.size() == expected.size()) {
        for (std::size_t k = 0; k < images.size(); ++k)
            shown.push_back(int(k));
    } else {
        for (std::size_t k = 0; k < images.size(); ++k)
            if (delayOf(d, images[k]) > 0 || k + 1 == images.size())
                shown.push_back(int(k));
    }
    if (shown.size() != expected.size())
        return std::to_string(images.size()) + " images do not group into " + std::to_string(expected.size())
            + " frames";

    FrameComposer composer(d);
    const int w = composer.width(), h = composer.height();
    for (std::size_t j = 0; j < expected.size(); ++j) {
        const auto rgba = readFile(dir / conf[expected[j]]["pixels"]);
        if (rgba.size() != std::size_t(w) * h * 4)
            return "frame " + std::to_string(j) + ": expected " + std::to_string(rgba.size()) + " bytes for "
                + std::to_string(w) + " x " + std::to_string(h);
        const Picture p = composer.ComposedFrame(shown[j]);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint8_t *e = &rgba[(std::size_t(y) * w + x) * 4];
                const uint8_t *a = p.row(y) + std::size_t(x) * 3;
                if (e[3] == 255 && (e[0] != a[0] || e[1] != a[1] || e[2] != a[2])) {
                    std::ostringstream out;
                    out << "frame " << j << " pixel (" << x << ", " << y << "): " << int(a[0]) << "," << int(a[1])
                        << "," << int(a[2]) << " instead of " << int(e[0]) << "," << int(e[1]) << "," << int(e[2]);
                    return out.str();
                }
            }
    }
    return "";
}

// --- wuffs NIA checksums -------------------------------------------------------------------

using testsupport::crc32;

void putLe(std::vector<uint8_t> &out, uint64_t v, int bytes)
{
    for (int k = 0; k < bytes; ++k)
        out.push_back(uint8_t(v >> (8 * k)));
}

/** The NIA stream of the composed frames: BGRA, unpainted pixels (0, 0, 0, 0). */
uint32_t niaChecksum(const TGIFImage &d)
{
    const std::vector<int> images = imageFrames(d);
    FrameComposer composer(d);
    composer.setTrackCoverage(true);
    const uint32_t w = uint32_t(composer.width()), h = uint32_t(composer.height());

    std::vector<uint8_t> out{0x6E, 0xC3, 0xAF, 0x41, 0xFF, 0x62, 0x6E, 0x34};
    putLe(out, w, 4);
    putLe(out, h, 4);
    uint32_t crc = crc32(0, out.data(), out.size());
    uint64_t time = 0;
    for (std::size_t k = 0; k < images.size(); ++k) {
        time += uint64_t(delayOf(d, images[k])) * 7056000u;
        out.clear();
        putLe(out, time, 8);
        out.insert(out.end(), {0x6E, 0xC3, 0xAF, 0x45, 0xFF, 0x62, 0x6E, 0x34});
        putLe(out, w, 4);
        putLe(out, h, 4);
        const Picture p = composer.ComposedFrame(int(k));
        const std::vector<uint8_t> &covered = composer.coverage();
        out.reserve(out.size() + std::size_t(w) * h * 4 + 4);
        for (std::size_t i = 0; i < std::size_t(w) * h; ++i) {
            const uint8_t *c = p.data().data() + 3 * i;
            if (covered[i])
                out.insert(out.end(), {c[2], c[1], c[0], 0xFF});
            else
                out.insert(out.end(), {0, 0, 0, 0});
        }
        if (w & h & 1)
            putLe(out, 0, 4);
        crc = crc32(crc, out.data(), out.size());
    }

    // As wuffs reports it: plays rather than repeats (the NETSCAPE count + 1, 0 for forever), the
    // last loop record read by the end of the last image winning, once without a record, and 0
    // for a still picture.
    const TGIFAppExtNSLoop *loop = nullptr;
    for (int i = 0; i <= (images.empty() ? -1 : images.back()); ++i)
        for (int e = 0; e < d.frame(i).extensionCount(); ++e)
            if (const auto *l = extension_cast<TGIFAppExtNSLoop>(d.frame(i).extension(e)))
                loop = l;
    uint32_t loops = 0;
    if (images.size() > 1)
        loops = !loop ? 1 : loop->loops == 0 ? 0 : uint32_t(loop->loops) + 1;
    out.clear();
    putLe(out, loops, 4);
    out.insert(out.end(), {0x00, 0x00, 0x00, 0x80});
    return crc32(crc, out.data(), out.size());
}

struct NiaCase {
    std::string path; // corpus-relative
    uint32_t crc;
};

/** The OK lines of the checksum lists that name GIF files, mapped to corpus paths. */
std::vector<NiaCase> niaCases()
{
    const char *lists[] = {
        "wuffs/test/nia-checksums-of-data.txt",
        "wuffs/test/3pdata/nia-checksums-of-blinksuite.txt",
        "wuffs/test/3pdata/nia-checksums-of-golangsuite.txt",
    };
    const std::pair<std::string, std::string> prefixes[] = {
        {"test/data/", "wuffs/test/data/"},
        {"test/3pdata/blinksuite/", "blink-images/resources/"},
        {"test/3pdata/golangsuite/", "golang-image-testdata/testdata/"},
    };
    std::vector<NiaCase> cases;
    for (const auto &list : lists) {
        std::ifstream in(testsupport::corpusPath(list));
        std::string line, status, crc, path;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            if (!(fields >> status >> crc >> path))
                continue;
            if (status != "OK." || path.size() < 4 || path.substr(path.size() - 4) != ".gif")
                continue;
            for (const auto &[from, to] : prefixes)
                if (path.rfind(from, 0) == 0)
                    cases.push_back({to + path.substr(from.size()), uint32_t(std::stoul(crc, nullptr, 16))});
        }
    }
    return cases;
}

std::string checkNiaCase(const NiaCase &c)
{
    try {
        const TGIFImage d = openDocument(readFile(testsupport::corpusPath(c.path)));
        const uint32_t crc = niaChecksum(d);
        if (crc == c.crc)
            return checkFlattenedShowsTheSame(d);
        std::ostringstream out;
        out << "checksum " << std::hex << crc << " instead of " << c.crc;
        return out.str();
    } catch (const std::exception &e) {
        return std::string("refused: ") + e.what();
    }
}

} // namespace

TEST(ComposerCorpus, ComposedFramesMatchOtherDecoders)
{
    REQUIRE_CORPUS();

    std::vector<std::pair<std::string, std::string>> results; // case, difference
    {
        std::ifstream tests(testsupport::corpusPath("gif-test-suite/TESTS"));
        std::string name;
        while (tests >> name)
            results.emplace_back("gif-test-suite/" + name, checkSuiteCase(name));
    }
    const std::vector<NiaCase> nia = niaCases();
    ASSERT_GE(nia.size(), 40u) << "checksum lists not found";
    ASSERT_GE(results.size(), 80u) << "gif-test-suite list not found";
    for (const NiaCase &c : nia)
        results.emplace_back(c.path, checkNiaCase(c));

    int passed = 0;
    for (const auto &[name, difference] : results) {
        const auto known = kDiffers.find(name);
        if (known == kDiffers.end()) {
            EXPECT_TRUE(difference.empty()) << name << ": " << difference;
            passed += difference.empty();
        } else {
            EXPECT_EQ(difference.rfind(known->second.shows, 0), 0u)
                << name << " is listed as differing (" << known->second.why << ") with \"" << known->second.shows
                << "\" but gives \"" << difference << "\"";
        }
    }
    for (const auto &[name, why] : kDiffers)
        EXPECT_TRUE(std::any_of(results.begin(), results.end(), [&](const auto &r) { return r.first == name; }))
            << name << " is listed but not a case";
    RecordProperty("matching", passed);
}
