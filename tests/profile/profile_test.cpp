// The private-profile functions on small files: what a read finds, what a
// write keeps and changes, refused input, and that a failed or concurrent
// write never leaves a damaged file.
#include "platform/profile/profile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace veltra {
namespace {

namespace fs = std::filesystem;

class ProfileTest : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/veltra-profile-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        Folder = pattern;
        File = Folder + "/kesh_1_1.ini";
    }
    void TearDown() override { fs::remove_all(Folder); }

    void Put(const std::string& content) const {
        std::ofstream out(File, std::ios::binary | std::ios::trunc);
        out << content;
    }
    std::string Content() const {
        std::ifstream in(File, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    // Files of the folder other than the settings file (left-over temporaries).
    std::vector<std::string> Strays() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(Folder))
            if (e.path() != File) names.push_back(e.path().filename().string());
        return names;
    }

    std::string Folder;
    std::string File;
};

struct TReadCase {
    const char* Name;
    std::string Content;
    std::string Section, Key;
    std::string Expected;  // with the default "dflt"
};

TEST_F(ProfileTest, Read) {
    const std::string longValue(3000, 'x');
    std::string longUtf8;
    for (int i = 0; i < 2100; ++i) longUtf8 += "\u00E9";
    const std::vector<TReadCase> cases{
        {"CR LF lines", "[Tmainform]\r\nFormVersion=0\r\nFlags=2\r\n", "Tmainform", "Flags", "2"},
        {"LF lines", "[Tmainform]\nFormVersion=0\nFlags=2\n", "Tmainform", "Flags", "2"},
        {"no line end at the end", "[a]\nk=v", "a", "k", "v"},
        {"names without regard to case", "[TMainForm]\nsplitter1_TOP=120\n", "tmainform",
         "Splitter1_Top", "120"},
        {"blanks around names and values", "  [ sec ]  \n  key  =  some value  \n", "sec", "key",
         "some value"},
        {"double quotes removed", "[s]\nk=\"quoted\"\n", "s", "k", "quoted"},
        {"single quotes removed", "[s]\nk='quoted'\n", "s", "k", "quoted"},
        {"only one pair removed", "[s]\nk=\"\"twice\"\"\n", "s", "k", "\"twice\""},
        {"mixed quotes kept", "[s]\nk=\"mixed'\n", "s", "k", "\"mixed'"},
        {"a lone quote kept", "[s]\nk=\"\n", "s", "k", "\""},
        {"empty quotes", "[s]\nk=''\n", "s", "k", ""},
        {"empty value is not the default", "[s]\nk=\n", "s", "k", ""},
        {"value with '='", "[s]\nk=a=b\n", "s", "k", "a=b"},
        {"cut at 2047 characters", "[s]\nk=" + longValue + "\n", "s", "k",
         longValue.substr(0, 2047)},
        {"cut counts characters, not bytes", "[s]\nk=" + longUtf8 + "\n", "s", "k",
         longUtf8.substr(0, 2 * 2047)},
        {"missing key", "[s]\nother=1\n", "s", "k", "dflt"},
        {"missing section", "[t]\nk=1\n", "s", "k", "dflt"},
        {"key of another section", "[t]\nk=1\n[s]\nj=2\n", "s", "k", "dflt"},
        {"key before any section", "k=1\n[s]\n", "s", "k", "dflt"},
        {"first of two sections and keys", "[s]\nk=1\nk=2\n[S]\nk=3\n", "s", "k", "1"},
        {"comment line", "[s]\n;k=1\nk=2\n", "s", "k", "2"},
        {"byte order mark", "\xEF\xBB\xBF[s]\nk=1\n", "s", "k", "1"},
        {"text after the bracket", "[s] ; note\nk=1\n", "s", "k", "1"},
        {"prefix of a key does not match", "[s]\nkey=1\n", "s", "ke", "dflt"},
        {"section list keys", "[Tmainform.DBGrid1_Columns]\nItem0_FieldName=Title\n",
         "Tmainform.DBGrid1_Columns", "Item0_FieldName", "Title"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Put(c.Content);
        EXPECT_EQ(GetPrivateProfileString(c.Section, c.Key, "dflt", File), c.Expected);
    }
}

TEST_F(ProfileTest, ReadWithoutFileGivesTheDefaultCut) {
    EXPECT_EQ(GetPrivateProfileString("s", "k", "fallback", File), "fallback");
    EXPECT_EQ(GetPrivateProfileString("s", "k", std::string(2100, 'd'), File),
              std::string(2047, 'd'));
    EXPECT_EQ(GetPrivateProfileString("s", "k", "x", Folder + "/no/such/folder/f.ini"), "x");
    EXPECT_FALSE(fs::exists(File));
}

struct TWriteCase {
    const char* Name;
    std::string Before;  // "" and !Exists: no file
    bool Exists;
    std::string Section, Key, Value;
    std::string After;
};

TEST_F(ProfileTest, Write) {
    const std::vector<TWriteCase> cases{
        {"new file", "", false, "Tmainform", "FormVersion", "0",
         "[Tmainform]\r\nFormVersion=0\r\n"},
        {"new section at the end", "[a]\r\nx=1\r\n", true, "b", "y", "2",
         "[a]\r\nx=1\r\n[b]\r\ny=2\r\n"},
        {"replace in place, order kept", "[a]\r\nx=1\r\ny=2\r\nz=3\r\n", true, "a", "y", "9",
         "[a]\r\nx=1\r\ny=9\r\nz=3\r\n"},
        {"replace without regard to case", "[A]\r\nKEY=1\r\n", true, "a", "key", "2",
         "[A]\r\nkey=2\r\n"},
        {"new key after the section's last entry", "[a]\r\nx=1\r\n\r\n[b]\r\nz=3\r\n", true, "a",
         "y", "2", "[a]\r\nx=1\r\ny=2\r\n\r\n[b]\r\nz=3\r\n"},
        {"only the first section changes", "[a]\r\nx=1\r\n[a]\r\nx=2\r\n", true, "a", "x", "5",
         "[a]\r\nx=5\r\n[a]\r\nx=2\r\n"},
        {"comments and stray lines kept", "; settings\r\n[a]\r\nnoise\r\nx=1\r\n", true, "a", "x",
         "2", "; settings\r\n[a]\r\nnoise\r\nx=2\r\n"},
        {"LF file stays LF", "[a]\nx=1\n", true, "a", "y", "2", "[a]\nx=1\ny=2\n"},
        {"file without a last line end", "[a]\nx=1", true, "a", "x", "3", "[a]\nx=3\n"},
        {"empty value", "[a]\r\nx=1\r\n", true, "a", "x", "", "[a]\r\nx=\r\n"},
        {"value written as it is", "", false, "a", "t", "\"'quoted'\"",
         "[a]\r\nt=\"'quoted'\"\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove(File);
        if (c.Exists) Put(c.Before);
        EXPECT_TRUE(WritePrivateProfileString(c.Section, c.Key, c.Value, File));
        EXPECT_EQ(Content(), c.After);
        EXPECT_TRUE(Strays().empty());
    }
}

// A text that begins and ends with quotes is stored inside an extra pair
// (as the layout store does) and reads back unchanged.
TEST_F(ProfileTest, QuotedTextSurvivesAWriteAndARead) {
    for (const std::string text : {"'single'", "\"double\"", "'", "plain", "a \"b\" c"}) {
        SCOPED_TRACE(text);
        const bool quoted =
            text.size() >= 2 && (text[0] == '"' || text[0] == '\'') && text.back() == text[0];
        ASSERT_TRUE(WritePrivateProfileString("Tmainform", "Labelindex_Caption",
                                              quoted ? "\"" + text + "\"" : text, File));
        EXPECT_EQ(GetPrivateProfileString("Tmainform", "Labelindex_Caption", "", File), text);
    }
}

TEST_F(ProfileTest, RefusedWritesLeaveTheFileAsItWas) {
    const std::string before = "[a]\r\nx=1\r\n";
    const struct {
        const char* Name;
        std::string Section, Key, Value;
    } cases[] = {
        {"line break in the value", "a", "x", "1\r\n[evil]\r\ny=2"},
        {"line feed in the key", "a", "x\ny", "1"},
        {"'=' in the key", "a", "x=y", "1"},
        {"empty key", "a", "  ", "1"},
        {"key that reads as a section", "a", "[b]", "1"},
        {"key that reads as a comment", "a", ";x", "1"},
        {"']' in the section", "a]b", "x", "1"},
        {"line break in the section", "a\nb", "x", "1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Put(before);
        EXPECT_FALSE(WritePrivateProfileString(c.Section, c.Key, c.Value, File));
        EXPECT_EQ(Content(), before);
    }
    // A folder that cannot exist: its parent is a file.
    EXPECT_FALSE(WritePrivateProfileString("a", "x", "1", File + "/inner.ini"));
    EXPECT_EQ(Content(), before);
}

TEST_F(ProfileTest, EraseSection) {
    Put("[Tmainform]\r\nx=1\r\n[Tmainform.DBGrid1_Columns]\r\nItem0_Width=64\r\nItem1_Width=30\r\n"
        "[tmainform.dbgrid1_columns]\r\nItem2_Width=5\r\n[Teditform]\r\ny=2\r\n");
    EXPECT_TRUE(EraseProfileSection("Tmainform.DBGrid1_Columns", File));
    EXPECT_EQ(Content(), "[Tmainform]\r\nx=1\r\n[Teditform]\r\ny=2\r\n");
    EXPECT_EQ(GetPrivateProfileString("Tmainform.DBGrid1_Columns", "Item0_Width", "none", File),
              "none");
    // Erasing what is not there changes nothing and creates nothing.
    EXPECT_TRUE(EraseProfileSection("Nothing", File));
    EXPECT_EQ(Content(), "[Tmainform]\r\nx=1\r\n[Teditform]\r\ny=2\r\n");
    fs::remove(File);
    EXPECT_TRUE(EraseProfileSection("Tmainform", File));
    EXPECT_FALSE(fs::exists(File));
    EXPECT_TRUE(Strays().empty());
}

// A batch gives the file that the same writes and erasures one by one give,
// in one replacement of the file.
TEST_F(ProfileTest, BatchAppliesItsChangesInOrderAsOneWrite) {
    const std::string before =
        "; kept\r\n[Tmainform]\r\nFormVersion=1\r\nNormPos=1,2,3,4\r\n"
        "[Tmainform.DBGrid1_Columns]\r\nItem0_Width=64\r\nItem5_Width=9\r\n[Teditform]\r\ny=2\r\n";
    const auto apply = [](auto write, auto erase) {
        write("Tmainform", "FormVersion", "0");
        write("Tmainform", "ShowCmd", "1");
        erase("Tmainform.DBGrid1_Columns");
        write("Tmainform.DBGrid1_Columns", "Item0_Width", "55");
        write("Tmainform.DBGrid1_Columns", "Item0_Visible", "True");
        erase("Tmainform.DBGrid1_Columns.Item0_PickList");
        write("New", "k", "v");
        write("Tmainform", "ShowCmd", "3");  // a later write of the same key wins
    };
    Put(before);
    apply([&](const char* s, const char* k, const char* v) { WritePrivateProfileString(s, k, v, File); },
          [&](const char* s) { EraseProfileSection(s, File); });
    const std::string oneByOne = Content();

    Put(before);
    TProfileBatch batch(File);
    apply([&](const char* s, const char* k, const char* v) { EXPECT_TRUE(batch.Write(s, k, v)); },
          [&](const char* s) { batch.Erase(s); });
    EXPECT_EQ(batch.Pending(), 8u);
    // Nothing is written before the commit.
    EXPECT_EQ(Content(), before);
    EXPECT_TRUE(batch.Commit());
    EXPECT_EQ(batch.Pending(), 0u);
    EXPECT_EQ(Content(), oneByOne);
    EXPECT_EQ(GetPrivateProfileString("Tmainform", "ShowCmd", "", File), "3");
    EXPECT_EQ(GetPrivateProfileString("Tmainform.DBGrid1_Columns", "Item5_Width", "none", File),
              "none");
    EXPECT_TRUE(Strays().empty());
}

TEST_F(ProfileTest, BatchRefusalsAndFailures) {
    const std::string before = "[a]\r\nx=1\r\n";
    Put(before);
    TProfileBatch batch(File);
    // Refused names are not queued; the rest still commits.
    EXPECT_FALSE(batch.Write("a", "x=y", "1"));
    EXPECT_FALSE(batch.Write("a", "x", "1\r\n[evil]"));
    EXPECT_TRUE(batch.Write("a", "x", "2"));
    EXPECT_EQ(batch.Pending(), 1u);
    EXPECT_TRUE(batch.Commit());
    EXPECT_EQ(Content(), "[a]\r\nx=2\r\n");
    // An empty batch and erasures of what is not there create no file.
    fs::remove(File);
    EXPECT_TRUE(batch.Commit());
    batch.Erase("a");
    EXPECT_TRUE(batch.Commit());
    EXPECT_FALSE(fs::exists(File));
    // A file that cannot be written: false, and the queue is emptied.
    TProfileBatch refused(File + "/inner.ini");
    Put(before);
    EXPECT_TRUE(refused.Write("a", "x", "3"));
    EXPECT_FALSE(refused.Commit());
    EXPECT_EQ(refused.Pending(), 0u);
    EXPECT_EQ(Content(), before);
    EXPECT_TRUE(Strays().empty());
}

// A write that fails halfway (here: the file size limit, as a full disk
// would) reports failure and leaves the old file whole and no temporary.
TEST_F(ProfileTest, FailedWriteKeepsTheOldFile) {
    const std::string before = "[Tmainform]\r\nFormVersion=0\r\nNormPos=1,2,3,4\r\n";
    Put(before);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64, 64};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const bool written =
            WritePrivateProfileString("Tmainform", "Big", std::string(4000, 'v'), File);
        ::_exit(written ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed write reported success";
    EXPECT_EQ(Content(), before);
    EXPECT_TRUE(Strays().empty());
}

// Two processes writing keys into one file at once lose none of them.
TEST_F(ProfileTest, ConcurrentWritersKeepEveryKey) {
    constexpr int kKeys = 40;
    std::vector<pid_t> children;
    for (int writer = 0; writer < 2; ++writer) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            bool ok = true;
            for (int k = 0; k < kKeys; ++k)
                ok = WritePrivateProfileString(writer ? "B" : "A", "Key" + std::to_string(k),
                                               std::to_string(k), File) &&
                     ok;
            ::_exit(ok ? 0 : 1);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (const char* section : {"A", "B"})
        for (int k = 0; k < kKeys; ++k)
            EXPECT_EQ(GetPrivateProfileString(section, "Key" + std::to_string(k), "lost", File),
                      std::to_string(k))
                << section << k;
    EXPECT_TRUE(Strays().empty());
}

}  // namespace
}  // namespace veltra
