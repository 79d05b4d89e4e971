// The entry field and the date field against a real table: showing the
// current record, typing into Edit, writing on focus loss and at the post,
// Esc, cancel, null values, limits, masks and read-only tables.
#include <QKeySequence>
#include <QCalendarWidget>
#include <QLineEdit>
#include <QTableView>
#include <QAction>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include "platform/format_settings.h"
#include "platform/qt/controls/db_date_edit.h"
#include "platform/qt/controls/db_edit.h"
#include "tests/qt/qt_fixture.h"

namespace veltra_test {
namespace {

using namespace veltra;

// A window with two bound entry fields, so that the focus can move away.
class TEditWindow : public QWidget {
public:
    TEditWindow(TDataSource& source, const QString& first, const QString& second) {
        auto* layout = new QVBoxLayout(this);
        First = new TDBEdit(this);
        First->setAccessibleName(first);
        Second = new TDBEdit(this);
        Second->setAccessibleName(second);
        layout->addWidget(First);
        layout->addWidget(Second);
        First->SetDataSource(&source);
        First->SetDataField(first);
        Second->SetDataSource(&source);
        Second->SetDataField(second);
    }
    void ShowActive() {
        show();
        activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(this));
    }
    TDBEdit* First;
    TDBEdit* Second;
};


void ReplaceText(QLineEdit* w, const QString& text) {
    w->setFocus();
    w->selectAll();
    QTest::keyClick(w, Qt::Key_Delete);
    QTest::keyClicks(w, text);
}

using EntryField = TQtTableTest;

TEST_F(EntryField, ShowsTheCurrentRecordAndFollowsMoves) {
    OpenPeople(ThreePeople());
    TEditWindow w(Source, "Name", "Level");
    EXPECT_EQ(w.First->text(), "Ada");
    EXPECT_EQ(w.Second->text(), "1");
    Table.Next();
    EXPECT_EQ(w.First->text(), "Bob");
    Table.Last();
    EXPECT_EQ(w.First->text(), "Cyd");
    EXPECT_EQ(w.Second->text(), "") << "a null integer shows nothing";
    Table.Close();
    EXPECT_EQ(w.First->text(), "");
    EXPECT_TRUE(w.First->isReadOnly());
}

TEST_F(EntryField, TypingEditsAndFocusLossWritesThenPostStores) {
    OpenPeople(ThreePeople());
    TEditWindow w(Source, "Name", "Team");
    w.ShowActive();
    w.First->setFocus();
    w.First->end(false);
    QTest::keyClicks(w.First, "line");
    EXPECT_EQ(Table.State(), TDataSetState::Edit) << "typing puts the dataset into Edit";
    EXPECT_EQ(Table.FieldByName("Name").AsString(), "Ada") << "not written before focus loss";
    EXPECT_TRUE(w.First->Modified());
    w.Second->setFocus();
    EXPECT_EQ(Table.FieldByName("Name").AsString(), "Adaline");
    Table.Post();
    EXPECT_EQ(StoredValue(1, "Name"), "Adaline");
    EXPECT_EQ(w.First->text(), "Adaline");
}

TEST_F(EntryField, PostWritesThePendingTextOfTheFocusedField) {
    OpenPeople(ThreePeople());
    TEditWindow w(Source, "Name", "Team");
    w.ShowActive();
    ReplaceText(w.Second, "green");
    EXPECT_EQ(Table.State(), TDataSetState::Edit);
    Table.Post();
    EXPECT_EQ(StoredValue(1, "Team"), "green");
}

TEST_F(EntryField, EscapeRevertsThePendingTextAndCancelRevertsTheRecord) {
    OpenPeople(ThreePeople());
    TEditWindow w(Source, "Name", "Team");
    w.ShowActive();
    ReplaceText(w.First, "Zed");
    QTest::keyClick(w.First, Qt::Key_Escape);
    EXPECT_EQ(w.First->text(), "Ada");
    EXPECT_FALSE(w.First->Modified());

    ReplaceText(w.First, "Zed");
    w.Second->setFocus();
    EXPECT_EQ(Table.FieldByName("Name").AsString(), "Zed");
    Table.Cancel();
    EXPECT_EQ(w.First->text(), "Ada");
    EXPECT_EQ(StoredValue(1, "Name"), "Ada");
}

TEST_F(EntryField, ClearingATextStoresNull) {
    OpenPeople(ThreePeople());
    TEditWindow w(Source, "Team", "Name");
    w.ShowActive();
    ReplaceText(w.First, "");
    Table.Post();
    Table.First();
    EXPECT_TRUE(Table.FieldByName("Team").IsNull());
}

TEST_F(EntryField, LengthIsLimitedByTheFieldSize) {
    OpenPeople(ThreePeople());
    TEditWindow w(Source, "Name", "Team");
    w.ShowActive();
    EXPECT_EQ(w.First->maxLength(), 12);
    EXPECT_EQ(w.Second->maxLength(), 10);
    ReplaceText(w.First, "ABCDEFGHIJKLMNOP");
    EXPECT_EQ(w.First->text(), "ABCDEFGHIJKL");
    Table.Post();
    EXPECT_EQ(StoredValue(1, "Name"), "ABCDEFGHIJKL");
}

TEST_F(EntryField, UpperCaseAndPasswordMask) {
    OpenPeople(ThreePeople());
    TEditWindow w(Source, "Name", "Team");
    w.First->SetCharCase(TEditCharCase::Upper);
    w.First->SetPasswordMasked(true);
    w.ShowActive();
    ReplaceText(w.First, "secret");
    EXPECT_EQ(w.First->text(), "SECRET");
    EXPECT_EQ(w.First->displayText(), "******");
    Table.Post();
    EXPECT_EQ(StoredValue(1, "Name"), "SECRET");
    w.First->SetPasswordMasked(false);
    EXPECT_EQ(w.First->displayText(), "SECRET");
}

TEST_F(EntryField, ReadOnlyTableOrFieldRefusesTyping) {
    struct TCase {
        const char* Name;
        bool ReadOnlyTable;
        bool ReadOnlyField;
        bool ReadOnlyControl;
    };
    for (const TCase& c : {TCase{"table", true, false, false}, TCase{"field", false, true, false},
                           TCase{"control", false, false, true}}) {
        SCOPED_TRACE(c.Name);
        OpenPeople(ThreePeople(), c.ReadOnlyTable);
        Table.FieldByName("Name").ReadOnly = c.ReadOnlyField;
        TEditWindow w(Source, "Name", "Team");
        w.First->SetReadOnly(c.ReadOnlyControl);
        w.ShowActive();
        EXPECT_TRUE(w.First->isReadOnly());
        w.First->setFocus();
        QTest::keyClicks(w.First, "xyz");
        QTest::keyClick(w.First, Qt::Key_Backspace);
        EXPECT_EQ(w.First->text(), "Ada");
        EXPECT_EQ(Table.State(), TDataSetState::Browse);
        EXPECT_EQ(w.Second->isReadOnly(), c.ReadOnlyTable) << "other fields stay writable unless the table is read-only";
        w.close();
        Table.Close();
        std::filesystem::remove(Path);
        std::filesystem::remove(IndexPathOf(Path));
        std::filesystem::remove(BlobPathOf(Path));
    }
}

TEST_F(EntryField, TextThatDoesNotConvertIsShownAndStaysPending) {
    OpenPeople(ThreePeople());
    TEditWindow w(Source, "Level", "Name");
    w.ShowActive();
    Script->Answer(TMessageAnswer::Ok);
    ReplaceText(w.First, "abc");
    w.Second->setFocus();
    ASSERT_EQ(Script->Messages().size(), 1);
    EXPECT_TRUE(Script->Messages()[0].contains("abc")) << Script->Messages()[0].toStdString();
    EXPECT_EQ(Script->Requests()[0].Kind, TMessageKind::Error);
    EXPECT_TRUE(w.First->Modified()) << "the text stays for the user to correct";
    EXPECT_EQ(Table.FieldByName("Level").AsString(), "1");
    EXPECT_THROW(Table.Post(), std::exception) << "a post with the bad text pending fails";
    EXPECT_EQ(Table.State(), TDataSetState::Edit);
}

TEST_F(EntryField, RecordLockedElsewhereShowsTheEngineErrorAndKeepsBrowsing) {
    OpenPeople(ThreePeople());
    Table.SetLockRetryCount(1);
    Table.SetLockWaitTime(1);
    TVeltraTable other;
    other.SetTableName(Path);
    other.Open();
    other.Edit();  // holds the first record's lock
    TEditWindow w(Source, "Name", "Team");
    w.ShowActive();
    Script->Answer(TMessageAnswer::Ok);
    w.First->setFocus();
    QTest::keyClicks(w.First, "x");
    EXPECT_EQ(Table.State(), TDataSetState::Browse);
    EXPECT_EQ(w.First->text(), "Ada");
    ASSERT_EQ(Script->Messages().size(), 1);
    EXPECT_TRUE(Script->Messages()[0].startsWith("Veltra Engine Error # ")) << Script->Messages()[0].toStdString();
    other.Cancel();
    other.Close();
}

using DateField = TQtTableTest;

TEST_F(DateField, ShowsDatesAndBlanksInTheShortDateForm) {
    OpenPeople(ThreePeople());
    TDBDateEdit edit;
    edit.SetDataSource(&Source);
    edit.SetDataField("Born");
    EXPECT_EQ(edit.Text(), "01/05/1990");
    Table.Next();
    EXPECT_EQ(edit.Text(), "  /  /    ") << "a null date shows blanks in the digits' places";
    EXPECT_TRUE(edit.Text().startsWith(' '));
    Table.Last();
    EXPECT_EQ(edit.Text(), "12/31/2001");
}

TEST_F(DateField, FollowsTheInstalledLocale) {
    struct TCase {
        const char* Locale;
        const char* Shown;
        const char* Empty;
    };
    OpenPeople(ThreePeople());
    TDBDateEdit edit;
    edit.SetDataSource(&Source);
    edit.SetDataField("Born");
    for (const TCase& c : {TCase{"de_DE", "05.01.1990", "  .  .    "}, TCase{"en_GB", "05/01/1990", "  /  /    "},
                           TCase{"en_US", "01/05/1990", "  /  /    "}}) {
        SCOPED_TRACE(c.Locale);
        InstallLocaleFormatSettings(c.Locale);
        edit.ApplyFormatSettings();
        Table.First();
        EXPECT_EQ(edit.Text(), c.Shown);
        Table.Next();
        EXPECT_EQ(edit.Text(), c.Empty);
    }
    InstallFormatSettings(UsFormatSettings());
}

TEST_F(DateField, TypedDateClearedDateAndBadDate) {
    OpenPeople(ThreePeople());
    QWidget w;
    auto* layout = new QVBoxLayout(&w);
    auto* edit = new TDBDateEdit(&w);
    auto* other = new TDBEdit(&w);
    layout->addWidget(edit);
    layout->addWidget(other);
    edit->SetDataSource(&Source);
    edit->SetDataField("Born");
    other->SetDataSource(&Source);
    other->SetDataField("Name");
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));

    // A date typed over the shown one.
    edit->setFocus();
    edit->home(false);
    QTest::keyClicks(edit, "02031995");
    EXPECT_EQ(edit->Text(), "02/03/1995");
    EXPECT_EQ(Table.State(), TDataSetState::Edit);
    other->setFocus();
    Table.Post();
    EXPECT_EQ(StoredValue(1, "Born"), "2/3/1995");

    // Every digit removed: null.
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    EXPECT_EQ(edit->Text(), "  /  /    ");
    Table.Post();
    Table.First();
    EXPECT_TRUE(Table.FieldByName("Born").IsNull());

    // A date that does not exist: the post fails and the record stays in Edit.
    edit->setFocus();
    edit->home(false);
    QTest::keyClicks(edit, "13452000");
    EXPECT_THROW(Table.Post(), std::exception);
    EXPECT_EQ(Table.State(), TDataSetState::Edit);
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(edit->Text(), "  /  /    ");
    Table.Cancel();
}

