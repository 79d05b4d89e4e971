// Tchgaccessform: the assign dialog, caption "User Access Level", help topic
// 17. "Users", a grid of the user names of users who are not
// administrators; "Access Level", a fixed pick list of the group names bound
// to the groupname of the user selected in the grid; Close.
//
// What the main window hands it: the program folder (ProgramFolder()), whose
// sys1.dat and sys2.dat it uses, and the shared groups table component
// (SetGroupsTable, the one the groups editor owns); without one it uses a
// component of its own. Shown through the dialogs service.
//
// Showing it reads the group names through the groups component (closed
// again at once) and opens the users table on the index username with the
// filter "admin = false" switched on, so administrators are never listed.
// Choosing a group puts the user's row into edit state; moving to another
// user stores the change; closing posts a pending change, ignoring any
// error, and closes the table.
#pragma once

#include <QDialog>
#include <memory>

class QPushButton;

namespace veltra {

class TDBComboBox;
class TDBGrid;
class TDataSource;
class TVeltraTable;

class Tchgaccessform : public QDialog {
    Q_OBJECT
public:
    explicit Tchgaccessform(QWidget* parent = nullptr);
    ~Tchgaccessform() override;

    // The shared groups table component (not owned; must outlive the dialog).
    void SetGroupsTable(TVeltraTable* groups) { m_Groups = groups; }

    TDBGrid* Grid() const { return m_Grid; }
    TDBComboBox* AccessLevelBox() const { return m_Group; }
    QPushButton* CloseButton() const { return m_Close; }
    TVeltraTable& UsersTable() { return *m_Users; }

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    TVeltraTable& Groups();

    std::unique_ptr<TVeltraTable> m_Users;
    std::unique_ptr<TDataSource> m_Source;
    std::unique_ptr<TVeltraTable> m_OwnGroups;
    TVeltraTable* m_Groups = nullptr;
    TDBGrid* m_Grid = nullptr;
    TDBComboBox* m_Group = nullptr;
    QPushButton* m_Close = nullptr;
};

}  // namespace veltra
