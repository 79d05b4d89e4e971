// The groups editor through the real window: radio groups under their
// captions bound to the rights, inserting a group, the post on close, empty
// rights, and the warnings before renaming or deleting a group with members.
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "engine/veltra_table.h"
#include "platform/qt/controls/db_edit.h"
#include "platform/qt/controls/db_navigator.h"
#include "platform/qt/controls/db_radio_group.h"
#include "tests/users/admin_fixture.h"
#include "users/admin/accessform.h"

namespace veltra {
namespace {

class AccessGroups : public TAdminTest {
protected:
    static void Choose(Taccessform& form, int right, int value) {
        Click(form.RightsGroup(right)->Button(value));
    }
    static void Nav(Taccessform& form, TNavigateButton button) {
        Click(form.Navigator()->Button(button));
    }
    const QList<TGroupRow> kSeeded{{"Developers", {0, 3, 1, 0, 4}},
                                   {"Managers", {0, 0, 0, 0, 0}},
                                   {"Reporters", {0, 2, 2, 2, 1}},
                                   {"Viewers", {1, 1, 1, 1, 1}}};
};

TEST_F(AccessGroups, ShowsTheFirstGroupWithItsRightsUnderTheirCaptions) {
    Taccessform form;
    m_Dialogs->Drive([&](QDialog&) {
        EXPECT_EQ(form.windowTitle(), "Access Levels");
        const QStringList titles{"Submit", "Edit", "Delete", "Close", "Assign"};
        for (int i = 0; i < 5; ++i) EXPECT_EQ(form.RightsGroup(i)->title(), titles[i]);
        EXPECT_EQ(form.RightsGroup(1)->Items(),
                  (QStringList{"Edit any ticket", "Edit only if owner", "Edit only if submitter",
                               "Edit if submitter or owner"}));
        EXPECT_EQ(form.RightsGroup(4)->Items().last(), "Assign if owner or submitter");
        EXPECT_EQ(form.GroupNameEdit()->text(), "Developers");
        EXPECT_EQ(form.GroupNameEdit()->accessibleName(), "Group Name");
        QList<int> shown;
        for (int i = 0; i < 5; ++i) shown << form.RightsGroup(i)->ItemIndex();
        EXPECT_EQ(shown, (QList<int>{0, 3, 1, 0, 4}));
        EXPECT_EQ(form.Navigator()->VisibleButtons(),
                  (QSet{TNavigateButton::First, TNavigateButton::Prior, TNavigateButton::Next,
                        TNavigateButton::Last, TNavigateButton::Insert,
                        TNavigateButton::Delete}));
        Nav(form, TNavigateButton::Next);
        EXPECT_EQ(form.GroupNameEdit()->text(), "Managers");
        Click(form.OkButton());
    });
    Dialogs().Exec(form);
    EXPECT_FALSE(form.GroupsTable().Active());
    EXPECT_EQ(Groups(), kSeeded);
}

TEST_F(AccessGroups, AnInsertedGroupIsStoredWithTheChosenRightsOnClose) {
    Taccessform form;
    m_Dialogs->Drive([&](QDialog&) {
        Nav(form, TNavigateButton::Insert);
        EXPECT_TRUE(form.GroupNameEdit()->text().isEmpty());
        for (int i = 0; i < 5; ++i) EXPECT_EQ(form.RightsGroup(i)->ItemIndex(), -1);
        Type(form.GroupNameEdit(), "Testers");
        Choose(form, 0, 0);
        Choose(form, 1, 2);
        Choose(form, 2, 2);
        Choose(form, 3, 0);
        Choose(form, 4, 3);
        Click(form.OkButton());
    });
    Dialogs().Exec(form);
    QList<TGroupRow> expected = kSeeded;
    expected.insert(3, TGroupRow{"Testers", {0, 2, 2, 0, 3}});
    EXPECT_EQ(Groups(), expected);
}

TEST_F(AccessGroups, RightsLeftEmptyAreStoredAsTheMostRestrictiveValue) {
    Taccessform form;
    m_Dialogs->Drive([&](QDialog&) {
        Nav(form, TNavigateButton::Insert);
        Type(form.GroupNameEdit(), "Guests");
        Choose(form, 1, 0);
        // Moving to another group stores the new one.
        Nav(form, TNavigateButton::First);
        EXPECT_EQ(form.GroupNameEdit()->text(), "Developers");
        Click(form.OkButton());
    });
    Dialogs().Exec(form);
    QList<TGroupRow> expected = kSeeded;
    expected.insert(1, TGroupRow{"Guests", {1, 0, 1, 1, 1}});
    EXPECT_EQ(Groups(), expected);
}

TEST_F(AccessGroups, ChangedRightsArePostedWhenTheDialogClosesOtherwise) {
    Taccessform form;
    m_Dialogs->Drive([&](QDialog&) {
        Choose(form, 2, 0);  // Developers: delete any ticket
        form.reject();        // the title bar's close box
    });
    Dialogs().Exec(form);
    EXPECT_EQ(Groups()[0], (TGroupRow{"Developers", {0, 3, 0, 0, 4}}));
}

struct TMemberCase {
    const char* Case;
    bool Rename;  // else delete
    TMessageAnswer Answer;
    QStringList GroupsAfter;
};

TEST_F(AccessGroups, RenamingOrDeletingAGroupWithMembersAsksFirst) {
    const TMemberCase cases[] = {
        {"rename, OK", true, TMessageAnswer::Ok, {"Coders", "Managers", "Reporters", "Viewers"}},
        {"rename, Cancel keeps the name", true, TMessageAnswer::Cancel,
         {"Developers", "Managers", "Reporters", "Viewers"}},
        {"delete, OK", false, TMessageAnswer::Ok, {"Managers", "Reporters", "Viewers"}},
        {"delete, Cancel keeps the group", false, TMessageAnswer::Cancel,
         {"Developers", "Managers", "Reporters", "Viewers"}},
    };
    for (const TMemberCase& c : cases) {
        SCOPED_TRACE(c.Case);
        TearDown();
        SetUp();
        AddTeam();
        AddUser({"dan", "", "developers", false});  // the index finds groups in any case
        AddUser({"root2", "", "Developers", true});  // administrators start without a group
        const QList<TUserRow> users = Users();
        Taccessform form;
        m_Dialogs->Drive([&](QDialog&) {
            if (c.Rename) {
                Type(form.GroupNameEdit(), "Coders");
                if (c.Answer == TMessageAnswer::Cancel) Choose(form, 2, 0);
                Nav(form, TNavigateButton::Last);
            } else {
                Nav(form, TNavigateButton::Delete);
            }
            Click(form.OkButton());
        });
        if (!c.Rename) m_Dialogs->Answer(TMessageAnswer::Ok);  // "Delete record?"
        m_Dialogs->Answer(c.Answer);
        Dialogs().Exec(form);
        const QString verb = c.Rename ? "Renaming" : "Deleting";
        const QString question =
            QString("2 users belong to the group \"Developers\". %1 it leaves them without a "
                    "group: they cannot start the program until they are assigned to another "
                    "group. %2 the group anyway?")
                .arg(verb, c.Rename ? "Rename" : "Delete");
        EXPECT_EQ(m_Dialogs->Messages().last(), question);
        EXPECT_EQ(m_Dialogs->Requests().back().Buttons, TMessageButtons::OkCancel);
        QStringList names;
        for (const TGroupRow& g : Groups()) names << g.Name;
        EXPECT_EQ(names, c.GroupsAfter);
        if (c.Rename && c.Answer == TMessageAnswer::Cancel) {
            // The group's other changes are still stored.
            EXPECT_EQ(Groups()[0].Rights, (QList<int>{0, 3, 0, 0, 4}));
        }
        // Members keep their groupname either way.
        EXPECT_EQ(Users(), users);
    }
}

TEST_F(AccessGroups, GroupsWithoutMembersChangeWithoutAQuestion) {
    AddTeam();
    Taccessform form;
    m_Dialogs->Drive([&](QDialog&) {
        Nav(form, TNavigateButton::Next);  // Managers: nobody belongs to it
        Type(form.GroupNameEdit(), "Leads");
        Nav(form, TNavigateButton::Last);
        Nav(form, TNavigateButton::Delete);  // Viewers
        Click(form.OkButton());
    });
    m_Dialogs->Answer(TMessageAnswer::Ok);  // "Delete record?"
    Dialogs().Exec(form);
    EXPECT_EQ(m_Dialogs->Messages(), QStringList{"Delete record?"});
    QStringList names;
    for (const TGroupRow& g : Groups()) names << g.Name;
    EXPECT_EQ(names, (QStringList{"Developers", "Leads", "Reporters"}));
}

}  // namespace
}  // namespace veltra
