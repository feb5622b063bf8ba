// File > Exporter...: the export dialog on the document shown, its file dialogs through the prompter.
#include "mainform.h"

#include "dialogs/uexport.h"

namespace app {

void TMainform::exporterClick()
{
    if (!mDocument || mDocument->count() == 0)
        return;
    dialogs::TExport::Prompts prompts;
    prompts.chooseSaveFile = [this] {
        return mPrompter->chooseSaveFile(
            {QStringLiteral("Exporter"), {QStringLiteral("Image Gif (*.gif)")}, QStringLiteral("gif"), {}});
    };
    prompts.showError = [this](const QString &text) { mPrompter->ask(MessageKind::Error, text, Buttons::Ok); };
    dialogs::TExport dialog(*mDocument, std::clamp(mSelected, 0, mDocument->count() - 1), std::move(prompts), this);
    dialog.exec();
}

} // namespace app
