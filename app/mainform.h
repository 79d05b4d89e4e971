// Tmainform: the main window, caption "Veltra Log". It lists the logs of the
// data folder, holds the main table (table1, the open log) with the grid,
// the text pane and the navigator bound to it through DataSource1, carries
// the menus and buttons that lead to every other window, and shows a status
// bar (showstatus) and a hint line (displayhint).
//
// Its behaviour is split by what it serves:
//   mainform.cpp         layout, creation and show steps, status bar, hint line, closing
//   mainform_menus.cpp   the menus: File-menu rule, Admin, User, Printing, Help
//   mainform_logs.cpp    the log list, creating logs, opening and closing a log
//   mainform_access.cpp  the rights: getaccesslevel and setaccess
//   mainform_columns.cpp the Columns menu
//   mainform_tickets.cpp the ticket commands and the change history steps
//   mainform_browse.cpp  search, query, Close Query and printing
//
// Two visible states: no log open (log list and hint line only; "Edit
// Categories" and "Columns" disabled) and a log open (top bar, grid, text
// pane, navigator and status bar shown).
//
// The show step runs once, on the first show, after the window layout
// settings have been restored (RestoreLayout): it sets the program folder,
// the log list and the help file, runs the login, reads the rights and ends
// the program when nobody logged in or a user without a group is not the
// administrator. It runs queued after the show so that the window is on
// screen behind the login window.
#pragma once

#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>

#include "app/history/ticket_history.h"
#include "engine/veltra_table.h"
#include "platform/dataset.h"

class QAction;
class QComboBox;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QSplitter;
class QStatusBar;
class QTextEdit;
class QWidget;

namespace veltra {

class TDBGrid;
class TDBNavigator;
class TDBRichEdit;
enum class TNavigateButton;

class Tmainform : public QMainWindow {
    Q_OBJECT
public:
    explicit Tmainform(QWidget* parent = nullptr);
    ~Tmainform() override;

    // ---- seams for the window layout settings: called by the show step
    // before anything else, and when the window closes.
    std::function<void(Tmainform&)> RestoreLayout;
    std::function<void(Tmainform&)> SaveLayout;

    // ---- operations other windows use
    void showstatus();
    void displayhint(const QString& hint);
    void getaccesslevel();
    void setaccess();
    // Re-reads the log list from the data folder.
    void RefreshLogList();
    // Opens the log whose .dat file is `fileName` in the data folder; engine
    // errors are shown in the error box and leave no log open.
    void OpenLog(const QString& fileName);
    // Closes the open log (a ticket being edited or submitted is posted first).
    void CloseLog();
    // The query builder has set a filter on the main table and switched it
    // on: shows "Close Query".
    void QueryApplied();
    // Ends the program: closes the main window (its close step still runs).
    void EndProgram();

    // ---- state (for the other windows and tests)
    TVeltraTable& table1() { return m_Table; }
    TDataSource& DataSource1() { return m_DataSource; }
    // True once the show step has ended the program (nobody logged in, or a
    // user without a group).
    bool Ended() const { return m_Ended; }
    bool ShowStepDone() const { return m_ShowDone; }
    int NavigatorWidth() const { return m_NavigatorWidth; }
    const QStringList& HistoryFields() const { return m_HistoryFields; }
    // The sort-order setting: the index name chosen last, applied to every
    // log opened ("ID" at first start). It is the caption of the hidden
    // label Labelindex, which the layout settings keep.
    QString SortOrder() const;
    void SetSortOrder(const QString& name);

    // ---- components, by their component names
    QListWidget* FileListBox1() const { return m_LogList; }
    QWidget* toppanel() const { return m_TopPanel; }
    QWidget* rightpanel() const { return m_RightPanel; }
    QComboBox* ComboBox1() const { return m_SortBox; }
    TDBGrid* DBGrid1() const { return m_Grid; }
    // The text pane and the ticket field it shows ("All" or "Description").
    TDBRichEdit* DBRichEdit1() const { return m_TextPane; }
    const QString& TextPaneField() const { return m_TextPaneField; }
    TDBNavigator* navigator1() const { return m_Navigator; }
    QPushButton* closequerybtn() const { return m_CloseQuery; }
    QPushButton* printallbtn() const { return m_PrintAll; }
    QPushButton* printselbtn() const { return m_PrintSelected; }
    QPushButton* searchbtn() const { return m_Search; }
    QPushButton* querybtn() const { return m_Query; }
    QStatusBar* StatusBar1() const { return m_StatusBar; }
    QString StatusPanel(int i) const;  // 0..3
    QLabel* hintline() const { return m_HintLine; }
    QSplitter* Splitter1() const { return m_LeftSplitter; }
    QSplitter* Splitter2() const { return m_RightSplitter; }

