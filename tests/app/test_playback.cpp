// The playback engine: its schedule on a fake clock, passes and looping, composition with each
// disposal, the view's centring, and the animated view playing in real time.

#include "app/animation_view.h"
#include "app/playback_core.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <optional>
#include <random>
#include <vector>

using doc::Rgb;

namespace {

const Rgb red{255, 0, 0};
const Rgb green{0, 255, 0};
const Rgb blue{0, 0, 255};
const Rgb white{255, 255, 255};
const Rgb black{0, 0, 0};
const Rgb silver = app::kViewBackground;

struct FrameSpec {
    int left = 0, top = 0, width = 1, height = 1;
    std::vector<uint8_t> pixels; // indices into red, green, blue, white; empty: a frame without an image
    int disposal = 1;
    std::optional<int> delay = 10; // none: no graphic control extension
    std::optional<int> transparent;
    std::optional<int> loops; // a looping extension with this count
};

doc::TGIFImage makeDocument(int width, int height, const std::vector<FrameSpec> &specs)
{
    doc::TGIFImage image;
    image.header.width = uint16_t(width);
    image.header.height = uint16_t(height);
    for (const FrameSpec &s : specs) {
        doc::TGIFSubImage frame;
        frame.left = uint16_t(s.left);
        frame.top = uint16_t(s.top);
        frame.width = uint16_t(s.width);
        frame.height = uint16_t(s.height);
        frame.setColorMap({{red, green, blue, white}, false});
        frame.setPixels(s.pixels);
        if (s.loops) {
            auto loop = std::make_unique<doc::TGIFAppExtNSLoop>();
            loop->loops = uint16_t(*s.loops);
            frame.appendExtension(std::move(loop));
        }
        if (s.delay) {
            doc::TGIFGraphicControlExtension *gce = frame.addGraphicControl();
            gce->delay = uint16_t(*s.delay);
            gce->setDisposal(s.disposal);
            if (s.transparent) {
                gce->setTransparent(true);
                gce->transparentIndex = uint8_t(*s.transparent);
            }
        }
        image.appendFrame(std::move(frame));
    }
    return image;
}

/** A frame of one colour index covering w × h at (x, y). */
FrameSpec patch(int x, int y, int w, int h, uint8_t index, int disposal = 1)
{
    FrameSpec s;
    s.left = x;
    s.top = y;
    s.width = w;
    s.height = h;
    s.pixels.assign(std::size_t(w * h), index);
    s.disposal = disposal;
    return s;
}

/** The colours of a picture, row by row. */
std::vector<Rgb> colours(const doc::Picture &p)
{
    std::vector<Rgb> out;
    for (int y = 0; y < p.height(); ++y)
        for (int x = 0; x < p.width(); ++x)
            out.push_back(p.pixel(x, y));
    return out;
}

/** Frames a run shows until it ends, at most `limit`. */
std::vector<int> runOrder(const doc::TGIFImage &image, int limit = 40)
{
    app::PlaybackRun run(image);
    std::vector<int> order;
    for (int f = run.first(); f >= 0 && int(order.size()) < limit; f = run.next())
        order.push_back(f);
    return order;
}

} // namespace

Q_DECLARE_METATYPE(std::vector<int>)

class TestPlayback : public QObject
{
    Q_OBJECT

private slots:
    void countedDelays();
    void waitFormula();
    void timingExampleOnFakeClock();
    void latenessIsHalfCompensated();
    void passesAndLoops_data();
    void passesAndLoops();
    void directDrawingKeepsWhatEarlierFramesDrew();
    void disposal2ShowsTheSilverAgain();
    void disposal3RestoresThePreviousPicture();
    void disposals4To7AreNotDrawn();
    void clippingAndOutOfTableIndices();
    void oversizedScreenIsNotComposed();
    void randomFramesStayInsideTheirRectangles();
    void centredOffsets_data();
    void centredOffsets();
    void viewShowsFirstFrameAndPaintsOneFrameOnce();
    void viewPlaysLoopsInOrderAndKeepsLastFrame();
    void viewStopsPromptly();
    void readAheadGivesTheComposerPicturesInRunOrder();
    void editingTheDocumentDuringPlaybackIsSafe();
};

