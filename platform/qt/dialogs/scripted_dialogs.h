// TScriptedDialogs: the dialogs service of tests. It answers every message
// box, prompt and standard dialog from a script, in order, and records what
// the program asked, so that a test drives windows as a person would without
// ever blocking on a modal window.
//
//   TScriptedDialogs dialogs;            // installs itself; the destructor
//   dialogs.Answer(TMessageAnswer::Yes)   // restores the previous service
//          .Drive([](QDialog& d) { ... QTest::mouseClick(okButton, ...); });
//   ... click a menu item ...
//   EXPECT_EQ(dialogs.Messages(), QStringList{"Save changes?"});
//   EXPECT_TRUE(dialogs.Unexpected().isEmpty());
//
// A step answers only the kind of request it was made for. A request whose
// next step is of another kind, or that finds the script empty, is recorded
// in Unexpected() and answered negatively (Ok for a box that has only OK, No
// or Cancel for a confirmation, nullopt for prompts and file dialogs,
// Rejected for a modal window) without consuming a step.
//
// Modal windows (Exec): the dialog is shown without a nested event loop and
// the step's function is called with it; the function drives it with QTest
// (typing, clicks) and normally ends by pressing its OK or Cancel button.
// Message boxes the dialog raises meanwhile take the next steps of the same
// script. When the function returns and the dialog is still open, Exec
// rejects it and records that in Unexpected().
#pragma once

#include <deque>
#include <vector>

#include "platform/qt/dialogs/dialogs.h"

namespace veltra {

// One request the program made of the service, as recorded.
struct TDialogRequest {
    enum class TWhat { Message, Prompt, Colour, OpenFile, SaveFile, Folder, Exec };
    TWhat What = TWhat::Message;
    TMessageKind Kind = TMessageKind::Information;  // Message
    TMessageButtons Buttons = TMessageButtons::Ok;  // Message
    QString Caption;  // Prompt, file dialogs; the dialog's window title for Exec
    QString Text;     // Message text; Prompt's prompt
    QString Default;  // Prompt's default text; the file and folder dialogs' folder
    QString Filter;   // file dialogs
    bool Masked = false;  // Prompt
    QString ObjectName;   // Exec: the dialog's class name (QMetaObject)
};

class TScriptedDialogs : public TDialogs {
public:
    TScriptedDialogs();  // installs itself as the service
    ~TScriptedDialogs() override;  // restores the service it replaced
    TScriptedDialogs(const TScriptedDialogs&) = delete;
    TScriptedDialogs& operator=(const TScriptedDialogs&) = delete;

    // ---- the script (steps are taken in the order given)
    // The next message box, of any kind, answers `answer`.
    TScriptedDialogs& Answer(TMessageAnswer answer = TMessageAnswer::Ok);
    // The next prompt answers text (nullopt: the user cancels).
    TScriptedDialogs& AnswerPrompt(std::optional<QString> text);
    TScriptedDialogs& AnswerColour(std::optional<QColor> colour);
    TScriptedDialogs& AnswerOpenFile(std::optional<QString> path);
    TScriptedDialogs& AnswerSaveFile(std::optional<QString> path);
    TScriptedDialogs& AnswerFolder(std::optional<QString> path);
    // The next modal window is handed to step.
    TScriptedDialogs& Drive(std::function<void(QDialog&)> step);

    // ---- what was asked
    const std::vector<TDialogRequest>& Requests() const { return m_Requests; }
    // The texts of the message boxes asked, in order.
    QStringList Messages() const;
    // Requests that found no fitting step, described in one line each.
    const QStringList& Unexpected() const { return m_Unexpected; }
    // Steps not yet taken.
    size_t Pending() const { return m_Steps.size(); }
    // Forgets the recorded requests and the unexpected ones (not the script).
    void ClearRecord();

    // The font names FontNames() reports (by default the real installed ones).
    std::optional<QStringList> Fonts;

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

private:
    struct TStep {
        TDialogRequest::TWhat What;
        TMessageAnswer Answer = TMessageAnswer::Ok;
        std::optional<QString> Text;
        std::optional<QColor> Colour;
        std::function<void(QDialog&)> Drive;
    };
    // The next step when it is of kind `what`; otherwise records `request`
    // as unexpected and returns nullopt.
    std::optional<TStep> Take(TDialogRequest::TWhat what, const TDialogRequest& request);
    static QString Describe(const TDialogRequest& request);
    // An open or save dialog's request, answered by its step's path.
    std::optional<QString> FileRequest(TDialogRequest::TWhat what, const QString& caption,
                                       const QString& folder, const QString& filter);

    std::deque<TStep> m_Steps;
    std::vector<TDialogRequest> m_Requests;
    QStringList m_Unexpected;
    TDialogs* m_Previous = nullptr;
};

}  // namespace veltra
