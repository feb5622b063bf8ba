#include "form_storage.h"

#include "settings_store.h"

#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace settings {

namespace {

const QString formVersionName = QStringLiteral("FormVersion");
const QString trueText = QStringLiteral("True");
const QString falseText = QStringLiteral("False");

/**
 * A stored value as text. The INI reader turns an unquoted "1,2,3,4" into a list; such a value
 * is read back as the text it was.
 */
QString readText(const QSettings &store, const QString &name, const QString &fallback = {})
{
    const QVariant value = store.value(name);
    if (!value.isValid())
        return fallback;
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

QString fourFields(int a, int b, int c, int d)
{
    return QStringLiteral("%1,%2,%3,%4").arg(a).arg(b).arg(c).arg(d);
}

} // namespace

int parseStoredInteger(const QString &text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? value : 0;
}

bool parseStoredBoolean(const QString &text, bool current)
{
    const QString t = text.trimmed();
    if (t.compare(trueText, Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(falseText, Qt::CaseInsensitive) == 0)
        return false;
    return current;
}

StoredProperty integerProperty(const QString &component, const QString &property, std::function<int()> read,
                               std::function<void(int)> apply, QObject *guard)
{
    return {component, property, StoredProperty::Kind::Integer, std::move(read), std::move(apply), guard, guard != nullptr};
}

StoredProperty booleanProperty(const QString &component, const QString &property, std::function<bool()> read,
                               std::function<void(bool)> apply, QObject *guard)
{
    return {component,
            property,
            StoredProperty::Kind::Boolean,
            [read = std::move(read)] { return read() ? 1 : 0; },
            [apply = std::move(apply)](int v) { apply(v != 0); },
            guard,
            guard != nullptr};
}

StoredProperty qtProperty(QObject *object, const QString &property, const char *qtName, StoredProperty::Kind kind)
{
    const QPointer<QObject> target(object);
    return {object->objectName(),
            property,
            kind,
            [target, qtName] { return target->property(qtName).toInt(); },
            [target, qtName, kind](int v) {
                if (kind == StoredProperty::Kind::Boolean)
                    target->setProperty(qtName, v != 0);
                else
                    target->setProperty(qtName, v);
            },
            object,
            true};
}

FormStorage::FormStorage(const QString &section, std::vector<StoredProperty> properties,
                         std::function<std::unique_ptr<QSettings>()> store)
    : mSection(section)
    , mProperties(std::move(properties))
    , mOpen(store ? std::move(store) : std::function<std::unique_ptr<QSettings>()>(openStore))
{}

FormStorage::~FormStorage()
{
    if (mRestored && !mSaved)
        write(true);
}

QString FormStorage::group() const
{
    return QStringLiteral("Software/Movaro Gif/") + mSection;
}

void FormStorage::save()
{
    write(false);
}

void FormStorage::write(bool destroying)
{
    if (!mRestored)
        return;
    const std::unique_ptr<QSettings> store = mOpen();
    store->beginGroup(group());
    store->setValue(formVersionName, QString::number(version));
    if (mPlacement) {
        const WindowPlacement p = mPlacement->placement();
        store->setValue(QStringLiteral("Flags"), QString::number(p.flags));
        store->setValue(QStringLiteral("ShowCmd"), QString::number(p.showCmd));
        store->setValue(QStringLiteral("PixelsPerInch"), QString::number(mPlacement->pixelsPerInch()));
        store->setValue(QStringLiteral("MinMaxPos"),
                        fourFields(p.minPosition.x(), p.minPosition.y(), p.maxPosition.x(), p.maxPosition.y()));
        store->setValue(QStringLiteral("NormPos"), fourFields(p.left, p.top, p.right, p.bottom));
        store->setValue(QStringLiteral("Visible"), destroying ? QStringLiteral("1") : QStringLiteral("0"));
    }
    for (const StoredProperty &p : mProperties) {
        if (!p.exists())
            continue; // its control is gone
        const int value = p.read();
        store->setValue(p.valueName(), p.kind == StoredProperty::Kind::Boolean ? (value ? trueText : falseText)
                                                                               : QString::number(value));
    }
    store->endGroup();
    store->sync();
    mSaved = true;
}

void FormStorage::restore()
{
    const std::unique_ptr<QSettings> store = mOpen();
    store->beginGroup(group());
    // A section written by an older form of the window is not applied.
    if (parseStoredInteger(readText(*store, formVersionName, QStringLiteral("0"))) >= version) {
        if (mPlacement)
            restorePlacement(*store);
        for (const StoredProperty &p : mProperties) {
            if (!p.exists() || !store->contains(p.valueName()))
                continue;
            const QString text = readText(*store, p.valueName());
            if (p.kind == StoredProperty::Kind::Boolean)
                p.apply(parseStoredBoolean(text, p.read() != 0) ? 1 : 0);
            else
                p.apply(parseStoredInteger(text));
        }
    }
    store->endGroup();
    mRestored = true;
    mSaved = false;
}

void FormStorage::restorePlacement(QSettings &store)
{
    const QString normPos = QStringLiteral("NormPos");
    const QString minMaxPos = QStringLiteral("MinMaxPos");
    const int ppi = mPlacement->pixelsPerInch();
    const bool sameScreen =
        parseStoredInteger(readText(store, QStringLiteral("PixelsPerInch"), QString::number(ppi))) == ppi;
    if ((store.contains(normPos) || store.contains(minMaxPos)) && sameScreen) {
        const WindowPlacement now = mPlacement->placement();
        const QStringList fields = readText(store, normPos).split(QLatin1Char(','));
        const int defaults[4] = {now.left, now.top, now.right, now.bottom};
        int rect[4];
        for (int i = 0; i < 4; ++i) {
            bool ok = false;
            const int v = i < fields.size() ? fields[i].trimmed().toInt(&ok, 10) : 0;
            rect[i] = ok ? v : defaults[i];
        }
        if (!mPlacement->sizeable()) {
            rect[2] = rect[0] + (now.right - now.left);
            rect[3] = rect[1] + (now.bottom - now.top);
        }
        if (rect[0] < rect[2])
            mPlacement->applyRectangle(rect[0], rect[1], rect[2], rect[3]);
    }
    // The show state applies even when the rectangle was made for another screen.
    const QString showCmd = QStringLiteral("ShowCmd");
    if (store.contains(showCmd))
        mPlacement->applyShowCmd(parseStoredInteger(readText(store, showCmd)));
}

} // namespace settings
