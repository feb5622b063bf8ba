// Construction of the main window: menus, tool bars, side panels, view area, frames area.
#include "mainform.h"

#include "animation_view.h"
#include "command_rules.h"
#include "undo_commands.h"
#include "views.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QGridLayout>
#include <QStatusTipEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <climits>

static void initIcons()
{
    Q_INIT_RESOURCE(icons);
}

namespace app {

const QString TMainform::restingHint = QStringLiteral("Pour obtenir de l'aide, Appuyez sur F1");

namespace {

/** Keeps the still view filling the view's canvas and the animated view centred in it. */
class ViewCanvas : public QWidget
{
public:
    using QWidget::QWidget;
    PictureBox *still = nullptr;
    std::function<void()> onResize;

protected:
    void resizeEvent(QResizeEvent *) override
    {
        if (still)
            still->setGeometry(rect());
        if (onResize)
            onResize();
    }
};

QString shortHint(const QString &hint)
{
    const int bar = hint.indexOf(QLatin1Char('|'));
    return bar < 0 ? hint : hint.left(bar);
}

QString longHint(const QString &hint)
{
    const int bar = hint.indexOf(QLatin1Char('|'));
    return bar < 0 ? hint : hint.mid(bar + 1);
}

} // namespace

TMainform::TMainform(QWidget *parent)
    : QMainWindow(parent)
    , mPrompter(std::make_unique<QtPrompter>(this))
    , mUrlOpener(std::make_unique<DesktopUrlOpener>())
    , mStore(settings::openStore())
{
    initIcons();
    setWindowTitle(QStringLiteral("Movaro Gif"));
    setObjectName(QStringLiteral("Mainform"));

    createActions();
    createMenus();
    createToolBars();
    createStatusBar();

    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("Panel2"));
    central->setFocusPolicy(Qt::StrongFocus);
    auto *columns = new QHBoxLayout(central);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);
    auto *middle = new QVBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    middle->setSpacing(0);
    middle->addWidget(createViewArea(), 1);
    middle->addWidget(createFramesArea());
    columns->addLayout(middle, 1);
    columns->addWidget(createSidePanel());
    setCentralWidget(central);
    createChrome();
    createStorage();
    createCommandRules();
    // Shortcuts work while the menus are closed, on the states the menus would show.
    mRules->bindShortcuts();

    PaintPanelHeaders();

    resize(817, 658);
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    acceptFileDrops();
    central->setFocus();
}

TMainform::~TMainform() = default;

bool TMainform::event(QEvent *event)
{
    // The long part of a hint goes to panel 0 instead of a temporary message over every panel.
    if (event->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent *>(event)->tip();
        if (!mBusy)
            mPanels[0]->setText(tip.isEmpty() ? restingHint : tip);
        return true;
    }
    return QMainWindow::event(event);
}

QAction *TMainform::makeAction(const QString &name, const QString &text, const QString &hint, const QString &icon)
{
    auto *a = new QAction(text, this);
    a->setObjectName(name);
    if (!hint.isEmpty()) {
        a->setToolTip(shortHint(hint));
        a->setStatusTip(longHint(hint));
    }
    if (!icon.isEmpty())
        a->setIcon(QIcon(QStringLiteral(":/icons/%1.png").arg(icon)));
    return a;
}

QAction *TMainform::action(const QString &name) const
{
    return findChild<QAction *>(name);
}

