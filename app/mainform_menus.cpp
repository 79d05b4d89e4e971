// The main window's menus: building them, the File-menu rule for users who
// are not the administrator, and the commands of the Admin, User, Printing
// and Help menus.
#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "app/aboutforms.h"
#include "app/dialogs/faqform.h"
#include "app/forms.h"
#include "app/mainform.h"
#include "app/program_folder.h"
#include "app/web_page.h"
#include "platform/qt/app/application.h"
#include "platform/qt/app/hints.h"
#include "platform/qt/dialogs/dialogs.h"
#include "platform/qt/help/help_viewer.h"
#include "users/admin/accessform.h"
#include "users/admin/adduserform.h"
#include "users/admin/chgaccessform.h"
#include "users/admin/delusersform.h"
#include "users/admin/passwordchangeform.h"
#include "users/user_context.h"
#include "users/user_list.h"

namespace veltra {

namespace {

template <class F>
QAction* Item(QMenu* menu, const QString& caption, const QString& hint, QObject* owner, F f) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(QString(caption).remove('&').remove(' ').remove('/').remove('.').toLower() + "item");
    if (!hint.isEmpty()) SetHint(action, hint);
    QObject::connect(action, &QAction::triggered, owner, [f] { RunGuarded(f); });
    return action;
}

}  // namespace

void Tmainform::BuildMenus() {
    QMenuBar* bar = menuBar();

    m_FileMenu = bar->addMenu("&File");
    m_FileMenu->setObjectName("filemenu");
    Item(m_FileMenu, "Create New Log", "Create a new log", this, [this] { CreateNewLogClick(); });
    Item(m_FileMenu, "Delete Log", "Delete existing log files", this, [this] { DeleteLogClick(); });
    m_EditCategories = Item(m_FileMenu, "Edit Categories", "Edit category list for the open log",
                            this, [this] { EditCategoriesClick(); });
    m_FileMenu->addSeparator();
    m_ExportView = Item(m_FileMenu, "Export View...",
                        "Save the tickets shown, in their order, to a CSV or JSON-lines file", this,
                        [this] { ExportViewClick(); });
    m_ExportView->setEnabled(false);
    Item(m_FileMenu, "Close Current", "Close open log file", this, [this] { CloseLog(); });
    m_FileMenu->addSeparator();
    Item(m_FileMenu, "Exit", "Quit this application", this, [this] { close(); });
    connect(m_FileMenu, &QMenu::aboutToShow, this, [this] { FileMenuShow(); });

    m_AdminMenu = bar->addMenu("Admin");
    m_AdminMenu->setObjectName("adminmenu");
    m_AdminMenuAction = m_AdminMenu->menuAction();
    Item(m_AdminMenu, "Add Users", "", this, [this] { AddUsersClick(); });
    Item(m_AdminMenu, "Delete Users", "", this, [this] { DeleteUsersClick(); });
    Item(m_AdminMenu, "User Access Groups", "Manage user access groups", this,
         [this] { UserAccessGroupsClick(); });
    Item(m_AdminMenu, "Assign/Change User Access Level", "Set individual user access", this,
         [this] { AssignAccessClick(); });

    m_UserMenu = bar->addMenu("User");
    m_UserMenu->setObjectName("usermenu");
    Item(m_UserMenu, "Set/Change Password", "Set or change your password", this,
         [this] { PasswordClick(); });

    m_ColumnsMenu = bar->addMenu("Columns");
    m_ColumnsMenu->setObjectName("columnsmenu");

    m_PrintingMenu = bar->addMenu("Printing");
    m_PrintingMenu->setObjectName("printingmenu");
    m_Preview = m_PrintingMenu->addAction("Preview");
    m_Preview->setObjectName("Preview1");
    m_Preview->setCheckable(true);
    m_Preview->setChecked(true);
    SetHint(m_Preview, "Show print preview before printing");
    m_PrintHistory = m_PrintingMenu->addAction("Print Change History");
    m_PrintHistory->setObjectName("PrintChangeHistory1");
    m_PrintHistory->setCheckable(true);
    m_PrintHistory->setChecked(true);
    SetHint(m_PrintHistory, "Print change history after description");
    connect(m_PrintHistory, &QAction::triggered, this, [this] { RunGuarded([this] { PrintHistoryClick(); }); });

    m_HelpMenu = bar->addMenu("&Help");
    m_HelpMenu->setObjectName("helpmenu");
    QAction* contents = Item(m_HelpMenu, "Contents", "Access the application help file", this,
                             [this] { ContentsClick(); });
    contents->setShortcut(QKeySequence(Qt::Key_F1));
    contents->setShortcutContext(Qt::WindowShortcut);
    Item(m_HelpMenu, "FAQ", "Frequently asked questions", this, [this] { FaqClick(); });
    Item(m_HelpMenu, "Support", "How to get support", this, [this] { SupportClick(); });
    Item(m_HelpMenu, "Veltra Log Home on the Web", "Takes you to our web site", this,
         [this] { WebClick(); });
    Item(m_HelpMenu, "About", "", this, [this] { AboutClick(); });
}

