// The search window over a real log: where each search leaves the cursor,
// what it says, what it compares, and Cancel during a long search.
#include "app/dialogs/searchform.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "platform/format_settings.h"
#include "platform/qt/dialogs/scripted_dialogs.h"
#include "tests/appdialogs/test_log.h"

namespace veltra {
namespace {

using veltra_test::TTestLog;

class SearchFormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        InstallFormatSettings(UsFormatSettings());
        // IDs 1..6, in title order: 4 ABC, 6 Cafe, 3 Keyboard, 5 Mouse, 1 Printer, 2 Screen.
        m_Log.Add({.Title = "Printer jams", .Description = "Paper stuck in the tray"});
        m_Log.Add({.Title = "Screen flickers", .Description = "abc def"});
        m_Log.Add({.Title = "Keyboard", .Description = "The word abc appears here"});
        m_Log.Add({.Title = "ABC in the title"});
        // Stored as the edit window stores it: "Café Éclair" in RTF escapes.
        m_Log.Add({.Title = "Mouse", .Description = "Caf\\'e9 \\'c9clair"});
        m_Log.Add({.Title = "Cafe", .Description = "Nothing here"});
        m_Log.GoTo(1);
        m_Form.show();
    }

    void Type(const QString& text, bool caseSensitive = false) {
        m_Form.TextEdit()->clear();
        veltra_test::TypeText(m_Form.TextEdit(), text);
        m_Form.CaseBox()->setChecked(caseSensitive);
    }
    void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    TTestLog m_Log;
    Tsearchform m_Form{m_Log.Table()};
    TScriptedDialogs m_Dialogs;
};

TEST_F(SearchFormTest, FindTestsTheCurrentTicketAndFindNextWalksEveryMatch) {
    m_Log.GoTo(2);
    Type("abc");
    Click(m_Form.FindButton());
    EXPECT_EQ(m_Log.CurrentId(), 2);
    std::vector<int> walked;
    for (int i = 0; i < 2; ++i) {
        Click(m_Form.FindNextButton());
        walked.push_back(m_Log.CurrentId());
    }
    EXPECT_EQ(walked, (std::vector<int>{3, 4}));
    EXPECT_TRUE(m_Dialogs.Messages().isEmpty());

    // After the last match Find Next finds nothing and stays on that match.
    m_Dialogs.Answer();
    Click(m_Form.FindNextButton());
    EXPECT_EQ(m_Log.CurrentId(), 4);
    EXPECT_EQ(m_Dialogs.Messages(), QStringList{"Text not found."});
    EXPECT_TRUE(m_Dialogs.Unexpected().isEmpty());
}

TEST_F(SearchFormTest, FindNextOnTheLastTicketOfTheViewSaysNotFound) {
    m_Log.GoTo(6);  // "Cafe" matches itself and is the last ticket
    Type("cafe");
    Click(m_Form.FindButton());
    EXPECT_EQ(m_Log.CurrentId(), 6);
    m_Dialogs.Answer();
    Click(m_Form.FindNextButton());
    EXPECT_EQ(m_Log.CurrentId(), 6);
    EXPECT_EQ(m_Dialogs.Messages(), QStringList{"Text not found."});
}

// Where "&Find" from ticket 1 lands, or 0 for "Text not found.".
struct TFindCase {
    const char* Text;
    bool CaseSensitive;
    int FoundId;
};

TEST_F(SearchFormTest, ComparesTheVisibleWordsWithOrWithoutCase) {
    const TFindCase cases[] = {
        {"abc", false, 2},        // description, any case
        {"abc", true, 2},         // description, exact case
        {"ABC", true, 4},         // only the title has upper case
        {"  stuck  ", false, 1},  // blanks around the text are ignored
        {"STUCK", true, 0},       // case sensitive: not in that case
        {"\xC3\xA9", false, 5},   // é finds É and é by the locale's upper case
        {"\xC3\xA9"
         "CLAIR",
         false, 5},  // é / É across the upper-cased text
        {"\xC3\xA9"
         "CLAIR",
         true, 0},
        {"Arial", false, 0},  // only in the RTF font table
        {"par", false, 0},    // only in the RTF paragraph marks
        {"rtf1", false, 0},
        {"fonttbl", false, 0},
        {"zzz", false, 0},
        {"\xC3\xBC", false, 0},  // ü: no false match among accented letters
        {"'e9", false, 0},       // the escape itself is markup
    };
    for (const TFindCase& c : cases) {
        SCOPED_TRACE(c.Text);
        m_Log.GoTo(1);
        m_Dialogs.ClearRecord();
        if (c.FoundId == 0) m_Dialogs.Answer();
        Type(QString::fromUtf8(c.Text), c.CaseSensitive);
        ASSERT_EQ(m_Form.TextEdit()->text(), QString::fromUtf8(c.Text));
        Click(m_Form.FindButton());
        EXPECT_EQ(m_Log.CurrentId(), c.FoundId == 0 ? 1 : c.FoundId);
        EXPECT_EQ(m_Dialogs.Messages(),
                  c.FoundId == 0 ? QStringList{"Text not found."} : QStringList{});
        EXPECT_TRUE(m_Dialogs.Unexpected().isEmpty());
    }
}

