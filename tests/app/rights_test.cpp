// The rights of the four groups a fresh groups table offers, applied to the
// navigator and the edit window as the user moves through tickets submitted
// and owned by them or by others.
#include <QPushButton>
#include <QTest>

#include "app/edit/editform.h"
#include "app/mainform.h"
#include "engine/veltra_table.h"
#include "platform/qt/controls/db_combo_box.h"
#include "platform/qt/controls/db_date_edit.h"
#include "platform/qt/controls/db_navigator.h"
#include "tests/app/app_fixture.h"
#include "users/user_context.h"

namespace veltra {
namespace {

using RightsTest = TAppTest;

// What the user sees on one ticket: Submit, Edit and Delete buttons shown;
// State / Close date and Owner enabled.
struct TSeen {
    bool Submit, Edit, Delete, Close, Assign;
    bool operator==(const TSeen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const TSeen& s) {
    return os << "submit " << s.Submit << " edit " << s.Edit << " delete " << s.Delete
              << " close " << s.Close << " assign " << s.Assign;
}

// The tickets, in ID order: who submitted and who owns each, seen by "gus".
const std::vector<TTestTicket> kTickets = {
    {"mine, owned by another", "gus", "hal"},
    {"another's, owned by me", "hal", "gus"},
    {"another's, owned by another", "hal", "ida"},
    {"mine, owned by me", "gus", "gus"},
    {"another's, no owner", "hal", ""},
    {"owner differs in case only", "hal", "Gus"},
};

struct TGroupCase {
    const char* Group;
    std::vector<TSeen> Seen;  // one per ticket above
};

TEST_F(RightsTest, EveryGroupOnTicketsOfTheUserAndOfOthers) {
    // Expected from the rights of each group:
    //   Managers   submit 0 edit 0 delete 0 close 0 assign 0
    //   Developers submit 0 edit 3 delete 1 close 0 assign 4
    //   Reporters  submit 0 edit 2 delete 2 close 2 assign 1
    //   Viewers    submit 1 edit 1 delete 1 close 1 assign 1
    const std::vector<TGroupCase> cases = {
        {"Managers",
         {{1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}, {1, 1, 1, 1, 1},
          {1, 1, 1, 1, 1}}},
        {"Developers",
         {{1, 1, 0, 1, 1}, {1, 1, 0, 1, 1}, {1, 0, 0, 1, 0}, {1, 1, 0, 1, 1}, {1, 0, 0, 1, 0},
          {1, 0, 0, 1, 0}}},
        {"Reporters",
         {{1, 1, 1, 1, 0}, {1, 0, 0, 0, 0}, {1, 0, 0, 0, 0}, {1, 1, 1, 1, 0}, {1, 0, 0, 0, 0},
          {1, 0, 0, 0, 0}}},
        {"Viewers",
         {{0, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 0, 0, 0},
          {0, 0, 0, 0, 0}}},
    };
    for (const TGroupCase& c : cases) {
        SCOPED_TRACE(c.Group);
        TearDown();
        SetUp();
        AddUsers({{"Admin", "", "", true}, {"gus", "", c.Group, false}});
        MakeLog("tickets", kTickets);
        StartAs("gus");
        ASSERT_FALSE(Main().Ended());
        OpenFromList("tickets.dat");
        ASSERT_TRUE(Main().table1().Active());
        TDBNavigator& nav = *Main().navigator1();
        Teditform& edit = *AllForms().editform;
        const int width = nav.width();
        for (size_t i = 0; i < kTickets.size(); ++i) {
            SCOPED_TRACE(kTickets[i].Title.toStdString());
            if (i > 0) QTest::mouseClick(nav.Button(TNavigateButton::Next), Qt::LeftButton);
            ASSERT_EQ(QString::fromStdString(Main().table1().FieldByName("Title").AsString()),
                      kTickets[i].Title);
            const TSeen seen{nav.ButtonVisible(TNavigateButton::Insert),
                             nav.ButtonVisible(TNavigateButton::Edit),
                             nav.ButtonVisible(TNavigateButton::Delete),
                             edit.StateBox()->isEnabled() && edit.CloseDateEdit()->isEnabled(),
                             edit.OwnerBox()->isEnabled()};
            EXPECT_EQ(seen, c.Seen[i]);
            EXPECT_EQ(edit.StateBox()->isEnabled(), edit.CloseDateEdit()->isEnabled());
            // The buttons that never come and go stay; the navigator keeps its width.
            for (TNavigateButton b : {TNavigateButton::First, TNavigateButton::Prior,
                                      TNavigateButton::Next, TNavigateButton::Last}) {
                EXPECT_TRUE(nav.ButtonVisible(b));
            }
            EXPECT_FALSE(nav.ButtonVisible(TNavigateButton::Post));
            EXPECT_EQ(nav.width(), width);
            EXPECT_EQ(Main().StatusPanel(3), QString("Current Record: %1").arg(i + 1));
        }
    }
}

TEST_F(RightsTest, AdministratorWithoutGroupKeepsTheDesignedState) {
    AddUsers({{"Admin", "", "", true}});
    MakeLog("tickets", kTickets);
    StartAs("Admin");
    OpenFromList("tickets.dat");
    ASSERT_TRUE(Main().table1().Active());
    TDBNavigator& nav = *Main().navigator1();
    for (size_t i = 0; i < kTickets.size(); ++i) {
        if (i > 0) QTest::mouseClick(nav.Button(TNavigateButton::Next), Qt::LeftButton);
        EXPECT_EQ(nav.VisibleButtons(),
                  (QSet<TNavigateButton>{TNavigateButton::First, TNavigateButton::Prior,
                                         TNavigateButton::Next, TNavigateButton::Last,
                                         TNavigateButton::Insert, TNavigateButton::Delete,
                                         TNavigateButton::Edit}));
        EXPECT_TRUE(AllForms().editform->StateBox()->isEnabled());
        EXPECT_TRUE(AllForms().editform->OwnerBox()->isEnabled());
        EXPECT_TRUE(AllForms().editform->SubmitterBox()->isEnabled());
        EXPECT_TRUE(AllForms().editform->SubmitDateEdit()->isEnabled());
    }
}

TEST_F(RightsTest, GroupRightsAreReadOnceAtStart) {
    AddUsers({{"Admin", "", "", true}, {"gus", "", "reporters", false}});
    StartAs("gus");
    // The group is found by its name in the groups index.
    EXPECT_EQ(CurrentRights(), (TRights{0, 2, 2, 2, 1}));
    EXPECT_FALSE(Main().Ended());
}

}  // namespace
}  // namespace veltra