void TMainform::createActions()
{
    // Command-state holders: `check` and the commands set them; the menus copy them when they open.
    save = makeAction(QStringLiteral("save"), QStringLiteral("&Enregistrer"),
                      QStringLiteral("Enregistrer|Enregistrer le fichier en cours"), QStringLiteral("document-save"));
    play = makeAction(QStringLiteral("play"), QStringLiteral("Jouer"), QStringLiteral("Jouer l'animation"),
                      QStringLiteral("media-playback-start"));
    stop = makeAction(QStringLiteral("stop"), QStringLiteral("Arrêter"), QStringLiteral("Arrêter l'animation"),
                      QStringLiteral("media-playback-stop"));
    cut = makeAction(QStringLiteral("cut"), QStringLiteral("Couper"));
    copy = makeAction(QStringLiteral("copy"), QStringLiteral("Copier"));
    past = makeAction(QStringLiteral("past"), QStringLiteral("Coller"));
    sup = makeAction(QStringLiteral("sup"), QStringLiteral("Supprimer l'image"), QStringLiteral("Supprimer l'image"),
                     QStringLiteral("list-remove"));
    addbtn = makeAction(QStringLiteral("addbtn"), QStringLiteral("Ajouter une image"),
                        QStringLiteral("Ajouter une image"), QStringLiteral("list-add"));
    for (QAction *a : {save, play, stop, cut, copy, past, sup})
        a->setEnabled(false);

    connect(save, &QAction::triggered, this, [this] { FileSave1Execute(); });
    connect(play, &QAction::triggered, this, [this] { playClick(); });
    connect(sup, &QAction::triggered, this, [this] { DelClick(); });
    connect(stop, &QAction::triggered, this, [this] { stopPlayback(); });
    connect(addbtn, &QAction::triggered, this, [this] { add1Click(); });
}

