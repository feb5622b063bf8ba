#include "startup.h"

#include "command_line_files.h"
#include "mainform.h"

#include "dialogs/uhow.h"
#include "dialogs/unit8.h"
#include "dialogs/uwelcome.h"

#include <QApplication>
#include <QCheckBox>

namespace app {

std::unique_ptr<TMainform> startEditor(const QStringList &files, const std::function<void(TMainform &)> &prepared)
{
    auto splash = std::make_unique<dialogs::TSplashForm>();
    splash->show();
    splash->repaint();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    auto form = std::make_unique<TMainform>();
    if (prepared)
        prepared(*form);
    form->howForm();
    form->show();
    form->repaint();
    form->createDialogs();
    splash.reset();
    form->repaint();

    form->FileNewItemClick();
    // A file named on the command line stays open: the welcome dialog, whose every choice starts
    // another animation, is not shown then.
    const bool named = !files.isEmpty();
    if (named) {
        openCommandLineFiles(*form, files);
    } else {
        dialogs::Twelcome *welcome = form->welcome();
        welcome->storage().restore();
        if (!welcome->Checkstart->isChecked()) {
            if (welcome->exec() == QDialog::Accepted)
                form->runWelcomeChoice();
        }
        if (welcome->Checkstart->isChecked())
            form->FileNewItemClick();
    }

    form->howForm()->showAtStartup();
    form->startHintTimer();
    return form;
}

} // namespace app