void TestPlayback::countedDelays()
{
    const std::vector<std::pair<std::optional<int>, int>> cases = {
        {std::nullopt, 10}, {0, 10}, {1, 3}, {2, 3}, {3, 3}, {4, 4}, {10, 10}, {65535, 65535}};
    for (const auto &[delay, expected] : cases) {
        FrameSpec s = patch(0, 0, 1, 1, 0);
        s.delay = delay;
        const doc::TGIFImage image = makeDocument(1, 1, {s});
        QCOMPARE(app::countedDelay(image.frame(0)), expected);
    }
}

void TestPlayback::waitFormula()
{
    // No lateness: 12 ms a hundredth.
    QCOMPARE(app::nextWait(10, 1000, 120, 1120), int64_t(120));
    // 11 ms late: e = 5 (truncated). 3 ms early: e = -1 (toward zero, not -2).
    QCOMPARE(app::nextWait(10, 1000, 120, 1131), int64_t(115));
    QCOMPARE(app::nextWait(10, 1000, 120, 1117), int64_t(121));
    // Far behind: the wait goes negative (the frame is due at once).
    QCOMPARE(app::nextWait(3, 0, 36, 236), int64_t(-64));
    // Speed in percent: 200 halves the wait, and the integer division truncates.
    QCOMPARE(app::nextWait(3, 0, 0, 0, 200), int64_t(18));
    QCOMPARE(app::nextWait(3, 0, 0, 0, 70), int64_t(51));
}

void TestPlayback::timingExampleOnFakeClock()
{
    // Loop count 0, delays 10, 0 and 2: shown at 0, 120, 240 and frame 0 again at 276.
    std::vector<FrameSpec> specs = {patch(0, 0, 2, 2, 0), patch(0, 0, 2, 2, 1), patch(0, 0, 2, 2, 2)};
    specs[0].loops = 0;
    specs[0].delay = 10;
    specs[1].delay = 0;
    specs[2].delay = 2;
    const doc::TGIFImage image = makeDocument(2, 2, specs);

    app::PlaybackSchedule schedule(image);
    int64_t now = 0;
    std::vector<std::pair<int, int64_t>> shown;
    app::PlaybackSchedule::Step step = schedule.start(now);
    for (int k = 0; k < 7; ++k) {
        shown.emplace_back(step.frame, now);
        QVERIFY(step.hasNext);
        now += step.wait; // the timer fires exactly on time
        step = schedule.tick(now);
    }
    const std::vector<std::pair<int, int64_t>> expected = {{0, 0},   {1, 120}, {2, 240}, {0, 276},
                                                           {1, 396}, {2, 516}, {0, 552}};
    QCOMPARE(shown, expected);
}

void TestPlayback::latenessIsHalfCompensated()
{
    std::vector<FrameSpec> specs(5, patch(0, 0, 1, 1, 0));
    const doc::TGIFImage image = makeDocument(1, 1, specs);
    app::PlaybackSchedule schedule(image);

    app::PlaybackSchedule::Step step = schedule.start(1000);
    QCOMPARE(step.wait, int64_t(120)); // the first wait has nothing to make up
    step = schedule.tick(1000 + 120 + 20); // the timer fired 20 ms late
    QCOMPARE(step.frame, 1);
    QCOMPARE(step.wait, int64_t(110));
    step = schedule.tick(1140 + 110 + 4); // 4 ms late on the shortened wait
    QCOMPARE(step.frame, 2);
    QCOMPARE(step.wait, int64_t(118));
    step = schedule.tick(1254 + 118 - 1); // a millisecond early: nothing to take back (-1 / 2 is 0)
    QCOMPARE(step.frame, 3);
    QCOMPARE(step.wait, int64_t(120));
    step = schedule.tick(1371 + 120);
    QCOMPARE(step.frame, 4);
    QVERIFY(!step.hasNext); // no looping extension: one pass
}

