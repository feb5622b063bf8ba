#include "prompter.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace app {

QString Prompter::title(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Warning:
        return QStringLiteral("Avertissement");
    case MessageKind::Error:
        return QStringLiteral("Erreur");
    case MessageKind::Information:
        return QStringLiteral("Information");
    case MessageKind::Confirmation:
        return QStringLiteral("Confirmation");
    }
    return {};
}

Answer QtPrompter::ask(MessageKind kind, const QString &text, Buttons buttons)
{
    QMessageBox box(mParent);
    box.setWindowTitle(title(kind));
    box.setText(text);
    switch (kind) {
    case MessageKind::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MessageKind::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case MessageKind::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MessageKind::Confirmation:
        box.setIcon(QMessageBox::Question);
        break;
    }

    // The program's own button texts, with their accelerators.
    struct Choice {
        Answer answer;
        const char *text;
        QMessageBox::ButtonRole role;
    };
    std::vector<Choice> choices;
    switch (buttons) {
    case Buttons::Ok:
        choices = {{Answer::Ok, "OK", QMessageBox::AcceptRole}};
        break;
    case Buttons::YesNo:
        choices = {{Answer::Yes, "&Oui", QMessageBox::YesRole}, {Answer::No, "&Non", QMessageBox::NoRole}};
        break;
    case Buttons::YesNoCancel:
        choices = {{Answer::Yes, "&Oui", QMessageBox::YesRole},
                   {Answer::No, "&Non", QMessageBox::NoRole},
                   {Answer::Cancel, "Annuler", QMessageBox::RejectRole}};
        break;
    case Buttons::YesCancel:
        choices = {{Answer::Yes, "&Oui", QMessageBox::YesRole}, {Answer::Cancel, "Annuler", QMessageBox::RejectRole}};
        break;
    case Buttons::OkCancel:
        choices = {{Answer::Ok, "OK", QMessageBox::AcceptRole}, {Answer::Cancel, "Annuler", QMessageBox::RejectRole}};
        break;
    }
    std::vector<std::pair<QAbstractButton *, Answer>> made;
    for (const Choice &c : choices)
        made.emplace_back(box.addButton(QString::fromUtf8(c.text), c.role), c.answer);
    box.setDefaultButton(static_cast<QPushButton *>(made.front().first));
    box.exec();

    for (const auto &[button, answer] : made)
        if (box.clickedButton() == button)
            return answer;
    // Closed with Escape or the title bar: the safest answer offered.
    for (Answer safe : {Answer::Cancel, Answer::No, Answer::Ok})
        for (const auto &[button, answer] : made)
            if (answer == safe)
                return answer;
    return Answer::Cancel;
}

static void prepare(QFileDialog &dialog, const FileDialogSpec &request)
{
    // Qt's own dialog behaves the same on every desktop (and under test).
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setWindowTitle(request.title);
    dialog.setNameFilters(request.filters);
    if (!request.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.defaultSuffix);
    if (!request.directory.isEmpty())
        dialog.setDirectory(request.directory);
}

QStringList QtPrompter::chooseOpenFiles(const FileDialogSpec &request, bool multiple)
{
    QFileDialog dialog(mParent);
    prepare(dialog, request);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

QString QtPrompter::chooseSaveFile(const FileDialogSpec &request)
{
    QFileDialog dialog(mParent);
    prepare(dialog, request);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace app
