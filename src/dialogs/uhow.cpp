#include "uhow.h"

#include "client_size.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace dialogs {

namespace {

QLabel *text(const QString &content, int pixelSize, QWidget *parent, bool underline = false)
{
    auto *label = new QLabel(content, parent);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    font.setUnderline(underline);
    label->setFont(font);
    return label;
}

} // namespace

THowForm::THowForm(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                          | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("HowForm"));
    setWindowTitle(QStringLiteral("Comment créer des Gifs"));
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);

    auto *banner = new QLabel(QStringLiteral("Etapes à suivre pour créer des gifs animés avec Movaro Gif"), this);
    banner->setObjectName(QStringLiteral("banner"));
    banner->setFixedSize(361, 65);
    banner->setAlignment(Qt::AlignCenter);
    banner->setWordWrap(true);
    banner->setAutoFillBackground(true);
    QPalette blue = banner->palette();
    blue.setColor(QPalette::Window, QColor(191, 219, 255));
    blue.setColor(QPalette::WindowText, Qt::white);
    banner->setPalette(blue);
    QFont bold = banner->font();
    bold.setPixelSize(19);
    bold.setBold(true);
    banner->setFont(bold);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(banner, 0, Qt::AlignHCenter);
    const struct {
        const char *heading;
        const char *paragraph;
    } steps[] = {
        {"1. Préparer les images qui vont composer l'animation",
         "La première étape consiste à créer les images qui vont constituer l'animation à l'aide de votre logiciel "
         "d'édition graphique (ex. Paint).\nCes images doivent présenter une succession."},
        {"2. Créer l'animation Gif et importer les images",
         "Cette étape consiste à créer une nouvelle animation dans Movaro Gif (en mode standard ou par l'assistant "
         "d'animation). Ensuite il faut importer les images créées à l'aide de la fonction \"Ajouter une image\" ou "
         "\"Insérer une image\"."},
        {"3. Configuer l'animation et l'enregistrer",
         "La dernière étape consiste à choisir la durée propre à chaque image, le nombre d'itérations de "
         "l'animation. Ensuite, il faut sauvegarder l'animation qui sera ainsi prête à être utilisée."},
    };
    for (const auto &step : steps) {
        layout->addSpacing(8);
        layout->addWidget(text(QString::fromUtf8(step.heading), 15, this, true));
        layout->addWidget(text(QString::fromUtf8(step.paragraph), 12, this));
    }
    layout->addStretch();

    Dontshow = new QCheckBox(QStringLiteral("Ne pas afficher cette fenêtre prochainement"), this);
    Dontshow->setObjectName(QStringLiteral("Dontshow"));
    Button1 = new QPushButton(QStringLiteral("&Fermer"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(Dontshow);
    bottom->addStretch();
    bottom->addWidget(Button1);
    layout->addLayout(bottom);
    fixClientSize(this, 376, 455);

    mStorage = std::make_unique<settings::FormStorage>(
        QStringLiteral("How Settings"),
        std::vector{settings::integerProperty(
                        QStringLiteral("Dontshow"), QStringLiteral("Tag"), [this] { return DontshowTag; },
                        [this](int v) { DontshowTag = v; }, Dontshow),
                    settings::qtProperty(Dontshow, QStringLiteral("Checked"), "checked",
                                         settings::StoredProperty::Kind::Boolean)});
    mStorage->restore();
}

THowForm::~THowForm() = default;

bool THowForm::showAtStartup()
{
    mStorage->restore();
    if (Dontshow->isChecked() || DontshowTag >= 2)
        return false;
    ++DontshowTag;
    mStorage->save();
    exec();
    return true;
}

void THowForm::showEvent(QShowEvent *event)
{
    mStorage->restore();
    QDialog::showEvent(event);
}

void THowForm::done(int result)
{
    QDialog::done(result);
    mStorage->save();
}

} // namespace dialogs
