// Filter expressions: the language (tokens, precedence, every error message),
// compilation rules and the compiled byte layout, evaluation semantics on a
// small ticket table with and without indexes, grades, untrusted compiled
// bytes and filter texts, and index use measured by counting record fetches.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>
#include <set>

#include "child_process.h"
#include "engine/filter_eval.h"
#include "engine/filter_parser.h"
#include "engine/session.h"
#include "engine/value_text.h"
#include "platform/db_error.h"
#include "test_util.h"

using namespace veltra;
using veltra_test::TTestDir;

namespace {

using TIds = std::set<int32_t>;

const std::vector<std::string> kColumns = {"Title",      "State",   "Owner", "Priority",
                                           "Close date", "Paid",    "Cost",  "Amount",
                                           "Started",    "Updated", "Units", "Count"};

// One ticket per row, in kColumns order; an empty text leaves the field null.
const std::vector<std::vector<std::string>> kRows = {
    {"abc", "Open", "", "1", "", "true", "1.50", "2.5", "9:00", "3/14/2002 9:30", "10", "-5"},
    {"abcdef", "Closed", "x", "5", "3/1/2002", "false", "10.25", "-1", "13:00", "3/1/2002", "0",
     "100"},
    {"abc*", "open", "y", "7", "3/14/2002", "true", "0.01", "1000", "0:00", "3/14/2002", "65535",
     "7"},
    {"*", "Under investigation", "x", "", "3/15/2002", "", "", "", "", "", "", ""},
    {"it's", "Close pending", "x", "6", "12/31/2001", "false", "-2.5", "0", "23:59",
     "12/31/2001 23:59", "5", "0"},
    {"ABC", "OPEN", "", "10", "", "true", "1.5", "1.5", "12:00", "3/15/2002", "7", "-1"},
};

TTableDef TicketDef(bool indexed) {
    TTableDef def;
    def.Fields = {{"ID", ftInteger, kSubTypeAutoInc},
                  {"Title", ftString, 0, 40},
                  {"State", ftString, 0, 20},
                  {"Owner", ftString, 0, 20},
                  {"Priority", ftSmallInt},
                  {"Close date", ftDate},
                  {"Paid", ftBoolean},
                  {"Cost", ftBCD, 0, 0, 2},
                  {"Amount", ftFloat},
                  {"Started", ftTime},
                  {"Updated", ftDateTime},
                  {"Units", ftWord},
                  {"Count", ftInteger},
                  {"Raw", ftBytes, 0, 4},
                  {"Notes", ftBlob, 22}};
    def.Indexes = {{.Primary = true, .Fields = {"ID"}}, {.Name = "ByState", .Fields = {"State"}}};
    if (indexed) {
        // Every kind of key order the index answers must cope with: ascending,
        // descending index, descending first field, case-insensitive.
        def.Indexes.push_back({.Name = "ByClose", .Fields = {"Close date", "Title"}});
        def.Indexes.push_back({.Name = "ByPriority", .Fields = {"Priority"}, .Descending = true});
        def.Indexes.push_back({.Name = "ByTitle", .Fields = {"Title"}, .CaseInsensitive = true});
        def.Indexes.push_back({.Name = "ByOwner", .Fields = {"Owner"}});
        def.Indexes.push_back({.Name = "ByUnits", .Fields = {"Units"}, .FieldDescending = {true}});
        def.Indexes.push_back({.Name = "ByCost", .Fields = {"Cost"}});
        def.Indexes.push_back(
            {.Name = "ByUpdated", .Fields = {"Updated"}, .FieldDescending = {true}});
    }
    return def;
}

// Stores a value given as text (US formats) in its field's stored form.
void SetValue(TDataFile& t, uint8_t* buffer, const std::string& field, const std::string& text) {
    const int no = t.FieldNumber(field);
    ASSERT_NE(no, 0) << field;
    const TFieldDescriptor d = t.FieldDescriptor(no);
    const TFormatSettings& fs = UsFormatSettings();
    uint8_t v[8] = {};
    size_t length = 0;
    switch (d.FieldType()) {
        case ftString:
            t.SetFieldValue(no, buffer, reinterpret_cast<const uint8_t*>(text.data()), text.size());
            return;
        case ftSmallInt:
            PutI16(v, int16_t(std::stoi(text)));
            length = 2;
            break;
        case ftWord:
            PutU16(v, uint16_t(std::stoi(text)));
            length = 2;
            break;
        case ftInteger:
            PutI32(v, std::stoi(text));
            length = 4;
            break;
        case ftBoolean:
            PutU16(v, text == "true" ? 1 : 0);
            length = 2;
            break;
        case ftFloat:
            PutF64(v, std::stod(text));
            length = 8;
            break;
        case ftBCD: {
            int64_t packed = 0;
            ASSERT_TRUE(PackBcd(TextToCurrency(text, fs), d.Decimals(), packed));
            PutI64(v, packed);
            length = 8;
            break;
        }
        case ftDate:
            PutI32(v, TextToDate(text, fs));
            length = 4;
            break;
        case ftTime:
            PutI32(v, TextToTime(text, fs));
            length = 4;
            break;
        case ftDateTime: {
            int32_t day = 0, ms = 0;
            TextToDateTime(text, fs, day, ms);
            PutF64(v, double(day) * 86400000.0 + ms);
            length = 8;
            break;
        }
        default:
            FAIL() << "no test conversion for " << field;
    }
    t.SetFieldValue(no, buffer, v, length);
}

class TTicketTable {
  public:
    TTicketTable(const std::string& path, bool indexed) {
        CreateTable(path, TicketDef(indexed));
        Table.SetFileName(path);
        Table.SetExclusive(true);
        Table.OpenTable();
        std::vector<uint8_t> buffer(size_t(Table.RecordSize()));
        for (const auto& row : kRows) {
            Table.InitRecord(buffer.data());
            for (size_t c = 0; c < kColumns.size(); ++c)
                if (!row[c].empty()) SetValue(Table, buffer.data(), kColumns[c], row[c]);
            Table.InsertRecord(buffer.data(), false);
        }
    }

