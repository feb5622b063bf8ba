// Getting a frame out of the editor: a bitmap file, or one printed page.
#include "mainform.h"

#include "printing.h"
#include "views.h"

#include "document/bmp_writer.h"

#include <QFile>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>

namespace app {

void TMainform::enregistrercadreClick()
{
    const int s = mSelected;
    if (!mDocument || s < 0 || s >= mDocument->count())
        return;
    const QString chosen = mPrompter->chooseSaveFile({QStringLiteral("Enregistrer l'image sous"),
                                                      {QStringLiteral("Image Bitmap (*.bmp)")},
                                                      {},
                                                      {}});
    if (chosen.isEmpty())
        return;
    try {
        const std::string target = doc::bmpFileName(QFile::encodeName(chosen).toStdString());
        doc::saveFrameAsBmp(*mDocument, s, target);
    } catch (const std::exception &e) {
        mPrompter->ask(MessageKind::Error, QString::fromLocal8Bit(e.what()), Buttons::Ok);
    }
}

static QPrinter &printerOf(std::unique_ptr<QPrinter> &printer)
{
    // One printer for the run, so the setup chosen in one dialog is the one the next print uses.
    if (!printer)
        printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *printer;
}

void TMainform::Configurationdelimpression1Click()
{
    QPageSetupDialog dialog(&printerOf(mPrinter), this);
    dialog.exec();
}

void TMainform::Imprimer1Click()
{
    // Without a picture in the still view there is nothing to print: no dialog, no blank page.
    if (Image->picture().isNull())
        return;
    QPrinter &printer = printerOf(mPrinter);
    QPrintDialog dialog(&printer, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    try {
        printer.setDocName(DocumentName);
        printPicture(printer, Image->picture());
    } catch (const std::exception &e) {
        mPrompter->ask(MessageKind::Error, QString::fromLocal8Bit(e.what()), Buttons::Ok);
    }
}

} // namespace app
