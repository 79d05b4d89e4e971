// Tdelusersform: the delete-users dialog, caption "Delete Log Users", help
// topic 15. A grid of user names, a navigator with only "Delete", the check
// box "Confirm before deleting" (checked at start) and Close.
//
// What the main window hands it: the program folder (ProgramFolder()), whose
// sys1.dat it lists, and the administrator name of the user context
// (UserContext().AdminName), whose row it never lists. Shown through the
// dialogs service.
//
// Showing it opens the users table on the index username with the filter
// "username <> '<administrator name>'" (quotes doubled) switched on; the
// navigator asks "Delete record?" (OK / Cancel) before deleting exactly
// while the check box is checked. Closing it closes the table and clears the
// filter. Deleting removes only the user's row; tickets keep the name.
#pragma once

#include <QDialog>
#include <memory>

class QCheckBox;
class QPushButton;

namespace veltra {

class TDBGrid;
class TDBNavigator;
class TDataSource;
class TVeltraTable;

class Tdelusersform : public QDialog {
    Q_OBJECT
public:
    explicit Tdelusersform(QWidget* parent = nullptr);
    ~Tdelusersform() override;

    TDBGrid* Grid() const { return m_Grid; }
    TDBNavigator* Navigator() const { return m_Navigator; }
    QCheckBox* ConfirmBox() const { return m_Confirm; }
    QPushButton* CloseButton() const { return m_Close; }
    TVeltraTable& UsersTable() { return *m_Users; }

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();

    std::unique_ptr<TVeltraTable> m_Users;
    std::unique_ptr<TDataSource> m_Source;
    TDBGrid* m_Grid = nullptr;
    TDBNavigator* m_Navigator = nullptr;
    QCheckBox* m_Confirm = nullptr;
    QPushButton* m_Close = nullptr;
};

}  // namespace veltra