void TMainform::createMenus()
{
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("MenuToolBar"));

    // "&Fichier"
    File1 = bar->addMenu(QStringLiteral("&Fichier"));
    File1->setObjectName(QStringLiteral("File1"));
    File1->menuAction()->setStatusTip(QStringLiteral("Commandes liées aux menus"));
    QAction *fileNew = makeAction(QStringLiteral("FileNewItem"), QStringLiteral("&Nouveau"),
                                  QStringLiteral("Nouveau|Créer un nouveau fichier"), QStringLiteral("document-new"));
    fileNew->setShortcut(QKeySequence(QStringLiteral("Ctrl+N")));
    connect(fileNew, &QAction::triggered, this, [this] { FileNewItemClick(); });
    QAction *fileOpen = makeAction(QStringLiteral("FileOpenItem"), QStringLiteral("&Ouvrir"),
                                   QStringLiteral("Ouvrir|Ouvrir un fichier"), QStringLiteral("document-open"));
    fileOpen->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
    connect(fileOpen, &QAction::triggered, this, [this] { FileOpen1Execute(OpenSource::Dialog); });
    save1 = makeAction(QStringLiteral("save1"), QStringLiteral("&Enregistrer"),
                       QStringLiteral("Enregistrer|Enregistrer le fichier en cours"), QStringLiteral("document-save"));
    save1->setShortcut(QKeySequence(QStringLiteral("Ctrl+S")));
    connect(save1, &QAction::triggered, this, [this] { FileSave1Execute(); });
    save2 = makeAction(QStringLiteral("save2"), QStringLiteral("Enregistrer &sous..."),
                       QStringLiteral("Enregistrer sous|Enregistrer le fichier en cours sous un nouveau nom"));
    connect(save2, &QAction::triggered, this, [this] { save2Click(); });
    eos = makeAction(QStringLiteral("eos"), QStringLiteral("Enregistrer &optimisé sous..."));
    connect(eos, &QAction::triggered, this, [this] { eosClick(); });
    exporter = makeAction(QStringLiteral("exporter"), QStringLiteral("E&xporter..."),
                          QStringLiteral("Exporter|Choisir les réglages du fichier en voyant sa taille avant de l'enregistrer"));
    connect(exporter, &QAction::triggered, this, [this] { exporterClick(); });
    retablir = makeAction(QStringLiteral("retablir"), QStringLiteral("&Rétablir"));
    connect(retablir, &QAction::triggered, this, [this] { retablirClick(); });
    ajouter = makeAction(QStringLiteral("ajouter"), QStringLiteral("A&jouter une image..."));
    connect(ajouter, &QAction::triggered, this, [this] { add1Click(); });
    inserer = makeAction(QStringLiteral("inserer"), QStringLiteral("In&sèrer une image..."));
    connect(inserer, &QAction::triggered, this, [this] { insertClick(); });
    QAction *importVideo = makeAction(QStringLiteral("importVideo"), QStringLiteral("Importer une &vidéo..."),
                                      QStringLiteral("Importer une vidéo|Ajouter les images d'une vidéo à l'animation"));
    connect(importVideo, &QAction::triggered, this, [this] { importVideoClick(); });
    enregistrercadre = makeAction(QStringLiteral("enregistrercadre"), QStringLiteral("Enre&gistrer l'image sous..."));
    connect(enregistrercadre, &QAction::triggered, this, [this] { enregistrercadreClick(); });
    QAction *wizard = makeAction(QStringLiteral("Assistantnouvelleanimation1"),
                                 QStringLiteral("&Assistant nouvelle animation..."));
    connect(wizard, &QAction::triggered, this, [this] { ToolButton2Click(); });
    File1->addActions({fileNew, fileOpen, save1, save2, eos, exporter, retablir});
    File1->addSeparator();
    File1->addActions({ajouter, inserer, importVideo, enregistrercadre});
    File1->addSeparator();
    File1->addAction(wizard);
    // Printing exists but its items are not shown.
    QAction *printSeparator = File1->addSeparator();
    printSeparator->setVisible(false);
    QAction *pageSetup = makeAction(QStringLiteral("Configurationdelimpression1"), QStringLiteral("&Mise en page..."));
    connect(pageSetup, &QAction::triggered, this, [this] { Configurationdelimpression1Click(); });
    QAction *print = makeAction(QStringLiteral("Imprimer1"), QStringLiteral("Im&primer..."));
    connect(print, &QAction::triggered, this, [this] { Imprimer1Click(); });
    pageSetup->setVisible(false);
    print->setVisible(false);
    File1->addActions({pageSetup, print});
    File1->addSeparator();
    for (int k = 0; k < 4; ++k) {
        recentItems[std::size_t(k)] = makeAction(QStringLiteral("M%1").arg(k + 1), QString());
        recentItems[std::size_t(k)]->setVisible(false);
        File1->addAction(recentItems[std::size_t(k)]);
        const auto source = OpenSource(int(OpenSource::Recent1) + k);
        connect(recentItems[std::size_t(k)], &QAction::triggered, this, [this, source] { FileOpen1Execute(source); });
    }
    N4 = File1->addSeparator();
    N4->setObjectName(QStringLiteral("N4"));
    N4->setVisible(false);
    QAction *exit = makeAction(QStringLiteral("FileExitItem"), QStringLiteral("&Quitter"),
                               QStringLiteral("Quitter|Quitter l'application"));
    connect(exit, &QAction::triggered, this, &QWidget::close);
    File1->addAction(exit);
    connect(File1, &QMenu::aboutToShow, this, [this] { File1Click(); });

    // "&Edition"
    QMenu *edit = bar->addMenu(QStringLiteral("&Edition"));
    edit->setObjectName(QStringLiteral("Edit1"));
    edit->menuAction()->setStatusTip(QStringLiteral("Commandes d'édition"));
    createUndoItems(edit);
    QAction *copyItem = makeAction(QStringLiteral("CopyItem"), QStringLiteral("Co&pier"),
                                   QStringLiteral("Copier|Copier la sélection et la mettre dans le Presse-papiers"));
    copyItem->setShortcut(QKeySequence(QStringLiteral("Ctrl+C")));
    connect(copyItem, &QAction::triggered, this, [this] { CopyItemClick(); });
    edit->addAction(copyItem);
    QMenu *paste = edit->addMenu(QStringLiteral("C&oller"));
    paste->setObjectName(QStringLiteral("Paste"));
    paste->menuAction()->setStatusTip(QStringLiteral("Insérer le contenu du Presse-papiers"));
    paste->menuAction()->setToolTip(QStringLiteral("Coller"));
    QAction *ins = makeAction(QStringLiteral("ins"), QStringLiteral("&Insèrer"));
    connect(ins, &QAction::triggered, this, [this] { insClick(); });
    QAction *append = makeAction(QStringLiteral("Enajoutantlimage1"), QStringLiteral("&Ajouter à la fin"));
    append->setShortcut(QKeySequence(QStringLiteral("Ctrl+V")));
    connect(append, &QAction::triggered, this, [this] { PasteClick(); });
    paste->addActions({ins, append});
    QAction *del = makeAction(QStringLiteral("Del"), QStringLiteral("&Supprimer"));
    connect(del, &QAction::triggered, this, [this] { DelClick(); });
    edit->addAction(del);
    QAction *cutItem = makeAction(QStringLiteral("CutItem"), QStringLiteral("&Couper"),
                                  QStringLiteral("Couper|Couper la sélectionn et la mettre dans le Presse-papiers"));
    connect(cutItem, &QAction::triggered, this, [this] { CutItemClick(); });
    cutItem->setVisible(false);
    edit->addAction(cutItem);

    // "&Affichage"
    QMenu *view = bar->addMenu(QStringLiteral("&Affichage"));
    view->setObjectName(QStringLiteral("Voir1"));
    QAction *tools = makeAction(QStringLiteral("Tools"), QStringLiteral("Barre d'&outils"));
    tools->setCheckable(true);
    tools->setChecked(true);
    connect(tools, &QAction::triggered, this, [this](bool on) { ToolBar1->setVisible(on); });
    QAction *state = makeAction(QStringLiteral("State"), QStringLiteral("Barre d'é&tat"));
    state->setCheckable(true);
    state->setChecked(true);
    connect(state, &QAction::triggered, this, [this](bool on) { statusBar()->setVisible(on); });
    view->addActions({tools, state});
    view->addSeparator();
    QAction *options2 = makeAction(QStringLiteral("Options2"), QStringLiteral("&Options..."));
    connect(options2, &QAction::triggered, this, [this] { Options2Click(); });
    view->addAction(options2);

    // "&Image"
    QMenu *image = bar->addMenu(QStringLiteral("&Image"));
    image->setObjectName(QStringLiteral("Imagesdelanimations1"));
    QAction *add1 = makeAction(QStringLiteral("add1"), QStringLiteral("&Ajouter..."));
    add1->setShortcut(QKeySequence(Qt::Key_F2));
    connect(add1, &QAction::triggered, this, [this] { add1Click(); });
    QAction *insert = makeAction(QStringLiteral("insert"), QStringLiteral("In&sèrer..."));
    insert->setShortcut(QKeySequence(Qt::Key_F3));
    connect(insert, &QAction::triggered, this, [this] { insertClick(); });
    QAction *sup2 = makeAction(QStringLiteral("sup2"), QStringLiteral("&Supprimer"));
    sup2->setShortcut(QKeySequence(Qt::Key_Delete));
    connect(sup2, &QAction::triggered, this, [this] { DelClick(); });
    image->addActions({add1, insert, sup2});
    image->addSeparator();
    QMenu *moveitem = image->addMenu(QStringLiteral("&Déplacer"));
    moveitem->setObjectName(QStringLiteral("moveitem"));
    arriere = makeAction(QStringLiteral("arriere"), QStringLiteral("en a&rrière"));
    arriere->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+R")));
    connect(arriere, &QAction::triggered, this, [this] { arriereClick(); });
    avant = makeAction(QStringLiteral("avant"), QStringLiteral("en a&vant"));
    avant->setShortcut(QKeySequence(QStringLiteral("Ctrl+Alt+V")));
    connect(avant, &QAction::triggered, this, [this] { avantClick(); });
    moveitem->addActions({arriere, avant});
    image->addSeparator();
    QAction *methode = makeAction(QStringLiteral("methode"), QStringLiteral("Mé&thode de disposition..."));
    connect(methode, &QAction::triggered, this, [this] { methodeClick(); });
    image->addAction(methode);
    image->addSeparator();
    QAction *dup = makeAction(QStringLiteral("Dup"), QStringLiteral("&Dupliquer"));
    connect(dup, &QAction::triggered, this, [this] { DupClick(); });
    image->addAction(dup);
    QAction *transcol = makeAction(QStringLiteral("transcol"), QStringLiteral("&Couleur transparente..."));
    connect(transcol, &QAction::triggered, this, [this] { transcolClick(); });
    transcol->setVisible(false);
    image->addAction(transcol);
    createFilterMenus(image);

    // "&Contrôle"
    QMenu *control = bar->addMenu(QStringLiteral("&Contrôle"));
    control->setObjectName(QStringLiteral("Afficher1"));
    QAction *jouer = makeAction(QStringLiteral("jouer"), QStringLiteral("&Jouer"));
    connect(jouer, &QAction::triggered, this, [this] { playClick(); });
    QAction *arreter = makeAction(QStringLiteral("arreter"), QStringLiteral("&Arrêter"));
    connect(arreter, &QAction::triggered, this, [this] { stopPlayback(); });
    QAction *next = makeAction(QStringLiteral("next"), QStringLiteral("Image &suivante"));
    connect(next, &QAction::triggered, this, [this] { nextClick(); });
    QAction *back = makeAction(QStringLiteral("back"), QStringLiteral("Image &précédente"));
    connect(back, &QAction::triggered, this, [this] { backClick(); });
    control->addActions({jouer, arreter});
    control->addSeparator();
    control->addActions({next, back});

    createEffectsMenu(bar->addMenu(QStringLiteral("E&ffets")));
    QMenu *help = bar->addMenu(QStringLiteral("Ai&de"));
    help->setObjectName(QStringLiteral("Aide1"));
    help->menuAction()->setStatusTip(QStringLiteral("Rubriques d'aide"));
    QAction *how = makeAction(QStringLiteral("Manueldepriseenmain1"), QStringLiteral("&Comment créer des gifs"));
    connect(how, &QAction::triggered, this, [this] { Manueldepriseenmain1Click(); });
    help->addAction(how);
    help->addSeparator();
    QAction *about = makeAction(QStringLiteral("HelpAboutItem"), QStringLiteral("&A propos de Movaro Gif"),
                                QStringLiteral("A propos"));
    connect(about, &QAction::triggered, this, [this] { HelpAbout1Execute(); });
    help->addAction(about);

}

