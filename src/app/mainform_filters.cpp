// The filters of the "&Image" menu: pixel filters, flips and the half turn of the selected frame.
#include "mainform.h"

#include "picture_qimage.h"
#include "undo_commands.h"
#include "views.h"

#include <QAction>
#include <QApplication>
#include <QMenu>

#include <algorithm>

namespace app {

namespace {

QString filterStepName(filters::FrameFilter filter)
{
    using filters::FrameFilter;
    switch (filter) {
    case FrameFilter::Blur: return QStringLiteral("Flou");
    case FrameFilter::Gaussian: return QStringLiteral("Flou gaussien");
    case FrameFilter::Monochrome: return QStringLiteral("Monochrome");
    case FrameFilter::GrayLevels: return QStringLiteral("Niveaux de gris");
    case FrameFilter::Sharpen: return QStringLiteral("Accentuer");
    case FrameFilter::Invert: return QStringLiteral("Couleurs inversées");
    case FrameFilter::FlipVertical: return QStringLiteral("Retourner verticalement");
    case FrameFilter::FlipHorizontal: return QStringLiteral("Retourner horizontalement");
    case FrameFilter::HalfTurn: return QStringLiteral("Image miroir");
    }
    return QStringLiteral("Filtre");
}

} // namespace

QList<QAction *> TMainform::createFilterMenus(QMenu *image)
{
    using filters::FrameFilter;
    auto item = [this](QMenu *menu, const QString &name, const QString &text, FrameFilter filter) {
        QAction *a = makeAction(name, text);
        connect(a, &QAction::triggered, this, [this, filter] { applyFrameFilter(filter); });
        menu->addAction(a);
    };
    // The three exist and can be run, but are not shown in the menu.
    QMenu *a1 = image->addMenu(QStringLiteral("Fi&ltre          "));
    a1->setObjectName(QStringLiteral("A1"));
    item(a1, QStringLiteral("Flou2"), QStringLiteral("&Flou"), FrameFilter::Blur);
    item(a1, QStringLiteral("Flou1"), QStringLiteral("Flou &gaussien"), FrameFilter::Gaussian);
    item(a1, QStringLiteral("Monochrome1"), QStringLiteral("&Monochrome"), FrameFilter::Monochrome);
    item(a1, QStringLiteral("Niveauxdegris1"), QStringLiteral("Niveaux de &gris"), FrameFilter::GrayLevels);
    item(a1, QStringLiteral("Accentuer1"), QStringLiteral("&Accentuer"), FrameFilter::Sharpen);
    item(a1, QStringLiteral("Inverserlescouleurs1"), QStringLiteral("Couleurs &inversées"), FrameFilter::Invert);
    QMenu *inverse = image->addMenu(QStringLiteral("&Retourner"));
    inverse->setObjectName(QStringLiteral("inverse"));
    item(inverse, QStringLiteral("Verticalement1"), QStringLiteral("&Verticalement"), FrameFilter::FlipVertical);
    item(inverse, QStringLiteral("Horizontalement1"), QStringLiteral("&Horizontalement"), FrameFilter::FlipHorizontal);
    QAction *miroir = makeAction(QStringLiteral("miroir"), QStringLiteral("Image &miroir"));
    connect(miroir, &QAction::triggered, this, [this] { miroirClick(); });
    image->addAction(miroir);
    const QList<QAction *> items{a1->menuAction(), inverse->menuAction(), miroir};
    for (QAction *a : items)
        a->setVisible(false);
    return items;
}

void TMainform::applyFrameFilter(filters::FrameFilter filter)
{
    const int s = mSelected;
    if (!mDocument || s < 0 || s >= mDocument->count() || Image->isHidden() || Image->picture().isNull())
        return;
    const auto &all = filters::frameFilters();
    const bool slow = std::any_of(all.begin(), all.end(), [filter](const auto &f) { return f.filter == filter && f.slow; });
    const UndoScope step(*mHistory, filterStepName(filter));
    if (slow)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        // The filter reads the picture the still view shows; the inversion covers the part of it
        // that the view's own rectangle spans.
        const doc::Picture current = fromQImage(Image->picture());
        const doc::Picture result = filters::applyFilter(filter, current, Image->width(), Image->height());
        filters::writeBack(*mDocument, s, filter, result);
        Image->setPicture(toQImage(result));
    } catch (const std::exception &e) {
        if (slow)
            QApplication::restoreOverrideCursor();
        mPrompter->ask(MessageKind::Error, QString::fromLocal8Bit(e.what()), Buttons::Ok);
        return;
    }
    if (slow)
        QApplication::restoreOverrideCursor();
    // The frame's data changed with its picture: the thumbnail and the saved file follow.
    RefreshThumbnails();
    changed();
}

} // namespace app
