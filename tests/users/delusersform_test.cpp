// The delete-users dialog through the real window: the administrator never
// listed, the confirmation check box driving the navigator.
#include <QCheckBox>
#include <optional>
#include <QPushButton>
#include <QTest>

#include "engine/veltra_table.h"
#include "platform/qt/controls/db_grid.h"
#include "platform/qt/controls/db_navigator.h"
#include "tests/users/admin_fixture.h"
#include "users/admin/delusersform.h"
#include "users/user_context.h"

namespace veltra {
namespace {

class DeleteUsers : public TAdminTest {};

struct TDeleteCase {
    const char* Case;
    QString AdminName;  // the administrator row's name (and the context's)
    bool Confirm;       // the check box's state when Delete is clicked
    std::optional<TMessageAnswer> Answer;  // the answer to "Delete record?"
    QStringList Listed;  // the grid before deleting
    QStringList Left;    // the users table afterwards
};

TEST_F(DeleteUsers, TheAdministratorIsNeverListedWhateverTheConfirmation) {
    const TDeleteCase cases[] = {
        {"confirmed with OK", "Admin", true, TMessageAnswer::Ok, {"bob", "carol"},
         {"Admin", "carol"}},
        {"confirmation cancelled", "Admin", true, TMessageAnswer::Cancel, {"bob", "carol"},
         {"Admin", "bob", "carol"}},
        {"without confirmation", "Admin", false, std::nullopt, {"bob", "carol"},
         {"Admin", "carol"}},
        {"administrator name with a quote", "O'Neil", true, TMessageAnswer::Ok,
         {"bob", "carol"}, {"carol", "O'Neil"}},
    };
    for (const TDeleteCase& c : cases) {
        SCOPED_TRACE(c.Case);
        TearDown();
        SetUp();
        AddUser({c.AdminName, "", "", true});
        AddUser({"bob", "", "Developers", false});
        AddUser({"carol", "SECRET", "Reporters", false});
        UserContext().AdminName = c.AdminName;
        Tdelusersform form;
        m_Dialogs->Drive([&](QDialog&) {
            EXPECT_EQ(form.windowTitle(), "Delete Log Users");
            EXPECT_TRUE(form.ConfirmBox()->isChecked());
            EXPECT_TRUE(form.Grid()->hasFocus());
            EXPECT_EQ(GridTexts(form.Grid()), c.Listed);
            EXPECT_EQ(form.Navigator()->VisibleButtons(), QSet{TNavigateButton::Delete});
            if (!c.Confirm) {
                Click(form.ConfirmBox());
                EXPECT_TRUE(form.Grid()->hasFocus());
            }
            ClickGridRow(form.Grid(), 0);
            Click(form.Navigator()->Button(TNavigateButton::Delete));
            EXPECT_FALSE(GridTexts(form.Grid()).contains(c.AdminName));
            Click(form.CloseButton());
        });
        if (c.Answer) m_Dialogs->Answer(*c.Answer);
        Dialogs().Exec(form);
        EXPECT_EQ(m_Dialogs->Messages(),
                  c.Answer ? QStringList{"Delete record?"} : QStringList{});
        if (c.Answer) {
            EXPECT_EQ(m_Dialogs->Requests()[1].Buttons, TMessageButtons::OkCancel);
        }
        EXPECT_EQ(UserNames(), c.Left);
        EXPECT_FALSE(form.UsersTable().Active());
        EXPECT_FALSE(form.UsersTable().Filtered());
        EXPECT_TRUE(form.UsersTable().Filter().empty());
    }
}

TEST_F(DeleteUsers, ShownAgainItListsTheTableAsItIsNow) {
    AddTeam();
    UserContext().AdminName = "Admin";
    Tdelusersform form;
    m_Dialogs->Drive([&](QDialog&) {
        EXPECT_EQ(GridTexts(form.Grid()), (QStringList{"bob", "carol"}));
        Click(form.CloseButton());
    });
    Dialogs().Exec(form);
    AddUser({"dave", "", "Viewers", false});
    m_Dialogs->Drive([&](QDialog&) {
        EXPECT_EQ(GridTexts(form.Grid()), (QStringList{"bob", "carol", "dave"}));
        Click(form.CloseButton());
    });
    Dialogs().Exec(form);
}

}  // namespace
}  // namespace veltra
