#pragma once

#include <QString>

namespace app {

/**
 * Opening an address (a web page, a "mailto:" link, a help file) with the desktop's default
 * handler goes through this interface: the editor uses DesktopUrlOpener, tests install one that
 * records the addresses, so no browser starts.
 */
class UrlOpener
{
public:
    virtual ~UrlOpener() = default;

    /** Opens `address`: a URL, or the path of a local file. False when the desktop could not. */
    virtual bool open(const QString &address) = 0;
};

/** The project's own home page: the about box and the Help menu open it. */
inline const QString homePageAddress = QStringLiteral("https://movarogif.org/");
/** Where users write to the project (Help ▸ Contact). */
inline const QString contactMailAddress = QStringLiteral("contact@movarogif.org");
inline const QString contactPageAddress = QStringLiteral("https://movarogif.org/contact/");
/** New versions are offered here (Help ▸ "Mise à jour...", the about box). */
inline const QString downloadPageAddress = QStringLiteral("https://movarogif.org/telechargement/");

/** The desktop's default handler. */
class DesktopUrlOpener final : public UrlOpener
{
public:
    bool open(const QString &address) override;
};

} // namespace app
