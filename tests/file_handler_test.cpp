// File access: names, sharing modes, byte-range locks, OS error mapping and
// short reads and writes through the replaceable I/O layer.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <fstream>

#include "engine/errors.h"
#include "engine/file_handler.h"
#include "engine/lock_protocol.h"
#include "engine/session.h"
#include "test_util.h"

using namespace veltra;

namespace {

class FileHandlerTest : public ::testing::Test {
protected:
    void SetUp() override { EngineStartup(); }

    std::string MakeFile(const std::string& name, const std::string& content = "0123456789") {
        std::string path = m_Dir / name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }


    std::unique_ptr<TFileHandler> OpenHandler(const std::string& path, bool exclusive, bool readOnly) {
        auto h = std::make_unique<TFileHandler>();
        h->SetFileName(path);
        h->SetExclusive(exclusive);
        h->SetReadOnly(readOnly);
        h->Open();
        return h;
    }

    veltra_test::TTestDir m_Dir;
};

}  // namespace

TEST(FileNameTest, ForceExtension) {
    struct {
        const char* In;
        const char* Ext;
        const char* Out;
    } cases[] = {
        {"log", "DAT", "log.DAT"},         {"log.dat", "DAT", "log.dat"},
        {" log.txt  ", "DAT", "log.DAT"},  {"dir.v2/log", "IDX", "dir.v2/log.IDX"},
        {"log.dat", "BLB", "log.BLB"},     {"/a/b.c.Dat", "DAT", "/a/b.c.Dat"},
    };
    for (const auto& c : cases) EXPECT_EQ(ForceExtension(c.In, c.Ext), c.Out) << c.In;
}

TEST(OsErrorTest, MappingByMeaning) {
    struct {
        int Err;
        int Code;
    } cases[] = {{ENOENT, 11010}, {ENOTDIR, 11010}, {EMFILE, 11012}, {ENFILE, 11012},
                 {EACCES, 11013}, {EPERM, 11013},   {EROFS, 11013},  {EAGAIN, 11013},
                 {EBADF, 11014},  {ENOMEM, 11016},  {ENODEV, 11023}, {EXDEV, 11025},
                 {EIO, 11047},    {EISDIR, 11047}};
    for (const auto& c : cases) EXPECT_EQ(MapOsError(c.Err), c.Code) << c.Err;
}

TEST_F(FileHandlerTest, MatchesExistingNamesWithoutRegardToCase) {
    MakeFile("tickets.dat", "x");
    auto h = std::make_unique<TFileHandler>();
    h->SetFileName(m_Dir / "TICKETS.DAT");
    h->Open();
    EXPECT_EQ(h->ActualPath(), m_Dir / "tickets.dat");
    EXPECT_EQ(h->FileName(), m_Dir / "TICKETS.DAT");

    MakeFile("TICKETS.DAT", "y");  // an exact match wins
    EXPECT_EQ(ResolveExistingPath(m_Dir / "TICKETS.DAT"), m_Dir / "TICKETS.DAT");
    EXPECT_EQ(ResolveExistingPath(m_Dir / "Tickets.Dat"), m_Dir / "TICKETS.DAT");  // first by bytes
    EXPECT_EQ(ResolveExistingPath(m_Dir / "nothing.dat"), m_Dir / "nothing.dat");
}

TEST_F(FileHandlerTest, OpenFailuresCarryEngineCodesAndOsNumbers) {
    auto h = std::make_unique<TFileHandler>();
    h->SetFileName(m_Dir / "missing.dat");
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { h->Open(); }), 11010);
    EXPECT_EQ(CurrentSession().ErrorContext.OsError, ENOENT);
    h->SetFileName(m_Dir.Path().string());  // a folder
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { h->Open(); }), 11013);
}

TEST_F(FileHandlerTest, SharingModesBetweenOpens) {
    std::string path = MakeFile("t.dat");
    {
        auto a = OpenHandler(path, false, false);
        auto b = OpenHandler(path, false, true);  // shared opens coexist
        EXPECT_EQ(veltra_test::EngineErrorOf([&] { OpenHandler(path, true, false); }), 11013);
    }
    auto x = OpenHandler(path, true, false);
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { OpenHandler(path, false, false); }), 11013);
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { OpenHandler(path, true, true); }), 11013);
    x->Close();
    EXPECT_NO_THROW(OpenHandler(path, false, false));
}

TEST_F(FileHandlerTest, PropertiesCannotChangeWhileOpen) {
    auto h = OpenHandler(MakeFile("t.dat"), false, false);
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { h->SetFileName("other"); }), 10031);
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { h->SetExclusive(true); }), 10031);
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { h->SetReadOnly(true); }), 10031);
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { h->DeleteFile(); }), 10031);
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { h->CreateFile(); }), 10031);
}

