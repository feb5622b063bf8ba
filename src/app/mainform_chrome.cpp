// The frame around the commands: hidden items and buttons, the View toggles, the collapsible side
// panels, the frames area's layout, the hints in the status bar, the manual and the web links.
#include "mainform.h"

#include "help_window.h"
#include "views.h"

#include "dialogs/installed_data.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QToolButton>
#include <QStatusBar>
#include <QToolBar>

namespace app {

namespace {

/** Calls `onResize` each time the watched widget changes size. */
class ResizeWatcher : public QObject
{
public:
    ResizeWatcher(QWidget *watched, std::function<void()> onResize)
        : QObject(watched)
        , mOnResize(std::move(onResize))
    {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Resize)
            mOnResize();
        return false;
    }

private:
    std::function<void()> mOnResize;
};

struct PanelChrome {
    const char *holder;
    const char *title;
    int expandedHeight;
};

// Indexed by TMainform::SidePanel.
constexpr PanelChrome panelChrome[] = {
    {"Loopsb", "Bouclage", 101},
    {"rateb", "Durée de l'image", 97},
    {"comb", "Commentaires", 97},
};
constexpr int collapsedHeight = 16; // the title bar alone

QAction *hiddenItem(QAction *a)
{
    a->setVisible(false);
    return a;
}

QAction *hiddenSeparator(QMenu *menu, QAction *before = nullptr)
{
    QAction *separator = menu->insertSeparator(before);
    separator->setVisible(false);
    return separator;
}

} // namespace

