// The ticket edit window, shown modally through the scripted dialogs service
// over a log copied from the program's ticket template, driven by keys and
// clicks; what it leaves in the log is read back from the files by a second
// table component.
#include "app/edit/editform.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <filesystem>
#include <stdexcept>

#include "app/edit/rich_toolbar.h"
#include "engine/veltra_table.h"
#include "platform/format_settings.h"
#include "platform/qt/controls/db_combo_box.h"
#include "platform/qt/controls/db_date_edit.h"
#include "platform/qt/controls/db_edit.h"
#include "platform/qt/controls/db_rich_edit.h"
#include "platform/qt/dialogs/scripted_dialogs.h"
#include "platform/qt/help/help_viewer.h"
#include "platform/rtf/rtf.h"

namespace veltra {
namespace {

constexpr const char* kToday = "3/14/2026";

// One stored ticket as read back from the files.
struct TStored {
    std::string Title, State, CloseDate, Owner, Priority, Description;
};

class EditFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallFormatSettings(UsFormatSettings());
        for (const char* ext : {".dat", ".idx", ".blb"})
            std::filesystem::copy_file(std::string(VELTRA_PROGRAM_DIR) + "/datamast" + ext,
                                       Path((std::string("log") + ext).c_str()));
        m_Table.SetTableName(Path("log.dat"));
        m_Table.Open();
        m_Source.SetDataSet(&m_Table);
        m_Dialogs.Fonts = QStringList{"Arial", "Courier New", "Liberation Serif"};
        m_Form = std::make_unique<Teditform>(&m_Source);
        m_Form->Today = [] { return QDate(2026, 3, 14); };
        m_Form->SetUserNames({"zed", "ann", "Bob"});
        m_Form->SetCategories({"Hardware", "Software"});
        // What the main window's history step would read at each post.
        m_Table.BeforePost = [this](TDataSet&) {
            m_ModifiedAtPost.push_back(m_Form->DescriptionModified());
        };
    }
    void TearDown() override {
        EXPECT_TRUE(m_Dialogs.Unexpected().isEmpty())
            << m_Dialogs.Unexpected().join("\n").toStdString();
        m_Form.reset();
    }

    TField& Field(const char* name) { return m_Table.FieldByName(name); }

    // Adds a ticket and leaves the table in browse state on it.
    void AddTicket(const std::string& title, const std::string& state,
                   const std::string& closeDate = "", const std::string& description = "") {
        m_Table.Insert();
        Field("Title").SetAsString(title);
        Field("Submitter").SetAsString("ann");
        Field("Submit date").SetAsString("3/1/2026");
        Field("State").SetAsString(state);
        Field("Priority").SetAsString("3");
        if (!closeDate.empty()) Field("Close date").SetAsString(closeDate);
        if (!description.empty()) m_Table.WriteBlob(Field("Description"), description);
        m_Table.Post();
    }
    // What the main window's Submit step leaves before showing the window.
    void BeginSubmit() {
        m_Table.Insert();
        Field("Submitter").SetAsString("ann");
        Field("Submit date").SetAsString(kToday);
        Field("State").SetAsString("Open");
    }
    // What its Edit step leaves.
    void BeginEdit() {
        m_Table.Edit();
        Field("Submit date").SetAsString(Field("Submit date").AsString());
    }

    // Every ticket in the log files, read by a second table component.
    std::vector<TStored> Stored() {
        TVeltraTable reader;
        reader.SetTableName(Path("log.dat"));
        reader.Open();
        std::vector<TStored> tickets;
        for (reader.First(); !reader.Eof(); reader.Next()) {
            TStored t;
            t.Title = reader.FieldByName("Title").AsString();
            t.State = reader.FieldByName("State").AsString();
            t.CloseDate = reader.FieldByName("Close date").AsString();
            t.Owner = reader.FieldByName("Owner").AsString();
            t.Priority = reader.FieldByName("Priority").AsString();
            t.Description = reader.ReadBlob(reader.FieldByName("Description"));
            tickets.push_back(t);
        }
        return tickets;
    }
    // The last ticket in the files (an empty one, and a failure, when none).
    TStored LastStored() {
        const std::vector<TStored> tickets = Stored();
        if (tickets.empty()) {
            ADD_FAILURE() << "no ticket stored";
            return {};
        }
        return tickets.back();
    }
    std::vector<std::string> StoredTitles() {
        std::vector<std::string> titles;
        for (const TStored& t : Stored()) titles.push_back(t.Title);
        return titles;
    }