TEST_F(FileHandlerTest, ReadOnlyAttributeForcesReadOnlyAndRefusesWrites) {
    std::string path = MakeFile("ro.dat");
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    auto h = OpenHandler(path, false, false);
    EXPECT_TRUE(h->ReadOnly());
    EXPECT_TRUE(h->ReadOnlyForced());
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { h->WriteAt(0, "x", 1); }), 11013);

    std::string rw = MakeFile("rw.dat");
    auto r = OpenHandler(rw, false, true);  // asked for, not forced
    EXPECT_TRUE(r->ReadOnly());
    EXPECT_FALSE(r->ReadOnlyForced());
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { r->WriteAt(0, "x", 1); }), 11013);
    EXPECT_TRUE(r->LockRange(kReadLockBase - 5, 1));  // read locks still work
}

TEST_F(FileHandlerTest, LocksBelongToTheOpenFile) {
    std::string path = MakeFile("t.dat");
    auto a = OpenHandler(path, false, false);
    auto b = OpenHandler(path, false, false);
    EXPECT_TRUE(a->LockRange(kTableWriteLockOffset, 1));  // far beyond end of file
    EXPECT_FALSE(b->LockRange(kTableWriteLockOffset, 1));
    EXPECT_TRUE(a->LockRange(kTableWriteLockOffset, 1));  // the owner may take it again
    EXPECT_TRUE(b->LockRange(kReadLockBase - 100, 1));
    EXPECT_FALSE(a->LockRange(kRangeWriteLockOffset, kRangeWriteLockLength));  // covers b's byte
    EXPECT_TRUE(b->UnlockRange(kReadLockBase - 100, 1));
    EXPECT_TRUE(a->LockRange(kRangeWriteLockOffset, kRangeWriteLockLength));
    a->Close();  // closing drops every lock of the open file
    EXPECT_TRUE(b->LockRange(kTableWriteLockOffset, 1));
    EXPECT_TRUE(b->LockRange(kRangeWriteLockOffset, kRangeWriteLockLength));
}

TEST_F(FileHandlerTest, ReadWriteSeekAndTruncate) {
    auto h = OpenHandler(MakeFile("t.dat", "abcdef"), false, false);
    char buf[8] = {};
    EXPECT_EQ(h->ReadAt(2, buf, 3), 3u);
    EXPECT_EQ(std::string(buf, 3), "cde");
    EXPECT_EQ(h->ReadAt(4, buf, 8, true), 2u);
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { h->ReadAt(4, buf, 8); }), 9217);
    h->WriteAt(6, "gh", 2);
    EXPECT_EQ(h->GetSize(), 8);
    EXPECT_EQ(h->Seek(-3, 2), 5);
    h->Write(nullptr, 0);  // truncates at the position
    EXPECT_EQ(h->GetSize(), 5);
}

namespace {

// Writes at most `Limit` bytes per call and then fails with ENOSPC.
class TFullDiskIo : public TFileIo {
public:
    size_t Limit = 0;
    ssize_t PWrite(int fd, const void* buffer, size_t count, off_t offset) override {
        if (Limit == 0) {
            errno = ENOSPC;
            return -1;
        }
        size_t n = std::min(count, Limit);
        Limit -= n;
        return TFileIo::PWrite(fd, buffer, n, offset);
    }
};

}  // namespace

TEST_F(FileHandlerTest, ShortWriteRaises9218) {
    auto h = OpenHandler(MakeFile("t.dat", ""), false, false);
    TFullDiskIo io;
    io.Limit = 3;
    SetFileIo(&io);
    int code = veltra_test::EngineErrorOf([&] { h->WriteAt(0, "abcdef", 6); });
    SetFileIo(nullptr);
    EXPECT_EQ(code, 9218);
    EXPECT_EQ(CurrentSession().ErrorContext.OsError, ENOSPC);
}

TEST_F(FileHandlerTest, CreateDeleteRenameCopy) {
    TFileHandler h;
    h.SetFileName(m_Dir / "new.dat");
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { h.CreateFile(); }), 10253);
    h.SetExclusive(true);
    h.CreateFile();
    h.WriteAt(0, "data", 4);
    h.Close();
    h.CopyFile(m_Dir / "copy.dat");
    h.RenameFile(m_Dir / "moved.dat");
    EXPECT_TRUE(h.FileExists());
    h.DeleteFile();
    EXPECT_FALSE(h.FileExists());
    EXPECT_EQ(veltra_test::EngineErrorOf([&] { h.DeleteFile(); }), 9220);
    std::ifstream copy(m_Dir / "copy.dat");
    std::string s;
    copy >> s;
    EXPECT_EQ(s, "data");
}