void TestPlayback::passesAndLoops_data()
{
    QTest::addColumn<std::vector<int>>("loopAt");     // {frame, count} or empty
    QTest::addColumn<std::vector<int>>("noPixelsAt"); // frames without an image
    QTest::addColumn<std::vector<int>>("expected");

    QTest::newRow("no looping extension plays once") << std::vector<int>{} << std::vector<int>{}
                                                    << std::vector<int>{0, 1, 2};
    QTest::newRow("loop 3 plays three passes") << std::vector<int>{0, 3} << std::vector<int>{}
                                              << std::vector<int>{0, 1, 2, 0, 1, 2, 0, 1, 2};
    std::vector<int> endless;
    for (int k = 0; k < 40; ++k)
        endless.push_back(k % 3);
    QTest::newRow("loop 0 plays on") << std::vector<int>{0, 0} << std::vector<int>{} << endless;
    QTest::newRow("loop 1 plays once") << std::vector<int>{0, 1} << std::vector<int>{}
                                      << std::vector<int>{0, 1, 2};
    QTest::newRow("a later loop extension sets the loop point")
        << std::vector<int>{1, 2} << std::vector<int>{} << std::vector<int>{0, 1, 2, 1, 2};
    QTest::newRow("a frame without pixels ends each pass")
        << std::vector<int>{0, 2} << std::vector<int>{2} << std::vector<int>{0, 1, 0, 1};
    QTest::newRow("a first frame without pixels shows nothing")
        << std::vector<int>{} << std::vector<int>{0} << std::vector<int>{};
    QTest::newRow("a loop point on the last frame shows it once more, not for ever")
        << std::vector<int>{2, 0} << std::vector<int>{} << std::vector<int>{0, 1, 2, 2};
    QTest::newRow("a pass cut to its loop point alone ends the run")
        << std::vector<int>{0, 0} << std::vector<int>{1} << std::vector<int>{0};
}

void TestPlayback::passesAndLoops()
{
    QFETCH(std::vector<int>, loopAt);
    QFETCH(std::vector<int>, noPixelsAt);
    QFETCH(std::vector<int>, expected);

    std::vector<FrameSpec> specs(3, patch(0, 0, 1, 1, 0));
    if (!loopAt.empty())
        specs[std::size_t(loopAt[0])].loops = loopAt[1];
    for (int i : noPixelsAt)
        specs[std::size_t(i)].pixels.clear();
    const doc::TGIFImage image = makeDocument(1, 1, specs);
    QCOMPARE(runOrder(image), expected);

    // The run can be started again from the beginning, whether it ended or not.
    app::PlaybackRun run(image);
    for (int f = run.first(), k = 0; f >= 0 && k < 10; f = run.next(), ++k) {
    }
    QCOMPARE(run.first(), expected.empty() ? -1 : expected.front());
}

void TestPlayback::directDrawingKeepsWhatEarlierFramesDrew()
{
    // Disposal 1 only: frames draw straight onto the view; the transparent index is left out.
    FrameSpec over = patch(1, 0, 2, 2, 2);
    over.pixels = {2, 3, 3, 2}; // white (3) is transparent
    over.transparent = 3;
    const doc::TGIFImage image = makeDocument(3, 2, {patch(0, 0, 3, 2, 0), over});
    app::PlaybackComposer composer(image);
    QVERIFY(!composer.usesWorkPictures());
    composer.show(0);
    composer.show(1);
    QCOMPARE(colours(composer.picture()), (std::vector<Rgb>{red, blue, red, red, red, blue}));

    // Drawn without its transparency, the document shows the white pixels.
    doc::TGIFImage opaque = image;
    opaque.transparentDrawing = false;
    app::PlaybackComposer plain(opaque);
    plain.show(0);
    plain.show(1);
    QCOMPARE(colours(plain.picture()), (std::vector<Rgb>{red, blue, white, red, white, blue}));
}

