#include "colour_settings.h"

namespace settings {

doc::ReductionChoice readReductionChoice(QSettings &store)
{
    doc::ReductionChoice choice;
    if (store.value(paletteQualityKey).toString().trimmed().compare(QStringLiteral("best"), Qt::CaseInsensitive) == 0)
        choice.quality = doc::PaletteQuality::Best;
    const QString dither = store.value(ditheringKey).toString().trimmed().toLower();
    if (dither == QStringLiteral("fs"))
        choice.dither = doc::Dithering::FloydSteinberg;
    else if (dither == QStringLiteral("ordered"))
        choice.dither = doc::Dithering::Ordered;
    return choice;
}

void writeReductionChoice(QSettings &store, const doc::ReductionChoice &choice)
{
    store.setValue(paletteQualityKey,
                   choice.quality == doc::PaletteQuality::Best ? QStringLiteral("best") : QStringLiteral("octree"));
    QString dither = QStringLiteral("none");
    if (choice.dither == doc::Dithering::FloydSteinberg)
        dither = QStringLiteral("fs");
    else if (choice.dither == doc::Dithering::Ordered)
        dither = QStringLiteral("ordered");
    store.setValue(ditheringKey, dither);
    store.sync();
}

} // namespace settings
