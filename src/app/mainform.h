#pragma once

#include "document/gif_image.h"
#include "filters/frame_filter.h"
#include "frame_strip.h"
#include "prompter.h"
#include "url_opener.h"
#include "settings/form_storage.h"
#include "settings/settings_store.h"
#include "video/video_import.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPrinter;
class QProgressBar;
class QRadioButton;
class QScrollArea;
class QScrollBar;
class QSlider;
class QSpinBox;
class QToolBar;
class QTimer;
class QToolButton;

namespace dialogs {
class TAboutBox;
class Tassform;
class TDispo;
class TEffects;
class THowForm;
class TOptions;
class Twelcome;
}

namespace app {

class AnimationView;
class CommandRules;
class PanelHeader;
class PictureBox;
class ThumbnailSlot;
class UndoHistory;

/**
 * The editor's main window. It owns the one animation document and every command on it; the
 * commands are split by concern over mainform_*.cpp.
 */
class TMainform : public QMainWindow
{
    Q_OBJECT

public:
    explicit TMainform(QWidget *parent = nullptr);
    ~TMainform() override;

    // --- the document --------------------------------------------------------------------------
    doc::TGIFImage *document() const { return mDocument.get(); }
    const QString &documentName() const { return DocumentName; }
    const QString &filePath() const { return path; }
    bool onDisk() const { return OnDisk; }
    /** The document is modified exactly when the `save` command is enabled. */
    bool isModified() const;
    void setModified(bool modified);

    // --- frame list ----------------------------------------------------------------------------
    int frameEntries() const { return mFrameEntries; }
    /** Index of the selected frame, −1 when none. */
    int selectedFrame() const { return mSelected; }
    /** Selects entry `index` of the frame list, which runs framesChange. */
    void selectFrame(int index);

    // --- start-up ------------------------------------------------------------------------------
    /** Replaces the dialogs (tests install a scripted prompter). */
    void setPrompter(std::unique_ptr<Prompter> prompter);
    Prompter &prompter() const { return *mPrompter; }
    /** Replaces the desktop's address handler (tests install a recording one). */
    void setUrlOpener(std::unique_ptr<UrlOpener> opener);
    /** Every web address, mail link or help file the window opens goes through this. */
    UrlOpener &urlOpener() const { return *mUrlOpener; }
    /** Opens the file named on the command line (start-up). */
    void openFromCommandLine(const QString &file);
    /** Starts the one-shot timer whose tick offers the add-image hint (end of start-up). */
    void startHintTimer();
    void Timer1Timer();

    // --- commands ------------------------------------------------------------------------------
    /** New; false when the user cancelled its question or the save it asked for failed. */
    bool FileNewItemClick();
    enum class OpenSource { Dialog, Recent1, Recent2, Recent3, Recent4, CommandLine, Revert, Dropped };
    void FileOpen1Execute(OpenSource source, const QString &commandLineFile = {});
    /** Save; false when it was cancelled or failed (the document then stays modified). */
    bool FileSave1Execute();
    void save2Click();
    void eosClick();
    /** The export dialog: the size for chosen settings before saving (mainform_exporter.cpp). */
    void exporterClick();
    void retablirClick();
    void File1Click();
    void Plus(const QString &mode);
    /** Adds (mode "add") or inserts ("ins") each file as Plus does with the files it was given. */
    void addPictureFiles(const QStringList &files, const QString &mode);
    void add1Click() { Plus(QStringLiteral("add")); }
    void insertClick() { Plus(QStringLiteral("ins")); }
    /** File ▸ "Importer une vidéo...": a clip's frames appended (mainform_video.cpp). */
    void importVideoClick();
    /** The video dialog for `file`, then its frames from position p; false when nothing was added. */
    bool ImportVideo(const QString &file, int p);
    /** The add dialog's filters with the clips' patterns in "Tous" and their own entry. */
    static QStringList withVideoFilters(QStringList pictureFilters);
    using VideoSettingsChooser =
        std::function<std::optional<video::ImportSettings>(std::unique_ptr<video::ClipReader> clip)>;
    /** Replaces the video dialog (tests answer it directly). */
    void setVideoSettingsChooser(VideoSettingsChooser chooser) { mVideoSettingsChooser = std::move(chooser); }

