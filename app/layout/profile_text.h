// QString wrappers over the private-profile functions (UTF-8 in the file).
#pragma once

#include <QString>

#include "platform/profile/profile.h"

namespace veltra {

inline QString ReadProfile(const QString& section, const QString& key,
                           const QString& defaultValue, const QString& fileName) {
    return QString::fromStdString(GetPrivateProfileString(
        section.toStdString(), key.toStdString(), defaultValue.toStdString(),
        fileName.toStdString()));
}

inline bool WriteProfile(const QString& section, const QString& key, const QString& value,
                         const QString& fileName) {
    return WritePrivateProfileString(section.toStdString(), key.toStdString(),
                                     value.toStdString(), fileName.toStdString());
}

inline bool EraseProfile(const QString& section, const QString& fileName) {
    return EraseProfileSection(section.toStdString(), fileName.toStdString());
}

}  // namespace veltra
