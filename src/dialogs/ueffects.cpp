#include "ueffects.h"

#include "effects/transitions.h"

#include <QColorDialog>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace dialogs {

namespace {

QSlider *trackBar(const QString &name, int low, int high, QWidget *parent)
{
    auto *slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(name);
    slider->setRange(low, high);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setTickInterval(10);
    slider->setMinimumWidth(180);
    return slider;
}

QLabel *label(const QString &name, const QString &text, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    return l;
}

/** A panel of the parameter group: a caption and its control side by side, hidden until asked. */
QWidget *parameterPanel(const QString &name, const QString &caption, QWidget *control, QWidget *parent)
{
    auto *panel = new QWidget(parent);
    panel->setObjectName(name);
    auto *row = new QHBoxLayout(panel);
    row->setContentsMargins(0, 0, 0, 0);
    if (!caption.isEmpty())
        row->addWidget(new QLabel(caption, panel));
    control->setParent(panel);
    row->addWidget(control, 1);
    panel->hide();
    return panel;
}

} // namespace

TEffects::TEffects(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("Effects"));
    setWindowTitle(QStringLiteral("Effet"));
    setModal(true);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameShape(QFrame::StyledPanel);
    Lab = label(QStringLiteral("Lab"), QString(), Panel1);
    Lab->setWordWrap(true);
    Lab->setFixedWidth(330);
    Lab->setMinimumHeight(44);
    Lab->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    (new QVBoxLayout(Panel1))->addWidget(Lab);

    GroupBox2 = new QGroupBox(QStringLiteral("Paramètres de l'effet"), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    combo = new QComboBox;
    combo->setObjectName(QStringLiteral("combo"));
    combo->addItems({QStringLiteral("De gauche à droite"), QStringLiteral("De droite à gauche"),
                     QStringLiteral("De haut en bas"), QStringLiteral("De bas en haut")});
    pancombo = parameterPanel(QStringLiteral("pancombo"), QStringLiteral("Direction :"), combo, GroupBox2);
    comboessuyage = new QComboBox;
    comboessuyage->setObjectName(QStringLiteral("comboessuyage"));
    comboessuyage->addItems({QStringLiteral("De gauche à droite"), QStringLiteral("De haut en bas")});
    comboessuyage->setCurrentIndex(-1); // nothing chosen until the wipe asks
    Panessuyage =
        parameterPanel(QStringLiteral("Panessuyage"), QStringLiteral("Direction :"), comboessuyage, GroupBox2);

    auto *colourRow = new QWidget;
    auto *colourLayout = new QHBoxLayout(colourRow);
    colourLayout->setContentsMargins(0, 0, 0, 0);
    select = new QPushButton(QStringLiteral("Couleur solide..."), colourRow);
    select->setObjectName(QStringLiteral("select"));
    pancls = new QFrame(colourRow);
    pancls->setObjectName(QStringLiteral("pancls"));
    pancls->setFrameShape(QFrame::Panel);
    pancls->setFrameShadow(QFrame::Sunken);
    pancls->setFixedSize(40, 22);
    cls = new QFrame(pancls);
    cls->setObjectName(QStringLiteral("cls"));
    cls->setGeometry(3, 3, 34, 16);
    cls->setAutoFillBackground(true);
    colourLayout->addWidget(select);
    colourLayout->addWidget(pancls);
    colourLayout->addStretch();
    pancolor = parameterPanel(QStringLiteral("pancolor"), QString(), colourRow, GroupBox2);
    auto *parameters = new QVBoxLayout(GroupBox2);
    parameters->addWidget(pancombo);
    parameters->addWidget(Panessuyage);
    parameters->addWidget(pancolor);

    cld = new QColorDialog(this);
    cld->setObjectName(QStringLiteral("cld"));
    cld->setOption(QColorDialog::DontUseNativeDialog);
    cld->setCurrentColor(Qt::black);

    GroupBox1 = new QGroupBox(QStringLiteral("Nombre d'images"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    Label3 = label(QStringLiteral("Label3"), QStringLiteral("Durée :"), GroupBox1);
    RxSlider1 = trackBar(QStringLiteral("RxSlider1"), 1, 200, GroupBox1);
    RxSlider1->setValue(80);
    Lab1 = label(QStringLiteral("Lab1"), QString(), GroupBox1);
    Label4 = label(QStringLiteral("Label4"), QStringLiteral("Images par sec. :"), GroupBox1);
    RxSlider2 = trackBar(QStringLiteral("RxSlider2"), 1, 30, GroupBox1);
    RxSlider2->setValue(10);
    Lab2 = label(QStringLiteral("Lab2"), QString(), GroupBox1);
    num = label(QStringLiteral("num"), QStringLiteral("Nombre total d'images utilisées :"), GroupBox1);
    number = label(QStringLiteral("number"), QString(), GroupBox1);
    auto *grid = new QGridLayout(GroupBox1);
    grid->addWidget(Label3, 0, 0);
    grid->addWidget(RxSlider1, 0, 1);
    grid->addWidget(Lab1, 0, 2);
    grid->addWidget(Label4, 1, 0);
    grid->addWidget(RxSlider2, 1, 1);
    grid->addWidget(Lab2, 1, 2);
    grid->addWidget(num, 2, 0, 1, 2);
    grid->addWidget(number, 2, 2);
    Lab1->setMinimumWidth(Lab1->fontMetrics().horizontalAdvance(QStringLiteral("200 (1/100 Sec)")));

    Button1 = new QPushButton(QStringLiteral("&OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("A&nnuler"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Panel1);
    layout->addWidget(GroupBox2);
    layout->addWidget(GroupBox1);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    connect(select, &QPushButton::clicked, this, &TEffects::selectClick);
    connect(RxSlider1, &QSlider::valueChanged, this, &TEffects::RxSlider1Change);
    connect(RxSlider2, &QSlider::valueChanged, this, &TEffects::RxSlider2Change);

    // FormCreate
    combo->setCurrentIndex(0);
    RxSlider1Change();
    RxSlider2Change();
    paintSwatch();
}

void TEffects::prepare(const QString &caption, const QString &description, int panels)
{
    setWindowTitle(caption);
    Lab->setText(description);
    pancombo->setVisible(panels & Direction);
    Panessuyage->setVisible(panels & Wipe);
    pancolor->setVisible(panels & Colour);
}

int TEffects::frameCount() const
{
    return number->text().toInt();
}

int TEffects::direction() const
{
    return combo->currentIndex();
}

int TEffects::wipeDirection() const
{
    return comboessuyage->currentIndex();
}

void TEffects::RxSlider1Change()
{
    Lab1->setText(QStringLiteral("%1 (1/100 Sec)").arg(RxSlider1->value()));
    showNumber();
}

void TEffects::RxSlider2Change()
{
    Lab2->setText(QStringLiteral("%1 images/s").arg(RxSlider2->value()));
    showNumber();
}

void TEffects::showNumber()
{
    number->setText(QString::number(effects::frameCount(RxSlider1->value(), RxSlider2->value())));
}

void TEffects::selectClick()
{
    // The colour dialog starts on its own last choice; cancelling it changes nothing.
    const QColor before = cld->currentColor();
    if (cld->exec() == QDialog::Accepted) {
        mColour = cld->currentColor();
        paintSwatch();
    } else {
        cld->setCurrentColor(before);
    }
}

void TEffects::paintSwatch()
{
    for (QWidget *w : {static_cast<QWidget *>(cls), static_cast<QWidget *>(pancls)}) {
        QPalette p = w->palette();
        p.setColor(QPalette::Window, mColour);
        w->setPalette(p);
    }
    pancls->setAutoFillBackground(true);
}

void TEffects::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    Button1->setFocus();
}

void TEffects::hideEvent(QHideEvent *event)
{
    pancombo->hide();
    pancolor->hide();
    Panessuyage->hide();
    QDialog::hideEvent(event);
}

} // namespace dialogs
