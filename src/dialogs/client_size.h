#pragma once

#include <QWidget>

namespace dialogs {

/**
 * Fixes a window at its classic client size, grown only as far as the desktop's font needs for
 * every text to show whole.
 */
inline void fixClientSize(QWidget *window, int width, int height)
{
    window->setFixedSize(QSize(width, height).expandedTo(window->minimumSizeHint()));
}

} // namespace dialogs