void TMainform::createToolBars()
{
    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setIconSize(QSize(22, 22));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    QAction *tbNew = makeAction(QStringLiteral("tbNew"), QStringLiteral("&Nouveau"),
                                QStringLiteral("Nouveau|Créer un nouveau fichier"), QStringLiteral("document-new"));
    connect(tbNew, &QAction::triggered, this, [this] { FileNewItemClick(); });
    QAction *toolButton1 = makeAction(QStringLiteral("ToolButton1"), QStringLiteral("&Ouvrir"),
                                      QStringLiteral("Ouvrir|Ouvrir un fichier"), QStringLiteral("document-open"));
    connect(toolButton1, &QAction::triggered, this, [this] { FileOpen1Execute(OpenSource::Dialog); });
    ToolBar1->addActions({tbNew, toolButton1, save, undoItem, redoItem});
    ToolBar1->addSeparator();
    ToolBar1->addActions({play, stop});
}

QWidget *TMainform::createViewArea()
{
    Box = new QScrollArea;
    Box->setObjectName(QStringLiteral("Box"));
    Box->setWidgetResizable(true);
    Box->setFrameStyle(QFrame::NoFrame);
    QPalette silver = Box->palette();
    silver.setColor(QPalette::Window, QColor(192, 192, 192));
    Box->setPalette(silver);
    Box->setBackgroundRole(QPalette::Window);

    auto *canvas = new ViewCanvas;
    canvas->setObjectName(QStringLiteral("canvas"));
    canvas->setAutoFillBackground(true);
    canvas->setPalette(silver);
    gif = new AnimationView(canvas);
    gif->setObjectName(QStringLiteral("gif"));
    Image = new PictureBox(canvas);
    Image->setObjectName(QStringLiteral("Image"));
    Image->hide();
    Image->setMouseTracking(true);
    connect(Image, &PictureBox::mouseReleased, this, &TMainform::ImageMouseUp);
    connect(Image, &PictureBox::mouseMoved, this, [this] { mPanels[0]->setText(restingHint); });
    sc = new QWidget(canvas);
    sc->setObjectName(QStringLiteral("sc"));
    sc->setGeometry(0, 0, 0, 0);
    canvas->still = Image;
    canvas->onResize = [this] { BoxResize(); };
    connect(gif, &AnimationView::afterPaint, this, [this] { After(); });
    mCanvas = canvas;
    Box->setWidget(canvas);
    return Box;
}