    // Chooses `text` from a pick list's drop-down with the mouse.
    static void ChooseFromList(QComboBox* box, const QString& text) {
        const int row = box->findText(text);
        ASSERT_GE(row, 0) << text.toStdString();
        box->showPopup();
        QAbstractItemView* view = box->view();
        ASSERT_TRUE(view->isVisible());
        const QRect rect = view->visualRect(view->model()->index(row, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, rect.center());
        EXPECT_FALSE(view->isVisible());
        EXPECT_EQ(box->currentText(), text);
    }
    static void Type(QWidget* control, const QString& text) {
        control->setFocus();
        QTest::keyClicks(control, text);
    }
    void Ok() { QTest::mouseClick(m_Form->OkButton(), Qt::LeftButton); }

    QTemporaryDir m_Dir;
    std::string Path(const char* name) const { return m_Dir.filePath(name).toStdString(); }
    TScriptedDialogs m_Dialogs;
    TVeltraTable m_Table;
    TDataSource m_Source;
    std::unique_ptr<Teditform> m_Form;
    std::vector<bool> m_ModifiedAtPost;
};

TEST_F(EditFormTest, TheWindowIsLaidOutAsDescribed) {
    AddTicket("Printer", "Open");
    BeginEdit();
    m_Dialogs.Drive([&](QDialog& shown) {
        Teditform& f = *m_Form;
        EXPECT_EQ(&shown, &f);
        EXPECT_EQ(f.windowTitle(), "Submit/Edit Ticket");
        EXPECT_EQ(HelpTopic(&f), 4);
        EXPECT_TRUE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
        EXPECT_TRUE(f.OkButton()->isDefault());
        // Toolbar, editor panel, splitter, field panel, buttons from the top.
        const auto top = [&](QWidget* w) { return w->mapTo(&f, QPoint(0, 0)).y(); };
        EXPECT_LT(top(f.Toolbar()), top(f.Panel1()));
        EXPECT_LT(top(f.Panel1()), top(f.Panel4()));
        EXPECT_LT(top(f.Panel4()), top(f.OkButton()));
        EXPECT_EQ(f.Splitter1()->orientation(), Qt::Vertical);
        EXPECT_EQ(f.Splitter1()->widget(0), f.Panel1());
        EXPECT_EQ(f.Splitter1()->widget(1), f.Panel4());
        EXPECT_GE(f.Panel1()->minimumHeight(), 50);
        EXPECT_GE(f.Panel1()->height(), 50);
        EXPECT_TRUE(f.Panel1()->isAncestorOf(f.Editor()));
        EXPECT_TRUE(f.Panel4()->widget()->isAncestorOf(f.TitleEdit()));
        EXPECT_EQ(f.findChild<QSplitter*>("Splitter1"), f.Splitter1());
        EXPECT_EQ(f.findChild<QWidget*>("Panel1"), f.Panel1());
        EXPECT_EQ(f.findChild<QWidget*>("Panel4"), f.Panel4());
        // The editor: Arial 10, Tab is text, scroll bars as needed both ways.
        EXPECT_EQ(f.Editor()->document()->defaultFont().family(), "Arial");
        EXPECT_EQ(f.Editor()->document()->defaultFont().pointSize(), 10);
        EXPECT_FALSE(f.Editor()->tabChangesFocus());
        EXPECT_NE(f.Editor()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        EXPECT_NE(f.Editor()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        // Each field's accessible name and its label's buddy.
        const struct {
            QWidget* control;
            const char* label;
        } fields[] = {{f.TitleEdit(), "Title"},        {f.CategoryBox(), "Category"},
                      {f.PriorityEdit(), "Priority"},  {f.OtherEdit(), "Other"},
                      {f.StateBox(), "State"},         {f.CloseDateEdit(), "Close date"},
                      {f.OwnerBox(), "Owner"},         {f.SubmitterBox(), "Submitter"},
                      {f.SubmitDateEdit(), "Submit date"}};
        for (const auto& field : fields) {
            EXPECT_EQ(field.control->accessibleName(), field.label);
            bool labelled = false;
            for (QLabel* label : f.findChildren<QLabel*>())
                labelled |= label->text() == field.label && label->buddy() == field.control;
            EXPECT_TRUE(labelled) << field.label;
        }
        // Tab walks the fields in the order of the table, then the editor.
        EXPECT_EQ(QApplication::focusWidget(), f.TitleEdit());
        for (size_t i = 1; i < std::size(fields); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            EXPECT_EQ(QApplication::focusWidget(), fields[i].control) << fields[i].label;
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), f.Editor());
        // Tab inside the editor is text.
        QTest::keyClick(f.Editor(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), f.Editor());
        EXPECT_TRUE(f.Editor()->toPlainText().contains('\t'));
        QTest::mouseClick(f.CancelButton(), Qt::LeftButton);
    });
    EXPECT_EQ(m_Form->ShowModal(), QDialog::Rejected);
}

TEST_F(EditFormTest, TheListsHoldTheirItems) {
    EXPECT_EQ(m_Form->StateItems(),
              (QStringList{"Open", "Under investigation", "Close pending", "Closed"}));
    EXPECT_EQ(m_Form->SubmitterItems(), (QStringList{"ann", "Bob", "zed"}));
    EXPECT_EQ(m_Form->OwnerBox()->Items(), (QStringList{"ann", "Bob", "zed"}));
    EXPECT_EQ(m_Form->CategoryItems(), (QStringList{"Hardware", "Software"}));
    m_Form->SetCategories({"Network"});
    EXPECT_EQ(m_Form->CategoryItems(), QStringList{"Network"});
    m_Form->SetUserNames({"carl"});
    EXPECT_EQ(m_Form->SubmitterItems(), QStringList{"carl"});
}

TEST_F(EditFormTest, RightsEnableAndDisableTheirFields) {
    const struct {
        void (Teditform::*set)(bool);
        std::vector<QWidget*> controls;
    } cases[] = {
        {&Teditform::SetAdministrator, {m_Form->SubmitterBox(), m_Form->SubmitDateEdit()}},
        {&Teditform::SetCloseAllowed, {m_Form->StateBox(), m_Form->CloseDateEdit()}},
        {&Teditform::SetAssignAllowed, {m_Form->OwnerBox()}},
    };
    for (const auto& c : cases) {
        for (bool on : {false, true, false}) {
            (m_Form.get()->*c.set)(on);
            for (QWidget* control : c.controls)
                EXPECT_EQ(control->isEnabled(), on) << control->objectName().toStdString();
        }
        // The other fields are not touched.
        EXPECT_TRUE(m_Form->TitleEdit()->isEnabled());
    }
}

// Every way of closing the window, on a new ticket and on an edited one.
TEST_F(EditFormTest, EachWayOfClosingStoresOrAbandonsTheTicket) {
    enum class TClose { OkButton, EnterInField, CancelButton, Escape, CloseBoxYes, CloseBoxNo };
    const struct {
        const char* name;
        TClose how;
        bool stored;
        int result;
        QStringList messages;
    } cases[] = {
        {"OK", TClose::OkButton, true, QDialog::Accepted, {}},
        {"Enter in a field", TClose::EnterInField, true, QDialog::Accepted, {}},
        {"Cancel", TClose::CancelButton, false, QDialog::Rejected, {}},
        {"Escape", TClose::Escape, false, QDialog::Rejected, {}},
        {"close box, Yes", TClose::CloseBoxYes, true, QDialog::Rejected, {"Save changes?"}},
        {"close box, No", TClose::CloseBoxNo, false, QDialog::Rejected, {"Save changes?"}},
    };
    for (bool submit : {true, false}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (submit ? " (submit)" : " (edit)"));
            m_Dialogs.ClearRecord();
            const std::vector<std::string> before = StoredTitles();
            if (submit) {
                BeginSubmit();
            } else {
                AddTicket("old title", "Open");
                BeginEdit();
            }
            m_Dialogs.Drive([&](QDialog&) {
                QLineEdit* title = m_Form->TitleEdit();
                title->selectAll();
                Type(title, "new title");
                switch (c.how) {
                    case TClose::OkButton: Ok(); break;
                    case TClose::EnterInField: QTest::keyClick(title, Qt::Key_Return); break;
                    case TClose::CancelButton:
                        QTest::mouseClick(m_Form->CancelButton(), Qt::LeftButton);
                        break;
                    case TClose::Escape:
                        // The first Escape takes back the field's pending text.
                        QTest::keyClick(title, Qt::Key_Escape);
                        EXPECT_TRUE(m_Form->isVisible());
                        QTest::keyClick(title, Qt::Key_Escape);
                        break;
                    case TClose::CloseBoxYes:
                        m_Dialogs.Answer(TMessageAnswer::Yes);
                        m_Form->close();
                        break;
                    case TClose::CloseBoxNo:
                        m_Dialogs.Answer(TMessageAnswer::No);
                        m_Form->close();
                        break;
                }
            });
            EXPECT_EQ(m_Form->ShowModal(), c.result);
            EXPECT_FALSE(m_Form->isVisible());
            EXPECT_EQ(m_Table.State(), TDataSetState::Browse);
            EXPECT_EQ(m_Dialogs.Messages(), c.messages);
            std::vector<std::string> expected = before;
            if (submit && c.stored) expected.push_back("new title");
            if (!submit) expected.push_back(c.stored ? "new title" : "old title");
            std::vector<std::string> titles = StoredTitles();
            std::sort(titles.begin(), titles.end());
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(titles, expected);
        }
    }
}

