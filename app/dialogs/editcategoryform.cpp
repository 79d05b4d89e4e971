#include "app/dialogs/editcategoryform.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>
#include <stdexcept>

#include "platform/locale_services.h"
#include "platform/qt/app/application.h"
#include "platform/qt/help/help_viewer.h"

namespace veltra {

namespace {

std::runtime_error FileError(const QString& what, const QString& path, const QString& reason) {
    return std::runtime_error(QString("%1 %2: %3").arg(what, path, reason).toStdString());
}

}  // namespace

void WriteCategoryFile(const QString& path, const QStringList& lines) {
    std::string bytes;
    for (const QString& line : lines) bytes += Utf8ToCp1252(line.toStdString()) + "\r\n";
    // QSaveFile writes beside the target and renames over it only when every
    // byte was written, so a full disk never leaves half a list.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) throw FileError("Cannot write", path, file.errorString());
    if (file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()) || !file.commit())
        throw FileError("Cannot write", path, file.errorString());
}

QStringList ReadCategoryFile(const QString& path) {
    QFile file(path);
    if (!file.exists()) return {};
    if (!file.open(QIODevice::ReadOnly)) throw FileError("Cannot read", path, file.errorString());
    const QByteArray bytes = file.readAll();
    QString text =
        QString::fromStdString(Cp1252ToUtf8(std::string_view(bytes.data(), bytes.size())));
    text.replace("\r\n", "\n");
    if (text.isEmpty()) return {};
    if (text.endsWith('\n')) text.chop(1);
    return text.split('\n');
}

Teditcategoryform::Teditcategoryform(QWidget* parent) : QDialog(parent) {
    setObjectName("editcategoryform");
    setWindowTitle("Edit Categories");
    SetHelpTopic(this, 18);
    setSizeGripEnabled(true);

    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(
        "Type the name of each category you would like to add follwed by the enter key.  Only "
        "the first 15 characters of each line will be used as a category name.",
        this);
    label->setWordWrap(true);
    m_Text = new QPlainTextEdit(this);
    m_Text->setObjectName("memo1");
    m_Text->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_Text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_Text->setAccessibleName("Categories");
    // Tab moves on to the buttons rather than typing a tab into a category.
    m_Text->setTabChangesFocus(true);
    label->setBuddy(m_Text);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_Ok = buttons->button(QDialogButtonBox::Ok);
    m_Cancel = buttons->button(QDialogButtonBox::Cancel);
    layout->addWidget(label);
    layout->addWidget(m_Text, 1);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, Guarded([this] { Save(); }));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    resize(360, 320);
}

void Teditcategoryform::LoadFile() { SetLines(ReadCategoryFile(m_File)); }

void Teditcategoryform::SetLines(const QStringList& lines) {
    m_Text->setPlainText(lines.join('\n'));
}

QStringList Teditcategoryform::Lines() const { return CutLines(m_Text->toPlainText()); }

QStringList Teditcategoryform::CutLines(const QString& text) {
    if (text.isEmpty()) return {};
    QString body = text;
    if (body.endsWith('\n')) body.chop(1);
    QStringList lines = body.split('\n');
    for (QString& line : lines) line = line.left(kCategoryLength);
    return lines;
}

void Teditcategoryform::Save() {
    const QStringList lines = Lines();
    WriteCategoryFile(m_File, lines);
    SetLines(lines);
    if (OnSaved) OnSaved(lines);
    accept();
}

void Teditcategoryform::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    m_Text->setFocus();
}

}  // namespace veltra