    QMenu* filemenu() const { return m_FileMenu; }
    QMenu* adminmenu() const { return m_AdminMenu; }
    QMenu* usermenu() const { return m_UserMenu; }
    QMenu* columnsmenu() const { return m_ColumnsMenu; }
    QMenu* printingmenu() const { return m_PrintingMenu; }
    QMenu* helpmenu() const { return m_HelpMenu; }
    // A menu item by its caption without "&" (nullptr when none).
    QAction* MenuItem(QMenu* menu, const QString& caption) const;
    // The "Preview" and "Print Change History" check marks (component
    // names Preview1 and PrintChangeHistory1, kept by the layout settings).
    QAction* previewitem() const { return m_Preview; }
    QAction* historyitem() const { return m_PrintHistory; }

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // mainform.cpp
    void FormCreate();
    void FormShow();
    // Runs RestoreLayout so that splitter positions apply at the sizes the
    // user sees them.
    void RestoreLaidOut();
    void BuildTopBar();
    void BuildLeftPanel();
    void BuildRightPanel();
    void BuildStatusBars();
    void BindTextPane();

    // mainform_menus.cpp
    void BuildMenus();
    void FileMenuShow();
    void AddUsersClick();
    void DeleteUsersClick();
    void UserAccessGroupsClick();
    void AssignAccessClick();
    void PasswordClick();
    void PrintHistoryClick();
    void ContentsClick();
    void FaqClick();
    void SupportClick();
    void WebClick();
    void AboutClick();

    // mainform_columns.cpp
    void buildcolumsmenu();
    void ColumnItemClick(QAction* item);

    // mainform_tickets.cpp
    void navigator1Click(TNavigateButton button);
    void DBGrid1DblClick();
    void SubmitStep();
    void EditStep();
    void SetToday(TField& field);
    void table1BeforeEdit();
    void table1BeforePost();
    void RefreshIfChangedOnDisk();

    // mainform_logs.cpp
    void CreateNewLogClick();
    void EditCategoriesClick();
    void DeleteLogClick();
    void LogListDblClick();
    void SortOrderClick(int entry);
    void table1AfterOpen();
    void table1BeforeClose();
    void table1AfterClose();
    void table1AfterScroll();
    void LoadCategories();
    void ShowCategoryEditor(const QString& path);

    // mainform_browse.cpp
    void searchbtnClick();
    void querybtnClick();
    void closequerybtnClick();

    // mainform_export.cpp
    void ExportViewClick();
    // "Print &All" (selectedOnly false) and "&Print Selected".
    void SpeedButton1Click(bool selectedOnly);

    TVeltraTable m_Table;
    TDataSource m_DataSource;
    bool m_ShowDone = false;
    bool m_Ended = false;
    int m_NavigatorWidth = 0;
    QStringList m_HistoryFields;
    TTicketHistory m_History;

    QWidget* m_TopPanel = nullptr;
    QComboBox* m_SortBox = nullptr;
    QLabel* m_SortLabel = nullptr;  // Labelindex
    QPushButton* m_PrintAll = nullptr;
    QPushButton* m_PrintSelected = nullptr;
    QPushButton* m_Search = nullptr;
    QPushButton* m_Query = nullptr;
    QSplitter* m_LeftSplitter = nullptr;
    QSplitter* m_RightSplitter = nullptr;
    QWidget* m_LeftPanel = nullptr;  // Panel2
    QWidget* m_Filler = nullptr;
    QListWidget* m_LogList = nullptr;
    QWidget* m_RightPanel = nullptr;
    TDBGrid* m_Grid = nullptr;
    TDBRichEdit* m_TextPane = nullptr;
    QString m_TextPaneField;
    TDBNavigator* m_Navigator = nullptr;
    QPushButton* m_CloseQuery = nullptr;
    QStatusBar* m_StatusBar = nullptr;
    QLabel* m_StatusPanels[4] = {};
    QLabel* m_HintLine = nullptr;

    QMenu* m_FileMenu = nullptr;
    QMenu* m_AdminMenu = nullptr;
    QMenu* m_UserMenu = nullptr;
    QMenu* m_ColumnsMenu = nullptr;
    QMenu* m_PrintingMenu = nullptr;
    QMenu* m_HelpMenu = nullptr;
    QAction* m_EditCategories = nullptr;
    QAction* m_ExportView = nullptr;
    QAction* m_Preview = nullptr;
    QAction* m_PrintHistory = nullptr;
    QAction* m_AdminMenuAction = nullptr;
};

}  // namespace veltra
