// The secondary windows: the wizard and what it asks of the window, the welcome dialog's choice,
// the options, the how-to window and the about box.
#include "mainform.h"

#include "animation_view.h"
#include "undo_commands.h"
#include "views.h"

#include "dialogs/colour_options.h"
#include "dialogs/reabout.h"
#include "dialogs/uass.h"
#include "dialogs/udispo.h"
#include "dialogs/uhow.h"
#include "dialogs/uoptions.h"
#include "dialogs/uwelcome.h"
#include "document/document_ops.h"
#include "document/formats/picture_formats.h"
#include "document/quantize_quality.h"
#include "settings/colour_settings.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>

namespace app {

class TMainform::WizardBridge : public dialogs::WizardHost
{
public:
    explicit WizardBridge(TMainform &form)
        : f(form)
    {}

    Prompter &prompter() override { return *f.mPrompter; }

    QStringList pictureFilters() const override
    {
        QStringList filters;
        for (const std::string &filter : doc::formats::addDialogFilters())
            filters << QString::fromStdString(filter);
        return filters;
    }

    bool isModified() const override { return f.isModified(); }
    bool newAnimation() override { return f.FileNewItemClick(); }

    void startAnimation(const QString &name) override
    {
        // The whole build, from the empty animation to its last frame, is one step.
        mStep.reset();
        mStep.emplace(f.history(), QStringLiteral("Assistant nouvelle animation"));
        f.releaseAnimation();
        auto document = std::make_unique<doc::TGIFImage>();
        document->onProgress = f.progressHandler();
        f.mDocument = std::move(document);
        f.Image->clearPicture();
        f.path.clear();
        f.OnDisk = false; // no file behind it any more, so nothing to revert to
        f.DocumentName = name;
        f.ren();
    }

    void addPicture(const QString &file, long long delay) override
    {
        // The add command's import: any registered format, reduced to 256 colours as the
        // options say; read and reduced off the user-interface thread.
        const std::string name = QFile::encodeName(file).toStdString();
        doc::Picture reduced;
        f.runBlocking([&] {
            doc::Picture picture = doc::formats::readPicture(name);
            reduced = f.reduceForFrame(picture);
        });
        doc::InsertImage(*f.mDocument, std::move(reduced), delay, f.mDocument->count());
        f.ren();
    }

    int frameCount() const override { return f.mDocument ? f.mDocument->count() : 0; }

    void setLooping(bool endless, int count) override
    {
        if (endless) {
            f.infini->setChecked(true);
        } else {
            f.fini->setChecked(true);
            f.NumLoops->setValue(count);
        }
        f.NumLoops->setEnabled(!endless);
        f.StoreLooping();
    }

    void finishAnimation(const QString &name) override
    {
        f.shapeit();
        f.setModified(true);
        f.showStill(false);
        f.gif->setDocument(f.mDocument.get());
        f.BoxResize();
        f.PlaceScrollMarker();
        f.check(QStringLiteral("played"));
        f.setTitle(name);
        if (f.mFrameEntries > 0)
            f.selectFrame(0);
        f.mPanels[4]->clear();
        mStep.reset();
    }

private:
    TMainform &f;
    std::optional<UndoScope> mStep;
};

void TMainform::createDialogs()
{
    dispo();
    options();
    aboutBox();
    welcome();
    wizard();
    // The effect dialog TEffects is made here, last, once it exists.
}

dialogs::TOptions *TMainform::options()
{
    if (!mOptions)
        mOptions = new dialogs::TOptions(this);
    return mOptions;
}

dialogs::TAboutBox *TMainform::aboutBox()
{
    if (!mAboutBox) {
        mAboutBox = new dialogs::TAboutBox(homePageAddress, this);
        connect(mAboutBox, &dialogs::TAboutBox::openAddress, this,
                [this](const QString &address) { mUrlOpener->open(address); });
        connect(mAboutBox, &dialogs::TAboutBox::updateRequested, this, [this] { Misejour1Click(); });
    }
    return mAboutBox;
}

dialogs::Twelcome *TMainform::welcome()
{
    if (!mWelcome) {
        mWelcome = new dialogs::Twelcome(this);
        connect(mWelcome, &dialogs::Twelcome::shown, this, [this] { FileNewItemClick(); });
    }
    return mWelcome;
}

dialogs::Tassform *TMainform::wizard()
{
    if (!mWizard) {
        mWizardBridge = std::make_shared<WizardBridge>(*this);
        mWizard = new dialogs::Tassform(*mWizardBridge, this);
    }
    return mWizard;
}

dialogs::THowForm *TMainform::howForm()
{
    if (!mHowForm)
        mHowForm = new dialogs::THowForm(this);
    return mHowForm;
}

void TMainform::ToolButton2Click()
{
    dialogs::Tassform *w = wizard();
    w->show();
    w->raise();
    w->activateWindow();
}

void TMainform::Options2Click()
{
    dialogs::Twelcome *w = welcome();
    dialogs::TOptions *o = options();
    o->welc->setChecked(w->Checkstart->isChecked());
    o->undoMemory->setValue(int(mHistory->byteLimit() >> 20));
    o->colours->setChoice(settings::readReductionChoice(*mStore));
    if (o->exec() == QDialog::Accepted) {
        w->Checkstart->setChecked(o->welc->isChecked());
        setUndoMemory(o->undoMemory->value());
        settings::writeReductionChoice(*mStore, o->colours->choice());
    }
    w->storage().save();
}

doc::Picture TMainform::reduceForFrame(doc::Picture &picture)
{
    return doc::reducePicture(picture, settings::readReductionChoice(*mStore));
}

void TMainform::HelpAbout1Execute()
{
    aboutBox()->exec();
}

void TMainform::Manueldepriseenmain1Click()
{
    howForm()->exec();
}

void TMainform::runWelcomeChoice()
{
    dialogs::Twelcome *w = welcome();
    switch (w->choice()) {
    case dialogs::Twelcome::Choice::OpenFile: {
        setEnabled(true);
        const int entry = w->recentEntry();
        FileOpen1Execute(entry == 0 ? OpenSource::Dialog : OpenSource(int(OpenSource::Recent1) + entry - 1));
        break;
    }
    case dialogs::Twelcome::Choice::Wizard:
        ToolButton2Click();
        break;
    case dialogs::Twelcome::Choice::NewAnimation:
        FileNewItemClick();
        break;
    }
}

} // namespace app