    // --- window state --------------------------------------------------------------------------
    void check(const QString &word);
    void status();
    void shapeit() { status(); }
    void UpdateNavButtons();
    void gifProgress(doc::ProgressStage stage, const QString &message, int percent);
    void PlaceScrollMarker();
    void HideThumbnails();
    void PaintPanelHeaders();
    void ren();
    void changed();

    // --- frame strip ---------------------------------------------------------------------------
    void RefreshThumbnails();
    void highlightSlot(int k);
    void clickSlot(int k);
    void ImageScrollChange();
    void framesChange();
    /** The position slider was moved by the user: the frame under it is selected. */
    void SliderChange();
    /** The slider scrubs the still view: enabled with two frames or more, never while playing. */
    void UpdateSlider();
    uint16_t FrameDelay(int i);
    int highlightedSlot() const { return mHighlighted; }
    int scrollPosition() const;

    // --- properties panel ----------------------------------------------------------------------
    void ShowLooping();
    void StoreLooping();
    void EnableAnimationFields();
    /** Playback disables the five fields of the panel and enables them again when it stops. */
    void setPlaybackFieldsEnabled(bool enabled);
    void PeriodChange();
    void ShowComment();
    void StoreComment();
    void GifcommentChange();

    // --- frame editing -------------------------------------------------------------------------
    void DelClick();
    void DupClick();
    void arriereClick() { moveFrame(-1); }
    void avantClick() { moveFrame(+1); }
    void CopyItemClick();
    void CutItemClick();
    void PasteClick();
    void insClick();
    void methodeClick();
    /** The disposal dialog, made once and reused (it remembers its last choice). */
    dialogs::TDispo *dispo();
    void transcolClick();
    void ImageMouseUp(QPoint pos, Qt::MouseButton button);
    static bool clipboardHasBitmap();

    // --- filters (mainform_filters.cpp) ------------------------------------------------------
    /** Runs a filter on the still view's picture of the selected frame and writes it back. */
    void applyFrameFilter(filters::FrameFilter filter);
    void Flou2Click() { applyFrameFilter(filters::FrameFilter::Blur); }
    void Flou1Click() { applyFrameFilter(filters::FrameFilter::Gaussian); }
    void Monochrome1Click() { applyFrameFilter(filters::FrameFilter::Monochrome); }
    void Niveauxdegris1Click() { applyFrameFilter(filters::FrameFilter::GrayLevels); }
    void Accentuer1Click() { applyFrameFilter(filters::FrameFilter::Sharpen); }
    void Inverserlescouleurs1Click() { applyFrameFilter(filters::FrameFilter::Invert); }
    void Verticalement1Click() { applyFrameFilter(filters::FrameFilter::FlipVertical); }
    void Horizontalement1Click() { applyFrameFilter(filters::FrameFilter::FlipHorizontal); }
    void miroirClick() { applyFrameFilter(filters::FrameFilter::HalfTurn); }

    // --- secondary windows (mainform_dialogs.cpp) ---------------------------------------------
    /** Makes the dialogs in their start-up order; each is made once (on first use otherwise) and reused. */
    void createDialogs();
    dialogs::TOptions *options();
    dialogs::TAboutBox *aboutBox();
    dialogs::Twelcome *welcome();
    dialogs::Tassform *wizard();
    dialogs::THowForm *howForm();
    /** The new-animation wizard (File menu, welcome dialog). */
    void ToolButton2Click();
    void Options2Click();
    void HelpAbout1Execute();
    void Manueldepriseenmain1Click();
    /** After the welcome dialog's OK: open a file or a recent one, start the wizard, or New. */
    void runWelcomeChoice();

