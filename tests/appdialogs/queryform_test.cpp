// The query builder over a real log: the lines each button writes, the
// connectives, Delete, Execute on the main table, saved query files, and
// date conditions in two locales read back by the engine.
#include "app/dialogs/queryform.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "app/dialogs/cboxform.h"
#include "app/dialogs/getdateform.h"
#include "platform/format_settings.h"
#include "platform/qt/controls/db_date_edit.h"
#include "platform/qt/dialogs/scripted_dialogs.h"
#include "tests/appdialogs/test_log.h"

namespace veltra {
namespace {

using veltra_test::TTestLog;

const QStringList kGridFields = {"[ID]",    "[Title]",    "[Submitter]",  "[Submit date]",
                                 "[State]", "[Priority]", "[Close date]", "[Category]",
                                 "[Owner]", "[Other]",    "[Last update]"};

class QueryFormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        InstallFormatSettings(UsFormatSettings());
        m_Log.Add({.Title = "Printer jams",
                   .State = "Open",
                   .Category = "Hardware",
                   .SubmitDate = "3/14/2026",
                   .Priority = 1});
        m_Log.Add({.Title = "abc first",
                   .State = "Closed",
                   .Category = "Software",
                   .SubmitDate = "3/15/2026",
                   .Priority = 2});
        m_Log.Add({.Title = "ABC second",
                   .State = "Open",
                   .Category = "Software",
                   .SubmitDate = "3/14/2026",
                   .Priority = 3});
        m_Log.Table().SetFilterOptions({.CaseInsensitive = true});
        m_Log.GoTo(1);
        m_Form.SetInputDialogs(&m_DateForm, &m_PickForm);
        m_Form.PickItems = [](TQueryPickList list) {
            switch (list) {
                case TQueryPickList::State:
                    return QStringList{"Open", "Closed", "Close pending"};
                case TQueryPickList::Category:
                    return QStringList{"Software", "Hardware"};
                case TQueryPickList::Submitter:
                    break;
            }
            return QStringList{"bob", "ann"};
        };
        m_Form.OnQueryApplied = [this] { ++m_Applied; };
        m_Form.SetFields(kGridFields);
        m_Form.show();
    }
    void TearDown() override { InstallFormatSettings(UsFormatSettings()); }

