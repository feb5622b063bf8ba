#pragma once

// Small fixtures of the main-window tests: picture and GIF files written on the fly.

#include "app/mainform.h"

#include "document/gif_writer.h"

#include <QAction>
#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <sstream>

namespace fixtures {

/** A PNG picture file of one colour, with a different bottom-right pixel so it is not flat. */
inline QString writePng(const QString &path, int w, int h, QRgb colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    image.setPixel(w - 1, h - 1, qRgb(1, 2, 3));
    if (!image.save(path, "PNG"))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

/** A GIF of a 4 × 3 screen whose second frame is a 2 × 1 patch at (1, 1). */
inline QString writeSmallFramesGif(const QString &path)
{
    doc::TGIFImage image;
    image.header.width = 4;
    image.header.height = 3;
    doc::TGIFSubImage full;
    full.width = 4;
    full.height = 3;
    full.setColorMap({{{255, 0, 0}, {0, 0, 255}}, false});
    full.setPixels(std::vector<uint8_t>(12, 0));
    full.addGraphicControl()->delay = 10;
    image.appendFrame(std::move(full));
    doc::TGIFSubImage patch;
    patch.left = 1;
    patch.top = 1;
    patch.width = 2;
    patch.height = 1;
    patch.setColorMap({{{255, 0, 0}, {0, 0, 255}}, false});
    patch.setPixels({1, 1});
    patch.addGraphicControl()->delay = 20;
    image.appendFrame(std::move(patch));
    doc::saveToFile(image, path.toStdString());
    return path;
}

/**
 * The document as a GIF in memory, and the transparent colour each frame is drawn without (which
 * the views use and the file does not hold): two documents are the same when these bytes are.
 */
inline QByteArray bytesOf(const doc::TGIFImage *document)
{
    if (!document)
        return QByteArrayLiteral("<none>");
    std::ostringstream out;
    document->SaveToStream(out);
    for (int i = 0; i < document->count(); ++i)
        if (const auto &c = document->picture(i).designatedTransparentColor())
            out << " transparent " << i << ':' << int(c->r) << ',' << int(c->g) << ',' << int(c->b);
    return QByteArray::fromStdString(out.str());
}

inline QStringList enabledStates(app::TMainform &form)
{
    QStringList out;
    for (QAction *a : {form.save, form.cut, form.copy, form.past, form.sup, form.play, form.stop, form.addbtn})
        out << (a->isEnabled() ? QStringLiteral("1") : QStringLiteral("0"));
    return out;
}

} // namespace fixtures

using namespace fixtures;

#include "scripted_prompter.h"

#include <QSettings>
#include <QStandardPaths>

#include <memory>

namespace fixtures {

/** A main window on a fresh settings store, with a scripted prompter, after New. */
struct FormUnderTest {
    std::unique_ptr<app::TMainform> form;
    ScriptedPrompter *prompter = nullptr;

    FormUnderTest()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Movaro Gif"), QStringLiteral("Movaro Gif"))
            .clear();
        form = std::make_unique<app::TMainform>();
        auto scripted = std::make_unique<ScriptedPrompter>();
        prompter = scripted.get();
        form->setPrompter(std::move(scripted));
        form->show();
        form->FileNewItemClick();
    }
    ~FormUnderTest()
    {
        if (form)
            form->setModified(false); // no closing question at teardown
    }

    /** Each frame's width, in order: the tests tell their frames apart by it. */
    QList<int> widths() const
    {
        QList<int> out;
        if (const doc::TGIFImage *d = form->document())
            for (int i = 0; i < d->count(); ++i)
                out << d->frame(i).width;
        return out;
    }

    /** Adds picture files through the add command, answering its dialog. */
    void add(const QStringList &files)
    {
        prompter->openFiles.push_back(files);
        form->add1Click();
    }
};

} // namespace fixtures
