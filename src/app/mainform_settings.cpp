// What the main window remembers between runs: its placement, the View marks, the status bar and
// the add-image hint counter, in the "Mainform Settings" section of the settings store.
#include "mainform.h"

#include "settings/form_storage.h"

#include <QAction>
#include <QGuiApplication>
#include <QScreen>
#include <QStatusBar>

namespace app {

namespace {

/** The window's placement in the store's terms; the normal rectangle is the window's client area. */
class MainPlacement final : public settings::PlacementHook
{
public:
    explicit MainPlacement(QWidget &window)
        : w(window)
    {}

    settings::WindowPlacement placement() const override
    {
        settings::WindowPlacement p;
        const Qt::WindowStates state = w.windowState();
        if (state & Qt::WindowMinimized) {
            p.showCmd = 2;
            p.flags = (state & Qt::WindowMaximized) ? 2 : 0; // restores to maximised
        } else if (state & Qt::WindowMaximized) {
            p.showCmd = 3;
        }
        QRect normal = (state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen))
                           ? w.normalGeometry()
                           : w.geometry();
        if (normal.isEmpty())
            normal = w.geometry();
        p.left = normal.x();
        p.top = normal.y();
        p.right = normal.x() + normal.width();
        p.bottom = normal.y() + normal.height();
        return p;
    }

    int pixelsPerInch() const override
    {
        const QScreen *screen = w.screen() ? w.screen() : QGuiApplication::primaryScreen();
        return screen ? qRound(screen->logicalDotsPerInch()) : 96;
    }

    bool sizeable() const override { return w.minimumSize() != w.maximumSize(); }

    void applyRectangle(int left, int top, int right, int bottom) override
    {
        const QRect rect(left, top, right - left, bottom - top);
        // A place on a screen that is no longer there would put the window out of reach: it stays
        // centred then.
        for (const QScreen *screen : QGuiApplication::screens()) {
            if (screen->availableGeometry().intersects(rect)) {
                w.setGeometry(rect);
                return;
            }
        }
    }

    void applyShowCmd(int showCmd) override
    {
        switch (showCmd) {
        case 2:
        case 6:
        case 7:
            w.setWindowState(Qt::WindowMinimized);
            break;
        case 3:
            w.setWindowState(Qt::WindowMaximized);
            break;
        default:
            w.setWindowState(Qt::WindowNoState);
            break;
        }
    }

private:
    QWidget &w;
};

} // namespace

void TMainform::createStorage()
{
    using settings::StoredProperty;
    std::vector<StoredProperty> properties;
    for (const char *name : {"Tools", "SA", "Showframes", "ShowVis", "State"})
        properties.push_back(
            settings::qtProperty(action(QLatin1String(name)), QStringLiteral("Checked"), "checked", StoredProperty::Kind::Boolean));
    QStatusBar *bar = statusBar();
    properties.push_back(settings::booleanProperty(
        QStringLiteral("StatusBar"), QStringLiteral("Visible"), [bar] { return !bar->isHidden(); },
        [bar](bool on) { bar->setVisible(on); }, bar));
    properties.push_back(settings::qtProperty(action(QStringLiteral("showloop")), QStringLiteral("Checked"), "checked",
                                              StoredProperty::Kind::Boolean));
    properties.push_back(settings::integerProperty(
        QStringLiteral("addbtn"), QStringLiteral("Tag"), [this] { return mHintCount; },
        [this](int count) { mHintCount = count; }));
    mPlacementHook = std::make_unique<MainPlacement>(*this);
    mStorage = std::make_unique<settings::FormStorage>(QStringLiteral("Mainform Settings"), std::move(properties));
    mStorage->setPlacementHook(mPlacementHook.get());
}

void TMainform::setVisible(bool visible)
{
    // Restored each time the window is shown, before it appears: at the remembered place and state.
    if (visible && isHidden() && mStorage && !mRestoringStorage) {
        mRestoringStorage = true;
        mStorage->restore();
        mRestoringStorage = false;
    }
    QMainWindow::setVisible(visible);
}

} // namespace app
