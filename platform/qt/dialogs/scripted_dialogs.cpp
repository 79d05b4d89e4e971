#include "platform/qt/dialogs/scripted_dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QFontDatabase>

namespace veltra {

namespace {

const char* WhatName(TDialogRequest::TWhat what) {
    switch (what) {
        case TDialogRequest::TWhat::Message: return "message";
        case TDialogRequest::TWhat::Prompt: return "prompt";
        case TDialogRequest::TWhat::Colour: return "colour dialog";
        case TDialogRequest::TWhat::OpenFile: return "open dialog";
        case TDialogRequest::TWhat::SaveFile: return "save dialog";
        case TDialogRequest::TWhat::Folder: return "folder dialog";
        case TDialogRequest::TWhat::Exec: return "modal window";
    }
    return "?";
}

}  // namespace

TScriptedDialogs::TScriptedDialogs() { m_Previous = SetDialogs(this); }

TScriptedDialogs::~TScriptedDialogs() { SetDialogs(m_Previous); }

TScriptedDialogs& TScriptedDialogs::Answer(TMessageAnswer answer) {
    m_Steps.push_back({TDialogRequest::TWhat::Message, answer, {}, {}, {}});
    return *this;
}

TScriptedDialogs& TScriptedDialogs::AnswerPrompt(std::optional<QString> text) {
    m_Steps.push_back({TDialogRequest::TWhat::Prompt, TMessageAnswer::Ok, std::move(text), {}, {}});
    return *this;
}

TScriptedDialogs& TScriptedDialogs::AnswerColour(std::optional<QColor> colour) {
    m_Steps.push_back({TDialogRequest::TWhat::Colour, TMessageAnswer::Ok, {}, colour, {}});
    return *this;
}

TScriptedDialogs& TScriptedDialogs::AnswerFolder(std::optional<QString> path) {
    m_Steps.push_back({TDialogRequest::TWhat::Folder, TMessageAnswer::Ok, std::move(path), {}, {}});
    return *this;
}

TScriptedDialogs& TScriptedDialogs::AnswerOpenFile(std::optional<QString> path) {
    m_Steps.push_back({TDialogRequest::TWhat::OpenFile, TMessageAnswer::Ok, std::move(path), {}, {}});
    return *this;
}

TScriptedDialogs& TScriptedDialogs::AnswerSaveFile(std::optional<QString> path) {
    m_Steps.push_back({TDialogRequest::TWhat::SaveFile, TMessageAnswer::Ok, std::move(path), {}, {}});
    return *this;
}

TScriptedDialogs& TScriptedDialogs::Drive(std::function<void(QDialog&)> step) {
    m_Steps.push_back({TDialogRequest::TWhat::Exec, TMessageAnswer::Ok, {}, {}, std::move(step)});
    return *this;
}

QStringList TScriptedDialogs::Messages() const {
    QStringList texts;
    for (const TDialogRequest& request : m_Requests)
        if (request.What == TDialogRequest::TWhat::Message) texts << request.Text;
    return texts;
}

void TScriptedDialogs::ClearRecord() {
    m_Requests.clear();
    m_Unexpected.clear();
}

QString TScriptedDialogs::Describe(const TDialogRequest& request) {
    QString line = QString::fromLatin1(WhatName(request.What));
    if (!request.Caption.isEmpty()) line += " \"" + request.Caption + "\"";
    if (!request.Text.isEmpty()) line += ": " + request.Text;
    if (!request.ObjectName.isEmpty()) line += " (" + request.ObjectName + ")";
    return line;
}

std::optional<TScriptedDialogs::TStep> TScriptedDialogs::Take(TDialogRequest::TWhat what,
                                                              const TDialogRequest& request) {
    m_Requests.push_back(request);
    if (m_Steps.empty()) {
        m_Unexpected << "unscripted " + Describe(request);
        return std::nullopt;
    }
    if (m_Steps.front().What != what) {
        m_Unexpected << QString("expected a %1, asked a ").arg(WhatName(m_Steps.front().What)) +
                            Describe(request);
        return std::nullopt;
    }
    TStep step = std::move(m_Steps.front());
    m_Steps.pop_front();
    return step;
}

TMessageAnswer TScriptedDialogs::Message(QWidget*, TMessageKind kind, const QString& text,
                                         TMessageButtons buttons) {
    TDialogRequest request;
    request.What = TDialogRequest::TWhat::Message;
    request.Kind = kind;
    request.Buttons = kind == TMessageKind::Confirmation ? buttons : TMessageButtons::Ok;
    request.Text = text;
    const std::optional<TStep> step = Take(request.What, request);
    if (request.Buttons == TMessageButtons::Ok) {
        if (step && step->Answer != TMessageAnswer::Ok)
            m_Unexpected << "answer other than OK for a box with only OK: " + text;
        return TMessageAnswer::Ok;
    }
    const bool yesNo = request.Buttons == TMessageButtons::YesNo;
    const TMessageAnswer negative = yesNo ? TMessageAnswer::No : TMessageAnswer::Cancel;
    if (!step) return negative;
    const bool fits = yesNo ? (step->Answer == TMessageAnswer::Yes || step->Answer == TMessageAnswer::No)
                            : (step->Answer == TMessageAnswer::Ok || step->Answer == TMessageAnswer::Cancel);
    if (!fits) {
        m_Unexpected << "scripted answer does not fit the buttons of: " + text;
        return negative;
    }
    return step->Answer;
}

std::optional<QString> TScriptedDialogs::Prompt(QWidget*, const QString& caption,
                                                const QString& prompt, const QString& defaultText,
                                                bool masked) {
    TDialogRequest request;
    request.What = TDialogRequest::TWhat::Prompt;
    request.Caption = caption;
    request.Text = prompt;
    request.Default = defaultText;
    request.Masked = masked;
    const std::optional<TStep> step = Take(request.What, request);
    if (!step) return std::nullopt;
    return step->Text;
}

std::optional<QColor> TScriptedDialogs::ChooseColour(QWidget*, const QColor& initial) {
    TDialogRequest request;
    request.What = TDialogRequest::TWhat::Colour;
    request.Default = initial.name();
    const std::optional<TStep> step = Take(request.What, request);
    if (!step) return std::nullopt;
    return step->Colour;
}

std::optional<QString> TScriptedDialogs::FileRequest(TDialogRequest::TWhat what,
                                                     const QString& caption,
                                                     const QString& folder,
                                                     const QString& filter) {
    TDialogRequest request;
    request.What = what;
    request.Caption = caption;
    request.Default = folder;
    request.Filter = filter;
    const std::optional<TStep> step = Take(request.What, request);
    if (!step) return std::nullopt;
    return step->Text;
}

std::optional<QString> TScriptedDialogs::OpenFileName(QWidget*, const QString& caption,
                                                      const QString& folder, const QString& filter,
                                                      const QString&) {
    return FileRequest(TDialogRequest::TWhat::OpenFile, caption, folder, filter);
}

std::optional<QString> TScriptedDialogs::SaveFileName(QWidget*, const QString& caption,
                                                      const QString& folder, const QString& filter,
                                                      const QString&) {
    return FileRequest(TDialogRequest::TWhat::SaveFile, caption, folder, filter);
}

std::optional<QString> TScriptedDialogs::ChooseFolder(QWidget*, const QString& caption,
                                                      const QString& folder) {
    return FileRequest(TDialogRequest::TWhat::Folder, caption, folder, QString());
}

QStringList TScriptedDialogs::FontNames() {
    if (Fonts) return *Fonts;
    QStringList names = QFontDatabase::families();
    names.sort(Qt::CaseInsensitive);
    return names;
}

int TScriptedDialogs::Exec(QDialog& dialog) {
    TDialogRequest request;
    request.What = TDialogRequest::TWhat::Exec;
    request.Caption = dialog.windowTitle();
    request.ObjectName = QString::fromLatin1(dialog.metaObject()->className());
    const std::optional<TStep> step = Take(request.What, request);
    dialog.setResult(QDialog::Rejected);
    if (!step) return QDialog::Rejected;
    // Shown as exec would show it, but without a nested event loop: the
    // step's clicks and keys are delivered directly by QTest.
    dialog.show();
    QApplication::processEvents();
    if (step->Drive) step->Drive(dialog);
    QApplication::processEvents();
    if (dialog.isVisible()) {
        m_Unexpected << "modal window left open by its step: " + Describe(request);
        dialog.reject();
        return QDialog::Rejected;
    }
    return dialog.result();
}

}  // namespace veltra