    // --- transition effects (mainform_effects.cpp) ----------------------------------------------
    /** Enables the effects that the selection allows, each time the menu opens. */
    void EffetsClick();
    /** The effect dialog, made at start-up and kept for the whole run. */
    dialogs::TEffects *Effects = nullptr;
    QMenu *Effets = nullptr;

    // --- frame of the window (mainform_chrome.cpp) ---------------------------------------------
    enum class SidePanel { Loop, Rate, Comments };
    /** Expands (the O arrows) or collapses (the C arrows) a side panel; its state holder follows. */
    void setPanelExpanded(SidePanel panel, bool expanded);
    bool panelExpanded(SidePanel panel) const;
    /** The state holders Loopsb, rateb, comb: the panel takes the state of its holder. */
    void applyPanelState(SidePanel panel);
    /** Centres the thumbnail panel in the frames area and puts ToolBar2 at the same left edge. */
    void FormResize();
    /** Help ▸ "&Rubriques d'aide" (F1) and the hidden "Aide" button: the manual. */
    void Rubriquesdaide1Click();
    void Visiterlesiteweb1Click();
    void Envoyerunemail1Click();
    void Pagedecontactdusite1Click();
    void Misejour1Click();
    /** The manual's own window, when the desktop could not open the manual (null until then). */
    QWidget *helpWindow() const;
    QAction *Loopsb = nullptr, *rateb = nullptr, *comb = nullptr, *helpb = nullptr;

    // --- remembered between runs (mainform_settings.cpp) ----------------------------------------
    /** The "Mainform Settings" section: placement, View marks, status bar, add-image hint counter. */
    settings::FormStorage &storage() const { return *mStorage; }
    /** How many times the add-image hint timer fired while the window was active, over all runs. */
    int hintCount() const { return mHintCount; }

    // --- export and printing -------------------------------------------------------------------
    void enregistrercadreClick();
    void Configurationdelimpression1Click();
    void Imprimer1Click();

    // --- undo and redo (mainform_undo.cpp) ------------------------------------------------------
    UndoHistory &history() const { return *mHistory; }
    /** Edition ▸ "A&nnuler" and "&Refaire", also on the tool bar beside Save. */
    QAction *undoItem = nullptr, *redoItem = nullptr;
    /** A step name from a menu text: without its mnemonic and trailing dots. */
    static QString stepName(const QString &menuText);

    // --- several frames (mainform_selection.cpp) ----------------------------------------------
    /** The frames the commands act on, ascending: the marked ones, or the selected one alone. */
    std::vector<int> selectedFrames() const;
    const FrameSelection &marks() const { return mMarks; }
    /** A click on thumbnail slot k: Ctrl adds or removes its frame, Shift marks the range to it. */
    void slotClicked(int k, Qt::KeyboardModifiers modifiers);
    /** The button came up on slot k without a drag. */
    void slotReleased(int k);
    /** Shows `frame`; with `extend` the marks run from the anchor to it (the strip's keyboard). */
    void stepTo(int frame, bool extend);

    // --- drag and drop (mainform_drop.cpp) -----------------------------------------------------
    /** Files dropped on the window: a lone GIF on an empty untitled document is opened, else each is added. */
    void dropFiles(const QStringList &files);
    /**
     * Frames `moved` (ascending) take the place of frame `to` as one block, in their order (thumbnails
     * dragged in the strip): one step. The block's frame `shown` is shown, the block stays marked.
     */
    void moveFramesTo(const std::vector<int> &moved, int to, int shown);

    // --- playback ------------------------------------------------------------------------------
    void playClick();
    /** Stops playback; the still view comes back. */
    void stopPlayback();
    /** The frame the animated view shows (0 when it is hidden or holds nothing). */
    int PaintedFrameIndex() const;
    void After();
    void nextClick();
    void backClick();

    static const QString restingHint;
    static constexpr int statusPanelCount = 5;
    /** Panel i of the status bar (0: hints, 1: progress, 2: frame count, 3: size, 4: load time). */
    QLabel *statusPanel(int i) const { return mPanels[std::size_t(i)]; }
    /** Beside the load time: "Fichier endommagé" after an open that met damage, the reader's words as tooltip. */
    QLabel *damageNotice() const { return mDamage; }
    void showDamage(const QStringList &warnings);

