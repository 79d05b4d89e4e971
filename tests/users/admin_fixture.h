// A program folder of its own for each test: sys1 and sys2 copied from the
// staging program folder into a temporary folder, the user context cleared,
// the scripted dialogs service installed; helpers that read and write the
// tables directly to set up and check what the dialogs did.
#pragma once

#include <gtest/gtest.h>

#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <memory>

#include "platform/qt/dialogs/scripted_dialogs.h"

class QAbstractButton;
class QWidget;

namespace veltra {

class TDBGrid;

struct TUserRow {
    QString Name;
    QString Password;
    QString Group;
    bool Admin = false;
    bool operator==(const TUserRow&) const = default;
};

struct TGroupRow {
    QString Name;
    QList<int> Rights;  // submit, edit, delete, close, assign; -1 for an empty field
    bool operator==(const TGroupRow&) const = default;
};

void PrintTo(const TUserRow& row, std::ostream* os);
void PrintTo(const TGroupRow& row, std::ostream* os);

class TAdminTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QString Folder() const { return m_Dir.path() + "/"; }
    // Rows written straight into the tables.
    void AddUser(const TUserRow& row);
    void ClearGroups();
    // Every row in index order.
    QList<TUserRow> Users() const;
    QList<TGroupRow> Groups() const;
    QStringList UserNames() const;
    // The administrator "Admin" and two users of the seeded groups.
    void AddTeam();

    QTemporaryDir m_Dir;
    std::unique_ptr<TScriptedDialogs> m_Dialogs;
};

// Clicks a button as a person would.
void Click(QAbstractButton* button);
// Replaces the text of an entry field by typing.
void Type(QWidget* edit, const QString& text);
// The values of column 0 of a grid, top to bottom, as displayed.
QStringList GridTexts(const TDBGrid* grid);
// Selects grid row `row` by clicking it.
void ClickGridRow(TDBGrid* grid, int row);

}  // namespace veltra
