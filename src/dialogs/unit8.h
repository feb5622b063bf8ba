#pragma once

#include <QWidget>

namespace dialogs {

/** The picture shown while the windows are being made at start-up; it lives only that long. */
class TSplashForm : public QWidget
{
    Q_OBJECT

public:
    explicit TSplashForm(QWidget *parent = nullptr);
};

} // namespace dialogs