    /** A named action or widget of the window (its program name: "save", "play", "Period" ...). */
    QAction *action(const QString &name) const;
    /** The enabling and check rules of the menu items, shared by the menus and the shortcuts. */
    CommandRules &commandRules() const { return *mRules; }

    // Controls, for the commands and their tests.
    QAction *save = nullptr, *play = nullptr, *stop = nullptr, *cut = nullptr, *copy = nullptr, *past = nullptr,
            *sup = nullptr, *addbtn = nullptr;
    QToolButton *PlayBtn = nullptr, *StopBtn = nullptr, *Rewindbtn = nullptr, *Backbtn = nullptr,
                *Nextbtn = nullptr, *Forwardbtn = nullptr;
    QSlider *Slider = nullptr;
    QScrollBar *ImageScroll = nullptr;
    QRadioButton *infini = nullptr, *fini = nullptr;
    QSpinBox *NumLoops = nullptr, *Period = nullptr;
    QPlainTextEdit *Gifcomment = nullptr;
    PictureBox *Image = nullptr;
    AnimationView *gif = nullptr;
    std::array<ThumbnailSlot *, 4> thumbs{};
    QMenu *File1 = nullptr;
    std::array<QAction *, 4> recentItems{};

protected:
    bool event(QEvent *event) override;
    void setVisible(bool visible) override;
    void closeEvent(QCloseEvent *event) override;

private:
    // construction (mainform.cpp)
    void createActions();
    void createMenus();
    void createEffectsMenu(QMenu *menu);
    /** Runs the effect of row `row` of the menu's table in front of the selected frame. */
    void runEffect(int row);
    void createToolBars();
    /** The history and its two items at the top of `edit`. */
    void createUndoItems(QMenu *edit);
    /** The window after a step was undone or redone; `frame` is the one to show. */
    void refreshAfterStep(int frame);
    /** The undo history's bound in megabytes, kept with the window's settings. */
    void setUndoMemory(int megabytes);
    // several frames at once (mainform_selection.cpp)
    void deleteFrames(bool ask);
    void duplicateFrames();
    void moveFrames(int offset);
    void copyFrames();
    /** Pastes the frames of a GIF on the clipboard; false when it holds no more than one picture. */
    bool pasteFrames(bool append);
    /** Several marked frames: the delay field shows their common delay, or nothing when they differ. */
    void showCommonDelay();
    /** Selects `frame` keeping the marks as they are. */
    void selectKeepingMarks(int frame);
    FrameSelection mMarks;
    bool mKeepMarks = false;
    int mMarksOnRelease = 0; // the slot whose release leaves its frame alone marked
    /** The window takes files dropped on it (mainform_drop.cpp). */
    void acceptFileDrops();
    QWidget *createSidePanel();
    QWidget *createFramesArea();
    QWidget *createViewArea();
    void createStatusBar();
    /** The hidden filter submenus and item of the "&Image" menu; returns the three for its enabling. */
    QList<QAction *> createFilterMenus(QMenu *image);
    /** Hidden items and buttons, View toggles, Help links, side-panel arrows (mainform_chrome.cpp). */
    void createChrome();
    void createStorage();
    /** Registers the opening rules of the menus (mainform_rules.cpp). */
    void createCommandRules();
    /** The still view is shown (the animation is not playing). */
    bool stillShown() const;
    /** The still view shows a selected frame. */
    bool frameShown() const { return stillShown() && mSelected >= 0; }
    QAction *makeAction(const QString &name, const QString &text, const QString &hint = {},
                        const QString &icon = {});

