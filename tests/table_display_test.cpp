// What a grid and the application's dialogs see of a table: field display
// properties (label, width, visibility, alignment, display text) and the
// user's locale installed for the whole process, under which display texts,
// AsString assignment, filter constants and FindKey values are read.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "engine/session.h"
#include "engine/veltra_table.h"
#include "platform/format_settings.h"
#include "test_util.h"

using namespace veltra;
using namespace veltra_test;

namespace {

TTableDef KindsDef() {
    TTableDef def;
    def.Fields = {{"ID", ftInteger, kSubTypeAutoInc},
                  {"Title", ftString, 0, 40},
                  {"Close date", ftDate},
                  {"Opened at", ftTime},
                  {"Stamp", ftDateTime},
                  {"Cost", ftFloat},
                  {"Priority", ftInteger},
                  {"Level", ftSmallInt},
                  {"Done", ftBoolean},
                  {"Description", ftBlob, 22},
                  {"All", ftBlob, 24},
                  {"Picture", ftBlob, 26}};
    def.Indexes = {{.Primary = true, .Fields = {"ID"}},
                   {.Name = "Close date", .Fields = {"Close date"}}};
    return def;
}

// Restores the process-wide settings a test installed.
class TSettingsGuard {
public:
    TSettingsGuard() : m_Saved(FormatSettings()) {}
    ~TSettingsGuard() { InstallFormatSettings(m_Saved); }

private:
    TFormatSettings m_Saved;
};

class TableDisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        EngineStartup();
        m_Path = m_Dir / "kinds.dat";
        CreateTable(m_Path, KindsDef());
    }
    std::unique_ptr<TVeltraTable> Open(const std::string& index = "") {
        auto t = std::make_unique<TVeltraTable>();
        t->SetTableName(m_Path);
        t->SetIndexName(index);
        t->Open();
        return t;
    }
    TTestDir m_Dir;
    std::string m_Path;
    TSettingsGuard m_Guard;
};

TEST_F(TableDisplayTest, DisplayPropertiesDefaultByKindAndCanBeSet) {
    auto t = Open();
    struct TCase {
        const char* Field;
        int Width;
        TField::TAlignment Align;
    };
    const TCase cases[] = {
        {"ID", 11, TField::TAlignment::Right},        {"Title", 40, TField::TAlignment::Left},
        {"Close date", 10, TField::TAlignment::Left}, {"Opened at", 10, TField::TAlignment::Left},
        {"Stamp", 18, TField::TAlignment::Left},      {"Cost", 10, TField::TAlignment::Right},
        {"Priority", 11, TField::TAlignment::Right},  {"Level", 6, TField::TAlignment::Right},
        {"Done", 5, TField::TAlignment::Left},        {"Description", 10, TField::TAlignment::Left},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Field);
        TField& f = t->FieldByName(c.Field);
        EXPECT_EQ(f.DisplayLabel(), c.Field);
        EXPECT_EQ(f.DisplayWidth(), c.Width);
        EXPECT_EQ(f.Alignment(), c.Align);
        EXPECT_TRUE(f.Visible);
    }
    TField& title = t->FieldByName("Title");
    title.SetDisplayLabel("Ticket title");
    title.SetDisplayWidth(25);
    title.SetAlignment(TField::TAlignment::Center);
    title.Visible = false;
    EXPECT_EQ(title.DisplayLabel(), "Ticket title");
    EXPECT_EQ(title.FieldName(), "Title");
    EXPECT_EQ(title.DisplayWidth(), 25);
    EXPECT_EQ(title.Alignment(), TField::TAlignment::Center);
    EXPECT_FALSE(title.Visible);
    // Setting the label back to empty shows the field name again.
    title.SetDisplayLabel("");
    EXPECT_EQ(title.DisplayLabel(), "Title");
}

TEST_F(TableDisplayTest, DisplayTextOfNullsAndBlobMarkers) {
    auto t = Open();
    t->Append();
    t->FieldByName("Title").SetAsString("only a title");
    t->FieldByName("Description").SetAsString("some text");
    t->Post();
    struct TCase {
        const char* Field;
        const char* Text;
    };
    const TCase cases[] = {{"Title", "only a title"}, {"Close date", ""},  {"Opened at", ""},
                           {"Stamp", ""},             {"Cost", ""},        {"Priority", ""},
                           {"Done", ""},              {"Description", "(MEMO)"},
                           {"All", "(FmtMemo)"},      {"Picture", "(Graphic)"}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Field);
        EXPECT_EQ(t->FieldByName(c.Field).DisplayText(), c.Text);
    }
}

struct TLocaleModel {
    const char* Locale;
    const char* Date;      // 2002-03-14
    const char* Time;      // 13:05:09
    const char* Stamp;     // 2002-03-14 13:05:09
    const char* Cost;      // 1234.5
    const char* EarlyDate; // 2002-01-05, for the filter and FindKey
    const char* Missing;   // 2002-03-15, a date no record has
};

const TLocaleModel kLocales[] = {
    {"en_US", "3/14/2002", "1:05:09 PM", "3/14/2002 1:05:09 PM", "1234.5", "1/5/2002", "3/15/2002"},
    {"de_DE", "14.03.2002", "13:05:09", "14.03.2002 13:05:09", "1234,5", "05.01.2002", "15.03.2002"},
    {"en_GB", "14/03/2002", "13:05:09", "14/03/2002 13:05:09", "1234.5", "05/01/2002", "15/03/2002"},
};