void TestPlayback::disposal2ShowsTheSilverAgain()
{
    // A 2 × 1 patch with disposal 2 over a 3 × 1 screen, then a 1-pixel frame elsewhere.
    const doc::TGIFImage image = makeDocument(3, 1, {patch(0, 0, 2, 1, 0, 2), patch(2, 0, 1, 1, 2)});
    app::PlaybackComposer composer(image);
    QVERIFY(composer.usesWorkPictures());
    QCOMPARE(colours(composer.picture()), (std::vector<Rgb>{silver, silver, silver}));
    composer.show(0);
    QCOMPARE(colours(composer.picture()), (std::vector<Rgb>{red, red, silver}));
    composer.show(1);
    QCOMPARE(colours(composer.picture()), (std::vector<Rgb>{silver, silver, blue}));
    // The next pass draws on what the last one left.
    composer.show(0);
    QCOMPARE(colours(composer.picture()), (std::vector<Rgb>{red, red, blue}));
}

void TestPlayback::disposal3RestoresThePreviousPicture()
{
    // green everywhere, a red patch with disposal 3 (drawn on the view), a blue patch with
    // disposal 3 after it (drawn on a scratch copy), then a white pixel with disposal 1.
    const doc::TGIFImage image = makeDocument(
        4, 1, {patch(0, 0, 4, 1, 1), patch(0, 0, 1, 1, 0, 3), patch(1, 0, 1, 1, 2, 3), patch(3, 0, 1, 1, 3)});
    app::PlaybackComposer composer(image);
    composer.show(0);
    composer.show(1);
    QCOMPARE(colours(composer.picture()), (std::vector<Rgb>{red, green, green, green}));
    composer.show(2);
    QCOMPARE(colours(composer.picture()), (std::vector<Rgb>{green, blue, green, green}));
    composer.show(3);
    QCOMPARE(colours(composer.picture()), (std::vector<Rgb>{green, green, green, white}));
}

void TestPlayback::disposals4To7AreNotDrawn()
{
    for (int disposal = 4; disposal <= 7; ++disposal) {
        // Alone (straight onto the view) and beside a disposal-2 frame (work pictures).
        for (bool work : {false, true}) {
            std::vector<FrameSpec> specs = {patch(0, 0, 2, 1, 1), patch(0, 0, 2, 1, 0, disposal)};
            if (work)
                specs.push_back(patch(0, 0, 1, 1, 2, 2));
            const doc::TGIFImage image = makeDocument(2, 1, specs);
            app::PlaybackComposer composer(image);
            QCOMPARE(composer.usesWorkPictures(), work);
            composer.show(0);
            composer.show(1);
            QCOMPARE(colours(composer.picture()), (std::vector<Rgb>{green, green}));
        }
    }
}

void TestPlayback::clippingAndOutOfTableIndices()
{
    // A frame hanging off the right and bottom of the screen, with an index past its 4-entry
    // table, and one whose pixel data is a row short.
    FrameSpec off = patch(2, 1, 3, 3, 2);
    off.pixels[0] = 9;
    FrameSpec shortRows = patch(0, 0, 2, 2, 1);
    shortRows.pixels.resize(2);
    const doc::TGIFImage image = makeDocument(3, 2, {off, shortRows});
    app::PlaybackComposer composer(image);
    composer.show(0);
    QCOMPARE(colours(composer.picture()), (std::vector<Rgb>{silver, silver, silver, silver, silver, black}));
    composer.show(1);
    QCOMPARE(colours(composer.picture()), (std::vector<Rgb>{green, green, silver, silver, silver, black}));
}

void TestPlayback::oversizedScreenIsNotComposed()
{
    // 65535 × 65535 would need 12 GiB per picture: refused before allocating.
    doc::TGIFImage image = makeDocument(1, 1, {patch(0, 0, 1, 1, 0)});
    image.header.width = 65535;
    image.header.height = 65535;
    app::PlaybackComposer composer(image);
    QVERIFY(!composer.isValid());
    composer.show(0);
    QVERIFY(composer.picture().isNull());

    app::AnimationView view;
    view.setDocument(&image);
    QSignalSpy painted(&view, &app::AnimationView::afterPaint);
    view.play();
    QVERIFY(!view.isPlaying());
    QCOMPARE(painted.count(), 0);
    view.setDocument(nullptr);
}

