#pragma once

#include "document/quantize_quality.h"

#include <QWidget>

class QComboBox;

namespace dialogs {

/** The options page of how added, inserted, pasted and wizard pictures are reduced to 256 colours. */
class TColourOptions : public QWidget
{
    Q_OBJECT

public:
    explicit TColourOptions(QWidget *parent = nullptr);

    void setChoice(const doc::ReductionChoice &choice);
    doc::ReductionChoice choice() const;

    QComboBox *Palette = nullptr;
    QComboBox *Tramage = nullptr;
};

} // namespace dialogs
