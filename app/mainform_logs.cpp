// The main window's logs: the log list of the data folder, creating a log,
// editing its category list, deleting logs, and opening and closing a log in
// the main table with the table's event steps.
#include <QComboBox>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>

#include "app/dialogs/delfileform.h"
#include "app/dialogs/editcategoryform.h"
#include "app/dialogs/searchform.h"
#include "app/edit/editform.h"
#include "app/forms.h"
#include "app/log_files.h"
#include "app/mainform.h"
#include "app/program_folder.h"
#include "platform/qt/controls/db_navigator.h"
#include "platform/qt/dialogs/dialogs.h"

namespace veltra {

void Tmainform::RefreshLogList() {
    const QString current = m_LogList->currentItem() ? m_LogList->currentItem()->text() : "";
    m_LogList->clear();
    m_LogList->addItems(LogFileNames(DataFolder()));
    const QList<QListWidgetItem*> same = m_LogList->findItems(current, Qt::MatchExactly);
    if (!same.isEmpty()) m_LogList->setCurrentItem(same.first());
}

void Tmainform::CreateNewLogClick() {
    const std::optional<QString> typed =
        Dialogs().Prompt(this, "Create New Log", "Enter a name for your new log.", "", false);
    if (!typed) return;
    const QString name = LogNameFromTyped(*typed);
    if (name.isEmpty()) {
        Dialogs().Information(this, "Could not create that file.  Use only letters and numbers.");
        return;
    }
    const TCreateLogResult result = CreateLogFiles(ProgramFolder(), DataFolder(), name);
    if (!result.Created) {
        Dialogs().Error(this, result.Message);
        RefreshLogList();
        return;
    }
    if (Dialogs().ConfirmYesNo(
            this, "New log created.  Would you like to edit the category list now?")) {
        ShowCategoryEditor(result.CategoryFile);
    }
    RefreshLogList();
}

void Tmainform::ShowCategoryEditor(const QString& path) {
    Teditcategoryform& editor = *Forms().editcategoryform;
    editor.SetFile(path);
    editor.LoadFile();
    // OK replaces the edit window's Category list itself (OnSaved).
    Dialogs().Exec(editor);
}

void Tmainform::EditCategoriesClick() {
    if (!m_Table.Active()) return;
    ShowCategoryEditor(CategoryFileOf(QString::fromStdString(m_Table.TableName())));
}

void Tmainform::DeleteLogClick() {
    // The open log is closed first, as the deletion dialog expects: it
    // refuses to delete a log that any program (this one included) holds
    // open, so leaving it open would make the log the user most likely
    // means undeletable. A ticket being edited is posted by the close.
    CloseLog();
    Dialogs().Exec(*Forms().delfileform);
    RefreshLogList();
}

void Tmainform::LogListDblClick() {
    QListWidgetItem* item = m_LogList->currentItem();
    if (item != nullptr) OpenLog(item->text());
}

void Tmainform::OpenLog(const QString& fileName) {
    try {
        CloseLog();
        m_Table.SetTableName((DataFolder() + fileName).toStdString());
        m_Table.SetFilterOptions({.CaseInsensitive = true});
        m_Table.SetLockRetryCount(15);
        m_Table.SetLockWaitTime(100);
        m_Table.SetForceBufferFlush(false);
        m_Table.SetIndexName("");
        m_Table.Open();
        m_Table.SetFilter("");
        m_Table.SetFiltered(false);
    } catch (const std::exception& error) {
        // A log that cannot be opened leaves no log open, with its message.
        if (m_Table.Active()) m_Table.Close();
        Dialogs().Error(this, QString::fromUtf8(error.what()));
    }
}

void Tmainform::CloseLog() {
    if (!m_Table.Active()) return;
    m_Table.Close();
}

void Tmainform::table1AfterOpen() {
    m_Filler->hide();
    m_RightPanel->show();
    m_TopPanel->show();
    m_EditCategories->setEnabled(true);
    m_ExportView->setEnabled(true);
    m_SortBox->clear();
    m_StatusBar->show();
    for (const std::string& name : m_Table.GetIndexNames()) {
        m_SortBox->addItem(QString::fromStdString(name));
    }
    const QString wanted = SortOrder();
    int selected = -1;
    for (int i = 0; i < m_SortBox->count(); ++i) {
        if (m_SortBox->itemText(i).trimmed().compare(wanted.trimmed(), Qt::CaseInsensitive) == 0) {
            selected = i;
            break;
        }
    }
    m_SortBox->setCurrentIndex(selected);
    m_Table.SetIndexName(selected >= 0 ? m_SortBox->itemText(selected).toStdString() : "");
    m_Table.First();
    buildcolumsmenu();
    LoadCategories();
    setaccess();
    showstatus();
}

void Tmainform::LoadCategories() {
    QStringList categories;
    QFile file(CategoryFileOf(QString::fromStdString(m_Table.TableName())));
    if (file.open(QIODevice::ReadOnly)) {
        const QString text = QString::fromUtf8(file.readAll());
        categories = text.split("\r\n");
        // The last line's CR LF ends it; it does not start another one.
        if (!categories.isEmpty() && categories.last().isEmpty()) categories.removeLast();
    }
    Forms().editform->SetCategories(categories);
}

void Tmainform::table1BeforeClose() {
    if (m_Table.State() == TDataSetState::Edit || m_Table.State() == TDataSetState::Insert) {
        m_Table.Post();
    }
    m_ColumnsMenu->setEnabled(false);
}

void Tmainform::table1AfterClose() {
    m_RightPanel->hide();
    m_Filler->show();
    m_TopPanel->hide();
    m_EditCategories->setEnabled(false);
    m_ExportView->setEnabled(false);
    m_StatusBar->hide();
    m_ColumnsMenu->setEnabled(false);
    showstatus();
    m_CloseQuery->hide();
    // The search window works on the open log: with none it has nothing to do.
    if (auto* search = findChild<Tsearchform*>()) search->hide();
}

void Tmainform::table1AfterScroll() {
    setaccess();
    showstatus();
}

void Tmainform::SortOrderClick(int entry) {
    try {
        m_Table.SetIndexName(m_SortBox->itemText(entry).toStdString());
        SetSortOrder(QString::fromStdString(m_Table.IndexName()));
    } catch (const std::exception&) {
        // A sort order the table refuses is ignored; the previous one stays.
    }
}

}  // namespace veltra
