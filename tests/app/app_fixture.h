// What the window tests of the program share: a fresh program folder per
// test (a copy of the staging folder's tables in a temporary directory, set
// as the program folder), helpers that put users and tickets into its tables,
// and a started program whose login is driven through the scripted dialogs.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>

#include "app/forms.h"
#include "platform/qt/dialogs/scripted_dialogs.h"

namespace veltra {

class Tgetuserform2;

struct TTestUser {
    QString Name;
    QString Password;
    QString Group;
    bool Admin = false;
};

struct TTestTicket {
    QString Title;
    QString Submitter;
    QString Owner;  // empty: null
};

class TAppTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The temporary program folder, with its trailing "/".
    QString Folder() const { return m_Folder; }
    QString Data() const { return m_Folder + "data/"; }
    // The window layout settings file of the test ($XDG_CONFIG_HOME points
    // into the temporary folder).
    QString LayoutFile() const;

    // Rows of sys1 (through the table component, as another workstation
    // would add them).
    void AddUsers(const std::vector<TTestUser>& users);
    // The rows of sys1 as "name|password|group|admin" in index order.
    QStringList UserRows();
    void WriteFile(const QString& name, const QByteArray& content);
    QByteArray ReadFile(const QString& name) const;
    // A log made from the template with these tickets.
    void MakeLog(const QString& name, const std::vector<TTestTicket>& tickets);

    // Creates every window, shows the main window and lets its show step run;
    // the login window is handed to `login`, and the next `answers` message
    // boxes (during the login or after it) are answered OK.
    void Start(std::function<void(Tgetuserform2&)> login, int answers = 0);
    // Start() with a login of an existing user (chosen by name from the pick
    // list) typing `password` ("" types nothing).
    void StartAs(const QString& user, const QString& password = "", int answers = 0);

    // Opens a log from the log list as a person does (double click).
    void OpenFromList(const QString& fileName);

    Tmainform& Main() { return *m_Forms->mainform; }
    TForms& AllForms() { return *m_Forms; }

    TScriptedDialogs m_Dialogs;
    std::unique_ptr<TForms> m_Forms;

private:
    std::unique_ptr<QTemporaryDir> m_Dir;
    QString m_Folder;
};

// Chooses `name` in the login pick list with the keyboard and clicks OK
// after typing `password`.
void LoginAs(Tgetuserform2& login, const QString& name, const QString& password);

}  // namespace veltra
