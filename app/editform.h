// Teditform: the ticket edit window, caption "Submit/Edit Ticket", help
// topic 4. All its fields are bound to the main table's current ticket
// through the main window's data source.
//
// Created once at program start. This part of it holds the field controls
// the start-up, the login and the rights act on: the Submitter and Owner
// pick lists (filled with the user names by the login), the Category pick
// list (filled from the log's category file when a log opens), the State
// pick list and Close date field (enabled by the close right), the Owner
// pick list (enabled by the assign right), and the Submitter pick list and
// Submit date field (enabled only for the administrator). The rich-text
// description, its toolbar and the OK / Cancel behaviour come with the edit
// window's own feature.
#pragma once

#include <QDialog>
#include <QStringList>

class QPushButton;

namespace veltra {

class TDataSource;
class TDBComboBox;
class TDBDateEdit;
class TDBEdit;

class Teditform : public QDialog {
    Q_OBJECT
public:
    Teditform(TDataSource* source, QWidget* parent = nullptr);

    // Replaces the items of the Submitter and Owner pick lists.
    void SetUserNames(const QStringList& names);
    // Replaces the items of the Category pick list.
    void SetCategories(const QStringList& categories);
    // Enables the Submitter pick list and the Submit date field exactly for
    // the administrator.
    void SetAdministrator(bool admin);

    TDBEdit* TitleEdit() const { return m_Title; }
    TDBComboBox* CategoryBox() const { return m_Category; }
    TDBEdit* PriorityEdit() const { return m_Priority; }
    TDBEdit* OtherEdit() const { return m_Other; }
    TDBComboBox* StateBox() const { return m_State; }
    TDBDateEdit* CloseDateEdit() const { return m_CloseDate; }
    TDBComboBox* OwnerBox() const { return m_Owner; }
    TDBComboBox* SubmitterBox() const { return m_Submitter; }
    TDBDateEdit* SubmitDateEdit() const { return m_SubmitDate; }
    QPushButton* OkButton() const { return m_Ok; }
    QPushButton* CancelButton() const { return m_Cancel; }

private:
    TDBEdit* m_Title = nullptr;
    TDBComboBox* m_Category = nullptr;
    TDBEdit* m_Priority = nullptr;
    TDBEdit* m_Other = nullptr;
    TDBComboBox* m_State = nullptr;
    TDBDateEdit* m_CloseDate = nullptr;
    TDBComboBox* m_Owner = nullptr;
    TDBComboBox* m_Submitter = nullptr;
    TDBDateEdit* m_SubmitDate = nullptr;
    QPushButton* m_Ok = nullptr;
    QPushButton* m_Cancel = nullptr;
};

}  // namespace veltra
