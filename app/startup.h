// Start-up of the program: its command line, the team folder it works in,
// and the check that the folder keeps the locks the logs are shared through.
//
// The team folder (the program folder: users and groups tables, template,
// FAQ, help file, data folder of the logs) is found in this order:
//
//   1. `--folder FOLDER` on the command line;
//   2. the folder of the program file, when it is a team folder (a program
//      started from a build tree or from a copy kept in the team folder);
//   3. the folder remembered in the user's settings,
//      $XDG_CONFIG_HOME/veltra-log/veltra-log.ini, section [Program], key
//      Folder (written whenever a folder comes from 1 or 4), and failing
//      that the same file in the system's configuration folders
//      ($XDG_CONFIG_DIRS, /etc/xdg by default), where an administrator sets
//      the default for every user of the machine;
//   4. a folder the user chooses when none of these is a team folder (with a
//      word on why, for a remembered folder that has gone, typically a share
//      that is not mounted).
//
// A team folder is a folder holding the users, groups and template tables
// (sys1.dat, sys2.dat, datamast.dat), as veltra-log-setup-folder lays it out.
// Thread: user-interface thread.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "engine/folder_locks.h"

class QWidget;

namespace veltra {

struct TStartOptions {
    std::optional<QString> Folder;  // --folder
    bool Help = false;              // --help / -h
    bool Version = false;           // --version
    QString Error;                  // a command line that cannot be followed
};

// Reads the arguments after the program name.
TStartOptions ParseStartOptions(const QStringList& arguments);
// The text --help prints.
QString StartUsage();

// True when `folder` holds sys1.dat, sys2.dat and datamast.dat.
bool IsTeamFolder(const QString& folder);

// The remembered folder: the user's setting, else the system default; empty
// when neither is set.
QString RememberedFolder();
// Stores `folder` as the user's setting; false when the settings file cannot
// be written (the program goes on: it only forgets the folder).
bool RememberFolder(const QString& folder);

// Finds the team folder as above, asking through the dialogs service where
// needed. Returns the absolute folder without a trailing "/", or nullopt
// when there is none: the --folder given is no team folder (said in an error
// box) or the user cancelled the choice.
std::optional<QString> FindTeamFolder(const TStartOptions& options, QWidget* parent = nullptr);

// Checks the folder's locks (CheckFolderLocks) and tells the user what is
// wrong: false, after an error box, when no file can be created or locked
// there; for locks that stay on this machine, the user's answer to whether
// to start anyway. True without a word when the locks work.
bool CheckTeamFolder(const QString& folder, QWidget* parent = nullptr);
// The message part of CheckTeamFolder, for a check already made.
bool ConfirmFolderLocks(const QString& folder, const TFolderLockCheck& check, QWidget* parent);

}  // namespace veltra
