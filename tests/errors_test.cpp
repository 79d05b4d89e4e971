// Engine error messages, context handling and the session's error state.
#include <gtest/gtest.h>

#include "engine/errors.h"
#include "engine/file_handler.h"
#include "engine/session.h"

using namespace veltra;

namespace {

struct MessageCase {
    int Code;
    const char* Expected;
};

class ErrorsTest : public ::testing::Test {
protected:
    void SetUp() override { EngineStartup(); }
};

EVeltraEngineError Catch(const std::function<void()>& f) {
    try {
        f();
    } catch (const EVeltraEngineError& e) {
        return e;
    }
    ADD_FAILURE() << "no engine error raised";
    return EVeltraEngineError(0, "");
}

}  // namespace

TEST_F(ErrorsTest, MessagesAreBuiltFromTheContext) {
    const std::string file = "/data/log.DAT";
    const MessageCase cases[] = {
        {10258, "Record in data file /data/log.DAT is in use by another user"},
        {9729, "Duplicate key found in index ByTitle of data file /data/log.DAT"},
        {9730, "The value for the field Priority in data file /data/log.DAT is below the minimum "
               "allowable value"},
        {9479, "The data file /data/log.DAT is full and cannot contain any more data"},
        {10015, "Password provided for data file /data/log.DATis invalid"},
        {10023, "Invalid field number Priority specified in index ByTitle for data file /data/log.DAT"},
        {11949, "SQL - near WHERE"},
        {11016, "There is insufficient operating system memory available for the current operation"},
        {4242, "Unknown error occurred with data file /data/log.DAT"},
    };
    for (const auto& c : cases) {
        EVeltraEngineError e =
            Catch([&] { RaiseEngineError(c.Code, file, "Priority", "ByTitle", "near WHERE"); });
        EXPECT_EQ(e.ErrorCode(), c.Code);
        ASSERT_EQ(e.Errors().size(), 1u);
        EXPECT_EQ(e.Errors()[0].Message, c.Expected) << c.Code;
        EXPECT_EQ(std::string(e.what()),
                  "Veltra Engine Error # " + std::to_string(c.Code) + " " + c.Expected);
        EXPECT_EQ(LastEngineErrorCode(), c.Code);
        EXPECT_EQ(EngineErrorText(c.Code), c.Expected);
    }
}

TEST_F(ErrorsTest, LongTextsAreCutTo127Characters) {
    std::string path = "/" + std::string(200, 'p') + ".DAT";
    EVeltraEngineError e = Catch([&] { RaiseEngineError(10258, path); });
    std::string full = "Record in data file " + path + " is in use by another user";
    EXPECT_EQ(e.Errors()[0].Message, full.substr(0, 127));
    EXPECT_EQ(std::string(e.what()), "Veltra Engine Error # 10258 " + full.substr(0, 127));
}

TEST_F(ErrorsTest, RaisingClearsTheContextButKeepsTheOsError) {
    CurrentSession().ErrorContext.OsError = 77;
    Catch([] { RaiseEngineError(9729, "a.DAT", "F", "I", "x"); });
    Catch([] { RaiseEngineError(8706, "b.DAT"); });
    const TErrorContext& ctx = CurrentSession().ErrorContext;
    EXPECT_EQ(ctx.ErrorCode, 8706);
    EXPECT_EQ(ctx.FileName, "b.DAT");
    EXPECT_EQ(ctx.FieldName, "");
    EXPECT_EQ(ctx.IndexName, "");
    EXPECT_EQ(ctx.ExtraText, "");
    EXPECT_EQ(ctx.OsError, 77);
}

TEST_F(ErrorsTest, UnknownOsErrorShowsItsNumber) {
    EVeltraEngineError e = Catch([] { RaiseOsError(21, "/x/t.DAT"); });
    EXPECT_EQ(e.ErrorCode(), 11047);
    EXPECT_EQ(e.Errors()[0].Message, "An unknown operating system error #21 occurred with data file /x/t.DAT");
}

TEST_F(ErrorsTest, EngineErrorsAreDatabaseErrors) {
    try {
        RaiseEngineError(8961, "t.DAT");
        FAIL();
    } catch (const EDatabaseError& e) {
        EXPECT_NE(std::string(e.what()).find("Header information corrupt"), std::string::npos);
    }
}

TEST_F(ErrorsTest, CheckEngineResultRaisesOnlyNonZeroCodes) {
    EXPECT_NO_THROW(CheckEngineResult(0, "t.DAT"));
    EVeltraEngineError e = Catch([] { CheckEngineResult(8711, "t.DAT"); });
    EXPECT_EQ(e.Errors()[0].Message, "End of blob data in data file t.DAT reached prematurely");
}

TEST(EngineStateTest, NotInitializedBeforeStartupAndAfterShutdown) {
    EngineShutdown();
    EXPECT_FALSE(EngineStarted());
    EVeltraEngineError e = Catch([] { CurrentSession(); });
    EXPECT_EQ(e.ErrorCode(), 10758);
    EXPECT_EQ(std::string(e.what()), "Veltra Engine Error # 10758 Veltra engine not initialized");
    EXPECT_EQ(LastEngineErrorCode(), 0);
    EngineStartup();
    EXPECT_NO_THROW(CurrentSession());
}

TEST(EngineStateTest, SessionsKeepTheirOwnPasswordsAndContext) {
    EngineStartup();
    RemoveAllPasswords();
    AddPassword("Secret");
    AddPassword("Secret");
    AddPassword("");
    EXPECT_EQ(CurrentSession().Passwords.Items().size(), 1u);
    EXPECT_TRUE(HasPassword("Secret"));
    EXPECT_FALSE(HasPassword("SECRET"));

    TFileSession other;
    SetCurrentSession(&other);
    EXPECT_FALSE(HasPassword("Secret"));
    Catch([] { RaiseEngineError(9217, "o.DAT"); });
    SetCurrentSession(nullptr);
    EXPECT_NE(LastEngineErrorCode(), 9217);
    EXPECT_EQ(other.ErrorContext.ErrorCode, 9217);

    RemovePassword("Secret");
    EXPECT_FALSE(HasPassword("Secret"));
    SetPrivateDirectory(std::string(300, 'd'));
    EXPECT_EQ(GetPrivateDirectory().size(), 255u);
}