void TestPlayback::randomFramesStayInsideTheirRectangles()
{
    // Frames anywhere (partly or wholly off the screen), any disposal, short pixel data and
    // indices past the table: screen pixels outside every frame's rectangle stay silver.
    std::mt19937 random(7);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    for (int round = 0; round < 200; ++round) {
        const int w = pick(1, 12), h = pick(1, 12);
        std::vector<FrameSpec> specs;
        std::vector<bool> covered(std::size_t(w * h), false);
        for (int f = pick(1, 6); f > 0; --f) {
            FrameSpec s;
            s.left = pick(0, 1) ? pick(0, w + 2) : pick(0, 65535);
            s.top = pick(0, h + 2);
            s.width = pick(1, 10);
            s.height = pick(1, 10);
            s.pixels.resize(std::size_t(pick(0, s.width * s.height)));
            for (uint8_t &p : s.pixels)
                p = uint8_t(pick(0, 255));
            s.disposal = pick(0, 7);
            if (pick(0, 1))
                s.transparent = pick(0, 3);
            for (int y = s.top; y < std::min(h, s.top + s.height); ++y)
                for (int x = s.left; x < std::min(w, s.left + s.width); ++x)
                    covered[std::size_t(y * w + x)] = true;
            specs.push_back(s);
        }
        const doc::TGIFImage image = makeDocument(w, h, specs);
        app::PlaybackComposer composer(image);
        for (int k = 0; k < 2 * image.count(); ++k) {
            composer.show(k % image.count());
            QCOMPARE(composer.picture().width(), w);
            QCOMPARE(composer.picture().height(), h);
            const std::vector<Rgb> shown = colours(composer.picture());
            for (std::size_t p = 0; p < shown.size(); ++p)
                if (!covered[p])
                    QCOMPARE(shown[p], silver);
        }
    }
}

void TestPlayback::centredOffsets_data()
{
    QTest::addColumn<int>("area");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("expected");
    QTest::newRow("166.5 rounds down to even") << 634 << 301 << 166;
    QTest::newRow("167.5 rounds up to even") << 636 << 301 << 168;
    QTest::newRow("exact") << 635 << 301 << 167;
    QTest::newRow("-0.5 rounds to 0") << 300 << 301 << 0;
    QTest::newRow("-1.5 rounds to -2") << 298 << 301 << -2;
    QTest::newRow("-2.5 rounds to -2") << 296 << 301 << -2;
}

void TestPlayback::centredOffsets()
{
    QFETCH(int, area);
    QFETCH(int, size);
    QFETCH(int, expected);
    QCOMPARE(app::centredOffset(area, size), expected);

    QWidget view;
    view.resize(size, 10);
    app::BoxResize(QSize(area, 13), &view);
    QCOMPARE(view.pos(), QPoint(expected, 2)); // (13 - 10) / 2 = 1.5 goes to 2
}

void TestPlayback::viewShowsFirstFrameAndPaintsOneFrameOnce()
{
    const doc::TGIFImage image = makeDocument(3, 2, {patch(1, 0, 1, 2, 2)});
    app::AnimationView view;
    view.setDocument(&image);
    QCOMPARE(view.size(), QSize(3, 2));
    const QImage still = view.shownImage();
    QCOMPARE(still.pixelColor(0, 0), QColor(192, 192, 192));
    QCOMPARE(still.pixelColor(1, 1), QColor(0, 0, 255));

    QSignalSpy painted(&view, &app::AnimationView::afterPaint);
    view.play();
    QCOMPARE(painted.count(), 1);
    QCOMPARE(painted.at(0).at(0).toInt(), 0);
    QVERIFY(!view.isPlaying()); // no timer for one frame
    QTest::qWait(50);
    QCOMPARE(painted.count(), 1);

    // Looping for ever changes nothing: still painted once, and no timer keeps running.
    FrameSpec looping = patch(1, 0, 1, 2, 2);
    looping.loops = 0;
    const doc::TGIFImage endless = makeDocument(3, 2, {looping});
    view.setDocument(&endless);
    painted.clear();
    view.play();
    QCOMPARE(painted.count(), 1);
    QVERIFY(!view.isPlaying());
    QTest::qWait(100);
    QCOMPARE(painted.count(), 1);
    view.setDocument(nullptr);
}

