// The assign dialog through the real window: administrators never listed,
// the pick list following the selected user, the change stored on moving to
// another user and on closing.
#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include "engine/veltra_table.h"
#include "platform/qt/controls/db_combo_box.h"
#include "platform/qt/controls/db_grid.h"
#include "tests/users/admin_fixture.h"
#include "users/admin/accessform.h"
#include "users/admin/chgaccessform.h"

namespace veltra {
namespace {

class AssignGroups : public TAdminTest {
protected:
    void SetUp() override {
        TAdminTest::SetUp();
        AddTeam();
        AddUser({"boss", "", "Managers", true});
    }
    static void ChooseGroup(Tchgaccessform& form, const QString& group) {
        QComboBox* box = form.AccessLevelBox();
        box->setFocus();
        const int index = box->findText(group);
        ASSERT_GE(index, 0);
        // Keyboard choice in a closed fixed list, as a person would.
        while (box->currentIndex() < index) QTest::keyClick(box, Qt::Key_Down);
        while (box->currentIndex() > index) QTest::keyClick(box, Qt::Key_Up);
    }
};

TEST_F(AssignGroups, ListsOnlyUsersWhoAreNotAdministrators) {
    Taccessform access;
    Tchgaccessform form;
    form.SetGroupsTable(&access.GroupsTable());
    m_Dialogs->Drive([&](QDialog&) {
        EXPECT_EQ(form.windowTitle(), "User Access Level");
        EXPECT_EQ(GridTexts(form.Grid()), (QStringList{"bob", "carol"}));
        EXPECT_TRUE(form.Grid()->hasFocus());
        EXPECT_EQ(form.AccessLevelBox()->Items(),
                  (QStringList{"Developers", "Managers", "Reporters", "Viewers"}));
        EXPECT_EQ(form.AccessLevelBox()->Text(), "Developers");  // bob's group
        ClickGridRow(form.Grid(), 1);
        EXPECT_EQ(form.AccessLevelBox()->Text(), "Reporters");  // carol's
        Click(form.CloseButton());
    });
    Dialogs().Exec(form);
    // The groups table is closed again at once.
    EXPECT_FALSE(access.GroupsTable().Active());
    EXPECT_FALSE(form.UsersTable().Active());
}

TEST_F(AssignGroups, TheChangeIsStoredOnMovingToAnotherUserAndOnClosing) {
    Tchgaccessform form;
    m_Dialogs->Drive([&](QDialog&) {
        ChooseGroup(form, "Viewers");  // bob
        ClickGridRow(form.Grid(), 1);
        EXPECT_EQ(form.AccessLevelBox()->Text(), "Reporters");
        // Stored once the selection moved, before the dialog closes.
        bool stored = false;
        for (const TUserRow& row : Users())
            if (row.Name == "bob") stored = row.Group == "Viewers";
        EXPECT_TRUE(stored);
        ChooseGroup(form, "Managers");  // carol, still pending at Close
        Click(form.CloseButton());
    });
    Dialogs().Exec(form);
    const QList<TUserRow> expected{{"Admin", "", "", true},
                                   {"bob", "", "Viewers", false},
                                   {"boss", "", "Managers", true},
                                   {"carol", "SECRET", "Managers", false}};
    EXPECT_EQ(Users(), expected);
}

}  // namespace
}  // namespace veltra
