#include "app/dialogs/delfileform.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <memory>
#include <vector>

#include "engine/errors.h"
#include "engine/file_handler.h"
#include "platform/qt/app/application.h"
#include "platform/qt/dialogs/dialogs.h"
#include "platform/qt/help/help_viewer.h"

namespace veltra {

namespace {

// Opens `path` with exclusive sharing and keeps it open in `held`; false
// when the sharing lock is refused because another open (of this or any
// process) has the file. A file that cannot be opened for another reason
// (gone meanwhile, a broken name) does not count as in use: deleting it is
// simply passed over, as any deletion error is.
bool HoldExclusive(const QString& path, std::vector<std::unique_ptr<TFileHandler>>& held) {
    auto file = std::make_unique<TFileHandler>();
    file->SetFileName(QFile::encodeName(path).toStdString());
    file->SetExclusive(true);
    try {
        file->Open();
    } catch (const EVeltraEngineError& e) {
        return e.ErrorCode() != ecAccessDenied;
    }
    held.push_back(std::move(file));
    return true;
}

}  // namespace

Tdelfileform::Tdelfileform(const QString& programFolder, QWidget* parent)
    : QDialog(parent), m_DataFolder(QDir(programFolder).filePath("data")) {
    setObjectName("delfileform");
    setWindowTitle("Delete Log Files");
    SetHelpTopic(this, 18);

    auto* layout = new QVBoxLayout(this);
    m_Files = new QListWidget(this);
    m_Files->setObjectName("filelistbox1");
    m_Files->setAccessibleName("Double click on log to delete");
    auto* label = new QLabel("Double click on log to delete", this);
    label->setBuddy(m_Files);
    m_Confirm = new QCheckBox("Confirm before deleting", this);
    m_Confirm->setObjectName("checkbox1");
    m_Confirm->setChecked(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_Close = buttons->button(QDialogButtonBox::Close);
    layout->addWidget(label);
    layout->addWidget(m_Files, 1);
    layout->addWidget(m_Confirm);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_Files, &QListWidget::itemDoubleClicked, this,
            Guarded([this](QListWidgetItem* item) { DeleteLog(item->text()); }));
    m_Files->installEventFilter(this);
    resize(300, 320);
}

void Tdelfileform::Refresh() {
    m_Files->clear();
    const QDir dir(m_DataFolder);
    m_Files->addItems(dir.entryList({"*.dat"}, QDir::Files, QDir::Name | QDir::IgnoreCase));
}

void Tdelfileform::DeleteLog(const QString& fileName) {
    if (m_Confirm->isChecked() && !Dialogs().ConfirmYesNo(this, "Delete " + fileName + "?")) return;
    const QString dat = QDir(m_DataFolder).filePath(fileName);
    const QString base = dat.left(dat.size() - 3);
    const QStringList paths{dat, base + "blb", base + "idx"};

    std::vector<std::unique_ptr<TFileHandler>> held;
    for (const QString& path : paths) {
        if (!QFile::exists(path)) continue;
        if (!HoldExclusive(path, held)) {
            Dialogs().Error(this, "The log " + fileName + " is in use and cannot be deleted.");
            return;
        }
    }
    // Linux removes a name whose file this process still holds open; the
    // exclusive opens are dropped only after every name is gone.
    for (const QString& path : paths) QFile::remove(path);
    held.clear();
    Refresh();
}

bool Tdelfileform::eventFilter(QObject* watched, QEvent* event) {
    // Enter on a listed log deletes it, as a double click does, for keyboard users.
    if (watched == m_Files && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && m_Files->currentItem() != nullptr) {
            RunGuarded([this] { DeleteLog(m_Files->currentItem()->text()); });
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void Tdelfileform::showEvent(QShowEvent* event) {
    Refresh();
    QDialog::showEvent(event);
}

}  // namespace veltra
