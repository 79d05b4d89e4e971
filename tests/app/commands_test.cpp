// The main window's commands that lead to the other windows, driven as a
// person would through the real main window: the search window, the query
// builder and "Close Query", deleting a log, editing a log's categories, the
// user administration of the Admin and User menus, the FAQ and printing.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>

#include "app/dialogs/delfileform.h"
#include "app/dialogs/editcategoryform.h"
#include "app/dialogs/faqform.h"
#include "app/dialogs/queryform.h"
#include "app/dialogs/searchform.h"
#include "app/edit/editform.h"
#include "app/mainform.h"
#include "engine/veltra_table.h"
#include "platform/qt/controls/db_combo_box.h"
#include "platform/qt/controls/db_edit.h"
#include "platform/qt/controls/db_grid.h"
#include "platform/qt/controls/db_navigator.h"
#include "print/forms/pform.h"
#include "print/forms/pform2.h"
#include "print/forms/printallform.h"
#include "tests/app/app_fixture.h"
#include "users/admin/accessform.h"
#include "users/admin/adduserform.h"
#include "users/admin/chgaccessform.h"
#include "users/admin/delusersform.h"
#include "users/admin/passwordchangeform.h"
#include "users/getuserform2.h"
#include "users/user_context.h"

namespace veltra {
namespace {

class CommandsTest : public TAppTest {
  protected:
    // The administrator and gus (Managers), the log "tickets" open.
    void StartWithLog(const std::vector<TTestTicket>& tickets, const QString& user = "Admin") {
        AddUsers({{"Admin", "", "", true}, {"gus", "", "Managers", false}});
        MakeLog("tickets", tickets);
        StartAs(user);
        ASSERT_FALSE(Main().Ended());
        OpenFromList("tickets.dat");
        ASSERT_TRUE(Main().table1().Active());
        m_Dialogs.ClearRecord();
    }
    QAction* Item(QMenu* menu, const QString& caption) {
        QAction* action = Main().MenuItem(menu, caption);
        EXPECT_NE(action, nullptr) << caption.toStdString();
        return action;
    }
    QString CurrentTitle() {
        return QString::fromStdString(Main().table1().FieldByName("Title").AsString());
    }
    int GridRows() { return Main().DBGrid1()->model()->rowCount(); }
    int GridCurrentRow() { return Main().DBGrid1()->currentIndex().row(); }
    QStringList Listed() {
        QStringList names;
        for (int i = 0; i < Main().FileListBox1()->count(); ++i)
            names << Main().FileListBox1()->item(i)->text();
        return names;
    }
    // The query builder's step: the field entry chosen with a click, then
    // the comparison button; the value is answered by the script.
    static void AddCondition(Tqueryform& query, const QString& field, const QString& op) {
        QListWidget* fields = query.FieldList();
        const QList<QListWidgetItem*> found = fields->findItems(field, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << field.toStdString();
        QTest::mouseClick(fields->viewport(), Qt::LeftButton, {},
                          fields->visualItemRect(found.first()).center());
        QTest::mouseClick(query.Button(op), Qt::LeftButton);
    }
    void ExpectNoSurprises() {
        EXPECT_TRUE(m_Dialogs.Unexpected().isEmpty())
            << m_Dialogs.Unexpected().join("\n").toStdString();
        EXPECT_EQ(m_Dialogs.Pending(), 0u);
    }
};

TEST_F(CommandsTest, SearchFindsATicketAndTheGridMovesToIt) {
    StartWithLog({{"Alpha", "gus", ""}, {"Printer jams", "gus", ""}, {"Gamma", "gus", ""}});
    ASSERT_EQ(CurrentTitle(), "Alpha");
    QTest::mouseClick(Main().searchbtn(), Qt::LeftButton);
    Tsearchform& search = *AllForms().searchform;
    // Modeless: shown beside the main window, nothing waits for it.
    ASSERT_TRUE(search.isVisible());
    EXPECT_FALSE(search.isModal());
    QTest::keyClicks(search.TextEdit(), "printer");
    QTest::mouseClick(search.FindButton(), Qt::LeftButton);
    EXPECT_EQ(CurrentTitle(), "Printer jams");
    EXPECT_EQ(GridCurrentRow(), 1);
    EXPECT_EQ(Main().StatusPanel(3), "Current Record: 2");

    // A text found nowhere leaves the grid where it was, with the message.
    m_Dialogs.Answer();
    search.TextEdit()->clear();
    QTest::keyClicks(search.TextEdit(), "nowhere");
    QTest::mouseClick(search.FindButton(), Qt::LeftButton);
    EXPECT_EQ(m_Dialogs.Messages(), QStringList{"Text not found."});
    EXPECT_EQ(CurrentTitle(), "Printer jams");
    QTest::mouseClick(search.CancelButton(), Qt::LeftButton);
    EXPECT_FALSE(search.isVisible());

    // Closing the log hides a search window left open beside it.
    QTest::mouseClick(Main().searchbtn(), Qt::LeftButton);
    ASSERT_TRUE(search.isVisible());
    Item(Main().filemenu(), "Close Current")->trigger();
    EXPECT_FALSE(search.isVisible());
    ExpectNoSurprises();
}

TEST_F(CommandsTest, QueryFiltersTheGridAndCloseQueryShowsAllAgain) {
    StartWithLog({{"Alpha", "gus", ""}, {"Beta", "gus", ""}, {"Alphabet", "gus", ""}});
    ASSERT_EQ(GridRows(), 3);
    EXPECT_FALSE(Main().closequerybtn()->isVisible());
    QStringList offered;
    m_Dialogs
        .Drive([&](QDialog& d) {
            auto& query = static_cast<Tqueryform&>(d);
            offered = query.Fields();
            AddCondition(query, "[Title]", "=");
            QTest::mouseClick(query.Button("Execute"), Qt::LeftButton);
        })
        .AnswerPrompt("alpha");
    QTest::mouseClick(Main().querybtn(), Qt::LeftButton);
    ExpectNoSurprises();
    // Every grid column, hidden ones included, in grid order.
    EXPECT_EQ(offered, (QStringList{"[ID]", "[Title]", "[Submitter]", "[Submit date]", "[State]",
                                    "[Priority]", "[Close date]", "[Category]", "[Owner]",
                                    "[Other]", "[Last update]"}));
    EXPECT_EQ(AllForms().queryform->QueryLines(), QStringList{"[Title] = 'alpha*'"});
    EXPECT_TRUE(Main().table1().Filtered());
    EXPECT_EQ(GridRows(), 2);
    EXPECT_EQ(CurrentTitle(), "Alpha");
    EXPECT_TRUE(Main().closequerybtn()->isVisible());

    QTest::mouseClick(Main().closequerybtn(), Qt::LeftButton);
    EXPECT_FALSE(Main().table1().Filtered());
    EXPECT_EQ(GridRows(), 3);
    EXPECT_FALSE(Main().closequerybtn()->isVisible());
    ExpectNoSurprises();
}

TEST_F(CommandsTest, CloseQueryOnlyWhileAFilterIsApplied) {
    StartWithLog({{"Alpha", "gus", ""}, {"Beta", "gus", ""}});
    MakeLog("other", {{"One", "gus", ""}, {"Two", "gus", ""}, {"Three", "gus", ""}});
    Main().RefreshLogList();

    // Cancel in the query builder applies nothing.
    m_Dialogs.Drive([&](QDialog& d) {
        QTest::mouseClick(static_cast<Tqueryform&>(d).Button("Cancel"), Qt::LeftButton);
    });
    QTest::mouseClick(Main().querybtn(), Qt::LeftButton);
    EXPECT_FALSE(Main().closequerybtn()->isVisible());
    EXPECT_FALSE(Main().table1().Filtered());

    // A query kept from the last showing is applied; opening another log
    // shows all of its tickets and hides "Close Query" again.
    m_Dialogs.Drive([&](QDialog& d) {
        auto& query = static_cast<Tqueryform&>(d);
        query.SetQueryLines({"[Title] = 'Beta'"});
        QTest::mouseClick(query.Button("Execute"), Qt::LeftButton);
    });
    QWidget* logPane = Main().findChild<QWidget*>("Panel2");
    const int paneWidth = logPane->width();
    QTest::mouseClick(Main().querybtn(), Qt::LeftButton);
    EXPECT_EQ(GridRows(), 1);
    EXPECT_TRUE(Main().closequerybtn()->isVisible());
    // The button takes no room from the log list, at any window width.
    QApplication::processEvents();
    EXPECT_EQ(logPane->width(), paneWidth);
    Main().resize(600, Main().height());
    QApplication::processEvents();
    EXPECT_EQ(logPane->width(), paneWidth);
    OpenFromList("other.dat");
    EXPECT_FALSE(Main().closequerybtn()->isVisible());
    EXPECT_FALSE(Main().table1().Filtered());
    EXPECT_EQ(GridRows(), 3);
    ExpectNoSurprises();
}

TEST_F(CommandsTest, DeleteLogClosesTheOpenLogRemovesItsFilesAndRefreshesTheList) {
    StartWithLog({{"Alpha", "gus", ""}});
    MakeLog("keep", {});
    WriteFile("data/tickets.txt", "Hardware\r\n");
    Main().RefreshLogList();
    ASSERT_EQ(Listed(), (QStringList{"keep.dat", "tickets.dat"}));
    QStringList listedInDialog;
    m_Dialogs
        .Drive([&](QDialog& d) {
            auto& del = static_cast<Tdelfileform&>(d);
            for (int i = 0; i < del.FileList()->count(); ++i)
                listedInDialog << del.FileList()->item(i)->text();
            QListWidgetItem* item =
                del.FileList()->findItems("tickets.dat", Qt::MatchExactly).value(0);
            ASSERT_NE(item, nullptr);
            const QPoint at = del.FileList()->visualItemRect(item).center();
            QTest::mouseClick(del.FileList()->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(del.FileList()->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseClick(del.CloseButton(), Qt::LeftButton);
        })
        .Answer(TMessageAnswer::Yes);
    Item(Main().filemenu(), "Delete Log")->trigger();
    ExpectNoSurprises();
    EXPECT_EQ(m_Dialogs.Messages(), QStringList{"Delete tickets.dat?"});
    EXPECT_EQ(listedInDialog, (QStringList{"keep.dat", "tickets.dat"}));
    // The log was closed before the dialog, so it could be deleted.
    EXPECT_FALSE(Main().table1().Active());
    for (const char* ext : {".dat", ".idx", ".blb"})
        EXPECT_EQ(ReadFile(QString("data/tickets") + ext), "<missing>") << ext;
    EXPECT_EQ(ReadFile("data/tickets.txt"), "Hardware\r\n");  // the category list stays
    EXPECT_EQ(Listed(), QStringList{"keep.dat"});
}

TEST_F(CommandsTest, EditCategoriesReplacesTheEditWindowsListAtOnce) {
    StartWithLog({{"Alpha", "gus", ""}});
    WriteFile("data/tickets.txt", "Hardware\r\n");
    // The list as the log was opened: none yet (the file came after).
    QStringList shown;
    m_Dialogs.Drive([&](QDialog& d) {
        auto& editor = static_cast<Teditcategoryform&>(d);
        shown = editor.Lines();
        QPlainTextEdit* area = editor.TextArea();
        area->setFocus();
        area->moveCursor(QTextCursor::End);
        if (!area->toPlainText().endsWith('\n')) QTest::keyClick(area, Qt::Key_Return);
        QTest::keyClicks(area, "Software licences and keys");
        QTest::mouseClick(editor.OkButton(), Qt::LeftButton);
    });
    Item(Main().filemenu(), "Edit Categories")->trigger();
    ExpectNoSurprises();
    EXPECT_EQ(shown, QStringList{"Hardware"});
    EXPECT_EQ(ReadFile("data/tickets.txt"), "Hardware\r\nSoftware licenc\r\n");
    EXPECT_EQ(AllForms().editform->CategoryItems(), (QStringList{"Hardware", "Software licenc"}));

    // Cancel writes nothing and keeps the list.
    m_Dialogs.Drive([&](QDialog& d) {
        auto& editor = static_cast<Teditcategoryform&>(d);
        editor.TextArea()->clear();
        QTest::mouseClick(editor.CancelButton(), Qt::LeftButton);
    });
    Item(Main().filemenu(), "Edit Categories")->trigger();
    EXPECT_EQ(ReadFile("data/tickets.txt"), "Hardware\r\nSoftware licenc\r\n");
    EXPECT_EQ(AllForms().editform->CategoryItems(), (QStringList{"Hardware", "Software licenc"}));
    ExpectNoSurprises();
}

TEST_F(CommandsTest, AUserAddedThroughTheAdminMenuCanLogInNextTime) {
    StartWithLog({});
    QString group;
    m_Dialogs
        .Drive([&](QDialog& d) {
            auto& add = static_cast<Tadduserform&>(d);
            QTest::keyClicks(add.UserNameEdit(), "zoe");
            QTest::keyClicks(add.PasswordEdit(), "pw");
            QTest::keyClicks(add.PasswordAgainEdit(), "pw");
            group = add.AccessLevelBox()->currentText();
            QTest::mouseClick(add.AddButton(), Qt::LeftButton);
            QTest::mouseClick(add.CloseButton(), Qt::LeftButton);
        })
        .Answer();
    Item(Main().adminmenu(), "Add Users")->trigger();
    ExpectNoSurprises();
    EXPECT_EQ(m_Dialogs.Messages(), QStringList{"User added."});
    ASSERT_FALSE(group.isEmpty());
    EXPECT_TRUE(UserRows().contains("zoe|PW|" + group + "|false"))
        << UserRows().join(" ").toStdString();

    // The next start lists the new user, who logs in with the password.
    Main().close();
    m_Forms.reset();
    UserContext() = TUserContext{};
    QStringList names;
    Start([&](Tgetuserform2& login) {
        for (int i = 0; i < login.UserBox()->count(); ++i) names << login.UserBox()->itemText(i);
        LoginAs(login, "zoe", "pw");
    });
    EXPECT_TRUE(names.contains("zoe")) << names.join(" ").toStdString();
    ASSERT_FALSE(Main().Ended());
    EXPECT_EQ(UserContext().UserName, "zoe");
    EXPECT_EQ(UserContext().GroupName, group);
    ExpectNoSurprises();
}

// The first cell texts of a grid's rows.
QStringList GridTexts(const TDBGrid* grid) {
    QStringList texts;
    for (int r = 0; r < grid->model()->rowCount(); ++r)
        texts << grid->model()->data(grid->model()->index(r, 0)).toString().trimmed();
    return texts;
}

void ClickGridRow(TDBGrid* grid, int row) {
    const QRect cell = grid->visualRect(grid->model()->index(row, 0));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
}

TEST_F(CommandsTest, DeleteUsersAndAssignGroupsWorkOnTheProgramsUsers) {
    AddUsers(
        {{"Admin", "", "", true}, {"gus", "", "Managers", false}, {"ida", "", "Viewers", false}});
    StartAs("Admin");
    ASSERT_FALSE(Main().Ended());
    m_Dialogs.ClearRecord();

    // Assign: ida (the second listed) moves to Reporters.
    QStringList assignable;
    m_Dialogs.Drive([&](QDialog& d) {
        auto& assign = static_cast<Tchgaccessform&>(d);
        assignable = GridTexts(assign.Grid());
        ClickGridRow(assign.Grid(), 1);
        QComboBox* box = assign.AccessLevelBox();
        box->setFocus();
        const int wanted = box->findText("Reporters");
        ASSERT_GE(wanted, 0);
        while (box->currentIndex() < wanted) QTest::keyClick(box, Qt::Key_Down);
        while (box->currentIndex() > wanted) QTest::keyClick(box, Qt::Key_Up);
        QTest::mouseClick(assign.CloseButton(), Qt::LeftButton);
    });
    Item(Main().adminmenu(), "Assign/Change User Access Level")->trigger();
    ExpectNoSurprises();
    EXPECT_EQ(assignable, (QStringList{"gus", "ida"}));  // never the administrator
    EXPECT_TRUE(UserRows().contains("ida||Reporters|false")) << UserRows().join(" ").toStdString();
    // The shared groups table is closed again.
    EXPECT_FALSE(AllForms().accessform->GroupsTable().Active());

    // Delete: gus, confirmed.
    QStringList deletable;
    m_Dialogs
        .Drive([&](QDialog& d) {
            auto& del = static_cast<Tdelusersform&>(d);
            deletable = GridTexts(del.Grid());
            ClickGridRow(del.Grid(), 0);
            QTest::mouseClick(del.Navigator()->Button(TNavigateButton::Delete), Qt::LeftButton);
            QTest::mouseClick(del.CloseButton(), Qt::LeftButton);
        })
        .Answer(TMessageAnswer::Ok);
    Item(Main().adminmenu(), "Delete Users")->trigger();
    ExpectNoSurprises();
    EXPECT_EQ(m_Dialogs.Messages(), QStringList{"Delete record?"});
    EXPECT_EQ(deletable, (QStringList{"gus", "ida"}));
    EXPECT_EQ(UserRows(), (QStringList{"Admin|||true", "ida||Reporters|false"}));

    // The groups editor shows the program's groups in index order.
    QString firstGroup;
    m_Dialogs.Drive([&](QDialog& d) {
        auto& groups = static_cast<Taccessform&>(d);
        firstGroup = groups.GroupNameEdit()->text().trimmed();
        QTest::mouseClick(groups.OkButton(), Qt::LeftButton);
    });
    Item(Main().adminmenu(), "User Access Groups")->trigger();
    ExpectNoSurprises();
    EXPECT_EQ(firstGroup, "Developers");
    EXPECT_FALSE(AllForms().accessform->GroupsTable().Active());
}

TEST_F(CommandsTest, PasswordChangeThroughTheUserMenuStoresTheNewPassword) {
    AddUsers({{"Admin", "", "", true}, {"gus", "OLD", "Managers", false}});
    StartAs("gus", "old");
    ASSERT_FALSE(Main().Ended());
    m_Dialogs.ClearRecord();
    m_Dialogs.AnswerPrompt("old")
        .Drive([](QDialog& d) {
            auto& change = static_cast<Tpasswordchangeform&>(d);
            QTest::keyClicks(change.NewPasswordEdit(), "fresh");
            QTest::keyClicks(change.AgainEdit(), "fresh");
            QTest::mouseClick(change.OkButton(), Qt::LeftButton);
        })
        .Answer();
    Item(Main().usermenu(), "Set/Change Password")->trigger();
    ExpectNoSurprises();
    EXPECT_EQ(m_Dialogs.Messages(), QStringList{"Password change successful."});
    EXPECT_EQ(UserContext().Password, "FRESH");
    EXPECT_TRUE(UserRows().contains("gus|FRESH|Managers|false"))
        << UserRows().join(" ").toStdString();

    // The old password no longer opens the dialog.
    m_Dialogs.ClearRecord();
    m_Dialogs.AnswerPrompt("old").Answer();
    Item(Main().usermenu(), "Set/Change Password")->trigger();
    EXPECT_EQ(m_Dialogs.Messages(), QStringList{"Incorrect password."});
    ExpectNoSurprises();
}

TEST_F(CommandsTest, FaqShowsTheProgramFoldersFaqFile) {
    StartWithLog({});
    WriteFile("faq.txt", "How do I print?\nWith Print All.\n");
    QString text;
    m_Dialogs.Drive([&](QDialog& d) {
        auto& faq = static_cast<Tfaqform&>(d);
        text = faq.Viewer()->toPlainText();
        QTest::mouseClick(faq.CloseButton(), Qt::LeftButton);
    });
    Item(Main().helpmenu(), "FAQ")->trigger();
    EXPECT_EQ(text, "How do I print?\nWith Print All.\n");
    ExpectNoSurprises();
}

// The words of a PDF file as pdftotext reads them.
QString PdfText(const QString& path) {
    QProcess process;
    process.start("pdftotext", {"-layout", path, "-"});
    if (!process.waitForFinished(30000)) return "<pdftotext failed>";
    return QString::fromUtf8(process.readAllStandardOutput());
}

class PrintCommandsTest : public CommandsTest {
  protected:
    void SetUp() override {
        CommandsTest::SetUp();
        StartWithLog({{"Alpha", "gus", ""}, {"Beta", "gus", ""}, {"Gamma", "gus", ""}});
        // As on a machine without a printer: the print is offered as a PDF.
        for (TReport* report : {&AllForms().pform->Report(), &AllForms().pform2->Report()}) {
            report->DefaultPrinterName = [] { return QString(); };
            report->MakeProgress = nullptr;
        }
        // Straight to the printer, no preview.
        Main().previewitem()->trigger();
        ASSERT_FALSE(Main().previewitem()->isChecked());
    }
    // Answers the offer of a PDF file with Yes and the file name.
    QString ExpectPdf(const QString& name) {
        const QString path = Folder() + name;
        m_Dialogs.Answer(TMessageAnswer::Yes).AnswerSaveFile(path);
        return path;
    }
    static std::function<void(QDialog&)> Choose(bool summary) {
        return [summary](QDialog& d) {
            auto& choice = static_cast<Tprintallform&>(d);
            if (choice.SummaryOnlyBox()->isChecked() != summary)
                QTest::mouseClick(choice.SummaryOnlyBox(), Qt::LeftButton);
            QTest::mouseClick(choice.OkButton(), Qt::LeftButton);
        };
    }
};

TEST_F(PrintCommandsTest, PrintAllWritesEveryTicketOfTheViewToPdf) {
    m_Dialogs.Drive(Choose(false));
    const QString detail = ExpectPdf("detail.pdf");
    QTest::mouseClick(Main().printallbtn(), Qt::LeftButton);
    ExpectNoSurprises();
    ASSERT_TRUE(QFile::exists(detail));
    const QString text = PdfText(detail);
    for (const char* title : {"Alpha", "Beta", "Gamma"}) EXPECT_TRUE(text.contains(title)) << title;
    EXPECT_EQ(text.count('\f'), 3) << "one page per ticket";

    // The summary of a filtered view lists only the matching tickets.
    Main().table1().SetFilter("[Title] = 'Beta'");
    Main().table1().SetFiltered(true);
    m_Dialogs.Drive(Choose(true));
    const QString summary = ExpectPdf("summary.pdf");
    QTest::mouseClick(Main().printallbtn(), Qt::LeftButton);
    ExpectNoSurprises();
    const QString listed = PdfText(summary);
    EXPECT_TRUE(listed.contains("Beta"));
    EXPECT_FALSE(listed.contains("Alpha"));
    EXPECT_TRUE(listed.contains("Title"));  // the grid's column heading

    // Cancel prints nothing.
    m_Dialogs.Drive([](QDialog& d) {
        QTest::mouseClick(static_cast<Tprintallform&>(d).CancelButton(), Qt::LeftButton);
    });
    QTest::mouseClick(Main().printallbtn(), Qt::LeftButton);
    ExpectNoSurprises();
}

TEST_F(PrintCommandsTest, PrintSelectedPrintsTheCurrentTicketWithOrWithoutItsHistory) {
    Main().table1().Next();
    ASSERT_EQ(CurrentTitle(), "Beta");
    const QString one = ExpectPdf("one.pdf");
    QTest::mouseClick(Main().printselbtn(), Qt::LeftButton);
    ExpectNoSurprises();
    const QString text = PdfText(one);
    EXPECT_TRUE(text.contains("Beta"));
    EXPECT_FALSE(text.contains("Alpha"));
    EXPECT_EQ(text.count('\f'), 1);
    // The main table is where it was.
    EXPECT_EQ(CurrentTitle(), "Beta");

    // The history check mark decides which text the detail print binds.
    Main().historyitem()->trigger();
    EXPECT_FALSE(Main().historyitem()->isChecked());
    ExpectPdf("two.pdf");
    QTest::mouseClick(Main().printselbtn(), Qt::LeftButton);
    EXPECT_EQ(AllForms().pform->RichText().DataField, "Description");
    Main().historyitem()->trigger();
    ExpectPdf("three.pdf");
    QTest::mouseClick(Main().printselbtn(), Qt::LeftButton);
    EXPECT_EQ(AllForms().pform->RichText().DataField, "All");
    ExpectNoSurprises();
}

TEST_F(PrintCommandsTest, WithPreviewCheckedThePrintShowsThePreviewFirst) {
    Main().previewitem()->trigger();
    ASSERT_TRUE(Main().previewitem()->isChecked());
    bool reportOpen = false;
    QString caption;
    m_Dialogs.Drive([&](QDialog& d) {
        reportOpen = AllForms().pform->ReportTable().Active();
        caption = d.windowTitle();
        d.reject();
    });
    QTest::mouseClick(Main().printselbtn(), Qt::LeftButton);
    ExpectNoSurprises();
    EXPECT_TRUE(reportOpen);
    EXPECT_TRUE(caption.contains(AllForms().pform->Report().Title)) << caption.toStdString();
    // Closing the preview closes the report's table.
    EXPECT_FALSE(AllForms().pform->ReportTable().Active());
}

}  // namespace
}  // namespace veltra