    // Records whose image the filter accepts, by reading every live record.
    TIds Matching(const TFilterEvaluator& filter) {
        TIds ids;
        for (int32_t r = 1; r < Table.NextRecordNo(); ++r) {
            TFetchResult f = Table.FetchRecord(r);
            if (!f.Record->IsDeleted() && filter.Matches(f.Record->Buffer.data()))
                ids.insert(f.Record->RecordID());
            f.Record->Unpin();
        }
        return ids;
    }

    // Records the cursor shows with the filter active.
    TIds Visible(std::unique_ptr<TFilterEvaluator> filter) {
        TFilterHandle h = Table.AddFilter(std::move(filter), nullptr);
        EXPECT_EQ(Table.ActivateFilter(h), 0);
        TIds ids;
        std::vector<uint8_t> buffer(size_t(Table.RecordSize()));
        Table.FirstRecord();
        while (Table.NextRecord(buffer.data()) == 0) ids.insert(GetI32(&buffer[5]));
        EXPECT_EQ(Table.RecordCount(), int64_t(ids.size()));
        EXPECT_EQ(Table.RemoveFilter(h), 0);
        return ids;
    }

    TDataFile Table;
};

// Which error a filter text raised: "" when none; engine errors as
// "engine <code>"; conversion errors prefixed "convert: ".
std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EVeltraEngineError& e) {
        return "engine " + std::to_string(e.ErrorCode());
    } catch (const EDatabaseError& e) {
        return e.what();
    } catch (const EConvertError& e) {
        return std::string("convert: ") + e.what();
    }
    return "";
}

class FilterTest : public ::testing::Test {
  protected:
    void SetUp() override { EngineStartup(); }
    TTestDir m_Dir;
};

struct TLanguageCase {
    std::string Text;
    TFilterOptionSet Options = 0;
    TIds Expected;                        // records that pass
    std::optional<TIds> ExpectedIndexed;  // visible in the indexed table, when that differs
    std::string Error;                    // the exact error (see ErrorOf)
};

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

