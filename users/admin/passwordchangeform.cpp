#include "users/admin/passwordchangeform.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QFormLayout>

#include "engine/veltra_table.h"
#include "platform/qt/app/application.h"
#include "platform/qt/dialogs/dialogs.h"
#include "platform/qt/help/help_viewer.h"
#include "users/admin/admin_common.h"
#include "users/user_context.h"
#include "users/user_list.h"

namespace veltra {

Tpasswordchangeform::Tpasswordchangeform(QWidget* parent)
    : QDialog(parent), m_Users(std::make_unique<TVeltraTable>()) {
    setObjectName("passwordchangeform");
    setWindowTitle("Password Change");
    SetHelpTopic(this, 13);

    m_Password = PasswordEdit(this);
    m_Password->setObjectName("newpasswordedit");
    m_Password2 = PasswordEdit(this);
    m_Password2->setObjectName("newpasswordedit2");
    auto* note = new QLabel("(leave both fields blank to disable password)", this);
    m_Ok = new QPushButton("OK", this);
    m_Ok->setObjectName("okbtn");
    m_Ok->setDefault(true);
    m_Cancel = new QPushButton("Cancel", this);
    m_Cancel->setObjectName("cancelbtn");

    auto* form = new QFormLayout;
    form->addRow(BuddyLabel("&Enter new password", m_Password, this), m_Password);
    form->addRow(BuddyLabel("Enter &again for verification", m_Password2, this), m_Password2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_Ok);
    buttons->addWidget(m_Cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addLayout(buttons);

    connect(m_Ok, &QPushButton::clicked, this, [this] { RunGuarded([this] { OkClick(); }); });
    connect(m_Cancel, &QPushButton::clicked, this, &Tpasswordchangeform::reject);
}

Tpasswordchangeform::~Tpasswordchangeform() = default;

void Tpasswordchangeform::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous()) return;
    m_Password->clear();
    m_Password2->clear();
    m_Password->setFocus();
}

bool Tpasswordchangeform::StorePassword(const QString& password) {
    m_Users->Close();
    m_Users->SetTableName(UsersTablePath().toStdString());
    m_Users->Open();
    m_Users->SetIndexName("username");
    if (!m_Users->FindKey({UserContext().UserName.toStdString()})) return false;
    m_Users->Edit();
    m_Users->FieldByName("password").SetAsString(password.toStdString());
    m_Users->Post();
    return true;
}

void Tpasswordchangeform::OkClick() {
    const QString remembered = UserContext().Password;
    const QString password = NormalPassword(m_Password->text());
    if (password != NormalPassword(m_Password2->text())) {
        Dialogs().Error(this, "Passwords are not the same. Please try again.");
        m_Password->clear();
        m_Password2->clear();
        m_Password->setFocus();
        return;
    }
    bool found = false;
    try {
        found = StorePassword(password);
    } catch (...) {
        RunGuarded([this] { m_Users->Cancel(); });
        Dialogs().Error(this, "There was an error saving your new password. Password NOT changed.");
        UserContext().Password = remembered;
        done(Rejected);
        return;
    }
    if (!found) {
        Dialogs().Error(this,
                        "Your user name is no longer in the users table. Password NOT changed.");
        done(Rejected);
        return;
    }
    UserContext().Password = password;
    Dialogs().Information(this, "Password change successful.");
    done(Accepted);
}

void Tpasswordchangeform::reject() {
    Dialogs().Information(this, "Password has NOT been changed.");
    QDialog::reject();
}

void Tpasswordchangeform::done(int result) {
    RunGuarded([this] { m_Users->Close(); });
    QDialog::done(result);
}

}  // namespace veltra
