// The navigator against a real table: buttons enabled by the dataset's
// state, the click step after the table action, the delete confirmation,
// failing actions, captions and a width that stays when buttons hide.
#include <QPushButton>
#include <QTest>

#include "platform/qt/controls/db_navigator.h"
#include "tests/qt/qt_fixture.h"

namespace veltra_test {
namespace {

using namespace veltra;
using B = TNavigateButton;

QSet<B> Enabled(const TDBNavigator& nav) {
    QSet<B> on;
    for (B b : NavigateButtonOrder()) {
        if (nav.Button(b)->isEnabled()) on.insert(b);
    }
    return on;
}

using Navigator = TQtTableTest;

TEST_F(Navigator, ButtonsFollowTheDataSetState) {
    OpenPeople(ThreePeople());
    TDBNavigator nav;
    nav.SetDataSource(&Source);
    const QSet<B> changes = {B::Insert, B::Delete, B::Edit, B::Refresh};
    EXPECT_EQ(Enabled(nav), (QSet<B>{B::Next, B::Last} | changes)) << "on the first record";
    Table.Next();
    EXPECT_EQ(Enabled(nav), (QSet<B>{B::First, B::Prior, B::Next, B::Last} | changes));
    Table.Last();
    Table.Next();  // runs past the end
    EXPECT_EQ(Enabled(nav), (QSet<B>{B::First, B::Prior} | changes));
    Table.Edit();
    EXPECT_EQ(Enabled(nav), (QSet<B>{B::First, B::Prior, B::Insert, B::Delete, B::Post, B::Cancel, B::Refresh}));
    Table.Cancel();
    Table.Close();
    EXPECT_TRUE(Enabled(nav).isEmpty());

    OpenPeople(ThreePeople(), true);
    nav.SetDataSource(&Source);
    EXPECT_EQ(Enabled(nav), (QSet<B>{B::Next, B::Last, B::Refresh})) << "read-only table";
    Table.Close();
    OpenPeople({});
    EXPECT_EQ(Enabled(nav), (QSet<B>{B::Insert, B::Edit, B::Refresh})) << "empty table";
}

TEST_F(Navigator, ClickStepRunsAfterTheTableAction) {
    OpenPeople(ThreePeople());
    TDBNavigator nav;
    nav.SetDataSource(&Source);
    QStringList steps;
    nav.OnClick = [&](B b) {
        steps << QString("%1:%2").arg(int(b)).arg(QString::fromStdString(Table.FieldByName("Name").AsString()));
    };
    nav.show();
    struct TCase {
        B Button;
        const char* NameAfter;
        TDataSetState State;
    };
    for (const TCase& c : {TCase{B::Next, "Bob", TDataSetState::Browse}, TCase{B::Last, "Cyd", TDataSetState::Browse},
                           TCase{B::Prior, "Bob", TDataSetState::Browse}, TCase{B::First, "Ada", TDataSetState::Browse},
                           TCase{B::Edit, "Ada", TDataSetState::Edit}, TCase{B::Cancel, "Ada", TDataSetState::Browse},
                           TCase{B::Insert, "", TDataSetState::Insert}}) {
        steps.clear();
        QTest::mouseClick(nav.Button(c.Button), Qt::LeftButton);
        EXPECT_EQ(Table.State(), c.State);
        EXPECT_EQ(steps, QStringList{QString("%1:%2").arg(int(c.Button)).arg(c.NameAfter)});
    }
    Table.FieldByName("Name").SetAsString("Dee");
    QTest::mouseClick(nav.Button(B::Post), Qt::LeftButton);
    EXPECT_EQ(Table.State(), TDataSetState::Browse);
    EXPECT_EQ(StoredValue(4, "Name"), "Dee");
}

TEST_F(Navigator, DeleteAsksAndDeletesOnlyOnOk) {
    OpenPeople(ThreePeople());
    TDBNavigator nav;
    nav.SetDataSource(&Source);
    int steps = 0;
    nav.OnClick = [&](B) { ++steps; };
    nav.show();

    Script->Answer(TMessageAnswer::Cancel);
    QTest::mouseClick(nav.Button(B::Delete), Qt::LeftButton);
    ASSERT_EQ(Script->Requests().size(), 1u);
    EXPECT_EQ(Script->Requests()[0].Text, "Delete record?");
    EXPECT_EQ(Script->Requests()[0].Kind, TMessageKind::Confirmation);
    EXPECT_EQ(Script->Requests()[0].Buttons, TMessageButtons::OkCancel);
    EXPECT_EQ(Table.RecordCount(), 3);

    Script->Answer(TMessageAnswer::Ok);
    QTest::mouseClick(nav.Button(B::Delete), Qt::LeftButton);
    EXPECT_EQ(Table.RecordCount(), 2);
    EXPECT_EQ(StoredValue(1, "Name"), "<missing>");
    EXPECT_EQ(steps, 2) << "the click step follows either answer";

    nav.SetConfirmDelete(false);
    Script->ClearRecord();
    QTest::mouseClick(nav.Button(B::Delete), Qt::LeftButton);
    EXPECT_TRUE(Script->Requests().empty());
    EXPECT_EQ(Table.RecordCount(), 1);
}

TEST_F(Navigator, FailingActionIsShownAndSkipsTheClickStep) {
    OpenPeople(ThreePeople());
    Table.SetLockRetryCount(1);
    Table.SetLockWaitTime(1);
    TVeltraTable other;
    other.SetTableName(Path);
    other.Open();
    other.Edit();
    TDBNavigator nav;
    nav.SetDataSource(&Source);
    bool stepped = false;
    nav.OnClick = [&](B) { stepped = true; };
    nav.show();
    Script->Answer(TMessageAnswer::Ok);
    QTest::mouseClick(nav.Button(B::Edit), Qt::LeftButton);
    EXPECT_FALSE(stepped);
    EXPECT_EQ(Table.State(), TDataSetState::Browse);
    ASSERT_EQ(Script->Messages().size(), 1);
    EXPECT_TRUE(Script->Messages()[0].startsWith("Veltra Engine Error # "));
    EXPECT_EQ(Script->Requests()[0].Kind, TMessageKind::Error);
    other.Cancel();

    // An exception of the click step itself is shown too.
    nav.OnClick = [](B) { throw EDatabaseError("step failed"); };
    Script->Answer(TMessageAnswer::Ok);
    QTest::mouseClick(nav.Button(B::Next), Qt::LeftButton);
    EXPECT_EQ(Script->Messages().last(), "step failed");
    EXPECT_EQ(Table.RecNo(), 2);
}

TEST_F(Navigator, CaptionsAndWidthThatStaysWhenButtonsHide) {
    OpenPeople(ThreePeople());
    TDBNavigator nav;
    nav.SetDataSource(&Source);
    nav.SetCaption(B::Insert, "Submit");
    nav.SetCaption(B::Post, "Accept");
    EXPECT_EQ(nav.Button(B::Insert)->text(), "Submit");
    EXPECT_EQ(nav.Button(B::Insert)->accessibleName(), "Submit");
    EXPECT_EQ(nav.Button(B::First)->accessibleName(), "First");
    nav.SetVisibleButtons({B::First, B::Prior, B::Next, B::Last, B::Insert, B::Delete, B::Edit});
    nav.show();
    const int width = nav.width();
    EXPECT_GT(width, 0);
    EXPECT_FALSE(nav.Button(B::Post)->isVisible());

    for (const QSet<B>& shown : {QSet<B>{B::First, B::Prior, B::Next, B::Last},
                                 QSet<B>{B::First, B::Prior, B::Next, B::Last, B::Edit},
                                 QSet<B>{B::First, B::Prior, B::Next, B::Last, B::Insert, B::Delete, B::Edit}}) {
        nav.SetVisibleButtons(shown);
        EXPECT_EQ(nav.width(), width);
        int covered = 0, right = 0;
        for (B b : NavigateButtonOrder()) {
            QPushButton* button = nav.Button(b);
            EXPECT_EQ(button->isVisible(), shown.contains(b));
            if (!shown.contains(b)) continue;
            EXPECT_EQ(button->x(), right) << "visible buttons follow each other in order";
            right = button->geometry().right() + 1;
            covered += button->width();
        }
        EXPECT_EQ(covered, width) << "the visible buttons share the whole width";
    }
    nav.SetButtonVisible(B::Edit, false);
    EXPECT_FALSE(nav.ButtonVisible(B::Edit));
    EXPECT_EQ(nav.width(), width);
}

}  // namespace
}  // namespace veltra_test
