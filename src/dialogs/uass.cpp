// The new-animation wizard: four pages, the list of picture files, and the build.
#include "uass.h"

#include "client_size.h"

#include "app/prompter.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <exception>
#include <stdexcept>

using app::Answer;
using app::Buttons;
using app::MessageKind;

static void initPictures()
{
    Q_INIT_RESOURCE(pictures);
}

namespace dialogs {

namespace {

/** The display name of an entry: the path's last component. */
QString displayName(const QString &path)
{
    return QFileInfo(path).fileName();
}

QLabel *wrapped(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

} // namespace

// --- DurationEdit --------------------------------------------------------------------------------

DurationEdit::DurationEdit(QWidget *parent)
    : QAbstractSpinBox(parent)
{
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

void DurationEdit::setText(const QString &text)
{
    lineEdit()->setText(text);
}

QValidator::State DurationEdit::validate(QString &input, int &) const
{
    for (const QChar c : input)
        if (!c.isDigit() || c.unicode() > 0x7f)
            return QValidator::Invalid;
    return QValidator::Acceptable;
}

void DurationEdit::stepBy(int steps)
{
    bool ok = false;
    long long value = text().toLongLong(&ok);
    if (!ok)
        value = mMinimum; // empty, or beyond what steps can reach: start again from the minimum
    else
        value = std::max(mMinimum, value + steps * mStep);
    lineEdit()->setText(QString::number(value));
}

QAbstractSpinBox::StepEnabled DurationEdit::stepEnabled() const
{
    bool ok = false;
    const long long value = text().toLongLong(&ok);
    StepEnabled enabled = StepUpEnabled;
    if (ok && value > mMinimum)
        enabled |= StepDownEnabled;
    return enabled;
}

void DurationEdit::keepInBounds()
{
    // Only digits can be typed, so the sole value out of bounds is one below the minimum.
    const QString t = text();
    bool ok = false;
    const long long value = t.toLongLong(&ok);
    if (!t.isEmpty() && ok && value < mMinimum)
        lineEdit()->setText(QString::number(mMinimum));
}

void DurationEdit::focusOutEvent(QFocusEvent *event)
{
    keepInBounds();
    QAbstractSpinBox::focusOutEvent(event);
}

// --- Tassform ------------------------------------------------------------------------------------

Tassform::Tassform(WizardHost &host, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , mHost(host)
{
    initPictures();
    setObjectName(QStringLiteral("assform"));
    setWindowTitle(QStringLiteral("Assistant nouvelle animation"));
    setWindowModality(Qt::WindowModal);

    // The white band on the left with its picture.
    auto *band = new QFrame(this);
    band->setObjectName(QStringLiteral("band"));
    band->setAutoFillBackground(true);
    QPalette white = band->palette();
    white.setColor(QPalette::Window, Qt::white);
    band->setPalette(white);
    band->setFixedWidth(82);
    auto *picture = new QLabel(band);
    picture->setObjectName(QStringLiteral("Image1"));
    picture->setPixmap(QPixmap(QStringLiteral(":/pictures/wizard.png")));
    picture->setFixedSize(50, 50);
    auto *bandLayout = new QVBoxLayout(band);
    bandLayout->setContentsMargins(16, 16, 16, 16);
    bandLayout->addWidget(picture, 0, Qt::AlignHCenter | Qt::AlignTop);
    bandLayout->addStretch();

    Pages = new QStackedWidget(this);
    Pages->setObjectName(QStringLiteral("Pages"));

    // P1: the name
    P1 = makePage(QStringLiteral("P1"));
    Nom = new QLineEdit(P1);
    Nom->setObjectName(QStringLiteral("Nom"));
    auto *p1 = new QVBoxLayout(P1);
    p1->addWidget(wrapped(QStringLiteral("Cet assistant vous aide à créer des animations Gif en vous guidant tout au "
                                         "long de l'opération."),
                          P1));
    p1->addSpacing(12);
    auto *nameLabel = wrapped(QStringLiteral("Quel est le nom de la nouvelle animation ?"), P1);
    nameLabel->setBuddy(Nom);
    p1->addWidget(nameLabel);
    p1->addWidget(Nom);
    p1->addStretch();

    // P2: looping and display time
    P2 = makePage(QStringLiteral("P2"));
    Inf = new QRadioButton(QStringLiteral("Oui, répéter l'animation indéfiniment."), P2);
    Inf->setObjectName(QStringLiteral("Inf"));
    Inf->setChecked(true);
    NoInf = new QRadioButton(QStringLiteral("La jouer                           fois."), P2);
    NoInf->setObjectName(QStringLiteral("NoInf"));
    lops = new QSpinBox(P2);
    lops->setObjectName(QStringLiteral("lops"));
    lops->setRange(1, 99999);
    lops->setSingleStep(1);
    lops->setValue(1);
    lops->setEnabled(false);
    lops->setFixedWidth(70);
    period = new DurationEdit(P2);
    period->setObjectName(QStringLiteral("period"));
    period->setMinimum(1);
    period->setSingleStep(10);
    period->setText(QStringLiteral("60"));
    period->setFixedWidth(90);
    auto *looping = new QButtonGroup(this); // the two sit in different rows of the page
    looping->addButton(Inf);
    looping->addButton(NoInf);
    connect(Inf, &QRadioButton::clicked, this, [this] { lops->setEnabled(false); });
    connect(NoInf, &QRadioButton::clicked, this, [this] { lops->setEnabled(true); });
    auto *p2 = new QVBoxLayout(P2);
    p2->addWidget(wrapped(QStringLiteral("Voulez-vous la mise en boucle d'itération de l'animation ?"), P2));
    p2->addWidget(Inf);
    // The spin edit sits in the gap that the radio button's caption leaves.
    auto *finite = new QWidget(P2);
    finite->setFixedHeight(lops->sizeHint().height());
    NoInf->setParent(finite);
    lops->setParent(finite);
    NoInf->move(0, (finite->height() - NoInf->sizeHint().height()) / 2);
    lops->move(NoInf->fontMetrics().horizontalAdvance(QStringLiteral("La jouer ")) + 24, 0);
    p2->addWidget(finite);
    p2->addSpacing(12);
    p2->addWidget(wrapped(QStringLiteral("Quelle doit être la durée d'affichage de chaque image de l'animation (en "
                                         "1/100e de seconde) ?"),
                          P2));
    auto *durationRow = new QHBoxLayout;
    auto *durationLabel = new QLabel(QStringLiteral("Durée d'affichage :"), P2);
    durationLabel->setBuddy(period);
    durationRow->addWidget(durationLabel);
    durationRow->addWidget(period);
    durationRow->addStretch();
    p2->addLayout(durationRow);
    p2->addStretch();

    // P3: the list of pictures
    P3 = makePage(QStringLiteral("P3"));
    Liste = new QListWidget(P3);
    Liste->setObjectName(QStringLiteral("Liste"));
    Liste->setSelectionMode(QAbstractItemView::SingleSelection);
    Button2 = new QPushButton(QStringLiteral("Ajouter une &image..."), P3);
    Button2->setObjectName(QStringLiteral("Button2"));
    Sup = new QPushButton(QStringLiteral("&Supprimer l'image"), P3);
    Sup->setObjectName(QStringLiteral("Sup"));
    UP = new QPushButton(QStringLiteral("&Monter"), P3);
    UP->setObjectName(QStringLiteral("UP"));
    Down = new QPushButton(QStringLiteral("&Descendre"), P3);
    Down->setObjectName(QStringLiteral("Down"));
    for (QPushButton *b : {Sup, UP, Down})
        b->setEnabled(false);
    connect(Button2, &QPushButton::clicked, this, &Tassform::Button2Click);
    connect(Sup, &QPushButton::clicked, this, &Tassform::SupClick);
    connect(UP, &QPushButton::clicked, this, &Tassform::UPClick);
    connect(Down, &QPushButton::clicked, this, &Tassform::DownClick);
    connect(Liste, &QListWidget::itemSelectionChanged, this, &Tassform::ListeClick);
    auto *p3 = new QGridLayout(P3);
    p3->addWidget(wrapped(QStringLiteral("Indiquez les images à inclure dans l'animation en les ajoutant à la liste "
                                         "ci-dessous :"),
                          P3),
                  0, 0, 1, 2);
    p3->addWidget(Liste, 1, 0, 5, 1);
    p3->addWidget(Button2, 1, 1);
    p3->addWidget(Sup, 2, 1);
    p3->addWidget(UP, 3, 1);
    p3->addWidget(Down, 4, 1);
    p3->setRowStretch(5, 1);

    // P4: ready, and the progress of the build
    P4 = makePage(QStringLiteral("P4"));
    lab = new QLabel(QStringLiteral("Création de la nouvelle animation..."), P4);
    lab->setObjectName(QStringLiteral("lab"));
    Pr = new QProgressBar(P4);
    Pr->setObjectName(QStringLiteral("Pr"));
    Pr->setTextVisible(false);
    lab->hide();
    Pr->hide();
    auto *p4 = new QVBoxLayout(P4);
    p4->addWidget(wrapped(QStringLiteral("L'assistant d'animation est maintenant prêt à créer la nouvelle animation."),
                          P4));
    p4->addSpacing(8);
    p4->addWidget(wrapped(QStringLiteral("Cliquez sur le bouton Terminer pour lancer la procédure."), P4));
    p4->addSpacing(8);
    p4->addWidget(wrapped(QStringLiteral("(La création de l'animation peut prendre quelques instants, veuillez "
                                         "patienter)."),
                          P4));
    p4->addStretch();
    p4->addWidget(lab);
    p4->addWidget(Pr);

    Pre = new QPushButton(QStringLiteral("< &Précédent"), this);
    Pre->setObjectName(QStringLiteral("Pre"));
    Pre->setEnabled(false);
    Suiv = new QPushButton(QStringLiteral("&Suivant >"), this);
    Suiv->setObjectName(QStringLiteral("Suiv"));
    Suiv->setDefault(true);
    Cancel = new QPushButton(QStringLiteral("A&nnuler"), this);
    Cancel->setObjectName(QStringLiteral("Cancel"));
    connect(Pre, &QPushButton::clicked, this, &Tassform::PreClick);
    connect(Suiv, &QPushButton::clicked, this, &Tassform::SuivClick);
    connect(Cancel, &QPushButton::clicked, this, &Tassform::CancelClick);

    auto *separator = new QFrame(this);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Pre);
    buttons->addWidget(Suiv);
    buttons->addSpacing(8);
    buttons->addWidget(Cancel);
    auto *right = new QVBoxLayout;
    right->setContentsMargins(8, 8, 8, 8);
    right->addWidget(Pages, 1);
    auto *columns = new QHBoxLayout;
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);
    columns->addWidget(band);
    columns->addLayout(right, 1);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    outer->addLayout(columns, 1);
    outer->addWidget(separator);
    auto *buttonRow = new QWidget(this);
    buttonRow->setLayout(buttons);
    buttons->setContentsMargins(8, 8, 8, 8);
    outer->addWidget(buttonRow);
    fixClientSize(this, 448, 302);
}

QWidget *Tassform::makePage(const QString &name)
{
    auto *page = new QWidget(Pages);
    page->setObjectName(name);
    Pages->addWidget(page);
    return page;
}

int Tassform::currentPage() const
{
    return Pages->currentIndex();
}

void Tassform::showPage(QWidget *page)
{
    Pages->setCurrentWidget(page);
    Pre->setEnabled(page != P1);
    if (page == P3)
        ListeClick();
}

void Tassform::showEvent(QShowEvent *event)
{
    showPage(P1);
    Suiv->setEnabled(true);
    Suiv->setText(QStringLiteral("&Suivant >"));
    Nom->setText(QStringLiteral("Animation1"));
    Nom->selectAll();
    Nom->setFocus();
    Inf->setChecked(true);
    lops->setEnabled(false);
    Liste->clear();
    Liste2.clear();
    UP->setEnabled(false);
    Down->setEnabled(false);
    Pr->setValue(0);
    lab->hide();
    Pr->hide();
    QDialog::showEvent(event);
}

void Tassform::hideEvent(QHideEvent *event)
{
    Suiv->setText(QStringLiteral("&Suivant >"));
    Pre->setEnabled(false);
    QDialog::hideEvent(event);
}

void Tassform::reject()
{
    CancelClick();
}

void Tassform::CancelClick()
{
    if (mHost.prompter().ask(MessageKind::Confirmation,
                             QStringLiteral("Êtes-vous sûr de vouloir quitter l'assistant et annuler la création de "
                                            "la nouvelle animation ?"),
                             Buttons::YesNo)
        == Answer::Yes)
        hide();
}

// --- navigation ----------------------------------------------------------------------------------

void Tassform::SuivClick()
{
    // Leaving a field first brings a spin edit's value back within its bounds (also when the
    // window never had the keyboard focus).
    if (QWidget *focused = focusWidget())
        focused->clearFocus();
    period->keepInBounds();
    lops->interpretText();

    QWidget *page = Pages->currentWidget();
    if (page == P1) {
        if (Nom->text().trimmed().isEmpty()) {
            mHost.prompter().ask(MessageKind::Information,
                                 QStringLiteral("Veuillez saisir un nom pour la nouvelle animation"), Buttons::Ok);
            return;
        }
        showPage(P2);
    } else if (page == P2) {
        showPage(P3);
        Suiv->setText(QStringLiteral("&Suivant >"));
    } else if (page == P3) {
        if (Liste->count() == 0) {
            mHost.prompter().ask(MessageKind::Information, QStringLiteral("Veuillez ajouter des images à la liste"),
                                 Buttons::Ok);
            return;
        }
        showPage(P4);
        Suiv->setText(QStringLiteral("&Terminer"));
    } else if (page == P4) {
        build();
    }
}

void Tassform::PreClick()
{
    QWidget *page = Pages->currentWidget();
    if (page == P2) {
        showPage(P1);
    } else if (page == P3 || page == P4) {
        showPage(page == P3 ? P2 : P3);
        Suiv->setText(QStringLiteral("&Suivant >"));
    }
}

// --- the list ------------------------------------------------------------------------------------

int Tassform::selectedEntry() const
{
    const QList<QListWidgetItem *> selected = Liste->selectedItems();
    return selected.isEmpty() ? -1 : Liste->row(selected.constFirst());
}

void Tassform::appendEntry(const QString &path)
{
    Liste->addItem(displayName(path));
    Liste2.append(path);
    Suiv->setEnabled(true);
    UpdateMoveButtons();
}

void Tassform::Button2Click()
{
    const QStringList chosen =
        mHost.prompter().chooseOpenFiles({QStringLiteral("Ouvrir"), mHost.pictureFilters(), {}, {}}, false);
    if (!chosen.isEmpty())
        appendEntry(chosen.constFirst());
}

void Tassform::SupClick()
{
    const int s = selectedEntry();
    if (s >= 0) {
        const QSignalBlocker blocker(Liste);
        delete Liste->takeItem(s);
        Liste2.removeAt(s);
        Liste->clearSelection();
        Liste->setCurrentRow(-1);
    }
    if (Liste->count() == 0) {
        Sup->setEnabled(false);
        Suiv->setEnabled(false);
    }
    UpdateMoveButtons();
}

void Tassform::swapEntries(int a, int b)
{
    const QSignalBlocker blocker(Liste);
    const QString name = Liste->item(a)->text();
    Liste->item(a)->setText(Liste->item(b)->text());
    Liste->item(b)->setText(name);
    Liste2.swapItemsAt(a, b);
    Liste->setCurrentRow(b);
}

void Tassform::UPClick()
{
    const int s = selectedEntry();
    if (s > 0)
        swapEntries(s, s - 1);
    UpdateMoveButtons();
}

void Tassform::DownClick()
{
    const int s = selectedEntry();
    if (s >= 0 && s + 1 < Liste->count())
        swapEntries(s, s + 1);
    UpdateMoveButtons();
}

void Tassform::ListeClick()
{
    const int s = selectedEntry();
    if (Liste->count() > 0 && s >= 0) {
        Sup->setEnabled(true);
        UP->setEnabled(s != 0);
        Down->setEnabled(s != Liste->count() - 1);
    } else {
        Sup->setEnabled(false);
        UpdateMoveButtons();
    }
}

void Tassform::UpdateMoveButtons()
{
    const int s = selectedEntry();
    UP->setEnabled(s > 0);
    Down->setEnabled(s >= 0 && s != Liste->count() - 1);
}

// --- the build -----------------------------------------------------------------------------------

void Tassform::build()
{
    // Unsaved work is asked about first; "Annuler" there, or a save that fails, stops here.
    if (mHost.isModified() && !mHost.newAnimation())
        return;

    const QString name = Nom->text();
    mHost.startAnimation(name);

    const int n = int(Liste2.size());
    Pr->setRange(0, 3 * n);
    Pr->setValue(0);
    lab->show();
    Pr->show();
    repaint();

    for (int i = 0; i < n; ++i) {
        Pr->setValue(Pr->value() + 3);
        // The window repaints between entries, so a long list shows its progress.
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        try {
            bool ok = false;
            const int delay = period->text().toInt(&ok);
            if (!ok)
                throw std::invalid_argument("duration is no integer");
            mHost.addPicture(Liste2[i], delay);
        } catch (const std::exception &) {
            mHost.prompter().ask(MessageKind::Warning,
                                 QStringLiteral("Impossible d'importer l'image \"") + Liste->item(i)->text()
                                     + QLatin1Char('"'),
                                 Buttons::Ok);
        }
    }

    if (mHost.frameCount() > 0) {
        try {
            mHost.setLooping(Inf->isChecked(), lops->value());
        } catch (const std::exception &) {
            mHost.prompter().ask(MessageKind::Warning,
                                 QStringLiteral("Impossible d'ajouter une extention à l'animation"), Buttons::Ok);
        }
    }
    mHost.finishAnimation(name);
    hide();
}

} // namespace dialogs