    void Click(const QString& caption) {
        QPushButton* b = m_Form.Button(caption);
        ASSERT_NE(b, nullptr) << caption.toStdString();
        QTest::mouseClick(b, Qt::LeftButton);
    }
    static void ClickRow(QListWidget* list, int row) {
        const QRect r = list->visualItemRect(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
    }
    void PickField(const QString& entry) {
        ClickRow(m_Form.FieldList(), int(kGridFields.indexOf(entry)));
    }
    // One condition with a prompted value.
    void AddPrompted(const QString& entry, const QString& op, const QString& answer) {
        m_Dialogs.AnswerPrompt(answer);
        PickField(entry);
        Click(op);
    }
    // One condition with a date typed into the date dialog ("" leaves it empty).
    void AddDate(const QString& entry, const QString& op, const QString& digits) {
        m_Dialogs.Drive([digits](QDialog& d) {
            auto& form = static_cast<Tgetdateform&>(d);
            form.DateEdit()->selectAll();
            QTest::keyClick(form.DateEdit(), Qt::Key_Delete);
            form.DateEdit()->home(false);
            QTest::keyClicks(form.DateEdit(), digits);
            QTest::mouseClick(form.OkButton(), Qt::LeftButton);
        });
        PickField(entry);
        Click(op);
    }
    int64_t Count() { return m_Log.Table().RecordCount(); }

    TTestLog m_Log;
    TScriptedDialogs m_Dialogs;
    Tqueryform m_Form{m_Log.Table(), m_Log.ProgramFolder()};
    Tgetdateform m_DateForm;
    Tcboxform m_PickForm;
    int m_Applied = 0;
};

struct TLineCase {
    const char* Field;
    const char* Op;
    const char* Answer;
    const char* Line;
};

TEST_F(QueryFormTest, EachComparisonWritesItsLine) {
    const TLineCase cases[] = {
        {"[Title]", "=", "abc", "[Title] = 'abc*'"},
        {"[Title]", "<>", "abc", "[Title] <> 'abc'"},
        {"[Title]", "=", "   ", "[Title] = ''"},
        {"[Title]", "=", " it's ", "[Title] = 'it''s*'"},
        {"[Other]", ">", " x ", "[Other] > 'x'"},
        {"[ID]", "=", "", "[ID] = null"},
        {"[ID]", "<", "  ", "[ID] < null"},
        {"[Priority]", ">", "3", "[Priority] > 3"},
        {"[Priority]", "<>", "-12", "[Priority] <> -12"},
    };
    for (const TLineCase& c : cases) {
        SCOPED_TRACE(c.Line);
        m_Dialogs.ClearRecord();
        Click("Clear");
        AddPrompted(c.Field, c.Op, c.Answer);
        EXPECT_EQ(m_Form.QueryLines(), QStringList{c.Line});
        ASSERT_EQ(m_Dialogs.Requests().size(), 1u);
        EXPECT_EQ(m_Dialogs.Requests()[0].Caption, c.Field);
        EXPECT_EQ(m_Dialogs.Requests()[0].Text, QString(c.Field) + " " + c.Op + " :");
        EXPECT_TRUE(m_Dialogs.Unexpected().isEmpty());
    }
}

TEST_F(QueryFormTest, RefusedAndCancelledValuesAddNoLine) {
    m_Dialogs.AnswerPrompt(QString("12x")).Answer();  // the answer, then the error box
    PickField("[ID]");
    Click("=");
    m_Dialogs.AnswerPrompt(QString("99999999999")).Answer();
    PickField("[Priority]");
    Click("=");
    m_Dialogs.AnswerPrompt(std::nullopt);
    PickField("[Title]");
    Click("=");
    m_Dialogs.Drive([](QDialog& d) {
        QTest::mouseClick(static_cast<Tgetdateform&>(d).CancelButton(), Qt::LeftButton);
    });
    PickField("[Close date]");
    Click("<");
    EXPECT_TRUE(m_Form.QueryLines().isEmpty());
    EXPECT_EQ(m_Dialogs.Messages(),
              (QStringList{"Integer value expected", "Integer value expected"}));
    EXPECT_TRUE(m_Dialogs.Unexpected().isEmpty());
}

TEST_F(QueryFormTest, ConnectivesAndDeleteKeepTheListWellFormed) {
    AddPrompted("[Title]", "=", "abc");
    AddPrompted("[ID]", ">", "1");
    AddPrompted("[Other]", "<>", "x");
    EXPECT_EQ(m_Form.QueryLines(),
              (QStringList{"[Title] = 'abc*'", "OR      [ID] > 1", "OR      [Other] <> 'x'"}));
    ClickRow(m_Form.QueryList(), 1);
    Click("AND NOT");
    ClickRow(m_Form.QueryList(), 2);
    Click("AND");
    ClickRow(m_Form.QueryList(), 0);
    Click("AND");  // the first line has no connective to change
    EXPECT_EQ(m_Form.QueryLines(),
              (QStringList{"[Title] = 'abc*'", "AND NOT [ID] > 1", "AND     [Other] <> 'x'"}));
    ClickRow(m_Form.QueryList(), 1);
    Click("OR");
    EXPECT_EQ(m_Form.QueryLines()[1], "OR      [ID] > 1");

    ClickRow(m_Form.QueryList(), 0);
    Click("Delete");
    EXPECT_EQ(m_Form.QueryLines(), (QStringList{"[ID] > 1", "AND     [Other] <> 'x'"}));
    ClickRow(m_Form.QueryList(), 0);
    Click("Delete");
    EXPECT_EQ(m_Form.QueryLines(), (QStringList{"[Other] <> 'x'"}));
    Click("Clear");
    EXPECT_TRUE(m_Form.QueryLines().isEmpty());
}

TEST_F(QueryFormTest, PickFieldsOfferTheEditWindowsLists) {
    struct {
        const char* Field;
        QStringList Items;
        const char* Typed;
        const char* Line;
    } const cases[] = {
        {"[State]", {"Close pending", "Closed", "Open"}, " Closed ", "[State] = 'Closed'"},
        {"[Category]", {"Hardware", "Software"}, "Soft'ware", "[Category] = 'Soft''ware'"},
        {"[Owner]", {"ann", "bob"}, "bob", "[Owner] = 'bob'"},
        {"[Submitter]", {"ann", "bob"}, "ann", "[Submitter] = 'ann'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Field);
        Click("Clear");
        QStringList shownItems;
        QString caption, startText;
        m_Dialogs.Drive([&](QDialog& d) {
            auto& form = static_cast<Tcboxform&>(d);
            shownItems = form.Items();
            caption = form.windowTitle();
            startText = form.Text();
            QTest::keyClicks(form.ComboBox(), c.Typed);
            QTest::mouseClick(form.OkButton(), Qt::LeftButton);
        });
        PickField(c.Field);
        Click("=");
        EXPECT_EQ(shownItems, c.Items);  // sorted, and emptied before each filling
        EXPECT_EQ(caption, c.Field);
        EXPECT_EQ(startText, "");
        EXPECT_EQ(m_Form.QueryLines(), QStringList{c.Line});
    }
    EXPECT_TRUE(m_Dialogs.Unexpected().isEmpty());
}

TEST_F(QueryFormTest, ExecuteFiltersTheMainTableAndCloses) {
    AddPrompted("[Title]", "=", "ABC");
    AddPrompted("[Priority]", ">", "2");
    ClickRow(m_Form.QueryList(), 1);
    Click("AND");
    Click("Execute");
    EXPECT_FALSE(m_Form.isVisible());
    EXPECT_EQ(m_Form.result(), QDialog::Accepted);
    EXPECT_EQ(m_Applied, 1);
    TVeltraTable& table = m_Log.Table();
    EXPECT_EQ(table.Filter(), "[Title] = 'ABC*'\r\nAND     [Priority] > 2\r\n");
    EXPECT_TRUE(table.Filtered());
    EXPECT_EQ(Count(), 1);
    EXPECT_EQ(m_Log.CurrentId(), 3);
    // The list survives for the next showing.
    m_Form.show();
    EXPECT_EQ(m_Form.QueryLines().size(), 2);
    EXPECT_EQ(m_Form.FieldList()->currentRow(), 0);

    // An empty query shows every ticket, filtering on.
    Click("Clear");
    Click("Execute");
    EXPECT_EQ(table.Filter(), "");
    EXPECT_TRUE(table.Filtered());
    EXPECT_EQ(Count(), 3);
    EXPECT_EQ(m_Applied, 2);
}

TEST_F(QueryFormTest, AFilterTheEngineRefusesKeepsTheWindowAndThePreviousFilter) {
    TVeltraTable& table = m_Log.Table();
    table.SetFilter("[ID] > 1");
    table.SetFiltered(true);
    AddPrompted("[ID]", ">", "");  // "[ID] > null": null only goes with = and <>
    m_Dialogs.Answer();
    Click("Execute");
    ASSERT_EQ(m_Dialogs.Messages().size(), 1);
    EXPECT_TRUE(m_Dialogs.Messages()[0].contains("NULL")) << m_Dialogs.Messages()[0].toStdString();
    EXPECT_TRUE(m_Form.isVisible());
    EXPECT_EQ(m_Applied, 0);
    EXPECT_EQ(table.Filter(), "[ID] > 1");
    EXPECT_EQ(Count(), 2);

    Click("Cancel");
    EXPECT_FALSE(m_Form.isVisible());
    EXPECT_EQ(m_Applied, 0);
}

TEST_F(QueryFormTest, SavedQueriesComeBackAsTheyWere) {
    AddPrompted("[Title]", "=", "it's");
    AddPrompted("[ID]", "<>", "");
    ClickRow(m_Form.QueryList(), 1);
    Click("AND NOT");
    const QStringList lines = m_Form.QueryLines();
    const QString path = m_Log.DataFolder() + "/mine.qry";
    m_Dialogs.AnswerSaveFile(path);
    Click("Save");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "[Title] = 'it''s*'\r\nAND NOT [ID] <> null\r\n");
    file.close();

    Click("Clear");
    AddPrompted("[Other]", "=", "replaced");
    m_Dialogs.AnswerOpenFile(path);
    Click("Open");
    EXPECT_EQ(m_Form.QueryLines(), lines);
    // Both dialogs start in the data folder and offer only saved queries.
    const auto& requests = m_Dialogs.Requests();
    ASSERT_GE(requests.size(), 2u);
    const TDialogRequest& open = requests.back();
    EXPECT_EQ(open.What, TDialogRequest::TWhat::OpenFile);
    EXPECT_EQ(open.Caption, "Open Query");
    EXPECT_EQ(open.Default, m_Log.DataFolder());
    EXPECT_EQ(open.Filter, "Saved Query Files (*.qry)");
    EXPECT_EQ(m_Form.QueryFolder(), m_Log.DataFolder());

    // A file that cannot be read is reported and changes nothing.
    m_Dialogs.AnswerOpenFile(m_Log.DataFolder() + "/missing.qry").Answer();
    Click("Open");
    EXPECT_EQ(m_Form.QueryLines(), lines);
    EXPECT_TRUE(m_Dialogs.Messages().last().contains("missing.qry"));
    EXPECT_TRUE(m_Dialogs.Unexpected().isEmpty());
}

// A date condition typed in a locale's short date form, and the tickets the
// engine then lets through.
struct TDateCase {
    const char* Locale;
    const char* Digits;  // typed into the date field
    const char* Shown;   // the date as written into the line
    const char* Empty;   // the empty field
    int64_t Count;       // tickets submitted that day
};

TEST_F(QueryFormTest, DateConditionsFollowTheUsersLocaleAndTheEngineReadsThem) {
    const TDateCase cases[] = {
        {"de_DE", "14032026", "14.03.2026", "  .  .    ", 2},
        {"en_US", "03152026", "03/15/2026", "  /  /    ", 1},
    };
    for (const TDateCase& c : cases) {
        SCOPED_TRACE(c.Locale);
        InstallLocaleFormatSettings(c.Locale);
        m_Form.show();
        Click("Clear");
        m_Dialogs.Drive([&](QDialog& d) {
            auto& form = static_cast<Tgetdateform&>(d);
            form.DateEdit()->setText(QString());
            EXPECT_EQ(form.DateText(), c.Empty);
            QTest::mouseClick(form.OkButton(), Qt::LeftButton);
        });
        PickField("[Close date]");
        Click("=");
        AddDate("[Submit date]", "=", c.Digits);
        ClickRow(m_Form.QueryList(), 1);
        Click("AND");
        EXPECT_EQ(m_Form.QueryLines(),
                  (QStringList{"[Close date] = null",
                               QString("AND     [Submit date] = '%1'").arg(c.Shown)}));
        Click("Execute");
        EXPECT_FALSE(m_Form.isVisible());
        EXPECT_EQ(Count(), c.Count);
        // The date dialog keeps the date for the next condition.
        EXPECT_EQ(m_DateForm.DateText(), c.Shown);
    }
    EXPECT_TRUE(m_Dialogs.Unexpected().isEmpty());
}

}  // namespace
}  // namespace veltra
