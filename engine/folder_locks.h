// Whether a folder keeps the byte-range locks the tables are shared through.
//
// Several copies of the program, on one machine or on many, coordinate their
// reads and writes of a table through byte-range locks on its files
// (lock_protocol.h). That only works when the folder's file system keeps
// those locks and, for a network share, hands them to the server so that
// every machine sees them. CheckFolderLocks finds out what it can from this
// machine:
//
//  - it creates a probe file in the folder, takes a write lock on a byte of
//    it through one open file description and checks that a second one is
//    refused the same byte (the engine's locks are open-file-description
//    locks, so this works within one process);
//  - it looks up the folder's mount in /proc/self/mountinfo and recognises
//    mounts whose locks stay on this machine: NFS mounted with `nolock` or
//    `local_lock=posix` / `local_lock=all`, SMB/CIFS mounted with `nobrl`,
//    and SSHFS, which never forwards locks.
//
// Other file systems (local disks, NFS and SMB mounted with their defaults)
// count as sharing their locks. No Qt; thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace veltra {

enum class TFolderLocks {
    Shared,       // locks work and reach every machine as far as can be told
    LocalOnly,    // locks work on this machine only (see Reason)
    Missing,      // the file system refuses or ignores the locks
    NotWritable,  // no file can be created in the folder (or it is missing)
};

struct TFolderLockCheck {
    TFolderLocks Verdict = TFolderLocks::Shared;
    std::string FileSystem;  // the mount's file system type, when found
    std::string Reason;      // for anything but Shared: what was found
};

TFolderLockCheck CheckFolderLocks(const std::string& folder);

// One line of /proc/self/mountinfo, the parts the check needs.
struct TMountEntry {
    std::string MountPoint;  // unescaped
    std::string FileSystem;
    std::string Options;  // the mount's options and the file system's, comma-separated
};

// The mount that holds `path` (an absolute path without symbolic links): the
// entry with the longest mount point that is `path` or a folder above it; of
// mounts stacked on one point, the last. nullopt when no entry fits.
std::optional<TMountEntry> MountOf(std::string_view mountinfo, const std::string& path);

// Why locks on this mount stay on this machine, or empty when they do not
// (as far as the mount's type and options tell).
std::string LocalOnlyReason(const TMountEntry& mount);

}  // namespace veltra