QWidget *TMainform::createSidePanel()
{
    auto *side = new QWidget;
    side->setObjectName(QStringLiteral("SidePanel"));
    side->setFixedWidth(183);
    auto *column = new QVBoxLayout(side);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // The arrows of the collapsible ones are wired by createChrome.
    auto panel = [&](const QString &name, const QString &title, bool collapsible, int height, int headerIndex) {
        auto *p = new QWidget;
        p->setObjectName(name);
        p->setFixedHeight(height);
        auto *layout = new QVBoxLayout(p);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        auto *header = new PanelHeader(title, collapsible, p);
        mHeaders[std::size_t(headerIndex)] = header;
        layout->addWidget(header);
        auto *body = new QWidget(p);
        layout->addWidget(body, 1);
        column->addWidget(p);
        return std::pair{p, body};
    };

    // "Bouclage"
    auto [loopPanel, loopBody] = panel(QStringLiteral("pnlloop"), QStringLiteral("Bouclage"), true, 101, 0);
    pnlloop = loopPanel;
    infini = new QRadioButton(QStringLiteral("Répéter indéfiniment"), loopBody);
    infini->setObjectName(QStringLiteral("infini"));
    infini->setChecked(true);
    fini = new QRadioButton(QStringLiteral("Arrêter après"), loopBody);
    fini->setObjectName(QStringLiteral("fini"));
    NumLoops = new QSpinBox(loopBody);
    NumLoops->setObjectName(QStringLiteral("NumLoops"));
    NumLoops->setRange(1, INT_MAX);
    NumLoops->setValue(1);
    NumLoops->setEnabled(false);
    NumLoops->setFixedWidth(64);
    auto *iterations = new QLabel(QStringLiteral("itérations"), loopBody);
    auto *loopLayout = new QGridLayout(loopBody);
    loopLayout->setContentsMargins(8, 4, 6, 4);
    loopLayout->setVerticalSpacing(2);
    loopLayout->addWidget(infini, 0, 0, 1, 2);
    loopLayout->addWidget(fini, 1, 0);
    loopLayout->addWidget(NumLoops, 1, 1, Qt::AlignLeft);
    loopLayout->addWidget(iterations, 2, 0, 1, 2, Qt::AlignLeft | Qt::AlignTop);
    iterations->setIndent(22);
    connect(infini, &QRadioButton::clicked, this, [this] {
        NumLoops->setEnabled(false);
        StoreLooping();
    });
    connect(fini, &QRadioButton::clicked, this, [this] {
        NumLoops->setEnabled(true);
        StoreLooping();
    });
    connect(NumLoops, &QSpinBox::valueChanged, this, [this] { StoreLooping(); });

    // "Durée de l'image"
    auto [ratePanel, rateBody] = panel(QStringLiteral("pnlRate"), QStringLiteral("Durée de l'image"), true, 97, 1);
    pnlRate = ratePanel;
    Period = new QSpinBox(rateBody);
    Period->setObjectName(QStringLiteral("Period"));
    Period->setRange(0, INT_MAX);
    Period->setSingleStep(10);
    Period->setValue(1);
    auto *rateLayout = new QVBoxLayout(rateBody);
    rateLayout->setContentsMargins(8, 6, 6, 6);
    rateLayout->addWidget(new QLabel(QStringLiteral("Durée :   (en 1/100e sec.)"), rateBody));
    rateLayout->addWidget(Period);
    rateLayout->addStretch();
    connect(Period, &QSpinBox::valueChanged, this, [this] { PeriodChange(); });
    connect(Period, &QSpinBox::editingFinished, this, [this] { mHistory->endEditSession(); });

    // "Commentaires"
    auto [commentPanel, commentBody] = panel(QStringLiteral("pnlComments"), QStringLiteral("Commentaires"), true, 97, 2);
    pnlComments = commentPanel;
    Gifcomment = new QPlainTextEdit(commentBody);
    Gifcomment->setObjectName(QStringLiteral("Gifcomment"));
    Gifcomment->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto *commentLayout = new QVBoxLayout(commentBody);
    commentLayout->setContentsMargins(4, 4, 4, 4);
    commentLayout->addWidget(Gifcomment);
    connect(Gifcomment, &QPlainTextEdit::textChanged, this, [this] { GifcommentChange(); });

    // "Contrôle": playback buttons and the position slider
    auto [visualPanel, visualBody] = panel(QStringLiteral("pnlVisual"), QStringLiteral("Contrôle"), false, 117, 3);
    (void)visualPanel;
    auto button = [&](const QString &name, const QString &hint, const QString &icon) {
        auto *b = new QToolButton(visualBody);
        b->setObjectName(name);
        b->setToolTip(hint);
        b->setIcon(QIcon(QStringLiteral(":/icons/%1.png").arg(icon)));
        b->setIconSize(QSize(22, 22));
        b->setAutoRaise(true);
        b->setEnabled(false);
        return b;
    };
    PlayBtn = button(QStringLiteral("PlayBtn"), QStringLiteral("Jouer"), QStringLiteral("media-playback-start"));
    StopBtn = button(QStringLiteral("StopBtn"), QStringLiteral("Arrêter"), QStringLiteral("media-playback-stop"));
    Rewindbtn = button(QStringLiteral("Rewindbtn"), QStringLiteral("Début"), QStringLiteral("go-first"));
    Backbtn = button(QStringLiteral("Backbtn"), QStringLiteral("Précédent"), QStringLiteral("go-previous"));
    Nextbtn = button(QStringLiteral("Nextbtn"), QStringLiteral("Suivant"), QStringLiteral("go-next"));
    Forwardbtn = button(QStringLiteral("Forwardbtn"), QStringLiteral("Fin"), QStringLiteral("go-last"));
    connect(StopBtn, &QToolButton::clicked, this, [this] { stopPlayback(); });
    connect(Rewindbtn, &QToolButton::clicked, this, [this] { if (mFrameEntries > 0) selectFrame(0); });
    connect(PlayBtn, &QToolButton::clicked, this, [this] { playClick(); });
    connect(Backbtn, &QToolButton::clicked, this, [this] { backClick(); });
    connect(Nextbtn, &QToolButton::clicked, this, [this] { nextClick(); });
    connect(Forwardbtn, &QToolButton::clicked, this, [this] { if (mFrameEntries > 0) selectFrame(mFrameEntries - 1); });
    Slider = new QSlider(Qt::Horizontal, visualBody);
    Slider->setObjectName(QStringLiteral("Slider"));
    Slider->setRange(0, 0);
    Slider->setEnabled(false);
    // Only the user's moves select; the program's own updates (playback following) do not.
    connect(Slider, &QAbstractSlider::actionTriggered, this, [this] { SliderChange(); });
    auto *visualLayout = new QVBoxLayout(visualBody);
    visualLayout->setContentsMargins(4, 4, 4, 4);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(0);
    for (QToolButton *b : {PlayBtn, StopBtn, Rewindbtn, Backbtn, Nextbtn, Forwardbtn})
        buttons->addWidget(b);
    visualLayout->addLayout(buttons);
    visualLayout->addWidget(Slider);
    visualLayout->addStretch();

    column->addStretch();
    return side;
}