QAction* Tmainform::MenuItem(QMenu* menu, const QString& caption) const {
    for (QAction* action : menu->actions()) {
        if (!action->isSeparator() && QString(action->text()).remove('&') == caption) return action;
    }
    return nullptr;
}

void Tmainform::FileMenuShow() {
    if (UserContext().Admin) return;
    // Hidden for the rest of the run, separators included.
    for (QAction* action : m_FileMenu->actions()) {
        const QString caption = QString(action->text()).remove('&');
        if (action->isSeparator() || caption == "Edit Categories" || caption == "Delete Log" ||
            caption == "Create New Log") {
            action->setVisible(false);
        }
    }
}

void Tmainform::AddUsersClick() {
    const TUserContext& context = UserContext();
    if (!context.Admin) {
        Dialogs().Information(this, "Only " + context.AdminName + " can add new users.");
        return;
    }
    Dialogs().Exec(*Forms().adduserform);
}

void Tmainform::DeleteUsersClick() {
    const TUserContext& context = UserContext();
    if (!context.Admin) {
        Dialogs().Information(this, "Only " + context.AdminName + " can delete users.");
        return;
    }
    Dialogs().Exec(*Forms().delusersform);
}

void Tmainform::UserAccessGroupsClick() { Dialogs().Exec(*Forms().accessform); }

void Tmainform::AssignAccessClick() { Dialogs().Exec(*Forms().chgaccessform); }

void Tmainform::PasswordClick() {
    const QString current = UserContext().Password;
    if (!current.isEmpty()) {
        const std::optional<QString> typed =
            Dialogs().Prompt(this, "Password", "Enter CURRENT password.", "", true);
        if (!typed) return;
        // Compared as the login compares (trimmed, upper case): removing
        // blanks inside the typed text as well would lock out a user whose
        // password contains one.
        if (NormalPassword(*typed) != current) {
            Dialogs().Error(this, "Incorrect password.");
            return;
        }
    }
    Dialogs().Exec(*Forms().passwordchangeform);
}

void Tmainform::PrintHistoryClick() { BindTextPane(); }

void Tmainform::ContentsClick() { ShowHelp(this, HelpFilePath(), 0); }

void Tmainform::FaqClick() { Dialogs().Exec(*Forms().faqform); }

void Tmainform::SupportClick() {
    Dialogs().Information(
        this, QString("For help with a feature of Veltra Log or to report a bug, please visit "
                      "our web site at %1 or write to %2.")
                  .arg(kWebPageAddress, kSupportAddress));
}

void Tmainform::WebClick() { VisitWebPage(this); }

void Tmainform::AboutClick() { Dialogs().Exec(*Forms().aboutforms); }

}  // namespace veltra
