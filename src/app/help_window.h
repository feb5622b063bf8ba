#pragma once

#include <QDialog>

class QTextBrowser;

namespace app {

/**
 * The manual shown by the program itself, for desktops that have no handler for web pages. Links
 * between the manual's pages are followed inside; addresses on the web go to the desktop.
 */
class HelpWindow : public QDialog
{
    Q_OBJECT

public:
    explicit HelpWindow(QWidget *parent = nullptr);

    /** Shows the page at `path` (a local HTML file) and brings the window to the front. */
    void showPage(const QString &path);
    QTextBrowser *browser() const { return mBrowser; }

private:
    QTextBrowser *mBrowser = nullptr;
};

} // namespace app