    // document commands (mainform_file.cpp)
    void showWarning(const QString &text);
    /** The save question of New and Open; false when the command must stop. */
    bool askSaveFirst(const QString &question);
    /** Writes the document to `file`; shows the error and returns false when that fails. */
    bool writeDocument(const QString &file, bool optimized = false);
    settings::RecentList readRecent();
    void PromoteRecent(const QString &file);
    FileDialogSpec openDialogSpec() const;
    FileDialogSpec saveDialogSpec() const;
    void setTitle(const QString &name);
    /** Runs `work` off the user-interface thread while the window keeps painting and shows progress. */
    void runBlocking(const std::function<void()> &work);
    /** A picture that enters the animation, reduced to 256 colours as the options say. */
    doc::Picture reduceForFrame(doc::Picture &picture);
    void showStill(bool still);
    /** Progress of the document's long operations, delivered on the user-interface thread. */
    doc::TGIFImage::ProgressHandler progressHandler();
    void moveFrame(int offset);
    /**
     * Ends any playback and lets go of the document before a command changes or replaces it: the
     * animated view reads the document while it plays.
     */
    void releaseAnimation();
    /** Centres the animated view in the view area. */
    void BoxResize();
    void pasteFromClipboard(bool append);

    // the document and editor state
    std::unique_ptr<doc::TGIFImage> mDocument;
    QString DocumentName;
    QString path;
    bool OnDisk = false;
    int mFrameEntries = 0;
    int mSelected = -1;

    std::unique_ptr<Prompter> mPrompter;
    std::unique_ptr<UrlOpener> mUrlOpener;
    CommandRules *mRules = nullptr;
    UndoHistory *mHistory = nullptr;
    std::unique_ptr<QSettings> mStore;
    std::unique_ptr<settings::PlacementHook> mPlacementHook;
    std::unique_ptr<settings::FormStorage> mStorage; // declared after the hook it saves through

    // guards: 0 while the program writes a field, 5 otherwise
    int mPeriodGuard = 5;
    int mCommentGuard = 5;
    int mHighlighted = 0; // pnlFrames tag
    int mScrolling = 0;   // Panel12 tag

    std::array<QLabel *, statusPanelCount> mPanels{};
    QLabel *mDamage = nullptr;
    QProgressBar *mProgress = nullptr;
    QScrollArea *Box = nullptr;
    QWidget *mCanvas = nullptr;
    QWidget *sc = nullptr;
    std::array<PanelHeader *, 5> mHeaders{};
    QWidget *pnlloop = nullptr, *pnlRate = nullptr, *pnlComments = nullptr;
    QToolBar *ToolBar1 = nullptr, *ToolBar2 = nullptr;
    QWidget *mThumbnailPanel = nullptr;
    QWidget *mFramesArea = nullptr;
    QPointer<QWidget> mHelpWindow;
    int mHintCount = 0; // addbtn tag
    bool mRestoringStorage = false;
    QAction *save1 = nullptr, *save2 = nullptr, *eos = nullptr, *retablir = nullptr, *ajouter = nullptr,
            *inserer = nullptr, *enregistrercadre = nullptr, *N4 = nullptr;
    QAction *exporter = nullptr;
    QAction *arriere = nullptr, *avant = nullptr;
    dialogs::TDispo *mDispo = nullptr;
    class WizardBridge; // what the wizard asks of the window (mainform_dialogs.cpp)
    std::shared_ptr<WizardBridge> mWizardBridge; // shared: its type is complete in one file only
    dialogs::TOptions *mOptions = nullptr;
    dialogs::TAboutBox *mAboutBox = nullptr;
    dialogs::Twelcome *mWelcome = nullptr;
    dialogs::Tassform *mWizard = nullptr;
    dialogs::THowForm *mHowForm = nullptr;
    std::unique_ptr<QPrinter> mPrinter;
    bool mPickArmed = false;
    QTimer *Timer1 = nullptr;
    bool mBusy = false;
    /** A working copy with new frames becomes the document; frame p is selected. */
    void adoptAddedFrames(std::unique_ptr<doc::TGIFImage> copy, int p);
    std::optional<video::ImportSettings> chooseVideoSettings(std::unique_ptr<video::ClipReader> clip);
    static QStringList videoFilters();
    VideoSettingsChooser mVideoSettingsChooser;
};

} // namespace app