QWidget *TMainform::createFramesArea()
{
    auto *area = new QWidget;
    area->setObjectName(QStringLiteral("pnlFrames"));
    mFramesArea = area;
    auto *layout = new QVBoxLayout(area);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto *header = new PanelHeader(QStringLiteral("Images"), false, area);
    header->setObjectName(QStringLiteral("Panel12"));
    mHeaders[4] = header;
    layout->addWidget(header);

    ToolBar2 = new QToolBar(area);
    ToolBar2->setObjectName(QStringLiteral("ToolBar2"));
    ToolBar2->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    ToolBar2->setIconSize(QSize(16, 16));
    ToolBar2->addActions({addbtn, sup});
    // ToolBar2 and the thumbnails sit in rows of their own where FormResize places them.
    const auto placedRow = [area](QWidget *w, int height) {
        auto *row = new QWidget(area);
        row->setFixedHeight(height);
        w->setParent(row);
        return row;
    };
    ToolBar2->resize(ToolBar2->sizeHint());
    layout->addWidget(placedRow(ToolBar2, ToolBar2->height()));

    mThumbnailPanel = new QWidget(area);
    mThumbnailPanel->setObjectName(QStringLiteral("thumbnails"));
    auto *row = new QHBoxLayout(mThumbnailPanel);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    auto *drag = new StripDrag(*this, area, mThumbnailPanel);
    for (int k = 1; k <= 4; ++k) {
        auto *slot = new ThumbnailSlot(k, k == 1 ? 121 : 120, mThumbnailPanel);
        thumbs[std::size_t(k - 1)] = slot;
        slot->hide();
        connect(slot, &ThumbnailSlot::clicked, this,
                [this, k, slot] { slotClicked(k, slot->pressModifiers()); });
        connect(slot, &ThumbnailSlot::dragRequested, drag, [drag, k] { drag->start(k); });
        connect(slot, &ThumbnailSlot::released, this, [this, k] { slotReleased(k); });
        row->addWidget(slot);
    }
    mThumbnailPanel->setFixedSize(121 + 3 * 120 + 4 * 6 + 3 * 6, 108 + 6);
    new StripKeys(*this, mThumbnailPanel);
    layout->addWidget(placedRow(mThumbnailPanel, mThumbnailPanel->height()));

    ImageScroll = new QScrollBar(Qt::Horizontal, area);
    ImageScroll->setObjectName(QStringLiteral("ImageScroll"));
    ImageScroll->setRange(0, 3);
    ImageScroll->setPageStep(1);
    ImageScroll->setEnabled(false);
    connect(ImageScroll, &QScrollBar::valueChanged, this, [this] { ImageScrollChange(); });
    layout->addWidget(ImageScroll);
    return area;
}