const std::vector<TLanguageCase> kLanguageCases = {
    // Text comparisons: case, the trailing "*" and quotes.
    {.Text = "[State] = 'Open'", .Expected = {1}},
    {.Text = "[State] = 'open'", .Options = foCaseInsensitive, .Expected = {1, 3, 6}},
    {.Text = "[State] <> 'open'", .Options = foCaseInsensitive, .Expected = {2, 4, 5}},
    {.Text = "[State] >= 'open'", .Options = foCaseInsensitive, .Expected = {3}},
    {.Text = "[State] < 'Open'", .Options = foCaseInsensitive, .Expected = {2, 5, 6}},
    {.Text = "[Title] = 'abc*'", .Expected = {1, 2, 3}},
    {.Text = "[Title] = 'abc*'", .Options = foNoPartialCompare, .Expected = {3}},
    {.Text = "[Title] = 'abc*'", .Options = foCaseInsensitive, .Expected = {1, 2, 3, 6}},
    {.Text = "[Title] = 'ABC*'",
     .Options = foCaseInsensitive | foNoPartialCompare,
     .Expected = {3}},
    {.Text = "[Title] <> 'abc*'", .Expected = {4, 5, 6}},
    {.Text = "[Title] = '*'", .Expected = {4}},
    {.Text = "[Title] = 'it''s'", .Expected = {5}},
    {.Text = "[Title] = 'ABC'", .Expected = {6}},
    {.Text = "Title = 'abc'", .Expected = {1}},
    {.Text = "[Owner] = ''", .Expected = {1, 6}},
    {.Text = "[Owner] <> ''", .Expected = {2, 3, 4, 5}},
    {.Text = "[Owner] > ''", .Expected = {2, 3, 4, 5}},
    {.Text = "[Owner] <= ''", .Expected = {1, 6}, .ExpectedIndexed = TIds{}},
    {.Text = "[Title] = '" + Repeat("a", 300) + "'", .Expected = {}},
    {.Text = "[Title] < '" + Repeat("b", 300) + "'", .Expected = {1, 2, 3, 4, 6}},
    // NULL, swapped operands and numbers.
    {.Text = "[Priority] = null", .Expected = {4}},
    {.Text = "[Priority] <> NULL", .Expected = {1, 2, 3, 5, 6}},
    {.Text = "null = [Priority]", .Expected = {4}},
    {.Text = "5 < [Priority]", .Expected = {3, 5, 6}},
    {.Text = "[Priority] > 5", .Expected = {3, 5, 6}},
    {.Text = "7 >= [Priority]", .Expected = {1, 2, 3, 4, 5}, .ExpectedIndexed = TIds{1, 2, 3, 5}},
    {.Text = "[Priority] >= 5 and [Priority] <= 7", .Expected = {2, 3, 5}},
    {.Text = "[Priority] < 2", .Expected = {1, 4}, .ExpectedIndexed = TIds{1}},
    {.Text = "[Priority] = -32768", .Expected = {}},
    {.Text = "[Units] = 65535", .Expected = {3}},
    {.Text = "[Units] < 8", .Expected = {2, 4, 5, 6}, .ExpectedIndexed = TIds{2, 5, 6}},
    {.Text = "[Units] > 7", .Expected = {1, 3}},
    {.Text = "[ID] = 3", .Expected = {3}},
    {.Text = "[ID] > 4", .Expected = {5, 6}},
    {.Text = "[Count] <= -1", .Expected = {1, 6}},
    {.Text = "[Cost] > 1.5", .Expected = {2}},
    {.Text = "[Cost] = 1.5", .Expected = {1, 6}},
    {.Text = "[Cost] < 0", .Expected = {5}},
    {.Text = "[Cost] >= 0", .Expected = {1, 2, 3, 4, 6}, .ExpectedIndexed = TIds{1, 2, 3, 6}},
    {.Text = "[Amount] >= 2.5", .Expected = {1, 3}},
    {.Text = "[Amount] < -0.5E0", .Expected = {2}},
    // Field with field, across types.
    {.Text = "[Amount] < [Priority]", .Expected = {2, 5, 6}},
    {.Text = "[Cost] < [Priority]", .Expected = {3, 5, 6}},
    {.Text = "[Close date] = [Updated]", .Expected = {2, 3}},
    {.Text = "[Started] = [Updated]",
     .Expected = {4}},  // Time and DateTime never compare; two nulls are equal
    {.Text = "[Started] <> [Updated]", .Expected = {1, 2, 3, 5, 6}},
    {.Text = "[Title] = [State]", .Expected = {}},
    {.Text = "[Title] <> [Priority]", .Expected = {1, 2, 3, 4, 5, 6}},
    // Dates and times.
    {.Text = "[Close date] <= '3/14/2002' and [Close date] <> null", .Expected = {2, 3, 5}},
    {.Text = "[Close date] <= '3/14/2002'",
     .Expected = {1, 2, 3, 5, 6},
     .ExpectedIndexed = TIds{2, 3, 5}},
    {.Text = "[Close date] > '3/14/2002'", .Expected = {4}},
    {.Text = "[Started] < '12:00'", .Expected = {1, 3, 4}},
    {.Text = "[Updated] >= '3/14/2002 9:00'", .Expected = {1, 6}},
    {.Text = "[Updated] < '3/14/2002'", .Expected = {2, 4, 5}, .ExpectedIndexed = TIds{2, 5}},
    // Booleans.
    {.Text = "[Paid]", .Expected = {1, 3, 6}},
    {.Text = "NOT [Paid]", .Expected = {2, 4, 5}},
    {.Text = "[Paid] = False", .Expected = {2, 5}},
    {.Text = "[paid] = tRUE", .Expected = {1, 3, 6}},
    {.Text = "[Notes] = null", .Expected = {1, 2, 3, 4, 5, 6}},
    // Precedence, grouping and white space.
    {.Text = "[State] = 'Open'\r\nOR      [State] = 'Closed'", .Expected = {1, 2}},
    {.Text = "\t[State]='Open'or[State]='Closed'\n", .Expected = {1, 2}},
    {.Text = "NOT [State] = 'Open' AND [Owner] = 'x'", .Expected = {2, 4, 5}},
    {.Text = "[State] = 'Open' OR [State] = 'Closed' AND [Owner] = 'y'", .Expected = {1}},
    {.Text = "([State] = 'Open' OR [State] = 'Closed') AND [Owner] = 'x'", .Expected = {2}},
    {.Text = "NOT ([State] = 'Open' OR [State] = 'Closed')", .Expected = {3, 4, 5, 6}},
    {.Text = "[Paid] and not [Priority] > 5 or [Owner] = 'y'", .Expected = {1, 3}},
    {.Text = "((([ID] = 1)))", .Expected = {1}},
    {.Text = "[Title] = 'abc' " + std::string(1, '\0') + ") trailing text", .Expected = {1}},
    // Compilation errors.
    {.Text = "[Priority] > null", .Error = "NULL only allowed with '=' and '<>'"},
    {.Text = "[Priority] <= NULL", .Error = "NULL only allowed with '=' and '<>'"},
    {.Text = "'a' = 'b'", .Error = "Field 'a' not found"},
    {.Text = "5 = 5", .Error = "Field '5' not found"},
    {.Text = "[Nope] = 1", .Error = "Field 'Nope' not found"},
    {.Text = "[State] = Open", .Error = "Field 'Open' not found"},
    {.Text = "Nope", .Error = "Field 'Nope' not found"},
    {.Text = "[Title]", .Error = "Field 'Title' is not of type Boolean"},
    {.Text = "NOT [Priority]", .Error = "Field 'Priority' is not of type Boolean"},
    {.Text = "[Raw] = 1", .Error = "Field 'Raw' cannot be used in a filter expression"},
    {.Text = "[Notes] = 'x'", .Error = "Field 'Notes' cannot be used in a filter expression"},
    {.Text = "true", .Error = "Incorrectly formed filter expression"},
    {.Text = "'x'", .Error = "Incorrectly formed filter expression"},
    {.Text = "5 OR [Paid]", .Error = "Incorrectly formed filter expression"},
    {.Text = "null", .Error = "Incorrectly formed filter expression"},
    {.Text = "[Title] = ([State] = 'x')", .Error = "Incorrectly formed filter expression"},
    {.Text = "[Priority] = 70000", .Error = "Constant out of range"},
    {.Text = "[Priority] = -32769", .Error = "Constant out of range"},
    {.Text = "[Units] = -1", .Error = "Constant out of range"},
    {.Text = "[Units] = 65536", .Error = "Constant out of range"},
    {.Text = "[Priority] = 1.5", .Error = "convert: '1.5' is not a valid integer value"},
    {.Text = "[Count] = 3000000000", .Error = "convert: '3000000000' is not a valid integer value"},
    {.Text = "[Priority] = -", .Error = "convert: '-' is not a valid integer value"},
    {.Text = "[Close date] = 'x'", .Error = "convert: 'x' is not a valid date"},
    {.Text = "[Close date] = '2/30/2002'", .Error = "convert: '2/30/2002' is not a valid date"},
    {.Text = "[Paid] = 'maybe'", .Error = "convert: 'maybe' is not a valid boolean value"},
    {.Text = "[Amount] = 1.2.3", .Error = "convert: '1.2.3' is not a valid floating point value"},
    // Parse errors.
    {.Text = "[Title", .Error = "Unterminated field name"},
    {.Text = "[Title] = 'abc", .Error = "Unterminated string constant"},
    {.Text = "[Title] = 'abc''", .Error = "Unterminated string constant"},
    {.Text = "[Title] = 'a' )", .Error = "Filter expression incorrectly terminated"},
    {.Text = "[Priority] < 5 < 6", .Error = "Filter expression incorrectly terminated"},
    {.Text = "[Title] = 'a' [State]", .Error = "Filter expression incorrectly terminated"},
    {.Text = "[Priority] = 5 1", .Error = "Filter expression incorrectly terminated"},
    {.Text = "[Priority] = 5-1",
     .Error = "convert: '5-1' is not a valid integer value"},  // one number token
    {.Text = "", .Error = "Expression expected but nothing found"},
    {.Text = "  \r\n ", .Error = "Expression expected but nothing found"},
    {.Text = "[Title] =", .Error = "Expression expected but nothing found"},
    {.Text = "[Title] = 'a' AND", .Error = "Expression expected but nothing found"},
    {.Text = "[Title] = )", .Error = "Expression expected but ')' found"},
    {.Text = "[Title] = AND", .Error = "Expression expected but 'AND' found"},
    {.Text = "NOT NOT [Paid]", .Error = "Expression expected but 'NOT' found"},
    {.Text = "= 5", .Error = "Expression expected but '=' found"},
    {.Text = "[Title] <= <> 'a'", .Error = "Expression expected but '<>' found"},
    {.Text = "([Title] = 'a'", .Error = "')' expected but nothing found"},
    {.Text = "([Title] = 'a' [State]", .Error = "')' expected but 'State' found"},
    {.Text = "([Title] = 'a' 'it''s'", .Error = "')' expected but 'it's' found"},
    {.Text = "[Title] = 'a' !", .Error = "Invalid filter expression character: '!'"},
    {.Text = "[Title] = \"a\"", .Error = "Invalid filter expression character: '\"'"},
    {.Text = "[Title] = 'a' OR \x80", .Error = "Invalid filter expression character: '\x80'"},
    {.Text = Repeat("(", 5000) + "[Paid]" + Repeat(")", 5000), .Error = "engine 10051"},
};

