#include "platform/qt/dialogs/dialogs.h"

#include <QApplication>
#include <QColorDialog>
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace veltra {

namespace {

TQtDialogs& RealDialogs() {
    static TQtDialogs dialogs;
    return dialogs;
}

TDialogs* g_Installed = nullptr;

// Adds the default extension to a chosen name that has none, as the
// program's file dialogs promise.
QString WithDefaultExtension(const QString& path, const QString& extension) {
    if (path.isEmpty() || extension.isEmpty() || !QFileInfo(path).suffix().isEmpty()) return path;
    return path + "." + extension;
}

QString Caption() {
    const QString name = QApplication::applicationDisplayName();
    return name.isEmpty() ? QApplication::applicationName() : name;
}

}  // namespace

TDialogs& Dialogs() { return g_Installed ? *g_Installed : RealDialogs(); }

TDialogs* SetDialogs(TDialogs* dialogs) {
    TDialogs* previous = g_Installed;
    g_Installed = dialogs;
    return previous;
}

void TDialogs::Error(QWidget* parent, const QString& text) {
    Message(parent, TMessageKind::Error, text, TMessageButtons::Ok);
}

void TDialogs::Warning(QWidget* parent, const QString& text) {
    Message(parent, TMessageKind::Warning, text, TMessageButtons::Ok);
}

void TDialogs::Information(QWidget* parent, const QString& text) {
    Message(parent, TMessageKind::Information, text, TMessageButtons::Ok);
}

bool TDialogs::ConfirmYesNo(QWidget* parent, const QString& text) {
    return Message(parent, TMessageKind::Confirmation, text, TMessageButtons::YesNo) ==
           TMessageAnswer::Yes;
}

bool TDialogs::ConfirmOkCancel(QWidget* parent, const QString& text) {
    return Message(parent, TMessageKind::Confirmation, text, TMessageButtons::OkCancel) ==
           TMessageAnswer::Ok;
}

TMessageAnswer TQtDialogs::Message(QWidget* parent, TMessageKind kind, const QString& text,
                                   TMessageButtons buttons) {
    QMessageBox box(parent);
    box.setWindowTitle(Caption());
    box.setText(text);
    switch (kind) {
        case TMessageKind::Error: box.setIcon(QMessageBox::Critical); break;
        case TMessageKind::Warning: box.setIcon(QMessageBox::Warning); break;
        case TMessageKind::Information: box.setIcon(QMessageBox::Information); break;
        case TMessageKind::Confirmation: box.setIcon(QMessageBox::Question); break;
    }
    if (kind != TMessageKind::Confirmation || buttons == TMessageButtons::Ok) {
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
        return TMessageAnswer::Ok;
    }
    if (buttons == TMessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? TMessageAnswer::Yes : TMessageAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok ? TMessageAnswer::Ok : TMessageAnswer::Cancel;
}

std::optional<QString> TQtDialogs::Prompt(QWidget* parent, const QString& caption,
                                          const QString& prompt, const QString& defaultText,
                                          bool masked) {
    bool ok = false;
    const QString text = QInputDialog::getText(parent, caption, prompt,
                                               masked ? QLineEdit::Password : QLineEdit::Normal,
                                               defaultText, &ok);
    if (!ok) return std::nullopt;
    return text;
}

std::optional<QColor> TQtDialogs::ChooseColour(QWidget* parent, const QColor& initial) {
    const QColor colour = QColorDialog::getColor(initial, parent);
    if (!colour.isValid()) return std::nullopt;
    return colour;
}

std::optional<QString> TQtDialogs::OpenFileName(QWidget* parent, const QString& caption,
                                                const QString& folder, const QString& filter,
                                                const QString& defaultExtension) {
    QFileDialog dialog(parent, caption, folder, filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(defaultExtension);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
}

std::optional<QString> TQtDialogs::SaveFileName(QWidget* parent, const QString& caption,
                                                const QString& folder, const QString& filter,
                                                const QString& defaultExtension) {
    QFileDialog dialog(parent, caption, folder, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultExtension);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return WithDefaultExtension(dialog.selectedFiles().first(), defaultExtension);
}

std::optional<QString> TQtDialogs::ChooseFolder(QWidget* parent, const QString& caption,
                                                const QString& folder) {
    QFileDialog dialog(parent, caption, folder);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().first();
}

QStringList TQtDialogs::FontNames() {
    QStringList names = QFontDatabase::families();
    names.sort(Qt::CaseInsensitive);
    return names;
}

int TQtDialogs::Exec(QDialog& dialog) { return dialog.exec(); }

}  // namespace veltra
