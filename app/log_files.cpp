#include "app/log_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace veltra {

namespace {

const char* const kTableExtensions[] = {".dat", ".idx", ".blb"};

// The entry of `folder` named `fileName` without regard to letter case, or
// "" when there is none.
QString ExistingEntry(const QDir& folder, const QString& fileName) {
    const QStringList entries =
        folder.entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        if (entry.compare(fileName, Qt::CaseInsensitive) == 0) return entry;
    }
    return {};
}

}  // namespace

QString LogNameFromTyped(const QString& typed) {
    QString name;
    for (const QChar c : typed) {
        const char16_t u = c.unicode();
        if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9')) {
            name += c;
        }
    }
    return name;
}

TCreateLogResult CreateLogFiles(const QString& programFolder, const QString& dataFolder,
                                const QString& name) {
    TCreateLogResult result;
    const QDir data(dataFolder);
    if (!QFileInfo(dataFolder).isDir()) {
        result.Message = "The data folder " + QDir::toNativeSeparators(dataFolder) +
                         " is missing.  No log was created.";
        return result;
    }
    for (const char* ext : kTableExtensions) {
        const QString file = programFolder + "datamast" + ext;
        if (!QFileInfo::exists(file)) {
            result.Message = "The template file " + QDir::toNativeSeparators(file) +
                             " is missing.  No log was created.";
            return result;
        }
    }
    for (const char* ext : {".dat", ".idx", ".blb", ".txt"}) {
        const QString existing = ExistingEntry(data, name + ext);
        if (!existing.isEmpty()) {
            result.Message = "A log named " + name + " already exists (" + existing +
                             ").  Choose another name.";
            return result;
        }
    }

    const QString base = data.filePath(name);
    QStringList made;
    auto undo = [&made] {
        for (const QString& file : made) QFile::remove(file);
    };
    for (const char* ext : kTableExtensions) {
        const QString target = base + ext;
        if (!QFile::copy(programFolder + "datamast" + ext, target)) {
            undo();
            result.Message = "Could not copy the template to " +
                             QDir::toNativeSeparators(target) + ".  No log was created.";
            return result;
        }
        made << target;
        // A template installed read-only must not make the log read-only.
        QFile::setPermissions(target, QFile::permissions(target) | QFile::WriteOwner |
                                          QFile::ReadOwner);
    }
    QFile category(base + ".txt");
    if (!category.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        undo();
        result.Message = "Could not write " + QDir::toNativeSeparators(category.fileName()) +
                         ".  No log was created.";
        return result;
    }
    category.close();
    result.Created = true;
    result.CategoryFile = category.fileName();
    return result;
}

QStringList LogFileNames(const QString& dataFolder) {
    QDir data(dataFolder);
    data.setNameFilters({"*.dat"});
    data.setFilter(QDir::Files);  // no QDir::CaseSensitive: the mask ignores case
    data.setSorting(QDir::Name | QDir::IgnoreCase);
    return data.entryList();
}

QString CategoryFileOf(const QString& tableName) { return tableName.left(tableName.size() - 4) + ".txt"; }

}  // namespace veltra
