// The log files of the data folder: the name rule of a new log, creating a
// log from the template, the list of logs and the category list path.
//
// A log named N is N.dat, N.idx and N.blb (copies of the program folder's
// template datamast.dat/.idx/.blb) and its category list N.txt, all in the
// data folder. The table engine finds table files without regard to letter
// case, so two names that differ only in case are the same log here too.
#pragma once

#include <QString>
#include <QStringList>

namespace veltra {

// Keeps the letters A-Z, a-z and the digits 0-9 of `typed`, in order.
QString LogNameFromTyped(const QString& typed);

// The outcome of CreateLogFiles.
struct TCreateLogResult {
    bool Created = false;
    QString Message;  // what went wrong, for an error box; empty when created
    QString CategoryFile;  // the new log's N.txt
};

// Creates log `name` (already passed through LogNameFromTyped, not empty) in
// `dataFolder` from the template in `programFolder`: the three table files
// and an empty category list. Nothing is created when the data folder or a
// template file is missing, when a file of that log already exists (any of
// the four, in any letter case), or when a copy fails half-way: files already
// copied are removed again, so no log is left without one of its files.
TCreateLogResult CreateLogFiles(const QString& programFolder, const QString& dataFolder,
                                const QString& name);

// The names of the files of `dataFolder` that match "*.dat" (any letter
// case), sorted.
QStringList LogFileNames(const QString& dataFolder);

// The category list of a log: its table name less the last four characters
// (".dat"), followed by ".txt".
QString CategoryFileOf(const QString& tableName);

}  // namespace veltra