TEST_F(FilterTest, LanguageCasesOnTablesWithAndWithoutIndexes) {
    TTicketTable plain(m_Dir / "plain.dat", false);
    TTicketTable indexed(m_Dir / "indexed.dat", true);
    for (const TLanguageCase& c : kLanguageCases) {
        SCOPED_TRACE(c.Text);
        for (TTicketTable* t : {&plain, &indexed}) {
            std::unique_ptr<TExpressionFilter> filter;
            std::string error =
                ErrorOf([&] { filter = CreateExpressionFilter(t->Table, c.Text, c.Options); });
            EXPECT_EQ(error, c.Error);
            if (!filter) continue;
            EXPECT_EQ(t->Matching(*filter), c.Expected);
            const TIds& visible =
                t == &indexed && c.ExpectedIndexed ? *c.ExpectedIndexed : c.Expected;
            EXPECT_EQ(t->Visible(filter->Clone()), visible);
        }
    }
}

// Parse errors belong to the dataset, not to the engine.
TEST_F(FilterTest, ParseAndCompileErrorsAreDatasetErrors) {
    TTicketTable t(m_Dir / "t.dat", false);
    for (const char* text : {"[Title", "[Nope] = 1", "[Priority] = 70000", "'x'"}) {
        SCOPED_TRACE(text);
        try {
            CreateExpressionFilter(t.Table, text, 0);
            ADD_FAILURE() << "no error";
        } catch (const EVeltraEngineError&) {
            ADD_FAILURE() << "raised as an engine error";
        } catch (const EDatabaseError&) {
        }
    }
    EXPECT_THROW(CreateExpressionFilter(t.Table, "[Priority] = 'x'", 0), EConvertError);
}

// ------------------------------------------------------------ compiled bytes

std::vector<uint8_t> Compile(TDataFile& table, const std::string& text,
                             TFilterOptionSet options = 0) {
    TTableFieldSource fields(table);
    TExprParser parser(fields, options, text);
    EXPECT_EQ(parser.DataSize(), parser.FilterData().size());
    return parser.FilterData();
}

// Little-endian words for building expected images.
struct TBytes {
    std::vector<uint8_t> B;
    TBytes& W(uint16_t v) {
        B.push_back(uint8_t(v));
        B.push_back(uint8_t(v >> 8));
        return *this;
    }
    TBytes& D(uint32_t v) { return W(uint16_t(v)).W(uint16_t(v >> 16)); }
    TBytes& S(const std::string& s) {
        B.insert(B.end(), s.begin(), s.end());
        B.push_back(0);
        return *this;
    }
    TBytes& Raw(std::initializer_list<uint8_t> bytes) {
        B.insert(B.end(), bytes);
        return *this;
    }
};

TEST_F(FilterTest, CompiledLayoutOfLogicalOperatorsAndBooleanField) {
    TTicketTable t(m_Dir / "t.dat", false);
    // State is field 3 and Paid field 7.
    TBytes e;
    e.W(0).W(126).W(65535).W(10).W(108);
    e.D(2).D(10).W(12).W(50);      // 0   AND
    e.D(2).D(3).W(24).W(36);       // 12  =
    e.D(4).D(13).W(3).W(0);        // 24  [State], name at 0
    e.D(5).D(14).W(1).W(5).W(6);   // 36  'Open', 5 bytes at 6
    e.D(1).D(9).W(60);             // 50  NOT
    e.D(2).D(3).W(72).W(84);       // 60  =
    e.D(4).D(13).W(7).W(11);       // 72  [Paid], name at 11
    e.D(5).D(14).W(4).W(2).W(16);  // 84  TRUE, Boolean at 16
    e.S("State").S("Open").S("Paid").Raw({1, 0});
    EXPECT_EQ(Compile(t.Table, "[State] = 'Open' AND NOT [Paid]"), e.B);
}

