#pragma once

#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QObject;
class QSettings;

namespace settings {

/**
 * One remembered property of a window's control: "Checkstart.Checked" is stored under the value
 * name "Checkstart_Checked". Integers are written in decimal, booleans as "True" / "False".
 */
struct StoredProperty {
    enum class Kind { Integer, Boolean };

    QString component; ///< the control's name, e.g. "Checkstart"
    QString property;  ///< the property's name, e.g. "Checked"
    Kind kind = Kind::Integer;
    std::function<int()> read;        ///< current value (booleans as 0 / 1)
    std::function<void(int)> apply;   ///< sets the value (booleans as 0 / 1)
    /** When given, the property is skipped once this object is gone (the control no longer exists). */
    QPointer<QObject> guard;
    bool guarded = false;

    QString valueName() const { return component + QLatin1Char('_') + property; }
    bool exists() const { return !guarded || !guard.isNull(); }
};

/** An integer property read and applied through the two functions. */
StoredProperty integerProperty(const QString &component, const QString &property, std::function<int()> read,
                               std::function<void(int)> apply, QObject *guard = nullptr);

/** A boolean property read and applied through the two functions. */
StoredProperty booleanProperty(const QString &component, const QString &property, std::function<bool()> read,
                               std::function<void(bool)> apply, QObject *guard = nullptr);

/**
 * A property of a Qt object reached through its meta-object (`qtName`, e.g. "checked" or
 * "visible"); the component name is the object's name. Skipped once the object is deleted.
 */
StoredProperty qtProperty(QObject *object, const QString &property, const char *qtName, StoredProperty::Kind kind);

/** A window's placement in the form of the store: the normal rectangle as left, top, right, bottom. */
struct WindowPlacement {
    int flags = 0;
    int showCmd = 1; ///< 1, 5, 9 normal; 2, 6, 7 minimised; 3 maximised
    QPoint minPosition{-1, -1};
    QPoint maxPosition{-1, -1};
    int left = 0, top = 0, right = 0, bottom = 0;
};

/**
 * What a storage that keeps its window's placement asks of the window. The storage does the
 * formats and the decisions; the hook only reads and moves the real window.
 */
class PlacementHook
{
public:
    virtual ~PlacementHook() = default;
    /** The window's placement now; show state 2 when it is the main window and the program is minimised. */
    virtual WindowPlacement placement() const = 0;
    /** The screen's pixels per inch. */
    virtual int pixelsPerInch() const = 0;
    /** Whether the user can resize the window (otherwise a restored rectangle keeps its size). */
    virtual bool sizeable() const = 0;
    /** Drops any automatic centring and puts the window's normal rectangle at left, top, right, bottom. */
    virtual void applyRectangle(int left, int top, int right, int bottom) = 0;
    /** Shows the window normal (1, 5, 9, or any unknown value), minimised (2, 6, 7) or maximised (3). */
    virtual void applyShowCmd(int showCmd) = 0;
};

/**
 * The form storage of one window: a section below "Software/Movaro Gif" of the per-user store
 * holding "FormVersion", optionally the window's placement, and a list of control properties.
 *
 * A storage that was never restored never saves, so a window cannot overwrite remembered values
 * with its design values. It must be destroyed before the controls its properties read: the
 * destructor saves when nothing was saved since the last restore.
 */
class FormStorage
{
public:
    /** `store` opens the settings store at each use; the per-user store by default. */
    FormStorage(const QString &section, std::vector<StoredProperty> properties,
                std::function<std::unique_ptr<QSettings>()> store = {});
    ~FormStorage();

    FormStorage(const FormStorage &) = delete;
    FormStorage &operator=(const FormStorage &) = delete;

    /** Keeps the window's placement too (the hook must outlive the storage). */
    void setPlacementHook(PlacementHook *hook) { mPlacement = hook; }

    /** Reads the section and applies it to the window and its controls; absent values change nothing. */
    void restore();
    /** Writes the window's current values into the section (nothing when never restored). */
    void save();

    bool isRestored() const { return mRestored; }
    bool isSaved() const { return mSaved; }
    const QString &section() const { return mSection; }
    /** The group of the section in the store: "Software/Movaro Gif/<section>". */
    QString group() const;

    /** The version written and required; older stored sections are not applied. */
    static constexpr int version = 0;

private:
    void write(bool destroying);
    void restorePlacement(QSettings &store);

    QString mSection;
    std::vector<StoredProperty> mProperties;
    std::function<std::unique_ptr<QSettings>()> mOpen;
    PlacementHook *mPlacement = nullptr;
    bool mRestored = false;
    bool mSaved = false;
};

/** The storage's reading of a stored integer: trimmed decimal, anything else 0. */
int parseStoredInteger(const QString &text);

/** The storage's reading of a stored boolean: "True" / "False" in any case, trimmed; else `current`. */
bool parseStoredBoolean(const QString &text, bool current);

} // namespace settings
