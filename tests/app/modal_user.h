#pragma once

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>

/**
 * Plays the user of the real modal windows a test opens: each time a new modal window is shown,
 * records its title and hands it to `act`, which answers it (ticks, clicks, closes).
 */
class ModalUser : public QObject
{
public:
    explicit ModalUser(std::function<void(QWidget *)> act)
        : mAct(std::move(act))
    {
        connect(&mTimer, &QTimer::timeout, this, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal) {
                mLast = nullptr; // the same window may come back later
                return;
            }
            if (modal == mLast || !modal->isVisible())
                return;
            mLast = modal;
            seen << modal->windowTitle();
            mAct(modal);
            // An answer that forgot to close would hang the test: close it.
            if (auto *dialog = qobject_cast<QDialog *>(modal); dialog && dialog->isVisible())
                QTimer::singleShot(0, dialog, [dialog] {
                    if (dialog->isVisible())
                        dialog->reject();
                });
        });
        mTimer.start(10);
    }

    /** Titles of the modal windows met, in order. */
    QStringList seen;

private:
    std::function<void(QWidget *)> mAct;
    QTimer mTimer;
    QPointer<QWidget> mLast;
};