TEST_F(FilterTest, CompiledLayoutOfCompareNodesNullTestsAndConstants) {
    TTicketTable t(m_Dir / "t.dat", false);
    auto header = [](TBytes& b, uint16_t total, uint16_t literals) {
        b.W(0).W(total).W(65535).W(10).W(literals);
    };
    {  // a prefix comparison: case flag 0, partial length 2
        TBytes e;
        header(e, 61, 52);
        e.D(3).D(3).W(0).W(2).W(16).W(28).D(4).D(13).W(2).W(0).D(5).D(14).W(1).W(3).W(6);
        e.S("Title").S("ab");
        EXPECT_EQ(Compile(t.Table, "[Title] = 'ab*'"), e.B);
    }
    {  // case-insensitive <> without partial length
        TBytes e;
        header(e, 61, 52);
        e.D(3).D(4).W(1).W(0).W(16).W(28).D(4).D(13).W(2).W(0).D(5).D(14).W(1).W(3).W(6);
        e.S("Title").S("ab");
        EXPECT_EQ(Compile(t.Table, "[Title] <> 'ab'", foCaseInsensitive), e.B);
    }
    {  // = null becomes is null over the field
        TBytes e;
        header(e, 41, 32);
        e.D(1).D(1).W(10).D(4).D(13).W(5).W(0);
        e.S("Priority");
        EXPECT_EQ(Compile(t.Table, "[Priority] = null"), e.B);
    }
    {  // swapped: 5 < [Priority] is [Priority] > 5, a SmallInt constant
        TBytes e;
        header(e, 59, 48);
        e.D(2).D(5).W(12).W(24).D(4).D(13).W(5).W(0).D(5).D(14).W(5).W(2).W(9);
        e.S("Priority").Raw({5, 0});
        EXPECT_EQ(Compile(t.Table, "5 < [Priority]"), e.B);
    }
    {  // constants in the fields' stored forms
        auto constant = [&](const std::string& text) {
            std::vector<uint8_t> c = Compile(t.Table, text);
            size_t literals = GetU16(&c[8]);
            size_t node = 10 + 24;  // the constant follows the comparison and the field
            EXPECT_EQ(GetU32(&c[node]), 5u);
            size_t size = GetU16(&c[node + 10]);
            size_t at = literals + GetU16(&c[node + 12]);
            EXPECT_EQ(at + size, c.size());
            return std::make_pair(GetU16(&c[node + 8]),
                                  std::vector<uint8_t>(c.begin() + long(at), c.end()));
        };
        auto le = [](uint64_t v, int n) {
            std::vector<uint8_t> b;
            for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
            return b;
        };
        auto f64 = [&](double d) {
            uint64_t bits;
            std::memcpy(&bits, &d, 8);
            return le(bits, 8);
        };
        const int32_t day = EncodeDayNumber(2002, 3, 14);
        EXPECT_EQ(constant("[Close date] = '3/14/2002'"),
                  std::make_pair(uint16_t(ftDate), le(uint32_t(day), 4)));
        EXPECT_EQ(constant("[Started] = '13:30'"),
                  std::make_pair(uint16_t(ftTime), le(48600000, 4)));
        EXPECT_EQ(constant("[Updated] = '3/14/2002 13:30'"),
                  std::make_pair(uint16_t(ftDateTime), f64(double(day) * 86400000.0 + 48600000)));
        EXPECT_EQ(constant("[Cost] = 1.5"), std::make_pair(uint16_t(ftBCD), le(1502, 8)));
        EXPECT_EQ(constant("[Cost] = -123.45"),
                  std::make_pair(uint16_t(ftBCD), le(uint64_t(-123452), 8)));
        EXPECT_EQ(constant("[Amount] = 2.5"), std::make_pair(uint16_t(ftFloat), f64(2.5)));
        EXPECT_EQ(constant("[Units] = 65535"), std::make_pair(uint16_t(ftWord), le(65535, 2)));
        EXPECT_EQ(constant("[Count] = -2"),
                  std::make_pair(uint16_t(ftInteger), le(uint32_t(-2), 4)));
        EXPECT_EQ(constant("[ID] = 7"), std::make_pair(uint16_t(ftInteger), le(7, 4)));
        EXPECT_EQ(constant("[Paid] = false"), std::make_pair(uint16_t(ftBoolean), le(0, 2)));
        EXPECT_EQ(constant("[Paid] = 'True'"), std::make_pair(uint16_t(ftBoolean), le(1, 2)));
        // Texts are cut to 255 characters; a string token keeps 256, so the
        // "*" of a longer constant is dropped before the prefix rule looks.
        std::vector<uint8_t> cut(256, 'a');
        cut.back() = 0;
        EXPECT_EQ(constant("[Title] > '" + Repeat("a", 300) + "'"),
                  std::make_pair(uint16_t(ftString), cut));
        EXPECT_EQ(constant("[Title] = '" + Repeat("a", 300) + "*'"),
                  std::make_pair(uint16_t(ftString), cut));
        EXPECT_EQ(constant("[Title] = ''"),
                  std::make_pair(uint16_t(ftString), std::vector<uint8_t>{0}));
    }
}

// A filter larger than the 16-bit sizes of the compiled form is refused.
TEST_F(FilterTest, OversizedFilterIsAnInvalidFilterExpression) {
    TTicketTable t(m_Dir / "t.dat", false);
    std::string text = "[Title] = '" + Repeat("a", 200) + "'";
    for (int i = 0; i < 400; ++i) text += " OR [Title] = '" + Repeat("a", 200) + "'";
    EXPECT_EQ(ErrorOf([&] { CreateExpressionFilter(t.Table, text, 0); }), "engine 10051");
    // Deep nesting below the limit compiles and evaluates: an even number of NOTs.
    auto deep =
        CreateExpressionFilter(t.Table, Repeat("NOT (", 900) + "[Paid]" + Repeat(")", 900), 0);
    EXPECT_EQ(t.Matching(*deep), (TIds{1, 3, 6}));
    EXPECT_EQ(t.Visible(deep->Clone()), (TIds{1, 3, 6}));
    // Long chains below the limits compile and evaluate.
    std::string chain = "[ID] = 1";
    for (int i = 2; i <= 300; ++i) chain += " OR [ID] = " + std::to_string(i);
    auto filter = CreateExpressionFilter(t.Table, chain, 0);
    EXPECT_EQ(t.Matching(*filter), (TIds{1, 2, 3, 4, 5, 6}));
}

// ------------------------------------------------------------ grades