TEST_F(SearchFormTest, WalksTheCurrentOrderAndFilterAndReturnsToTheStartOnAMiss) {
    TVeltraTable& table = m_Log.Table();
    table.SetIndexName("Title");
    table.SetFilter("[ID] <> 3");
    table.SetFiltered(true);  // on the first ticket in title order: 4 "ABC in the title"
    ASSERT_EQ(m_Log.CurrentId(), 4);
    Type("e");
    std::vector<int> walked;
    for (int i = 0; i < 4; ++i) {
        Click(m_Form.FindNextButton());
        walked.push_back(m_Log.CurrentId());
    }
    // Title order without the filtered-out Keyboard (3): Cafe, Mouse, Printer, Screen.
    EXPECT_EQ(walked, (std::vector<int>{6, 5, 1, 2}));

    table.First();
    table.Next();  // Cafe
    m_Dialogs.Answer();
    Type("Keyboard");  // only in the ticket the filter hides
    Click(m_Form.FindButton());
    EXPECT_EQ(m_Log.CurrentId(), 6);
    EXPECT_EQ(table.IndexName(), "Title");
    EXPECT_EQ(m_Dialogs.Messages(), QStringList{"Text not found."});
}

TEST_F(SearchFormTest, ButtonsFollowTheTextAndEnterSearchesOn) {
    Type("   ");
    EXPECT_FALSE(m_Form.FindButton()->isEnabled());
    EXPECT_FALSE(m_Form.FindNextButton()->isEnabled());
    QTest::keyClick(m_Form.TextEdit(), Qt::Key_Return);  // blank: swallowed, nothing happens
    EXPECT_EQ(m_Log.CurrentId(), 1);
    EXPECT_TRUE(m_Dialogs.Requests().empty());

    Type("abc");
    EXPECT_TRUE(m_Form.FindButton()->isEnabled());
    EXPECT_TRUE(m_Form.FindNextButton()->isEnabled());
    QTest::keyClick(m_Form.TextEdit(), Qt::Key_Return);
    EXPECT_EQ(m_Log.CurrentId(), 2);
    QTest::keyClick(m_Form.TextEdit(), Qt::Key_Enter);
    EXPECT_EQ(m_Log.CurrentId(), 3);
    EXPECT_EQ(m_Form.TextEdit()->text(), "abc");
    EXPECT_TRUE(m_Form.isVisible());

    // Escape is Cancel: the window goes, the text stays for the next showing.
    QTest::keyClick(m_Form.TextEdit(), Qt::Key_Escape);
    EXPECT_FALSE(m_Form.isVisible());
    m_Form.show();
    EXPECT_EQ(m_Form.TextEdit()->text(), "abc");
    EXPECT_TRUE(m_Form.FindButton()->isEnabled());
}

TEST(SearchFormLongTest, CancelDuringASearchReturnsToTheStartWithoutAMessage) {
    InstallFormatSettings(UsFormatSettings());
    TTestLog log;
    log.AddMany(3000);
    log.GoTo(10);
    TScriptedDialogs dialogs;
    Tsearchform form(log.Table());
    form.show();
    QTest::keyClicks(form.TextEdit(), "found nowhere");

    // The first report of progress comes while the search runs; the user
    // clicks Cancel then, as a person would while the window shows it.
    qint64 searchedAtCancel = -1, total = -1;
    int reports = 0;
    QObject::connect(&form, &Tsearchform::Progress, [&](qint64 searched, qint64 all) {
        if (reports++ == 0) {
            searchedAtCancel = searched;
            total = all;
            EXPECT_TRUE(form.ProgressBar()->isVisible());
            QTest::mouseClick(form.CancelButton(), Qt::LeftButton);
        }
    });
    QTest::mouseClick(form.FindNextButton(), Qt::LeftButton);
    EXPECT_EQ(reports, 1);  // nothing more was searched after the Cancel
    EXPECT_EQ(searchedAtCancel, 1);
    EXPECT_EQ(total, 3000);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.Searching());
    EXPECT_EQ(log.CurrentId(), 10);
    EXPECT_TRUE(dialogs.Requests().empty());

    // Shown again, a search runs to the end and says so.
    form.show();
    dialogs.Answer();
    QTest::mouseClick(form.FindButton(), Qt::LeftButton);
    EXPECT_EQ(log.CurrentId(), 10);
    EXPECT_EQ(dialogs.Messages(), QStringList{"Text not found."});
    EXPECT_FALSE(form.ProgressBar()->isVisible());
}

}  // namespace
}  // namespace veltra
