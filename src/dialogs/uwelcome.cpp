#include "uwelcome.h"

#include "client_size.h"

#include "settings/settings_store.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

static void initPictures()
{
    Q_INIT_RESOURCE(pictures);
}

namespace dialogs {

namespace {

QLabel *picture(const QString &name, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setPixmap(QPixmap(QStringLiteral(":/pictures/%1.png").arg(name)));
    label->setFixedSize(32, 32);
    return label;
}

} // namespace

Twelcome::Twelcome(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    initPictures();
    setObjectName(QStringLiteral("welcome"));
    setWindowTitle(QStringLiteral("Bienvenue"));

    GroupBox1 = new QGroupBox(QStringLiteral("Créer une nouvelle animation "), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    newanime = new QRadioButton(QStringLiteral("Nouvelle animation Gif"), GroupBox1);
    newanime->setObjectName(QStringLiteral("newanime"));
    newanime->setChecked(true);
    assiste = new QRadioButton(QStringLiteral("Assistant d'animation"), GroupBox1);
    assiste->setObjectName(QStringLiteral("assiste"));
    auto *create = new QGridLayout(GroupBox1);
    create->addWidget(picture(QStringLiteral("welcome-new"), GroupBox1), 0, 0, 2, 1, Qt::AlignTop);
    create->addWidget(newanime, 0, 1);
    create->addWidget(assiste, 1, 1);
    create->setColumnStretch(1, 1);

    GroupBox2 = new QGroupBox(QStringLiteral("Ouvrir une animation "), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    opengif = new QRadioButton(QStringLiteral("Ouvrir un fichier Gif existant"), GroupBox2);
    opengif->setObjectName(QStringLiteral("opengif"));
    List = new QListWidget(GroupBox2);
    List->setObjectName(QStringLiteral("List"));
    List->setEnabled(false);
    auto *open = new QGridLayout(GroupBox2);
    open->addWidget(picture(QStringLiteral("welcome-open"), GroupBox2), 0, 0, 2, 1, Qt::AlignTop);
    open->addWidget(opengif, 0, 1);
    open->addWidget(List, 1, 1);
    open->setColumnStretch(1, 1);

    // The radio buttons sit in two boxes but make one choice.
    auto *choices = new QButtonGroup(this);
    for (QRadioButton *b : {newanime, assiste, opengif})
        choices->addButton(b);
    connect(opengif, &QRadioButton::clicked, this, &Twelcome::opengifClick);
    connect(newanime, &QRadioButton::clicked, this, &Twelcome::otherChoiceClick);
    connect(assiste, &QRadioButton::clicked, this, &Twelcome::otherChoiceClick);

    Checkstart = new QCheckBox(QStringLiteral("Ne pas afficher cette fenêtre au démarrage"), this);
    Checkstart->setObjectName(QStringLiteral("Checkstart"));

    Button2 = new QPushButton(QStringLiteral("&OK"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setDefault(true);
    Button1 = new QPushButton(QStringLiteral("&Annuler"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    connect(Button2, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button1, &QPushButton::clicked, this, &QDialog::reject);
    connect(List, &QListWidget::itemDoubleClicked, this, &QDialog::accept);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button2);
    buttons->addWidget(Button1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(GroupBox1);
    layout->addWidget(GroupBox2, 1);
    layout->addWidget(Checkstart);
    layout->addLayout(buttons);
    fixClientSize(this, 295, 339);

    mStorage = std::make_unique<settings::FormStorage>(
        QStringLiteral("Welcome Settings"),
        std::vector{settings::qtProperty(Checkstart, QStringLiteral("Checked"), "checked",
                                         settings::StoredProperty::Kind::Boolean)});
    mStorage->restore();
}

Twelcome::~Twelcome() = default;

void Twelcome::showEvent(QShowEvent *event)
{
    mStorage->restore();
    List->clear();
    mRecentOfRow.clear();
    List->addItem(QStringLiteral("Autres fichiers..."));
    const settings::RecentList recent = settings::readRecentFiles(*settings::openStore());
    for (std::size_t k = 0; k < recent.size(); ++k) {
        if (recent[k].isEmpty())
            continue;
        List->addItem(QFileInfo(recent[k]).fileName());
        mRecentOfRow.append(int(k) + 1);
    }
    QDialog::showEvent(event);
    emit shown();
}

void Twelcome::done(int result)
{
    QDialog::done(result);
    mStorage->save();
}

void Twelcome::opengifClick()
{
    newanime->setChecked(false);
    assiste->setChecked(false);
    List->setEnabled(true);
    if (List->selectedItems().isEmpty() && List->count() > 0)
        List->setCurrentRow(0);
}

void Twelcome::otherChoiceClick()
{
    opengif->setChecked(false);
    List->setEnabled(false);
}

Twelcome::Choice Twelcome::choice() const
{
    if (opengif->isChecked())
        return Choice::OpenFile;
    return assiste->isChecked() ? Choice::Wizard : Choice::NewAnimation;
}

int Twelcome::recentEntry() const
{
    const QList<QListWidgetItem *> selected = List->selectedItems();
    const int row = selected.isEmpty() ? -1 : List->row(selected.constFirst());
    return row >= 1 && row <= mRecentOfRow.size() ? mRecentOfRow[row - 1] : 0;
}

} // namespace dialogs