void TMainform::createChrome()
{
    const auto menu = [this](const char *name) { return findChild<QMenu *>(QLatin1String(name)); };
    const auto checkable = [](QAction *a, bool checked) {
        a->setCheckable(true);
        a->setChecked(checked);
        return a;
    };

    // Hidden buttons of ToolBar1: the panels' state holders (checked while the panel is expanded)
    // and buttons whose commands the menus also offer.
    QAction *wizardButton = makeAction(QStringLiteral("ToolButton2"), QStringLiteral("Assistant"),
                                       QStringLiteral("Assistant nouvelle animation"));
    connect(wizardButton, &QAction::triggered, this, [this] { ToolButton2Click(); });
    QAction *addButton = makeAction(QStringLiteral("addBtn_2"), QStringLiteral("Ajouter"),
                                    QStringLiteral("Ajouter une image"));
    connect(addButton, &QAction::triggered, this, [this] { add1Click(); });
    QAction *supButton = makeAction(QStringLiteral("sup_2"), QStringLiteral("Supprimer"),
                                    QStringLiteral("Supprimer l'image"));
    connect(supButton, &QAction::triggered, this, [this] { DelClick(); });
    QAction *holders[3];
    for (int i = 0; i < 3; ++i) {
        const PanelChrome &c = panelChrome[i];
        holders[i] = checkable(makeAction(QLatin1String(c.holder), QString::fromUtf8(c.title), QString::fromUtf8(c.title)),
                               true);
        const auto panel = SidePanel(i);
        connect(holders[i], &QAction::triggered, this, [this, panel] { applyPanelState(panel); });
    }
    Loopsb = holders[0];
    rateb = holders[1];
    comb = holders[2];
    helpb = checkable(makeAction(QStringLiteral("helpb"), QStringLiteral("Visualisateur"),
                                 QStringLiteral("Visualisateur")),
                      true);
    QAction *helpButton = makeAction(QStringLiteral("ToolButton7"), QStringLiteral("Aide"), QStringLiteral("Aide"));
    connect(helpButton, &QAction::triggered, this, [this] { Rubriquesdaide1Click(); });
    QAction *quitButton = makeAction(QStringLiteral("ToolButton4"), QStringLiteral("Quitter"), QStringLiteral("Quitter"));
    connect(quitButton, &QAction::triggered, this, &QWidget::close);
    // A hidden action is a disabled one in Qt, so the state holders (Loopsb, rateb, comb, helpb, cut,
    // copy, past) stay out of the tool bar instead of being hidden in it.
    ToolBar1->addSeparator()->setVisible(false);
    for (QAction *a : {wizardButton, addButton, supButton, helpButton, quitButton})
        ToolBar1->addAction(hiddenItem(a));

    // Side panels: the arrows expand and collapse, a click on the title bar flips the panel.
    for (int i = 0; i < 3; ++i) {
        const auto panel = SidePanel(i);
        PanelHeader *header = mHeaders[std::size_t(i)];
        connect(header, &PanelHeader::expandClicked, this, [this, panel] { setPanelExpanded(panel, true); });
        connect(header, &PanelHeader::collapseClicked, this, [this, panel] { setPanelExpanded(panel, false); });
        connect(header, &PanelHeader::titleClicked, this, [this, panel] { setPanelExpanded(panel, !panelExpanded(panel)); });
    }

    // "&Edition": items with no command of their own.
    QMenu *edit = menu("Edit1");
    QAction *cutItem = action(QStringLiteral("CutItem"));
    // "A&nnuler" is no longer hidden: it is the undo history's item at the top (mainform_undo.cpp).
    hiddenSeparator(edit, cutItem);
    hiddenSeparator(edit);
    edit->addAction(hiddenItem(makeAction(QStringLiteral("Comments"), QStringLiteral("Commentaires..."))));

    // "&Affichage": the panels' toggles before "&Options...", hidden marks after it.
    QMenu *view = menu("Voir1");
    QAction *options2 = action(QStringLiteral("Options2"));
    const char *toggleNames[] = {"showloop", "showrate", "showcomment"};
    for (int i = 0; i < 3; ++i) {
        QAction *toggle =
            checkable(makeAction(QLatin1String(toggleNames[i]), QString::fromUtf8(panelChrome[i].title)), true);
        const auto panel = SidePanel(i);
        // The mark flips first; the panel follows it.
        connect(toggle, &QAction::triggered, this, [this, panel](bool on) { setPanelExpanded(panel, on); });
        view->insertAction(options2, toggle);
    }
    view->insertSeparator(options2);
    view->addAction(hiddenItem(checkable(makeAction(QStringLiteral("Showframes"), QStringLiteral("&Liste des images")), true)));
    view->addAction(hiddenItem(checkable(makeAction(QStringLiteral("ShowVis"), QStringLiteral("Visualisateur")), true)));
    QAction *showhelp = hiddenItem(checkable(makeAction(QStringLiteral("showhelp"), QStringLiteral("Aide rapide")), true));
    connect(showhelp, &QAction::triggered, this, [this](bool on) { helpb->setChecked(on); });
    view->addAction(showhelp);

    // "&Image": commands that are not offered.
    QMenu *image = menu("Imagesdelanimations1");
    hiddenSeparator(image);
    for (const auto &[name, caption] : {std::pair{"clsolid", "&Insérer une image vide"},
                                        std::pair{"Invert", "In&verser l'ordre"},
                                        std::pair{"change", "&Changer l'ordre..."}, std::pair{"Prop", "&Propriétés"}})
        image->addAction(hiddenItem(makeAction(QLatin1String(name), QString::fromUtf8(caption))));

    // "&Contrôle": hidden items; only "&Bouclage" does something.
    QMenu *control = menu("Afficher1");
    hiddenSeparator(control);
    control->addAction(hiddenItem(makeAction(QStringLiteral("Trans"), QStringLiteral("&Couleur de fond..."))));
    control->addAction(
        hiddenItem(makeAction(QStringLiteral("Vitessedescadres1"), QStringLiteral("&Durée de l'image..."))));
    QAction *boucle = hiddenItem(makeAction(QStringLiteral("boucle"), QStringLiteral("&Bouclage")));
    connect(boucle, &QAction::triggered, this, [this] { applyPanelState(SidePanel::Loop); });
    control->addAction(boucle);
    hiddenSeparator(control);
    control->addAction(hiddenItem(makeAction(QStringLiteral("Informations1"), QStringLiteral("&Informations..."))));

    // "Ai&de": the manual first, the web links in the middle.
    QMenu *help = menu("Aide1");
    QAction *how = action(QStringLiteral("Manueldepriseenmain1"));
    QAction *about = action(QStringLiteral("HelpAboutItem"));
    QAction *topics = makeAction(QStringLiteral("Rubriquesdaide1"), QStringLiteral("&Rubriques d'aide"));
    topics->setShortcut(QKeySequence(Qt::Key_F1));
    connect(topics, &QAction::triggered, this, [this] { Rubriquesdaide1Click(); });
    help->insertAction(how, topics);
    QAction *site = makeAction(QStringLiteral("Visiterlesiteweb1"), QStringLiteral("&Page d'accueil Movaro Gif"));
    connect(site, &QAction::triggered, this, [this] { Visiterlesiteweb1Click(); });
    help->insertAction(about, site);
    auto *contact = new QMenu(QStringLiteral("Contact"), help);
    contact->setObjectName(QStringLiteral("Contacterlauteur1"));
    QAction *mail = makeAction(QStringLiteral("Envoyerunemail1"), QStringLiteral("par &e-mail"));
    connect(mail, &QAction::triggered, this, [this] { Envoyerunemail1Click(); });
    QAction *contactPage = hiddenItem(makeAction(QStringLiteral("Pagedecontactdusite1"), QStringLiteral("page &web de contact")));
    connect(contactPage, &QAction::triggered, this, [this] { Pagedecontactdusite1Click(); });
    contact->addActions({mail, contactPage});
    help->insertMenu(about, contact);
    help->insertSeparator(about);
    hiddenSeparator(help);
    help->addAction(hiddenItem(makeAction(QStringLiteral("Tutorial1"), QStringLiteral("&Tutorial"))));
    help->addAction(hiddenItem(makeAction(QStringLiteral("Astucedujour1"), QStringLiteral("&Astuce du jour..."))));
    hiddenSeparator(help);
    help->addAction(hiddenItem(checkable(makeAction(QStringLiteral("SA"), QStringLiteral("Compagnon")), true)));
    auto *web = new QMenu(QStringLiteral("Movaro Gif sur le web..."), help);
    web->setObjectName(QStringLiteral("MovaroGifsurleweb1"));
    QAction *update = makeAction(QStringLiteral("Misejour1"), QStringLiteral("Mise à jour..."));
    connect(update, &QAction::triggered, this, [this] { Misejour1Click(); });
    web->addAction(update);
    help->addMenu(web)->setVisible(false);

    // The side column's controls explain themselves in the status bar too.
    const std::pair<QWidget *, const char *> controlHints[] = {
        {infini, "Répéter l'animation sans fin"},
        {fini, "Arrêter l'animation après un nombre d'itérations"},
        {NumLoops, "Nombre d'itérations de l'animation"},
        {Period, "Durée d'affichage de l'image sélectionnée, en centièmes de seconde"},
        {Gifcomment, "Commentaire enregistré dans le fichier GIF"},
        {Slider, "Faire défiler les images de l'animation"},
        {ImageScroll, "Faire défiler les vignettes"},
        {PlayBtn, "Jouer l'animation"},
        {StopBtn, "Arrêter l'animation"},
        {Rewindbtn, "Aller à la première image"},
        {Backbtn, "Aller à l'image précédente"},
        {Nextbtn, "Aller à l'image suivante"},
        {Forwardbtn, "Aller à la dernière image"},
    };
    for (const auto &[control, text] : controlHints)
        control->setStatusTip(QString::fromUtf8(text));
    for (ThumbnailSlot *slot : thumbs)
        slot->setStatusTip(QStringLiteral("Cliquez sur une vignette pour sélectionner son image"));

    new ResizeWatcher(mFramesArea, [this] { FormResize(); });
}