void TestPlayback::viewPlaysLoopsInOrderAndKeepsLastFrame()
{
    // Three frames of 36 ms (delay 3), looping 3 times: nine frames in about 300 ms.
    std::vector<FrameSpec> specs = {patch(0, 0, 2, 2, 0), patch(0, 0, 2, 2, 1), patch(0, 0, 2, 2, 2)};
    for (FrameSpec &s : specs)
        s.delay = 3;
    specs[0].loops = 3;
    const doc::TGIFImage image = makeDocument(2, 2, specs);

    app::AnimationView view;
    view.setDocument(&image);
    view.show();
    std::vector<int> order;
    std::vector<qint64> times;
    QElapsedTimer clock;
    connect(&view, &app::AnimationView::afterPaint, &view, [&](int index) {
        order.push_back(index);
        times.push_back(clock.elapsed());
        QCOMPARE(view.paintedFrameIndex(), index);
        // Announced only once the frame is what the view shows.
        const QColor expected[] = {Qt::red, Qt::green, Qt::blue};
        QCOMPARE(view.shownImage().pixelColor(0, 0), expected[index]);
    });
    clock.start();
    view.play();
    QVERIFY(view.isPlaying());
    QTRY_VERIFY_WITH_TIMEOUT(!view.isPlaying(), 5000);
    QCOMPARE(order, (std::vector<int>{0, 1, 2, 0, 1, 2, 0, 1, 2}));
    // Eight waits of 36 ms; a loaded machine may be late, never early by more than the clock's grain.
    QVERIFY2(times.back() >= 8 * 36 - 2, qPrintable(QString::number(times.back())));
    QTest::qWait(100);
    QCOMPARE(order.size(), std::size_t(9));
    QCOMPARE(view.paintedFrameIndex(), 2);
    QCOMPARE(view.shownImage().pixelColor(1, 1), QColor(0, 0, 255));
    view.setDocument(nullptr);
}

void TestPlayback::viewStopsPromptly()
{
    std::vector<FrameSpec> specs = {patch(0, 0, 4, 4, 0), patch(0, 0, 4, 4, 1), patch(0, 0, 4, 4, 2)};
    for (FrameSpec &s : specs)
        s.delay = 100; // 1.2 s each: a stop lands in the middle of a wait
    specs[0].loops = 0;
    const doc::TGIFImage image = makeDocument(4, 4, specs);

    app::AnimationView view;
    view.setDocument(&image);
    view.show();
    QSignalSpy painted(&view, &app::AnimationView::afterPaint);
    view.play();
    QCOMPARE(painted.count(), 1); // frame 0 at once
    QTest::qWait(50);
    QElapsedTimer clock;
    clock.start();
    view.stop();
    QVERIFY(clock.elapsed() < 50);
    QVERIFY(!view.isPlaying());
    QTest::qWait(1400);
    QCOMPARE(painted.count(), 1);
    // Stopping from the after-paint handler itself is safe too.
    connect(&view, &app::AnimationView::afterPaint, &view, &app::AnimationView::stop);
    view.play();
    QVERIFY(!view.isPlaying());
    view.setDocument(nullptr);
}

