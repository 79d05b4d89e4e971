// Taccessform: the groups editor, caption "Access Levels", help topic 16.
// One group at a time of sys2.dat in groupname index order: five radio
// groups bound to the rights fields ("Submit", "Edit", "Delete", "Close",
// "Assign", each offering its values under their captions), the entry field
// "Group Name", a navigator with First, Prior, Next, Last, Insert and Delete
// (Delete asks "Delete record?"), and OK.
//
// It owns the shared groups table component (GroupsTable()): the add-users
// and assign dialogs list the group names through it and the rights reader
// looks the current user's group up through it. Each user of it closes it,
// points it at sys2.dat of the program folder and opens it.
//
// What the main window hands it: the program folder (ProgramFolder()). It is
// shown through the dialogs service. Showing it opens the groups table;
// closing it (OK or otherwise) posts a pending change, ignoring any error,
// and closes the table. Moving to another group stores a changed one.
//
// While it is shown, two rules guard the data:
//   - A rights field left empty (a new group whose rights were not all
//     chosen) is stored as 1, the most restrictive value every rights field
//     offers ("Cannot submit new tickets", "Edit only if owner", "Cannot
//     delete", "Cannot close", "Cannot assign"): the fields must hold a value,
//     and a group that grants nobody anything by accident is the safe reading.
//   - Renaming or deleting a group that users (not administrators) belong to
//     leaves them without a group, so that they can no longer start the
//     program. Before such a change the editor says how many users it affects
//     and asks (OK / Cancel). Cancel on a rename keeps the old name (the
//     group's other changes are still stored); Cancel on a delete keeps the
//     group.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>

class QPushButton;

namespace veltra {

class TDBEdit;
class TDBNavigator;
class TDBRadioGroup;
class TDataSource;
class TDataSet;
class TVeltraTable;

class Taccessform : public QDialog {
    Q_OBJECT
public:
    explicit Taccessform(QWidget* parent = nullptr);
    ~Taccessform() override;

    // The shared groups table component (closed between uses).
    TVeltraTable& GroupsTable() { return *m_Groups; }

    // Controls: the radio groups in the order Submit, Edit, Delete, Close, Assign.
    TDBRadioGroup* RightsGroup(int index) const { return m_Rights[index]; }
    TDBEdit* GroupNameEdit() const { return m_Name; }
    TDBNavigator* Navigator() const { return m_Navigator; }
    QPushButton* OkButton() const { return m_Ok; }

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void BeforePost(TDataSet& dataSet);
    void BeforeDelete(TDataSet& dataSet);
    // Asks whether to go on renaming (or deleting) `group` when users belong
    // to it; true when nobody does or the user answers OK.
    bool ConfirmMembers(const QString& group, bool rename);

    std::unique_ptr<TVeltraTable> m_Groups;
    std::unique_ptr<TDataSource> m_Source;
    TDBRadioGroup* m_Rights[5] = {};
    TDBEdit* m_Name = nullptr;
    TDBNavigator* m_Navigator = nullptr;
    QPushButton* m_Ok = nullptr;
    QString m_EditedName;  // the group's name when its edit began
};

}  // namespace veltra