TEST_F(FilterTest, GradesFollowTheIndexes) {
    TTicketTable t(m_Dir / "t.dat", true);
    struct TGradeCase {
        std::string Text;
        TFilterOptionSet Options;
        int Grade;
    };
    const TGradeCase cases[] = {
        {"[State] = 'Open'", 0, 0},
        {"[State] > 'Open'", 0, 0},
        {"[State] = 'Op*'", 0, 0},  // case-sensitive compare node, case-sensitive index
        {"[State] = 'Open'", foCaseInsensitive, 2},  // no case-insensitive index on State
        {"[Title] = 'ab*'", foCaseInsensitive, 0},   // ByTitle ignores case
        {"[Title] = 'ab'", 0, 2},                    // ... so it cannot answer a plain text compare
        {"[Title] = null", 0, 0},                    // any index answers null tests
        {"[Close date] < '1/1/2002'", 0, 0},         // first field of a two-field index
        {"[Amount] = 1", 0, 2},
        {"[Priority] = [Units]", 0, 2},
        {"[Title] = '" + std::string(50, 'a') + "*'", foCaseInsensitive,
         2},  // longer than the field
        {"NOT [Priority] > 5", 0, 0},
        {"[Priority] > 5 AND [Units] < 3", 0, 0},
        {"[Priority] > 5 AND [Amount] < 3", 0, 1},
        {"[Amount] < 3 AND [Priority] > 5", 0, 1},
        {"NOT ([Amount] < 3 AND [Priority] > 5)", 0, 1},
        {"[Amount] < 3 AND [Count] > 5", 0, 2},
        {"[Priority] > 5 OR [Units] < 3", 0, 0},
        {"[Priority] > 5 OR [Amount] < 3", 0, 2},
        {"[Paid]", 0, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Text);
        EXPECT_EQ(CreateExpressionFilter(t.Table, c.Text, c.Options)->Grade(), c.Grade);
    }
}

// ------------------------------------------------------------ untrusted input

// The table has only the index on State, which is never null: whatever an
// accepted filter says, its index answer equals reading the records.
TEST_F(FilterTest, DamagedCompiledFiltersAreRejectedOrHarmless) {
    TTicketTable t(m_Dir / "t.dat", false);
    const std::vector<std::string> texts = {"[State] = 'Open' AND NOT [Paid]",
                                            "[Title] = 'ab*' OR [Priority] = null",
                                            "[Close date] <= '3/14/2002' and [Cost] > 1.5",
                                            "[Amount] < [Priority] OR [Updated] >= '3/14/2002'"};
    std::mt19937 rng(20240611);
    int accepted = 0, rejected = 0;
    for (const std::string& text : texts) {
        const std::vector<uint8_t> good = Compile(t.Table, text);
        // Every truncation.
        for (size_t n = 0; n < good.size(); ++n) {
            std::vector<uint8_t> cut(good.begin(), good.begin() + long(n));
            EXPECT_EQ(ErrorOf([&] { TExpressionFilter(t.Table, cut.data(), cut.size()); }),
                      "engine 10051");
        }
        EXPECT_EQ(ErrorOf([&] { TExpressionFilter(t.Table, nullptr, 0); }), "engine 10051");
        // Random damage: a rejected filter raises 10051; an accepted one
        // evaluates and answers from indexes without fault.
        for (int round = 0; round < 400; ++round) {
            std::vector<uint8_t> bad = good;
            int flips = 1 + int(rng() % 4);
            for (int i = 0; i < flips; ++i) {
                size_t at = rng() % bad.size();
                bad[at] = rng() % 3 == 0 ? uint8_t(rng()) : uint8_t(bad[at] ^ (1u << (rng() % 8)));
            }
            std::unique_ptr<TExpressionFilter> f;
            std::string error = ErrorOf(
                [&] { f = std::make_unique<TExpressionFilter>(t.Table, bad.data(), bad.size()); });
            if (!f) {
                EXPECT_EQ(error, "engine 10051");
                ++rejected;
                continue;
            }
            ++accepted;
            EXPECT_EQ(t.Visible(f->Clone()), t.Matching(*f));
        }
    }
    EXPECT_GT(accepted, 0);
    EXPECT_GT(rejected, 0);
}

TEST_F(FilterTest, RandomFilterTextsNeverFault) {
    TTicketTable t(m_Dir / "t.dat", false);
    const std::vector<std::string> pieces = {
        "[",      "]",      "'",      "''",          "(",       ")",          "=",
        "<",      ">",      "<=",     ">=",          "<>",      " AND ",      " OR ",
        "NOT ",   "null",   "true",   "[Title]",     "[State]", "[Priority]", "[Close date]",
        "[Paid]", "[Cost]", "'abc*'", "'3/14/2002'", "5",       "-",          "1.5E",
        "\r\n",   "*",      "\x01",   "\xFF",        "_x",      "Title",      "[Nope]",
        "'a''b'"};
    std::mt19937 rng(7);
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        int n = 1 + int(rng() % 9);
        for (int i = 0; i < n; ++i) text += pieces[rng() % pieces.size()];
        std::unique_ptr<TExpressionFilter> f;
        try {
            f = CreateExpressionFilter(t.Table, text, TFilterOptionSet(rng() % 4));
        } catch (const EDatabaseError&) {
            continue;
        } catch (const EConvertError&) {
            continue;
        }
        EXPECT_EQ(t.Visible(f->Clone()), t.Matching(*f)) << text;
    }
}

// ------------------------------------------------------------ tables and settings

TEST_F(FilterTest, TableWithoutPrimaryIndexReadsEveryRecord) {
    TTableDef def = TicketDef(true);
    def.Indexes.erase(def.Indexes.begin());  // the secondary indexes stay
    const std::string path = m_Dir / "natural.dat";
    CreateTable(path, def);
    TDataFile t;
    t.SetFileName(path);
    t.SetExclusive(true);
    t.OpenTable();
    std::vector<uint8_t> buffer(size_t(t.RecordSize()));
    for (const auto& row : kRows) {
        t.InitRecord(buffer.data());
        for (size_t c = 0; c < kColumns.size(); ++c)
            if (!row[c].empty()) SetValue(t, buffer.data(), kColumns[c], row[c]);
        t.InsertRecord(buffer.data(), false);
    }
    ASSERT_EQ(t.RecordCount(), int64_t(kRows.size()));
    // Null close dates pass: no index answers the comparison.
    auto filter = CreateExpressionFilter(t, "[State] <> 'Open' AND [Close date] <= '3/14/2002'", 0);
    EXPECT_EQ(filter->Grade(), 2);
    TFilterHandle h = t.AddFilter(std::move(filter), nullptr);
    const uint64_t before = t.Statistics().Fetches;
    ASSERT_EQ(t.ActivateFilter(h), 0);
    EXPECT_EQ(t.Statistics().Fetches - before, kRows.size());
    TIds visible;
    t.FirstRecord();
    while (t.NextRecord(buffer.data()) == 0) visible.insert(GetI32(&buffer[5]));
    EXPECT_EQ(visible, (TIds{2, 3, 5, 6}));
}