void TMainform::setPanelExpanded(SidePanel panel, bool expanded)
{
    const auto i = std::size_t(panel);
    QWidget *widgets[] = {pnlloop, pnlRate, pnlComments};
    QAction *holders[] = {Loopsb, rateb, comb};
    widgets[i]->setFixedHeight(expanded ? panelChrome[i].expandedHeight : collapsedHeight);
    mHeaders[i]->setExpanded(expanded);
    holders[i]->setChecked(expanded);
}

bool TMainform::panelExpanded(SidePanel panel) const
{
    const QAction *holders[] = {Loopsb, rateb, comb};
    return holders[std::size_t(panel)]->isChecked();
}

void TMainform::applyPanelState(SidePanel panel)
{
    setPanelExpanded(panel, panelExpanded(panel));
}

void TMainform::FormResize()
{
    PlaceScrollMarker();
    // Integer division truncates toward zero, also when the area is narrower than the panel.
    const int left = (mFramesArea->width() - mThumbnailPanel->width()) / 2;
    mThumbnailPanel->move(left, 0);
    ToolBar2->move(left, 0);
}

void TMainform::Rubriquesdaide1Click()
{
    const QString manual = dialogs::installedDataFile(QStringLiteral("help/index.html"));
    if (manual.isEmpty())
        return; // no manual installed: nothing to show, and nothing to say about it
    if (mUrlOpener->open(manual))
        return;
    // No desktop handler for web pages: the program shows its manual itself.
    if (!mHelpWindow)
        mHelpWindow = new HelpWindow(this);
    static_cast<HelpWindow *>(mHelpWindow.data())->showPage(manual);
}

QWidget *TMainform::helpWindow() const
{
    return mHelpWindow;
}

void TMainform::Visiterlesiteweb1Click()
{
    mUrlOpener->open(homePageAddress);
}

void TMainform::Envoyerunemail1Click()
{
    mUrlOpener->open(QStringLiteral("mailto:") + contactMailAddress);
}

void TMainform::Pagedecontactdusite1Click()
{
    mUrlOpener->open(contactPageAddress);
}

void TMainform::Misejour1Click()
{
    const Answer answer = mPrompter->ask(MessageKind::Confirmation,
                                         QStringLiteral("Movaro Gif va maintenant ouvrir la page de téléchargement "
                                                        "de notre site.\nVoulez-vous continuer ?"),
                                         Buttons::OkCancel);
    if (answer == Answer::Ok)
        mUrlOpener->open(downloadPageAddress);
}

} // namespace app
