#include "app/startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "platform/profile/profile.h"
#include "platform/qt/dialogs/dialogs.h"

namespace veltra {

namespace {

const char kSettingsSection[] = "Program";
const char kSettingsKey[] = "Folder";

QString SettingsFileIn(const QString& configFolder) {
    return configFolder + "/veltra-log/veltra-log.ini";
}

QString ReadSetting(const QString& file) {
    return QString::fromStdString(GetPrivateProfileString(kSettingsSection, kSettingsKey, "",
                                                          QFile::encodeName(file).toStdString()));
}

QString Absolute(const QString& folder) { return QDir::cleanPath(QDir(folder).absolutePath()); }

QString NotATeamFolder(const QString& folder) {
    return QString(
               "%1 is not a Veltra Log team folder: it holds no users, groups or template "
               "tables (sys1.dat, sys2.dat, datamast.dat).\n\nA new team folder is made with "
               "the command veltra-log-setup-folder FOLDER.")
        .arg(QDir::toNativeSeparators(folder));
}

// Lets the user choose folders until one is a team folder; nullopt when they
// cancel.
std::optional<QString> AskForFolder(QWidget* parent, QString start) {
    for (;;) {
        const std::optional<QString> chosen =
            Dialogs().ChooseFolder(parent, "Choose the Veltra Log team folder", start);
        if (!chosen) return std::nullopt;
        const QString folder = Absolute(*chosen);
        if (IsTeamFolder(folder)) return folder;
        Dialogs().Error(parent, NotATeamFolder(folder));
        start = folder;
    }
}

}  // namespace

TStartOptions ParseStartOptions(const QStringList& arguments) {
    TStartOptions options;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == "--help" || a == "-h") {
            options.Help = true;
        } else if (a == "--version") {
            options.Version = true;
        } else if (a == "--folder" || a.startsWith("--folder=")) {
            // "--folder FOLDER" or "--folder=FOLDER"; a missing value is empty.
            const QString value = a != "--folder"            ? a.mid(a.indexOf('=') + 1)
                                  : i + 1 < arguments.size() ? arguments[++i]
                                                             : QString();
            if (value.isEmpty()) {
                options.Error = "--folder needs a folder";
                return options;
            }
            options.Folder = value;
        } else {
            options.Error = a.startsWith('-') ? "unknown option " + a : "unexpected argument " + a;
            return options;
        }
    }
    return options;
}

QString StartUsage() {
    return "usage: veltra-log [--folder FOLDER]\n"
           "\n"
           "Starts Veltra Log on the team folder FOLDER (made with veltra-log-setup-folder),\n"
           "and remembers it for the next start. Without --folder the program uses the\n"
           "folder of its own program file when that is a team folder, then the folder\n"
           "remembered in $XDG_CONFIG_HOME/veltra-log/veltra-log.ini (or set for every\n"
           "user in /etc/xdg/veltra-log/veltra-log.ini), and otherwise asks for one.\n"
           "\n"
           "  --folder FOLDER  the team folder to work in\n"
           "  --version        print the version and exit\n"
           "  -h, --help       print this text and exit\n";
}

bool IsTeamFolder(const QString& folder) {
    const QDir dir(folder);
    for (const char* table : {"sys1.dat", "sys2.dat", "datamast.dat"}) {
        if (!QFileInfo(dir.filePath(table)).isFile()) return false;
    }
    return true;
}

QString RememberedFolder() {
    // The user's own configuration folder comes first in the list, then the
    // system's.
    for (const QString& config :
         QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation)) {
        const QString folder = ReadSetting(SettingsFileIn(config));
        if (!folder.isEmpty()) return folder;
    }
    return {};
}

bool RememberFolder(const QString& folder) {
    const QString file =
        SettingsFileIn(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    if (!QDir().mkpath(QFileInfo(file).path())) return false;
    return WritePrivateProfileString(kSettingsSection, kSettingsKey, folder.toStdString(),
                                     QFile::encodeName(file).toStdString());
}

std::optional<QString> FindTeamFolder(const TStartOptions& options, QWidget* parent) {
    if (options.Folder) {
        const QString folder = Absolute(*options.Folder);
        if (!IsTeamFolder(folder)) {
            Dialogs().Error(parent, NotATeamFolder(folder));
            return std::nullopt;
        }
        RememberFolder(folder);
        return folder;
    }
    const QString programFolder = Absolute(QCoreApplication::applicationDirPath());
    if (IsTeamFolder(programFolder)) return programFolder;
    const QString remembered = RememberedFolder();
    QString start = QDir::homePath();
    if (!remembered.isEmpty()) {
        if (IsTeamFolder(remembered)) return Absolute(remembered);
        Dialogs().Warning(parent,
                          QString("The team folder %1 cannot be found, or it holds no Veltra "
                                  "Log tables. If it is on a network share, check that the "
                                  "share is mounted, then start Veltra Log again or choose "
                                  "the folder now.")
                              .arg(QDir::toNativeSeparators(remembered)));
        if (QFileInfo(remembered).isDir()) start = remembered;
    }
    const std::optional<QString> chosen = AskForFolder(parent, start);
    if (chosen) RememberFolder(*chosen);
    return chosen;
}

bool ConfirmFolderLocks(const QString& folder, const TFolderLockCheck& check, QWidget* parent) {
    const QString where = QDir::toNativeSeparators(folder);
    const QString reason = QString::fromStdString(check.Reason);
    switch (check.Verdict) {
        case TFolderLocks::Shared:
            return true;
        case TFolderLocks::NotWritable:
            Dialogs().Error(parent,
                            QString("Veltra Log cannot write in the team folder %1: %2.\n\n"
                                    "Everybody on the team needs write access to the folder "
                                    "and to its data folder.")
                                .arg(where, reason));
            return false;
        case TFolderLocks::Missing:
            Dialogs().Error(parent,
                            QString("Veltra Log cannot lock files in the team folder %1: %2.\n\n"
                                    "The logs are shared through byte-range locks on their "
                                    "files, so the program cannot work in this folder. Keep "
                                    "the team folder on a file system that supports them (a "
                                    "local disk, or an NFS or SMB share mounted with locking).")
                                .arg(where, reason));
            return false;
        case TFolderLocks::LocalOnly:
            return Dialogs().ConfirmYesNo(
                parent,
                QString("The team folder %1 is on a %2 share (%3), so its file locks stay on "
                        "this machine. Copies of Veltra Log on other machines would not see "
                        "them, and changes made there at the same time could damage the logs. "
                        "Remount the share with locking enabled.\n\n"
                        "Start anyway? Only safe when nobody else uses this folder.")
                    .arg(where, QString::fromStdString(check.FileSystem), reason));
    }
    return false;
}

bool CheckTeamFolder(const QString& folder, QWidget* parent) {
    return ConfirmFolderLocks(folder, CheckFolderLocks(QFile::encodeName(folder).toStdString()),
                              parent);
}

}  // namespace veltra