// Day numbers of the model's close dates, from 2002-01-01 on.
int DaysFrom2002(int month, int day) {
    static const int kBefore[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    return kBefore[month - 1] + day - 1;
}

TEST_F(TableDisplayTest, ThreeLocalesAgreeWithModel) {
    for (const TLocaleModel& m : kLocales) {
        SCOPED_TRACE(m.Locale);
        CreateTable(m_Path, KindsDef());
        InstallLocaleFormatSettings(m.Locale);
        auto t = Open("Close date");
        // Values are assigned as texts in the installed locale.
        t->Append();
        t->FieldByName("Title").SetAsString("model");
        t->FieldByName("Close date").SetAsString(m.Date);
        t->FieldByName("Opened at").SetAsString(m.Time);
        t->FieldByName("Stamp").SetAsString(m.Stamp);
        t->FieldByName("Cost").SetAsString(m.Cost);
        t->FieldByName("Priority").SetAsString("1234567");
        t->Post();
        // Other close dates, (month, day) in 2002.
        const std::pair<int, int> others[] = {{1, 2}, {1, 5}, {1, 5}, {2, 28}, {12, 31}};
        for (auto [month, day] : others) {
            t->Append();
            t->FieldByName("Title").SetAsString("other");
            t->FieldByName("Close date").SetAsDateTime(37257.0 + DaysFrom2002(month, day));  // 2002-01-01 = 37257
            t->Post();
        }
        ASSERT_TRUE(t->FindKey({m.Date}));
        EXPECT_EQ(t->FieldByName("Title").AsString(), "model");
        EXPECT_EQ(t->FieldByName("Close date").DisplayText(), m.Date);
        EXPECT_EQ(t->FieldByName("Opened at").DisplayText(), m.Time);
        EXPECT_EQ(t->FieldByName("Stamp").DisplayText(), m.Stamp);
        EXPECT_EQ(t->FieldByName("Cost").DisplayText(), m.Cost);
        EXPECT_EQ(t->FieldByName("Priority").DisplayText(), "1234567");
        EXPECT_DOUBLE_EQ(t->FieldByName("Close date").AsDateTime(), 37257.0 + DaysFrom2002(3, 14));

        // FindKey on the date index: the first of the two 5 January records.
        ASSERT_TRUE(t->FindKey({m.EarlyDate}));
        EXPECT_DOUBLE_EQ(t->FieldByName("Close date").AsDateTime(), 37257.0 + DaysFrom2002(1, 5));
        EXPECT_EQ(t->RecNo(), 2);
        EXPECT_FALSE(t->FindKey({m.Missing}));
        EXPECT_EQ(t->RecNo(), 2);

        // A filter constant in the short date form: the model counts dates not after it.
        t->SetFilter("[Close date] <= '" + std::string(m.EarlyDate) + "'");
        t->SetFiltered(true);
        EXPECT_EQ(t->RecordCount(), 3);
        t->SetFilter("[Close date] <= '" + std::string(m.Date) + "'");
        EXPECT_EQ(t->RecordCount(), 5);
        t->Close();
    }
}

TEST_F(TableDisplayTest, UnknownLocaleInstallsUsSettings) {
    InstallLocaleFormatSettings("de_DE");
    ASSERT_EQ(FormatSettings().DecimalSeparator, ',');
    InstallLocaleFormatSettings("xx_NOWHERE");
    EXPECT_EQ(FormatSettings(), UsFormatSettings());
}

TEST_F(TableDisplayTest, UserLocaleComesFromEnvironment) {
    struct TCase {
        const char* LcAll;
        const char* LcTime;
        const char* Lang;
        const char* Expected;
    };
    const TCase cases[] = {
        {nullptr, nullptr, "de_DE.UTF-8", "de_DE"},
        {nullptr, "en_GB.UTF-8", "de_DE.UTF-8", "en_GB"},
        {"fr_FR.UTF-8@euro", "en_GB.UTF-8", "de_DE.UTF-8", "fr_FR"},
        {"", "", "", "en_US"},
        {nullptr, nullptr, nullptr, "en_US"},
        {"C", nullptr, "de_DE", "en_US"},
        {"POSIX.UTF-8", nullptr, nullptr, "en_US"},
    };
    const char* names[] = {"LC_ALL", "LC_TIME", "LANG"};
    std::map<std::string, std::string> saved;
    for (const char* n : names)
        if (const char* v = std::getenv(n)) saved[n] = v;
    for (const TCase& c : cases) {
        const char* values[] = {c.LcAll, c.LcTime, c.Lang};
        for (int i = 0; i < 3; ++i)
            values[i] ? ::setenv(names[i], values[i], 1) : ::unsetenv(names[i]);
        EXPECT_EQ(UserLocaleName(), c.Expected) << (c.LcAll ? c.LcAll : "-") << " " << (c.Lang ? c.Lang : "-");
    }
    ::setenv("LC_ALL", "en_GB.UTF-8", 1);
    InstallUserFormatSettings();
    EXPECT_EQ(FormatSettings().ShortDateFormat, "dd/MM/yyyy");
    for (const char* n : names) {
        auto it = saved.find(n);
        it == saved.end() ? ::unsetenv(n) : ::setenv(n, it->second.c_str(), 1);
    }
}

// The table's own conversions of stored texts still run under its locale or
// the US settings, whatever the user installed: a default "3/14/2002" of a
// table without locale reads as March 14 under German user settings.
TEST_F(TableDisplayTest, StoredTextsKeepUsSettingsUnderUserLocale) {
    TTableDef def = KindsDef();
    def.Fields[2].DefaultValue = "3/14/2002";
    CreateTable(m_Path, def);
    InstallLocaleFormatSettings("de_DE");
    auto t = Open();
    t->Append();
    EXPECT_EQ(t->FieldByName("Close date").DisplayText(), "14.03.2002");
    t->Cancel();
    EXPECT_EQ(FormatSettings().ShortDateFormat, "dd.MM.yyyy");
}

}  // namespace
