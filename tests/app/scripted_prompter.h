#pragma once

#include "app/prompter.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <stdexcept>

/**
 * A prompter that answers from a script and records what it was asked. Running out of script
 * is a test failure (an unexpected dialog), reported by throwing.
 */
class ScriptedPrompter : public app::Prompter
{
public:
    struct Question {
        app::MessageKind kind;
        QString text;
        app::Buttons buttons;
    };

    std::deque<app::Answer> answers;
    std::deque<QStringList> openFiles;
    std::deque<QString> saveFiles;

    QList<Question> asked;
    QList<app::FileDialogSpec> dialogs;

    app::Answer ask(app::MessageKind kind, const QString &text, app::Buttons buttons) override
    {
        asked.append({kind, text, buttons});
        if (answers.empty())
            throw std::logic_error("unexpected message box: " + text.toStdString());
        const app::Answer a = answers.front();
        answers.pop_front();
        return a;
    }

    QStringList chooseOpenFiles(const app::FileDialogSpec &request, bool) override
    {
        dialogs.append(request);
        if (openFiles.empty())
            throw std::logic_error("unexpected open dialog: " + request.title.toStdString());
        QStringList files = openFiles.front();
        openFiles.pop_front();
        return files;
    }

    QString chooseSaveFile(const app::FileDialogSpec &request) override
    {
        dialogs.append(request);
        if (saveFiles.empty())
            throw std::logic_error("unexpected save dialog: " + request.title.toStdString());
        QString file = saveFiles.front();
        saveFiles.pop_front();
        return file;
    }

    QStringList texts() const
    {
        QStringList out;
        for (const Question &q : asked)
            out << q.text;
        return out;
    }
};
