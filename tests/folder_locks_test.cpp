// The check of a folder's byte-range locks: what it reads from the mount
// table, and the probe on a real folder.
#include "engine/folder_locks.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace veltra {
namespace {

// A mount table in /proc/self/mountinfo's form, with an NFS share, an SMB
// share mounted without byte-range locks, an SSHFS mount, a folder name with
// a blank (escaped) and a mount stacked over another.
constexpr std::string_view kMountInfo =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "30 22 0:40 / /srv/team rw,relatime shared:2 - nfs4 server:/export "
    "rw,vers=4.2,local_lock=none\n"
    "31 22 0:41 / /mnt/old\\040share rw,relatime - nfs server:/old "
    "rw,vers=3,nolock,local_lock=all\n"
    "32 22 0:42 / /mnt/smb rw - cifs //nas/team rw,vers=3.1.1,nobrl,cache=strict\n"
    "33 22 0:43 / /mnt/smb2 rw - cifs //nas/team2 rw,vers=3.1.1,cache=strict\n"
    "34 22 0:44 / /home/anna/remote rw,nosuid,nodev shared:5 - fuse.sshfs anna@host:/team rw\n"
    "35 30 0:45 / /srv/team/sub rw - tmpfs tmpfs rw\n"
    "36 22 0:46 / /srv/team rw - nfs4 server:/other rw,vers=4.2,local_lock=posix\n";

TEST(FolderLocksTest, MountOfFindsTheInnermostAndLastStackedMount) {
    struct TCase {
        const char* Path;
        const char* MountPoint;
        const char* FileSystem;
    } cases[] = {
        {"/", "/", "ext4"},
        {"/home/anna", "/", "ext4"},
        {"/srv/teamwork", "/", "ext4"},  // a name that only starts like a mount point
        {"/srv/team", "/srv/team", "nfs4"},
        {"/srv/team/data", "/srv/team", "nfs4"},
        {"/srv/team/sub/x", "/srv/team/sub", "tmpfs"},
        {"/mnt/old share/logs", "/mnt/old share", "nfs"},
        {"/home/anna/remote/team", "/home/anna/remote", "fuse.sshfs"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Path);
        const std::optional<TMountEntry> mount = MountOf(kMountInfo, c.Path);
        ASSERT_TRUE(mount.has_value());
        EXPECT_EQ(mount->MountPoint, c.MountPoint);
        EXPECT_EQ(mount->FileSystem, c.FileSystem);
    }
    // Of the two mounts on /srv/team the later one, stacked on top, counts.
    EXPECT_NE(MountOf(kMountInfo, "/srv/team/x")->Options.find("local_lock=posix"),
              std::string::npos);
    EXPECT_FALSE(MountOf("", "/srv").has_value());
    EXPECT_FALSE(MountOf("garbage line\n1 2 3\n", "/srv").has_value());
}

TEST(FolderLocksTest, LocalOnlyMountsAreRecognisedByTypeAndOptions) {
    struct TCase {
        const char* Path;
        const char* Reason;  // empty: the locks reach the server
    } cases[] = {
        {"/home/anna", ""},
        {"/srv/team/sub", ""},
        {"/srv/team", "mounted with local_lock=posix"},
        {"/mnt/old share", "mounted with nolock"},
        {"/mnt/smb", "mounted with nobrl"},
        {"/mnt/smb2", ""},
        {"/home/anna/remote", "SSHFS does not pass locks to the server"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Path);
        EXPECT_EQ(LocalOnlyReason(*MountOf(kMountInfo, c.Path)), c.Reason);
    }
    // An option is matched whole, not as part of another.
    EXPECT_EQ(LocalOnlyReason({"/x", "nfs", "rw,nolockd,local_lock=none"}), "");
}

TEST(FolderLocksTest, AFolderOnThisMachineKeepsLocksAndTheProbeLeavesNothing) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("veltra-locks-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const TFolderLockCheck check = CheckFolderLocks(folder.string());
    EXPECT_EQ(check.Verdict, TFolderLocks::Shared) << check.Reason;
    EXPECT_FALSE(check.FileSystem.empty());
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    const TFolderLockCheck missing = CheckFolderLocks((folder / "missing").string());
    EXPECT_EQ(missing.Verdict, TFolderLocks::NotWritable);
    EXPECT_NE(missing.Reason.find("cannot create a file in it"), std::string::npos)
        << missing.Reason;
    std::filesystem::remove_all(folder);
}

TEST(FolderLocksTest, AReadOnlyFolderIsNotWritable) {
    const std::filesystem::path base =
        std::filesystem::temp_directory_path() / ("veltra-locks-ro-" + std::to_string(::getpid()));
    std::filesystem::create_directories(base);
    ::chmod(base.c_str(), 0500);
    if (::access(base.c_str(), W_OK) == 0) {
        ::chmod(base.c_str(), 0700);
        std::filesystem::remove_all(base);
        GTEST_SKIP() << "running as a user that ignores folder permissions";
    }
    const TFolderLockCheck check = CheckFolderLocks(base.string());
    EXPECT_EQ(check.Verdict, TFolderLocks::NotWritable);
    EXPECT_NE(check.Reason.find("cannot create a file in it"), std::string::npos) << check.Reason;
    ::chmod(base.c_str(), 0700);
    std::filesystem::remove_all(base);
}

}  // namespace
}  // namespace veltra
