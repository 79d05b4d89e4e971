#include "app/program_folder.h"

#include <QCoreApplication>

namespace veltra {

namespace {

QString g_Folder;
bool g_Explicit = false;

QString WithSeparator(QString folder) {
    if (!folder.isEmpty() && !folder.endsWith('/')) folder += '/';
    return folder;
}

}  // namespace

QString ProgramFolder() { return g_Folder; }

void SetProgramFolder(const QString& folder) {
    g_Folder = WithSeparator(folder);
    g_Explicit = true;
}

void SetProgramFolderFromProgramFile() {
    if (g_Explicit) return;
    g_Folder = WithSeparator(QCoreApplication::applicationDirPath());
}

void ResetProgramFolder() {
    g_Folder.clear();
    g_Explicit = false;
}

QString DataFolder() { return ProgramFolder() + "data/"; }

QString HelpFilePath() { return ProgramFolder() + "veltrahelp.hlp"; }

}  // namespace veltra