// Another process inserts a record; reading records for the filter learns of
// the change, and the answer comes from the table as it is now.
TEST_F(FilterTest, AnotherProcessChangeFoundWhileReadingRecordsIsAnswered) {
    const int records = 5000;
    const std::string path = veltra_test::CreateSmallTable(m_Dir / "shared.dat", records);
    TDataFile t;
    t.SetFileName(path);
    t.SetRecordCacheBytes(131070);
    t.OpenTable();
    // An active filter keeps the cursor in bitmap mode, so the bitmaps are
    // rebuilt at once when the change is found; the record cache keeps only
    // the last records read.
    TFilterHandle all = t.AddFilter(nullptr, [](const uint8_t*) { return true; });
    ASSERT_EQ(t.ActivateFilter(all), 0);
    ASSERT_LT(t.CacheCapacity(), size_t(records));

    veltra_test::TChildProcess child([&](veltra_test::TChildChannel&) {
        TDataFile other;
        other.SetFileName(path);
        other.OpenTable();
        std::vector<uint8_t> buffer(size_t(other.RecordSize()));
        other.InitRecord(buffer.data());
        uint8_t day[4];
        PutI32(day, EncodeDayNumber(2026, 12, 5));
        other.SetFieldValue(other.FieldNumber(veltra_test::kDateField), buffer.data(), day, 4);
        other.InsertRecord(buffer.data(), false);
        return veltra_test::kChildOk;
    });
    ASSERT_TRUE(child.Started());
    ASSERT_EQ(child.ExitCode(), veltra_test::kChildOk);

    // The appended records carry the date 2026-12-(1 + id mod 28).
    int64_t expected = 1;
    for (int id = 1; id <= records; ++id) expected += id % 28 == 4;
    auto filter = CreateExpressionFilter(t, "[Opened] = '12/5/2026'", 0);
    ASSERT_EQ(filter->Grade(), 2);
    TFilterHandle h = t.AddFilter(std::move(filter), nullptr);
    ASSERT_EQ(t.ActivateFilter(h), 0);
    EXPECT_EQ(t.RecordCount(), expected);
}

// Records inserted while the filter is active are tested as they are posted.
TEST_F(FilterTest, InsertedRecordsAreTestedAgainstTheActiveFilter) {
    TTicketTable t(m_Dir / "t.dat", true);
    TFilterHandle h =
        t.Table.AddFilter(CreateExpressionFilter(t.Table, "[State] = 'Open*'", 0), nullptr);
    ASSERT_EQ(t.Table.ActivateFilter(h), 0);
    EXPECT_EQ(t.Table.RecordCount(), 1);
    std::vector<uint8_t> buffer(size_t(t.Table.RecordSize()));
    for (const char* state : {"Open again", "Closed", "Opening"}) {
        t.Table.InitRecord(buffer.data());
        SetValue(t.Table, buffer.data(), "State", state);
        t.Table.InsertRecord(buffer.data(), false);
    }
    EXPECT_EQ(t.Table.RecordCount(), 3);
}

// Constants are read with the number and date formats in force.
TEST_F(FilterTest, ConstantsFollowTheFormatSettingsInForce) {
    TTicketTable t(m_Dir / "t.dat", false);
    TFormatSettings german = UsFormatSettings();
    german.DateSeparator = '.';
    german.ShortDateFormat = "d.M.yyyy";
    german.DecimalSeparator = ',';
    {
        TFormatSettingsScope scope(german);
        EXPECT_EQ(t.Matching(*CreateExpressionFilter(t.Table, "[Close date] = '14.3.2002'", 0)),
                  (TIds{3}));
        EXPECT_EQ(t.Matching(*CreateExpressionFilter(t.Table, "[Amount] = '2,5'", 0)), (TIds{1}));
        EXPECT_EQ(
            ErrorOf([&] { CreateExpressionFilter(t.Table, "[Close date] = '3/14/2002'", 0); }),
            "convert: '3/14/2002' is not a valid date");
    }
    EXPECT_EQ(t.Matching(*CreateExpressionFilter(t.Table, "[Close date] = '3/14/2002'", 0)),
              (TIds{3}));
}