void TMainform::createStatusBar()
{
    QStatusBar *bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar"));
    // The panels keep their classic widths; a slightly smaller type lets "100 image(s)" fit.
    QFont small = bar->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    bar->setFont(small);
    static constexpr std::array<int, statusPanelCount> widths{310, 160, 80, 125, 105};
    for (int i = 0; i < statusPanelCount; ++i) {
        auto *panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFixedWidth(widths[std::size_t(i)]);
        // Panel 0 has no bevel; the others are sunk like classic status panels.
        panel->setFrameStyle(i == 0 ? QFrame::NoFrame : (QFrame::Panel | QFrame::Sunken));
        panel->setContentsMargins(2, 0, 0, 0);
        bar->addWidget(panel);
        mPanels[std::size_t(i)] = panel;
    }
    mPanels[0]->setText(restingHint);
    mDamage = new QLabel(QStringLiteral("Fichier endommagé"), bar);
    mDamage->setObjectName(QStringLiteral("DamageNotice"));
    mDamage->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    mDamage->setContentsMargins(2, 0, 2, 0);
    mDamage->setStyleSheet(QStringLiteral("color: #a00000;"));
    mDamage->hide();
    bar->addWidget(mDamage);

    mProgress = new QProgressBar(mPanels[1]);
    mProgress->setObjectName(QStringLiteral("progress"));
    mProgress->setRange(0, 100);
    mProgress->setTextVisible(false);
    mProgress->setGeometry(2, 1, 153, 17);
    mProgress->hide();
}

} // namespace app