TEST_F(DateField, CalendarWritesTheChosenDay) {
    OpenPeople(ThreePeople());
    TDBDateEdit edit;
    edit.SetDataSource(&Source);
    edit.SetDataField("Born");
    edit.show();
    edit.CalendarAction()->trigger();
    ASSERT_TRUE(edit.Calendar()->isVisible());
    EXPECT_EQ(edit.Calendar()->selectedDate(), QDate(1990, 1, 5)) << "opens at the shown date";
    edit.Calendar()->setSelectedDate(QDate(1990, 1, 20));
    // Enter on the calendar's day table chooses the selected day.
    auto* days = edit.Calendar()->findChild<QTableView*>();
    ASSERT_NE(days, nullptr);
    QTest::keyClick(days, Qt::Key_Return);
    EXPECT_FALSE(edit.Calendar()->isVisible());
    EXPECT_EQ(Table.State(), TDataSetState::Edit);
    EXPECT_EQ(Table.FieldByName("Born").AsString(), "1/20/1990") << "written at once";
    Table.Post();
    EXPECT_EQ(StoredValue(1, "Born"), "1/20/1990");
}

TEST_F(DateField, WithoutDataSourceItIsAPlainDateEntry) {
    TDBDateEdit edit;
    EXPECT_FALSE(edit.Date().isValid());
    EXPECT_EQ(edit.Text(), "  /  /    ");
    edit.SetDate(QDate(2026, 12, 10));
    EXPECT_EQ(edit.Text(), "12/10/2026");
    EXPECT_EQ(edit.Date(), QDate(2026, 12, 10));
    edit.SetDate(QDate());
    EXPECT_TRUE(edit.Text().startsWith(' '));
}

}  // namespace
}  // namespace veltra_test

namespace veltra_test {
namespace {

TEST(PlainEntryField, WithoutDataSourceItIsAWritableEntry) {
    TDBEdit password;
    password.setMaxLength(10);
    password.SetCharCase(TEditCharCase::Upper);
    password.SetPasswordMasked(true);
    password.show();
    password.setFocus();
    QTest::keyClicks(&password, "longsecret12");
    EXPECT_FALSE(password.isReadOnly());
    EXPECT_EQ(password.text(), "LONGSECRET") << "the caller's limit of 10 holds";
    EXPECT_EQ(password.displayText(), "**********");
    QTest::keyClick(&password, Qt::Key_Backspace);
    EXPECT_EQ(password.text(), "LONGSECRE");
    password.SetReadOnly(true);
    QTest::keyClicks(&password, "x");
    EXPECT_EQ(password.text(), "LONGSECRE");
}

}  // namespace
}  // namespace veltra_test