// With a table locale texts compare by the locale; without one, by bytes.
TEST_F(FilterTest, TextComparisonFollowsTheTableLocale) {
    // Windows-1252: a umlaut, A umlaut, O umlaut.
    const std::vector<std::string> words = {"Zebra", "apfel", "\xE4pfel", "Apfel", "\xD6l", "oben"};
    struct TCase {
        std::string Text;
        TFilterOptionSet Options;
        std::set<std::string> WithLocale, WithoutLocale;
    };
    const std::vector<TCase> cases = {
        {"[Name] < 'b'", 0, {"apfel", "\xE4pfel", "Apfel"}, {"Zebra", "apfel", "Apfel"}},
        {"[Name] >= 'o'", 0, {"\xD6l", "oben", "Zebra"}, {"oben", "\xE4pfel", "\xD6l"}},
        {"[Name] = 'APFEL'", foCaseInsensitive, {"apfel", "Apfel"}, {"apfel", "Apfel"}},
        {"[Name] = '\xC4PFEL'", foCaseInsensitive, {"\xE4pfel"}, {}},
        {"[Name] = 'a*'", 0, {"apfel"}, {"apfel"}},
        {"[Name] = '\xC4*'", foCaseInsensitive, {"\xE4pfel"}, {}},
    };
    for (bool locale : {true, false}) {
        TTableDef def;
        def.Fields = {{"ID", ftInteger, kSubTypeAutoInc}, {"Name", ftString, 0, 12}};
        def.Indexes = {{.Primary = true, .Fields = {"ID"}},
                       {.Name = "ByName", .Fields = {"Name"}},
                       {.Name = "ByNameCi", .Fields = {"Name"}, .CaseInsensitive = true}};
        if (locale) def.LanguageID = 0x0407;  // German
        const std::string path = m_Dir / (locale ? "de.dat" : "plain.dat");
        CreateTable(path, def);
        TDataFile t;
        t.SetFileName(path);
        t.SetExclusive(true);
        t.OpenTable();
        std::vector<uint8_t> buffer(size_t(t.RecordSize()));
        for (const std::string& w : words) {
            t.InitRecord(buffer.data());
            SetValue(t, buffer.data(), "Name", w);
            t.InsertRecord(buffer.data(), false);
        }
        auto names = [&](const TIds& ids) {
            std::set<std::string> out;
            for (int32_t id : ids) out.insert(words[size_t(id - 1)]);
            return out;
        };
        for (const TCase& c : cases) {
            SCOPED_TRACE(c.Text + (locale ? " with locale" : " without locale"));
            auto filter = CreateExpressionFilter(t, c.Text, c.Options);
            TIds matching, visible;
            for (int32_t r = 1; r < t.NextRecordNo(); ++r) {
                TFetchResult f = t.FetchRecord(r);
                if (filter->Matches(f.Record->Buffer.data())) matching.insert(f.Record->RecordID());
                f.Record->Unpin();
            }
            TFilterHandle h = t.AddFilter(filter->Clone(), nullptr);
            ASSERT_EQ(t.ActivateFilter(h), 0);
            t.FirstRecord();
            while (t.NextRecord(buffer.data()) == 0) visible.insert(GetI32(&buffer[5]));
            ASSERT_EQ(t.RemoveFilter(h), 0);
            EXPECT_EQ(names(matching), locale ? c.WithLocale : c.WithoutLocale);
            EXPECT_EQ(visible, matching);
        }
    }
}

// ------------------------------------------------------------ index use

class FilterIndexUseTest : public ::testing::Test {
  protected:
    // 100,000 records through the bulk path of an exclusive table, shared by
    // the tests of this suite: ID (primary index), Title "Ticket <id>" (index
    // ByTitle), Opened the date 2026-12-(1 + id mod 28), without index.
    static void SetUpTestSuite() {
        EngineStartup();
        s_Dir = new TTestDir;
        s_Table = new TDataFile;
        const std::string path = *s_Dir / "big.dat";
        CreateTable(path, veltra_test::SmallTableDef());
        s_Table->SetFileName(path);
        s_Table->SetExclusive(true);
        s_Table->OpenTable();
        veltra_test::AppendRecords(*s_Table, kRecords);
        veltra_test::IndexRecords(*s_Table, 1, kRecords);
    }
    static void TearDownTestSuite() {
        delete s_Table;
        delete s_Dir;
    }

    // Activates the filter and returns the records it shows and how many
    // record fetches building its bitmap took.
    static std::pair<int64_t, uint64_t> Run(const std::string& text) {
        TDataFile& t = *s_Table;
        auto filter = CreateExpressionFilter(t, text, 0);
        TFilterHandle h = t.AddFilter(std::move(filter), nullptr);
        const uint64_t before = t.Statistics().Fetches;
        EXPECT_EQ(t.ActivateFilter(h), 0);
        const uint64_t fetches = t.Statistics().Fetches - before;
        const int64_t count = t.RecordCount();
        EXPECT_EQ(t.RemoveFilter(h), 0);
        return {count, fetches};
    }

    static constexpr int kRecords = 100000;
    static TTestDir* s_Dir;
    static TDataFile* s_Table;
};

TTestDir* FilterIndexUseTest::s_Dir = nullptr;
TDataFile* FilterIndexUseTest::s_Table = nullptr;

TEST_F(FilterIndexUseTest, LeadingIndexFieldIsAnsweredWithoutReadingRecords) {
    struct TCase {
        const char* Text;
        int64_t Count;
    };
    const TCase cases[] = {
        {"[ID] > 50000", 50000},  // the range side is walked
        {"[ID] > 10", 99990},     // the outside is walked and inverted
        {"[ID] <= 10", 10},
        {"[ID] <> 77", 99999},
        {"[Title] = 'Ticket 77'", 1},
        {"[Title] = 'Ticket 77*'", 1111},  // 77, 770-779, 7700-7799, 77000-77999
        {"[Title] >= 'Ticket 99990'", 10},
        {"[Title] <> null", 100000},
        {"[ID] > 100 AND [ID] <= 200 OR [Title] = 'Ticket 5'", 101},
        {"NOT ([ID] > 100)", 100},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text);
        auto [count, fetches] = Run(c.Text);
        EXPECT_EQ(count, c.Count);
        EXPECT_EQ(fetches, 0u);
    }
}

TEST_F(FilterIndexUseTest, AndReadsRecordsOnlyWhereTheIndexedSidePassed) {
    struct TCase {
        const char* Text;
        int64_t Count;
        uint64_t Fetches;
    };
    // Opened is 2026-12-05 for ids 4, 32, 60, 88 among the first 100.
    const TCase cases[] = {
        {"[ID] <= 100 AND [Opened] = '12/5/2026'", 4, 100},
        {"[Opened] = '12/5/2026' AND [ID] <= 100", 4, 100},
        {"[Opened] = '12/5/2026' AND [ID] > 99900", 4, 100},
        {"NOT ([Opened] = '12/5/2026' AND [ID] <= 100)", kRecords - 4, 100},
        {"[Title] = 'Ticket 1*' AND [Opened] > '12/26/2026'", 794, 11112},
        {"[ID] <= 100 OR [Opened] = '12/5/2026'", 3668,
         kRecords},  // one operand reads: all records
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Text);
        auto [count, fetches] = Run(c.Text);
        EXPECT_EQ(count, c.Count);
        EXPECT_EQ(fetches, c.Fetches);
    }
}

}  // namespace
