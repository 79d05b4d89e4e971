#include "users/admin/adduserform.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <stdexcept>

#include "engine/veltra_table.h"
#include "platform/qt/app/application.h"
#include "platform/qt/dialogs/dialogs.h"
#include "platform/qt/help/help_viewer.h"
#include "users/admin/admin_common.h"
#include "users/user_list.h"

namespace veltra {

Tadduserform::Tadduserform(QWidget* parent)
    : QDialog(parent), m_Users(std::make_unique<TVeltraTable>()) {
    setObjectName("adduserform");
    setWindowTitle("Add Users");
    SetHelpTopic(this, 14);
    EndApplication = [] { QCoreApplication::exit(1); };

    auto* note = new QLabel(
        "User names and passwords can be 1 to 10 characters long.  Password is optional and is "
        "not case sensitive.",
        this);
    note->setWordWrap(true);
    m_Name = new QLineEdit(this);
    m_Name->setObjectName("usernameedit");
    m_Name->setMaxLength(kUserFieldLength);
    m_Password = veltra::PasswordEdit(this);
    m_Password->setObjectName("passwordedit");
    m_Password2 = veltra::PasswordEdit(this);
    m_Password2->setObjectName("passwordedit2");
    m_Group = new QComboBox(this);
    m_Group->setObjectName("accesslevelbox");
    m_Group->setEditable(false);
    m_Add = new QPushButton("&Add", this);
    m_Add->setObjectName("addbtn");
    m_Add->setDefault(true);
    m_Close = new QPushButton("Close", this);
    m_Close->setObjectName("closebtn");

    auto* form = new QFormLayout;
    form->addRow(BuddyLabel("&User name", m_Name, this), m_Name);
    form->addRow(BuddyLabel("&Password", m_Password, this), m_Password);
    form->addRow(BuddyLabel("&Enter password again for verification", m_Password2, this),
                 m_Password2);
    form->addRow(BuddyLabel("Access &level", m_Group, this), m_Group);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_Add);
    buttons->addWidget(m_Close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(note);
    layout->addLayout(form);
    layout->addLayout(buttons);

    connect(m_Name, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_Add->setEnabled(!text.trimmed().isEmpty()); });
    connect(m_Add, &QPushButton::clicked, this, [this] { RunGuarded([this] { AddClick(); }); });
    connect(m_Close, &QPushButton::clicked, this, &QDialog::reject);
}

Tadduserform::~Tadduserform() = default;

TVeltraTable& Tadduserform::Groups() {
    if (m_Groups) return *m_Groups;
    if (!m_OwnGroups) m_OwnGroups = std::make_unique<TVeltraTable>();
    return *m_OwnGroups;
}

void Tadduserform::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) RunGuarded([this] { FormShow(); });
}

void Tadduserform::FormShow() {
    ClearFields();
    m_Add->setEnabled(false);
    m_Users->Close();
    m_Users->SetTableName(UsersTablePath().toStdString());
    m_Users->SetIndexName("username");
    if (!QFileInfo::exists(UsersTablePath())) {
        Dialogs().Error(this, "Bad or missing file: sys1.dat.   Reinstall the program.");
        // Closed once the show has finished; then the program ends.
        QMetaObject::invokeMethod(
            this,
            [this] {
                reject();
                if (EndApplication) EndApplication();
            },
            Qt::QueuedConnection);
        return;
    }
    m_Users->Open();
    m_Group->clear();
    m_Group->addItems(ReadGroupNames(Groups()));
    if (m_Group->count() > 0) m_Group->setCurrentIndex(0);
}

void Tadduserform::ClearFields() {
    m_Name->clear();
    m_Password->clear();
    m_Password2->clear();
    m_Name->setFocus();
}

bool Tadduserform::UserExists(const QString& name) {
    if (m_Users->FindKey({name.toStdString()})) return true;
    // The index finds names without regard to case; the walk makes the rule
    // hold whatever the index's options are.
    for (m_Users->First(); !m_Users->Eof(); m_Users->Next()) {
        const QString stored = QString::fromStdString(m_Users->FieldByName("username").AsString());
        if (stored.trimmed().compare(name, Qt::CaseInsensitive) == 0) return true;
    }
    return false;
}

void Tadduserform::AddClick() {
    const QString name = m_Name->text().trimmed();
    if (name.isEmpty()) {
        Dialogs().Error(this, "User name cannot be blank.");
        m_Name->setFocus();
        return;
    }
    if (m_Password->text().trimmed() != m_Password2->text().trimmed()) {
        Dialogs().Error(this, "Passwords do not match.");
        m_Password->setFocus();
        return;
    }
    const QString password = NormalPassword(m_Password->text());
    if (UserExists(name)) {
        Dialogs().Error(this, "That user already exists.");
        m_Name->setFocus();
        return;
    }
    bool stored = false;
    try {
        // A user must belong to a group: without one to choose nothing is stored.
        if (m_Group->currentIndex() < 0) throw std::runtime_error("no access group");
        m_Users->Insert();
        m_Users->FieldByName("username").SetAsString(name.toStdString());
        m_Users->FieldByName("password").SetAsString(password.toStdString());
        m_Users->FieldByName("groupname").SetAsString(m_Group->currentText().toStdString());
        m_Users->FieldByName("admin").SetAsBoolean(false);
        m_Users->Post();
        stored = true;
    } catch (...) {
        RunGuarded([this] { m_Users->Cancel(); });
    }
    if (stored) {
        Dialogs().Information(this, "User added.");
    } else {
        Dialogs().Error(this, "An error occurred saving the user information.");
    }
    ClearFields();
}

void Tadduserform::done(int result) {
    m_Users->Close();
    QDialog::done(result);
}

}  // namespace veltra