void TestPlayback::readAheadGivesTheComposerPicturesInRunOrder()
{
    // Every disposal, transparency, a frame without an image ending a pass, and a loop point
    // after the first frame: the worker's pictures are those composing the run in turn gives,
    // and a picture handed out stays as it was while the worker goes on.
    std::vector<FrameSpec> specs = {patch(0, 0, 4, 3, 3), patch(1, 0, 2, 2, 0, 2), patch(0, 1, 3, 2, 1, 3),
                                    patch(2, 1, 2, 2, 2, 1), patch(0, 0, 1, 3, 0, 0), patch(3, 2, 1, 1, 1, 2)};
    specs[1].loops = 3;
    specs[2].transparent = 1;
    specs[3].pixels[1] = 0; // a pixel of another colour, so each frame shows something of its own
    FrameSpec empty;
    empty.width = 2;
    empty.height = 2;
    specs.push_back(empty); // no image: ends every pass here
    specs.push_back(patch(0, 0, 4, 3, 0));
    const doc::TGIFImage image = makeDocument(4, 3, specs);

    std::vector<int> order;
    std::vector<std::vector<Rgb>> expected;
    {
        app::PlaybackRun run(image);
        app::PlaybackComposer composer(image);
        for (int f = run.first(); f >= 0; f = run.next()) {
            composer.show(f);
            order.push_back(f);
            expected.push_back(colours(composer.picture()));
        }
    }
    QCOMPARE(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 1, 2, 3, 4, 5, 1, 2, 3, 4, 5}));

    for (int depth : {1, 3}) {
        app::PlaybackReadAhead ahead(app::PlaybackFrames::of(image), depth);
        std::vector<app::PlaybackReadAhead::Composed> taken;
        for (std::size_t k = 0; k < order.size(); ++k) {
            taken.push_back(ahead.take());
            QCOMPARE(taken.back().frame, order[k]);
            QVERIFY(taken.back().picture);
        }
        QCOMPARE(ahead.take().frame, -1);
        QCOMPARE(ahead.take().frame, -1); // and stays over
        for (std::size_t k = 0; k < taken.size(); ++k)
            QCOMPARE(colours(*taken[k].picture), expected[k]);
    }

    // Stopped early (endless run, nothing taken): the worker ends and take() says so.
    specs[1].loops = 0;
    const doc::TGIFImage endless = makeDocument(4, 3, specs);
    app::PlaybackReadAhead ahead(app::PlaybackFrames::of(endless));
    QCOMPARE(ahead.take().frame, 0);
    ahead.stop();
    QCOMPARE(ahead.take().frame, -1);
}

void TestPlayback::editingTheDocumentDuringPlaybackIsSafe()
{
    // 40 frames of 300 × 200 (large enough that the worker is busy while the document changes),
    // red, green and blue in turn, looping for ever at 36 ms a frame.
    std::vector<FrameSpec> specs;
    for (int i = 0; i < 40; ++i) {
        specs.push_back(patch(0, 0, 300, 200, uint8_t(i % 3)));
        specs.back().delay = 3;
    }
    specs[0].loops = 0;
    doc::TGIFImage image = makeDocument(300, 200, specs);

    app::AnimationView view;
    view.setDocument(&image);
    view.show();
    std::vector<int> order;
    std::vector<QColor> shown;
    connect(&view, &app::AnimationView::afterPaint, &view, [&](int index) {
        order.push_back(index);
        shown.push_back(view.shownImage().pixelColor(150, 100));
    });
    view.play();
    QTRY_VERIFY_WITH_TIMEOUT(order.size() >= 3, 5000);

    // The window stops playback before it edits; were it to edit first, playback would go on with
    // the frames as they were when it began, and nothing the worker reads goes away.
    for (int i = 39; i >= 20; --i)
        image.deleteFrame(i);
    for (int i = 0; i < image.count(); ++i)
        image.frame(i).setPixels(std::vector<uint8_t>(300 * 200, 3));
    QTest::qWait(200);
    image.clear();
    QTRY_VERIFY_WITH_TIMEOUT(order.size() >= 12, 5000);
    view.stop();
    QVERIFY(!view.isPlaying());

    const QColor colour[] = {Qt::red, QColor(0, 255, 0), Qt::blue};
    for (std::size_t k = 0; k < order.size(); ++k) {
        QCOMPARE(order[k], int(k % 40));
        QCOMPARE(shown[k], colour[order[k] % 3]);
    }
    view.setDocument(nullptr);
}

QTEST_MAIN(TestPlayback)
#include "test_playback.moc"