TEST_F(EditFormTest, TheStateRuleStampsAndClearsTheCloseDate) {
    const struct {
        const char* name;
        std::string closeDate;
        std::vector<std::pair<QString, std::string>> steps;  // chosen, close date after
    } cases[] = {
        {"a date already there is kept",
         "1/2/2026",
         {{"Closed", "1/2/2026"}, {"Open", ""}, {"Closed", kToday}}},
        {"an empty date is stamped", "", {{"Closed", kToday}, {"Close pending", ""}}},
        {"other states clear", "1/2/2026", {{"Under investigation", ""}, {"Open", ""}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AddTicket(c.name, "Open", c.closeDate);
        BeginEdit();
        m_Dialogs.Drive([&](QDialog&) {
            for (const auto& [state, after] : c.steps) {
                ChooseFromList(m_Form->StateBox(), state);
                EXPECT_EQ(Field("Close date").AsString(), after) << state.toStdString();
                EXPECT_EQ(m_Form->CloseDateEdit()->Date().isValid(), !after.empty());
            }
            Ok();
        });
        EXPECT_EQ(m_Form->ShowModal(), QDialog::Accepted);
        const TStored last = LastStored();
        EXPECT_EQ(last.Title, c.name);
        EXPECT_EQ(last.State, c.steps.back().first.toStdString());
        EXPECT_EQ(last.CloseDate, c.steps.back().second);
    }
}

TEST_F(EditFormTest, TypingTheStateAppliesTheRuleToTheWholeText) {
    AddTicket("typed", "Open");
    BeginEdit();
    m_Dialogs.Drive([&](QDialog&) {
        QLineEdit* line = m_Form->StateBox()->lineEdit();
        line->selectAll();
        Type(m_Form->StateBox(), "Closed");
        EXPECT_EQ(Field("Close date").AsString(), kToday);
        Type(m_Form->StateBox(), "!");  // "Closed!" is another text
        EXPECT_EQ(Field("Close date").AsString(), "");
        Ok();
    });
    EXPECT_EQ(m_Form->ShowModal(), QDialog::Accepted);
    EXPECT_EQ(LastStored().State, "Closed!");
}

TEST_F(EditFormTest, AnEmptyDescriptionAcceptedUntouchedIsNoDescriptionChange) {
    BeginSubmit();
    m_Dialogs.Drive([&](QDialog&) {
        EXPECT_FALSE(m_Form->DescriptionModified());
        Type(m_Form->TitleEdit(), "quiet");
        Ok();
    });
    EXPECT_EQ(m_Form->ShowModal(), QDialog::Accepted);
    EXPECT_EQ(m_ModifiedAtPost, std::vector<bool>{false});
    EXPECT_FALSE(m_Form->DescriptionModified());
    EXPECT_EQ(StoredTitles(), std::vector<std::string>{"quiet"});
}

TEST_F(EditFormTest, ATypedDescriptionIsStoredAsRtfAndReportedModified) {
    AddTicket("with text", "Open", "", WriteRtf(ReadRtf("{\\rtf1 Old words\\par}")));
    m_ModifiedAtPost.clear();
    BeginEdit();
    m_Dialogs.Drive([&](QDialog&) {
        m_Form->Editor()->setFocus();
        QTest::keyClick(m_Form->Editor(), Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(m_Form->Editor(), " and new");
        EXPECT_TRUE(m_Form->DescriptionModified());
        Ok();
    });
    EXPECT_EQ(m_Form->ShowModal(), QDialog::Accepted);
    EXPECT_EQ(m_ModifiedAtPost, std::vector<bool>{true});
    EXPECT_TRUE(m_Form->DescriptionModified());  // after the close, until the next show
    const std::string stored = LastStored().Description;
    EXPECT_EQ(RtfPlainText(stored).find("Old words and new") != std::string::npos, true)
        << stored;
    ASSERT_GE(stored.size(), kRtfClosing.size());
    EXPECT_EQ(stored.substr(stored.size() - kRtfClosing.size()), kRtfClosing);

    // The next showing starts unmodified again.
    BeginEdit();
    m_Dialogs.Drive([&](QDialog&) {
        EXPECT_FALSE(m_Form->DescriptionModified());
        Ok();
    });
    m_Form->ShowModal();
    EXPECT_FALSE(m_Form->DescriptionModified());
}

// The toolbar follows the description's format when the window is shown.
TEST_F(EditFormTest, ShowingBringsTheToolbarInLineWithTheDescription) {
    const struct {
        const char* name;
        const char* rtf;
        bool bold;
        const char* size;
        const char* font;
    } cases[] = {
        {"empty", "", false, "10", "Arial"},
        {"bold Courier 12", "{\\rtf1{\\fonttbl{\\f0 Courier New;}}\\f0\\b\\fs24 Bold text\\par}",
         true, "12", "Courier New"},
        // 13 points is not in the size list: it keeps its first entry.
        {"size 13", "{\\rtf1{\\fonttbl{\\f0 Arial;}}\\f0\\fs26 Odd size\\par}", false, "7",
         "Arial"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string rtf = *c.rtf ? WriteRtf(ReadRtf(c.rtf)) : std::string();
        AddTicket(c.name, "Open", "", rtf);
        BeginEdit();
        m_Dialogs.Drive([&](QDialog&) {
            TRichToolbar* bar = m_Form->Toolbar();
            QStringList fonts;
            for (int i = 0; i < bar->FontName()->count(); ++i) fonts << bar->FontName()->itemText(i);
            EXPECT_EQ(fonts, *m_Dialogs.Fonts);
            EXPECT_EQ(bar->BoldButton()->isChecked(), c.bold);
            EXPECT_EQ(bar->FontSize()->currentText(), c.size);
            EXPECT_EQ(bar->FontName()->currentText(), c.font);
            EXPECT_TRUE(bar->LeftButton()->isChecked());
            EXPECT_FALSE(m_Form->DescriptionModified());
            EXPECT_EQ(QApplication::focusWidget(), m_Form->TitleEdit());
            QTest::mouseClick(m_Form->CancelButton(), Qt::LeftButton);
        });
        EXPECT_EQ(m_Form->ShowModal(), QDialog::Rejected);
    }
}

TEST_F(EditFormTest, ToolbarActionsFormatTheDescriptionThatIsStored) {
    BeginSubmit();
    m_Dialogs
        .Drive([&](QDialog&) {
            Type(m_Form->TitleEdit(), "formatted");
            QTextEdit* editor = m_Form->Editor();
            TRichToolbar* bar = m_Form->Toolbar();
            editor->setFocus();
            QTest::mouseClick(bar->BoldButton(), Qt::LeftButton);
            QTest::mouseClick(bar->ColourButton(), Qt::LeftButton);
            QTest::mouseClick(bar->CenterButton(), Qt::LeftButton);
            editor->setFocus();
            QTest::keyClicks(editor, "Loud");
            EXPECT_TRUE(bar->BoldButton()->isChecked());
            EXPECT_TRUE(bar->CenterButton()->isChecked());
            Ok();
        })
        .AnswerColour(QColor(0x12, 0x34, 0x56));
    EXPECT_EQ(m_Form->ShowModal(), QDialog::Accepted);
    const TRtfDocument stored = ReadRtf(LastStored().Description);
    ASSERT_FALSE(stored.Paragraphs.empty());
    const TRtfParagraph& first = stored.Paragraphs.front();
    EXPECT_EQ(first.Alignment, TRtfAlignment::Center);
    ASSERT_FALSE(first.Runs.empty());
    EXPECT_EQ(first.Runs.front().Text, "Loud");
    EXPECT_TRUE(first.Runs.front().Bold);
    EXPECT_EQ(first.Runs.front().Color, std::optional<uint32_t>(0x123456));
}

TEST_F(EditFormTest, AFailedPostIsShownAndTheWindowStaysOpen) {
    BeginSubmit();
    bool refuse = true;
    m_Table.BeforePost = [&](TDataSet&) {
        if (refuse) throw std::runtime_error("Record locked by another user");
    };
    m_Dialogs
        .Drive([&](QDialog&) {
            Type(m_Form->TitleEdit(), "refused");
            Ok();
            EXPECT_TRUE(m_Form->isVisible());
            EXPECT_EQ(m_Table.State(), TDataSetState::Insert);
            EXPECT_EQ(Field("Title").AsString(), "refused");
            // The save request stands: Cancel closes without asking.
            QTest::mouseClick(m_Form->CancelButton(), Qt::LeftButton);
        })
        .Answer(TMessageAnswer::Ok);
    EXPECT_EQ(m_Form->ShowModal(), QDialog::Rejected);
    EXPECT_EQ(m_Dialogs.Messages(), QStringList{"Record locked by another user"});
    EXPECT_EQ(m_Dialogs.Requests()[1].Kind, TMessageKind::Error);
    EXPECT_TRUE(StoredTitles().empty());

    // A second try that succeeds after the failure stores the ticket.
    m_Dialogs.ClearRecord();
    BeginSubmit();
    m_Dialogs
        .Drive([&](QDialog&) {
            Type(m_Form->TitleEdit(), "second");
            Ok();
            EXPECT_TRUE(m_Form->isVisible());
            refuse = false;
            // The close box now asks nothing and the refresh stores it.
            m_Form->close();
        })
        .Answer(TMessageAnswer::Ok);
    EXPECT_EQ(m_Form->ShowModal(), QDialog::Rejected);
    EXPECT_EQ(m_Dialogs.Messages(), QStringList{"Record locked by another user"});
    EXPECT_EQ(StoredTitles(), std::vector<std::string>{"second"});
}

TEST_F(EditFormTest, OkOnARecordThatCannotBeEditedCancelsSilently) {
    AddTicket("locked", "Open");
    m_ModifiedAtPost.clear();
    m_Table.BeforeEdit = [](TDataSet&) { throw std::runtime_error("Record locked"); };
    m_Dialogs.Drive([&](QDialog&) { Ok(); });
    EXPECT_EQ(m_Form->ShowModal(), QDialog::Accepted);
    EXPECT_TRUE(m_Dialogs.Messages().isEmpty());
    EXPECT_EQ(m_Table.State(), TDataSetState::Browse);
    EXPECT_TRUE(m_ModifiedAtPost.empty());
    EXPECT_EQ(StoredTitles(), std::vector<std::string>{"locked"});
}

TEST_F(EditFormTest, OkPutsABrowsedRecordIntoEditAndPostsIt) {
    AddTicket("browsed", "Open");
    m_ModifiedAtPost.clear();
    m_Dialogs.Drive([&](QDialog&) {
        EXPECT_EQ(m_Table.State(), TDataSetState::Browse);
        Ok();
    });
    EXPECT_EQ(m_Form->ShowModal(), QDialog::Accepted);
    // Nothing changed, so the refresh after the post finds nothing to write;
    // the post itself ran once.
    EXPECT_EQ(m_ModifiedAtPost.size(), 1u);
    EXPECT_EQ(StoredTitles(), std::vector<std::string>{"browsed"});
}

}  // namespace
}  // namespace veltra
