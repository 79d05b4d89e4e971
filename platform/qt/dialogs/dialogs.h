// The dialogs service: every modal message box, prompt and standard dialog
// the program shows, and every modal window it runs, goes through one object
// of this interface. Windows never call QMessageBox, QInputDialog,
// QColorDialog, QFileDialog or QDialog::exec themselves.
//
// The program installs TQtDialogs (real Qt dialogs). Tests install
// TScriptedDialogs (scripted_dialogs.h), which answers from a script in order
// and records what was asked, so no test ever blocks on a modal window.
//
// Message kinds follow the program's conventions: error (OK), warning (OK),
// information (OK) and confirmation (Yes and No, or OK and Cancel). The
// caption of a message box is the application's title.
//
// Thread: the user-interface thread only.
#pragma once

#include <QColor>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QDialog;
class QWidget;

namespace veltra {

enum class TMessageKind { Error, Warning, Information, Confirmation };
enum class TMessageButtons { Ok, YesNo, OkCancel };
enum class TMessageAnswer { Ok, Cancel, Yes, No };

class TDialogs {
public:
    virtual ~TDialogs() = default;

    // A modal message box. Error, Warning and Information show OK only
    // (buttons is ignored) and answer Ok. A confirmation answers Yes or No
    // (YesNo) or Ok or Cancel (OkCancel); closing the box answers No / Cancel.
    virtual TMessageAnswer Message(QWidget* parent, TMessageKind kind, const QString& text,
                                   TMessageButtons buttons) = 0;

    // A one-line text prompt with a caption, a prompt and a default text;
    // masked shows "*" for each character. nullopt when the user cancels.
    virtual std::optional<QString> Prompt(QWidget* parent, const QString& caption,
                                          const QString& prompt, const QString& defaultText,
                                          bool masked) = 0;

    // The colour dialog starting at initial; nullopt when cancelled.
    virtual std::optional<QColor> ChooseColour(QWidget* parent, const QColor& initial) = 0;

    // File dialogs. filter is in Qt's form ("Query files (*.qry)"); a name
    // typed without extension takes defaultExtension (without the dot).
    // nullopt when cancelled.
    virtual std::optional<QString> OpenFileName(QWidget* parent, const QString& caption,
                                                const QString& folder, const QString& filter,
                                                const QString& defaultExtension) = 0;
    virtual std::optional<QString> SaveFileName(QWidget* parent, const QString& caption,
                                                const QString& folder, const QString& filter,
                                                const QString& defaultExtension) = 0;

    // A folder chooser starting at folder; the chosen existing folder, or
    // nullopt when cancelled.
    virtual std::optional<QString> ChooseFolder(QWidget* parent, const QString& caption,
                                                const QString& folder) = 0;

    // The names of the installed font families, sorted.
    virtual QStringList FontNames() = 0;

    // Runs one of the program's own modal windows (login, edit window, user
    // dialogs) and returns QDialog::exec's result: QDialog::Accepted or
    // QDialog::Rejected. The scripted service shows the dialog without a
    // nested event loop and hands it to the test's next step instead.
    virtual int Exec(QDialog& dialog) = 0;

    // Shorthands over Message.
    void Error(QWidget* parent, const QString& text);
    void Warning(QWidget* parent, const QString& text);
    void Information(QWidget* parent, const QString& text);
    bool ConfirmYesNo(QWidget* parent, const QString& text);     // true for Yes
    bool ConfirmOkCancel(QWidget* parent, const QString& text);  // true for Ok
};

// The installed service. Before any SetDialogs call this is a TQtDialogs.
TDialogs& Dialogs();
// Installs a service (not owned; it must outlive its use) and returns the one
// it replaces. nullptr restores the real dialogs.
TDialogs* SetDialogs(TDialogs* dialogs);

// The real service over Qt's standard dialogs.
class TQtDialogs : public TDialogs {
public:
    TMessageAnswer Message(QWidget* parent, TMessageKind kind, const QString& text,
                           TMessageButtons buttons) override;
    std::optional<QString> Prompt(QWidget* parent, const QString& caption, const QString& prompt,
                                  const QString& defaultText, bool masked) override;
    std::optional<QColor> ChooseColour(QWidget* parent, const QColor& initial) override;
    std::optional<QString> OpenFileName(QWidget* parent, const QString& caption,
                                        const QString& folder, const QString& filter,
                                        const QString& defaultExtension) override;
    std::optional<QString> SaveFileName(QWidget* parent, const QString& caption,
                                        const QString& folder, const QString& filter,
                                        const QString& defaultExtension) override;
    std::optional<QString> ChooseFolder(QWidget* parent, const QString& caption,
                                        const QString& folder) override;
    QStringList FontNames() override;
    int Exec(QDialog& dialog) override;
};

}  // namespace veltra
