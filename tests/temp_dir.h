// A fresh temporary folder for one test, removed with everything in it.
#pragma once

#include <filesystem>
#include <string>

#include <stdlib.h>

class TTempDir {
public:
    TTempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "veltra-test-XXXXXX").string();
        m_Path = mkdtemp(tmpl.data());
    }
    ~TTempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_Path, ec);
    }
    std::string operator/(const std::string& name) const { return (m_Path / name).string(); }
    const std::filesystem::path& Path() const { return m_Path; }

private:
    std::filesystem::path m_Path;
};
