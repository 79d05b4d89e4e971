// The program folder: the folder of the program file, with its trailing
// separator. The users and groups tables, user.txt, faq.txt, the template log
// and the help file lie in it; the logs lie in its data subfolder.
//
// The main window's show step sets it from the program file's location
// unless something set it before (tests point it at a temporary copy, so
// that no test touches the real folder). Thread: user-interface thread.
#pragma once

#include <QString>

namespace veltra {

// The program folder with its trailing "/"; empty until set.
QString ProgramFolder();
// Sets the program folder (a trailing "/" is added when missing). Once set
// explicitly, SetProgramFolderFromProgramFile leaves it alone.
void SetProgramFolder(const QString& folder);
// Sets the program folder to the folder of the program file unless it was
// set explicitly before.
void SetProgramFolderFromProgramFile();
// Forgets an explicit setting (tests).
void ResetProgramFolder();

// The program folder followed by "data/".
QString DataFolder();
// The program folder followed by "veltrahelp.hlp".
QString HelpFilePath();

}  // namespace veltra
