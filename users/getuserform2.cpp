#include "users/getuserform2.h"

#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/program_folder.h"
#include "engine/veltra_table.h"
#include "platform/qt/dialogs/dialogs.h"
#include "platform/qt/help/help_viewer.h"
#include "users/upper_case.h"
#include "users/user_context.h"

namespace veltra {

namespace {

constexpr int kNameLength = 10;

const char* const kExplanation =
    "No users currently exist.  At least one user must be named and optionally a password.  "
    "The first named user will have administration rights.  If you choose to have a password, "
    "be sure to write it down and keep it in a safe place.  There is no way to recover it.";

QLineEdit* MaskedEdit(QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setEchoMode(QLineEdit::Password);
    edit->setMaxLength(kNameLength);
    return edit;
}

// A label that names its field for the keyboard and for accessibility.
QLabel* Caption(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    buddy->setAccessibleName(QString(text).remove('&'));
    return label;
}

}  // namespace

Tgetuserform2::Tgetuserform2(QWidget* parent)
    : QDialog(parent), m_Users(std::make_unique<TVeltraTable>()) {
    setObjectName("getuserform2");
    setWindowTitle("Login");
    // No system menu: a title bar without the close box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    SetHelpTopic(this, 12);
    auto* layout = new QVBoxLayout(this);
    BuildLoginPanel();
    BuildFirstUserPanel();
    layout->addWidget(m_LoginPanel);
    layout->addWidget(m_FirstUserPanel);
    m_LoginPanel->hide();
    m_FirstUserPanel->hide();
}

Tgetuserform2::~Tgetuserform2() = default;

void Tgetuserform2::BuildLoginPanel() {
    m_LoginPanel = new QWidget(this);
    m_LoginPanel->setObjectName("loginpanel");
    m_UserBox = new QComboBox(m_LoginPanel);
    m_UserBox->setObjectName("userbox");
    m_UserBox->setEditable(false);
    m_UserBox->setMinimumWidth(160);
    m_Password = MaskedEdit(m_LoginPanel);
    m_Password->setObjectName("passwordedit");
    m_LoginOk = new QPushButton("OK", m_LoginPanel);
    m_LoginOk->setObjectName("loginok");
    m_Cancel = new QPushButton("Cancel", m_LoginPanel);
    m_Cancel->setObjectName("cancelbtn");

    auto* form = new QFormLayout;
    form->addRow(Caption("&User Name", m_UserBox, m_LoginPanel), m_UserBox);
    m_PasswordLabel = Caption("&Password", m_Password, m_LoginPanel);
    form->addRow(m_PasswordLabel, m_Password);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_LoginOk);
    buttons->addWidget(m_Cancel);
    auto* layout = new QVBoxLayout(m_LoginPanel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(form);
    layout->addLayout(buttons);

    connect(m_UserBox, &QComboBox::activated, this, &Tgetuserform2::UserBoxChange);
    connect(m_LoginOk, &QPushButton::clicked, this, &Tgetuserform2::LoginOkClick);
    connect(m_Cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void Tgetuserform2::BuildFirstUserPanel() {
    m_FirstUserPanel = new QWidget(this);
    m_FirstUserPanel->setObjectName("firstuserpanel");
    auto* explanation = new QLabel(kExplanation, m_FirstUserPanel);
    explanation->setObjectName("explanation");
    explanation->setWordWrap(true);
    explanation->setMinimumWidth(340);
    m_NewName = new QLineEdit(m_FirstUserPanel);
    m_NewName->setObjectName("newnameedit");
    m_NewName->setMaxLength(kNameLength);
    m_NewPassword = MaskedEdit(m_FirstUserPanel);
    m_NewPassword->setObjectName("newpasswordedit");
    m_NewPassword2 = MaskedEdit(m_FirstUserPanel);
    m_NewPassword2->setObjectName("newpasswordedit2");
    ForceUpperCase(m_NewPassword);
    ForceUpperCase(m_NewPassword2);
    m_FirstOk = new QPushButton("OK", m_FirstUserPanel);
    m_FirstOk->setObjectName("firstuserok");

    auto* form = new QFormLayout;
    form->addRow(Caption("User &Name", m_NewName, m_FirstUserPanel), m_NewName);
    form->addRow(Caption("&Password", m_NewPassword, m_FirstUserPanel), m_NewPassword);
    form->addRow(Caption("&Enter password again for verification", m_NewPassword2,
                         m_FirstUserPanel),
                 m_NewPassword2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_FirstOk);
    auto* layout = new QVBoxLayout(m_FirstUserPanel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(explanation);
    layout->addLayout(form);
    layout->addLayout(buttons);

    connect(m_FirstOk, &QPushButton::clicked, this, &Tgetuserform2::FirstUserOkClick);
}

bool Tgetuserform2::FirstUserPanelShown() const { return !m_FirstUserPanel->isHidden(); }
bool Tgetuserform2::LoginPanelShown() const { return !m_LoginPanel->isHidden(); }

void Tgetuserform2::Run() {
    m_LoginPanel->hide();
    m_FirstUserPanel->hide();
    m_Users->Close();
    const QString sys1 = ProgramFolder() + "sys1.dat";
    m_Users->SetTableName(sys1.toStdString());
    if (!QFileInfo::exists(sys1)) {
        Dialogs().Error(parentWidget(), "Bad or missing file: sys1.dat.   Reinstall the program.");
        return;
    }
    try {
        m_Users->Open();
        m_Users->SetIndexName("username");
        m_List = builduserlist(*m_Users, ReadLastUser(ProgramFolder() + "user.txt"));
        if (!m_List.AdminName.isEmpty()) UserContext().AdminName = m_List.AdminName;
    } catch (...) {
        m_Users->Close();
        throw;
    }

    m_UserBox->clear();
    m_UserBox->addItems(m_List.Names);
    m_Password->clear();
    m_NewName->setText("Admin");
    m_NewPassword->clear();
    m_NewPassword2->clear();
    if (m_List.Count() > 0) {
        m_UserBox->setCurrentIndex(m_List.Selected);
        ShowPasswordFor(m_List.Selected);
        m_LoginPanel->show();
        SetDefaultButton(m_LoginOk);
        (m_Password->isHidden() ? static_cast<QWidget*>(m_UserBox) : m_Password)->setFocus();
    } else {
        m_FirstUserPanel->show();
        SetDefaultButton(m_FirstOk);
        m_NewName->setFocus();
        m_NewName->selectAll();
    }
    adjustSize();

    Dialogs().Exec(*this);

    m_Users->Close();
    const QString name = UserContext().UserName;
    if (!name.trimmed().isEmpty()) WriteLastUser(ProgramFolder() + "user.txt", name);
}

void Tgetuserform2::SetDefaultButton(QPushButton* button) {
    m_LoginOk->setDefault(button == m_LoginOk);
    m_FirstOk->setDefault(button == m_FirstOk);
}

void Tgetuserform2::ShowPasswordFor(int entry) {
    const bool visible = m_List.HasPassword(entry);
    m_PasswordLabel->setVisible(visible);
    m_Password->setVisible(visible);
}

void Tgetuserform2::UserBoxChange(int entry) {
    ShowPasswordFor(entry);
    (m_Password->isHidden() ? static_cast<QWidget*>(m_UserBox) : m_Password)->setFocus();
}

void Tgetuserform2::LoginOkClick() {
    const int entry = m_UserBox->currentIndex();
    if (entry < 0 || entry >= m_List.Count()) return;
    const QString password = NormalPassword(m_List.Passwords[entry]);
    if (!password.isEmpty() && NormalPassword(m_Password->text()) != password) {
        Dialogs().Error(this, "Incorrect Password.");
        m_Password->setFocus();
        return;
    }
    TUserContext& context = UserContext();
    context.UserName = m_List.Names[entry];
    context.Password = password;
    context.Admin = m_List.Admins[entry] == "yes";
    context.GroupName = m_List.Groups[entry];
    if (OnUserNames) OnUserNames(m_List.Names);
    accept();
}

void Tgetuserform2::FirstUserOkClick() {
    const QString name = m_NewName->text().trimmed();
    if (name.isEmpty()) {
        Dialogs().Error(this, "User name cannot be blank.");
        m_NewName->setFocus();
        return;
    }
    if (m_NewPassword->text().trimmed() != m_NewPassword2->text().trimmed()) {
        Dialogs().Error(this, "Passwords do not match.");
        m_NewPassword->setFocus();
        return;
    }
    const QString password = NormalPassword(m_NewPassword->text());
    if (!password.isEmpty()) {
        Dialogs().Warning(this,
                          "You have entered a password.  Please take a moment to record it and "
                          "put it in a safe place.");
    }
    TUserContext& context = UserContext();
    try {
        m_Users->Insert();
        m_Users->FieldByName("username").SetAsString(name.toStdString());
        m_Users->FieldByName("password").SetAsString(password.toStdString());
        m_Users->FieldByName("admin").SetAsBoolean(true);
        m_Users->Post();
        context.UserName = name;
        context.Password = password;
        context.AdminName = name;
    } catch (const std::exception&) {
        // A row another workstation stored meanwhile, or a table that refuses
        // the write: nobody is logged in and the program ends.
        if (m_Users->Active()) m_Users->Cancel();
        Dialogs().Error(this, "An error occurred saving the user information.");
    }
    context.Admin = true;
    if (OnUserNames) OnUserNames(QStringList{context.UserName});
    accept();
}

}  // namespace veltra
