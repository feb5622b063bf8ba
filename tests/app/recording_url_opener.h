#pragma once

#include "app/url_opener.h"

#include <QStringList>

/** Records the addresses the editor asks to open; opens nothing. */
class RecordingUrlOpener : public app::UrlOpener
{
public:
    QStringList opened;

    bool open(const QString &address) override
    {
        opened << address;
        return true;
    }
};
