#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace app {

/** The kind of a message box; it sets the title ("Avertissement", "Erreur", ...). */
enum class MessageKind { Warning, Error, Information, Confirmation };

enum class Answer { Yes, No, Ok, Cancel };

/** Which buttons a message box offers. */
enum class Buttons { Ok, YesNo, YesNoCancel, YesCancel, OkCancel };

/** What a file dialog shows: title, filters ("Label (*.a *.b)"), default suffix. */
struct FileDialogSpec {
    QString title;
    QStringList filters;
    QString defaultSuffix;
    QString directory;
};

/**
 * Every message box and file dialog of the main window goes through this interface: the editor
 * uses the Qt dialogs (QtPrompter), tests install a scripted one.
 */
class Prompter
{
public:
    virtual ~Prompter() = default;

    virtual Answer ask(MessageKind kind, const QString &text, Buttons buttons) = 0;
    /** Files to open (existing ones); empty when cancelled. */
    virtual QStringList chooseOpenFiles(const FileDialogSpec &request, bool multiple) = 0;
    /** A file to write (the overwrite question included); empty when cancelled. */
    virtual QString chooseSaveFile(const FileDialogSpec &request) = 0;

    static QString title(MessageKind kind);
};

/** The real dialogs: Qt message boxes and Qt's own (widget-based) file dialogs. */
class QtPrompter : public Prompter
{
public:
    explicit QtPrompter(QWidget *parent)
        : mParent(parent)
    {}

    Answer ask(MessageKind kind, const QString &text, Buttons buttons) override;
    QStringList chooseOpenFiles(const FileDialogSpec &request, bool multiple) override;
    QString chooseSaveFile(const FileDialogSpec &request) override;

private:
    QWidget *mParent;
};

} // namespace app
