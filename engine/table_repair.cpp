// RepairTable: the exclusive opens, the backup, putting the originals back on
// failure, and the verify afterwards. The mending itself is in
// table_repair_files.cpp and table_repair_rebuild.cpp.
#include "table_repair.h"

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <memory>

#include "data_file.h"
#include "errors.h"
#include "file_handler.h"
#include "session.h"
#include "table_repair_internal.h"

namespace veltra {

namespace {

namespace fs = std::filesystem;

constexpr size_t kCopyChunk = 1 << 20;

std::unique_ptr<TFileHandler> OpenExclusive(const std::string& path) {
    auto file = std::make_unique<TFileHandler>();
    file->SetFileName(path);
    file->SetExclusive(true);
    file->Open();
    return file;
}

// Copies the bytes of an open file into `to` (created or replaced) and has
// the copy reach the disk.
void CopyBytes(TFileHandler& from, TFileHandler& to) {
    const int64_t size = from.GetSize();
    std::vector<uint8_t> chunk(kCopyChunk);
    for (int64_t at = 0; at < size; at += int64_t(chunk.size())) {
        const size_t n = size_t(std::min<int64_t>(int64_t(chunk.size()), size - at));
        from.ReadAt(at, chunk.data(), n);
        to.WriteAt(at, chunk.data(), n);
    }
    to.Seek(size);
    to.Write(nullptr, 0);
    to.Flush();
}

// <folder>/<name>.bak-YYYYMMDD-HHMMSS, with "-2", "-3", ... when taken.
std::string NewBackupFolder(const std::string& dataPath) {
    const fs::path data(dataPath);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base =
        (data.parent_path() / (data.stem().string() + ".bak-" + stamp)).string();
    for (int n = 1;; ++n) {
        const std::string folder = n == 1 ? base : base + "-" + std::to_string(n);
        std::error_code ec;
        if (fs::create_directory(folder, ec)) return folder;
        if (ec) RaiseOsError(ec.value(), folder);
    }
}

// The three files, open exclusively for the whole mending of their bytes.
struct TOpenFiles {
    std::unique_ptr<TFileHandler> Data, Index, Blob;
    void Close() {
        for (auto* f : {&Data, &Index, &Blob})
            if (*f) (*f)->Close();
    }
};

}  // namespace

TRepairReport RepairTable(const std::string& path) {
    CurrentSession();  // 10758 before EngineStartup
    TRepairReport report;
    repair::TRun run(report);
    TDataFile names;
    names.SetFileName(path);
    run.DataPath = ResolveExistingPath(names.FileName());
    std::error_code ec;
    if (!fs::is_regular_file(run.DataPath, ec)) RaiseEngineError(ecInvalidPath, names.FileName());
    const std::string indexName = ForceExtension(run.DataPath, "IDX");
    run.IndexPath = ResolveExistingPath(indexName);
    // A BLOB file the repair has to create takes the data file's letter case.
    const std::string dataExt = fs::path(run.DataPath).extension().string();
    run.BlobPath =
        ResolveExistingPath(ForceExtension(run.DataPath, dataExt == ".dat" ? "blb" : "BLB"));
    if (!fs::is_regular_file(run.IndexPath, ec))
        throw ETableRepairRefused(
            indexName + ": missing: the index definitions are lost; the table cannot be repaired");

    // Whatever the engine does when it opens a table after an interrupted
    // change happens now, before the backup, as it would for any program
    // opening the table. A table too damaged to open is repaired as it is.
    try {
        TDataFile probe;
        probe.SetFileName(run.DataPath);
        probe.SetReadOnly(true);
        probe.OpenTable();
        probe.CloseTable();
    } catch (const EVeltraEngineError&) {
    }

    TOpenFiles files;
    files.Data = OpenExclusive(run.DataPath);
    files.Index = OpenExclusive(run.IndexPath);
    if (fs::is_regular_file(run.BlobPath, ec)) files.Blob = OpenExclusive(run.BlobPath);
    for (auto* f : {&files.Data, &files.Index, &files.Blob})
        if (*f && (*f)->ReadOnlyForced()) RaiseOsError(EACCES, (*f)->FileName());

    // The backup, before any byte changes.
    report.BackupFolder = NewBackupFolder(run.DataPath);
    std::vector<std::pair<std::string, std::string>> copies;  // original, backup
    for (auto* f : {&files.Data, &files.Index, &files.Blob}) {
        if (!*f) continue;
        const std::string original = (*f)->ActualPath();
        const std::string copy =
            (fs::path(report.BackupFolder) / fs::path(original).filename()).string();
        TFileHandler out;
        out.SetFileName(copy);
        out.SetExclusive(true);
        out.CreateFile();
        CopyBytes(**f, out);
        out.Close();
        copies.emplace_back(original, copy);
        report.Backups.push_back(copy);
    }

    try {
        repair::MendFiles(run, *files.Data, *files.Index, files.Blob.get());
        files.Close();
        repair::Rebuild(run);
    } catch (...) {
        files.Close();
        // Put the originals back; the backup folder stays.
        for (const auto& [original, copy] : copies) {
            TFileHandler in;
            in.SetFileName(copy);
            in.SetExclusive(true);
            in.Open();
            auto out = OpenExclusive(original);
            CopyBytes(in, *out);
        }
        if (run.BlobCreated) fs::remove(run.BlobPath, ec);
        throw;
    }
    report.After = VerifyTable(run.DataPath);
    return report;
}

}  // namespace veltra
