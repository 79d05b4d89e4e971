// Black-box tests of the vltable tool: every command driven as a separate
// process, exit statuses and messages as scripts see them, damage planted in
// the files by editing bytes, and two tool processes contending for a record.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include <nlohmann/json.hpp>

#include "engine/byte_order.h"
#include "tests/test_util.h"
#include "tool_process.h"

using namespace veltra_test;
using nlohmann::json;
using veltra::GetI32;
using veltra::PutI32;

namespace {

// Every field type the tool converts, and indexes of several kinds.
const char* const kAllTypesSchema = R"({
  "locale": 0, "blobBlockSize": 256,
  "fields": [
    {"name": "ID", "type": "autoinc"},
    {"name": "Name", "type": "string", "size": 20},
    {"name": "Amount", "type": "bcd", "decimals": 2},
    {"name": "Price", "type": "money"},
    {"name": "Opened", "type": "date"},
    {"name": "At", "type": "time"},
    {"name": "Stamp", "type": "datetime"},
    {"name": "Flag", "type": "boolean"},
    {"name": "Small", "type": "smallint"},
    {"name": "Count", "type": "word"},
    {"name": "Big", "type": "cardinal"},
    {"name": "Ratio", "type": "float"},
    {"name": "Raw", "type": "bytes", "size": 4},
    {"name": "Var", "type": "varbytes", "size": 6},
    {"name": "Note", "type": "blob", "subtype": "memo"},
    {"name": "Pic", "type": "blob", "subtype": "binary"}
  ],
  "indexes": [
    {"primary": true, "fields": ["ID"]},
    {"name": "Name", "fields": ["Name"], "caseInsensitive": true},
    {"name": "SmallDown", "fields": ["Small", "Name"], "descendingFields": ["Small"]},
    {"name": "Opened", "fields": ["Opened"], "compression": "both"}
  ]
})";

class VltableTest : public ::testing::Test {
protected:
    TTestDir dir;
    std::string table = dir / "tickets.dat";

    void CreateFrom(const std::string& schema, const std::string& path) {
        const std::string file = dir / "schema.json";
        std::ofstream(file) << schema;
        const TToolResult r = RunTool({"create", path, "--schema", file});
        ASSERT_EQ(r.Status, 0) << r.Err;
    }

    std::vector<json> Dump(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"dump", table};
        args.insert(args.end(), extra.begin(), extra.end());
        const TToolResult r = RunTool(args);
        EXPECT_EQ(r.Status, 0) << r.Err;
        std::vector<json> rows;
        std::istringstream lines(r.Out);
        for (std::string line; std::getline(lines, line);) rows.push_back(json::parse(line));
        return rows;
    }

    int64_t Count(const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"count", table};
        args.insert(args.end(), extra.begin(), extra.end());
        const TToolResult r = RunTool(args);
        EXPECT_EQ(r.Status, 0) << r.Err;
        return std::stoll(r.Out);
    }
};

TEST_F(VltableTest, EveryTypeRoundTripsThroughInsertAndDump) {
    CreateFrom(kAllTypesSchema, table);
    const json full = json::parse(R"({"Name": "Zoë, \"the\" first", "Amount": 1234.56, "Price": "19.99",
        "Opened": "2002-03-14", "At": "13:45:07.250", "Stamp": "1999-12-31T23:59:59.999", "Flag": true,
        "Small": -32768, "Count": 65535, "Big": 4294967295, "Ratio": 0.125,
        "Raw": {"base64": "AQID/w=="}, "Var": {"base64": "aGk="}, "Note": "line 1\r\nline 2 — €",
        "Pic": {"base64": "AAEC"}})");
    const json empty = json::parse(R"({"Name": "second"})");
    const TToolResult r = RunTool({"insert", table}, full.dump() + "\n\n" + empty.dump() + "\n");
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "1\n2\n");

    const std::vector<json> rows = Dump();
    ASSERT_EQ(rows.size(), 2u);
    json expected = full;
    expected["ID"] = 1;
    expected["Price"] = 19.99;
    expected["Raw"] = {{"base64", "AQID/w=="}};
    expected["Var"] = {{"base64", "aGkAAAAA"}};  // padded to the field's six bytes
    for (auto& [key, value] : expected.items()) EXPECT_EQ(rows[0][key], value) << key;
    // Keys come in field order, and unset fields are null.
    const std::string out = RunTool({"dump", table}).Out;
    const std::string second = out.substr(out.find('\n') + 1);
    EXPECT_EQ(second.rfind("{\"ID\":2,\"Name\":\"second\",\"Amount\":null,", 0), 0u) << second;
    EXPECT_NE(second.find("\"Var\":null,\"Note\":null,\"Pic\":null}"), std::string::npos) << second;
    EXPECT_EQ(rows[1].size(), 16u);
    EXPECT_EQ(rows[1]["Name"], "second");
    for (const char* k : {"Amount", "Opened", "Stamp", "Flag", "Raw", "Note", "Pic"}) EXPECT_TRUE(rows[1][k].is_null()) << k;

    // CSV: a header row and RFC 4180 quoting.
    const TToolResult csv = RunTool({"dump", table, "--format", "csv", "--fields", "ID,Name,Opened,Raw"});
    ASSERT_EQ(csv.Status, 0) << csv.Err;
    EXPECT_EQ(csv.Out, "ID,Name,Opened,Raw\r\n1,\"Zoë, \"\"the\"\" first\",2002-03-14,AQID/w==\r\n2,second,,\r\n");
}

// A field name outside ASCII is stored in Windows-1252 and written back as
// UTF-8: as a CSV header, as a JSON key, and matched by --fields.
TEST_F(VltableTest, FieldNamesOutsideAsciiComeOutAsUtf8) {
    CreateFrom(R"({"fields": [{"name": "ID", "type": "autoinc"},
        {"name": "Caf\u00e9", "type": "string", "size": 20}],
      "indexes": [{"primary": true, "fields": ["ID"]}]})", table);
    ASSERT_EQ(RunTool({"insert", table}, "{\"Caf\u00e9\": \"cr\u00e8me\"}\n").Status, 0);
    const TToolResult csv = RunTool({"dump", table, "--format", "csv"});
    ASSERT_EQ(csv.Status, 0) << csv.Err;
    EXPECT_EQ(csv.Out, "ID,Caf\xC3\xA9\r\n1,cr\xC3\xA8me\r\n");
    const TToolResult line = RunTool({"dump", table, "--fields", "Caf\xC3\xA9"});
    ASSERT_EQ(line.Status, 0) << line.Err;
    EXPECT_EQ(line.Out, "{\"Caf\xC3\xA9\":\"cr\xC3\xA8me\"}\n");
}

// --plain-text: formatted memos holding RTF come out as their visible text
// (the document's code page decoded), other formatted memos as they are,
// plain memos and the default dump untouched.
TEST_F(VltableTest, PlainTextShowsFormattedMemosAsTheirVisibleText) {
    CreateFrom(R"({"fields": [{"name": "ID", "type": "autoinc"},
        {"name": "Description", "type": "blob", "subtype": "fmtmemo"},
        {"name": "History", "type": "blob", "subtype": "memo"}],
      "indexes": [{"primary": true, "fields": ["ID"]}]})", table);
    const std::string rtf = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0\\fs20 Caf\\'e9 {\\b bold}\\par\r\n"
                            "second, \"quoted\"\\par\r\n}\r\n";
    const std::string raw = "  {\\rtf1\\ansi Zo\xC3\xAB\\par\\u8364?}";  // ë stored as a byte
    const std::vector<json> records{{{"Description", rtf}, {"History", rtf}},
                                    {{"Description", "plain text\r\nline 2"}},
                                    {{"History", "x"}},
                                    {{"Description", raw}}};
    std::string input;
    for (const json& r : records) input += r.dump() + "\n";
    ASSERT_EQ(RunTool({"insert", table}, input).Status, 0);

    const std::vector<json> plain = Dump({"--plain-text"});
    ASSERT_EQ(plain.size(), 4u);
    EXPECT_EQ(plain[0]["Description"], "Caf\xC3\xA9 bold\nsecond, \"quoted\"");
    EXPECT_EQ(plain[0]["History"], rtf);
    EXPECT_EQ(plain[1]["Description"], "plain text\r\nline 2");
    EXPECT_TRUE(plain[2]["Description"].is_null());
    EXPECT_EQ(plain[3]["Description"], "Zo\xC3\xAB\n\xE2\x82\xAC");
    const std::vector<json> rows = Dump();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0]["Description"], rtf);
    EXPECT_EQ(rows[3]["Description"], raw);

    const TToolResult csv = RunTool({"dump", table, "--format", "csv", "--fields", "ID,Description", "--plain-text"});
    ASSERT_EQ(csv.Status, 0) << csv.Err;
    EXPECT_EQ(csv.Out, "ID,Description\r\n1,\"Caf\xC3\xA9 bold\nsecond, \"\"quoted\"\"\"\r\n"
                       "2,\"plain text\r\nline 2\"\r\n3,\r\n4,\"Zo\xC3\xAB\n\xE2\x82\xAC\"\r\n");
    // Only dump takes the option.
    EXPECT_EQ(RunTool({"count", table, "--plain-text"}).Status, 2);
}

TEST_F(VltableTest, RejectedValuesWriteNothingAndNameTheLine) {
    CreateFrom(kAllTypesSchema, table);
    struct TCase {
        const char* Line;
        const char* Message;
    } cases[] = {
        {R"({"Name": "日本"})", "Windows-1252"},
        {R"({"Name": "this text is longer than twenty"})", "longer than 20"},
        {R"({"Small": 40000})", "out of range"},
        {R"({"Small": 1.5})", "whole number"},
        {R"({"Opened": "2002-02-30"})", "YYYY-MM-DD"},
        {R"({"At": "25:00:00"})", "HH:MM:SS"},
        {R"({"Raw": {"base64": "AAAAAAAA"}})", "more than 4 bytes"},
        {R"({"Raw": "AAAA"})", "base64"},
        {R"({"ID": 7})", "auto-increment"},
        {R"({"Nope": 1})", "unknown field"},
        {R"([1, 2])", "JSON object"},
        {R"({"Name": )", "parse"},
    };
    for (const TCase& c : cases) {
        const TToolResult r = RunTool({"insert", table}, std::string(R"({"Name": "kept"})") + "\n" + c.Line + "\n" +
                                                             R"({"Name": "never"})" + "\n");
        EXPECT_EQ(r.Status, 3) << c.Line;
        EXPECT_NE(r.Err.find("line 2: "), std::string::npos) << c.Line << ": " << r.Err;
        EXPECT_NE(r.Err.find(c.Message), std::string::npos) << c.Line << ": " << r.Err;
    }
    // Each run kept its first line and nothing after the failing one.
    const std::vector<json> rows = Dump();
    EXPECT_EQ(rows.size(), std::size(cases));
    for (const json& row : rows) EXPECT_EQ(row["Name"], "kept");
    EXPECT_EQ(RunTool({"verify", table}).Status, 0);
}

TEST_F(VltableTest, IndexOrdersFiltersAndFindAgreeWithAModel) {
    CreateFrom(kAllTypesSchema, table);
    std::mt19937 rng(7);
    struct TRow {
        int64_t Id;
        std::string Name;
        int Small;
        std::string Opened;
    };
    std::vector<TRow> model;
    std::string input;
    const char* names[] = {"alpha", "Bravo", "charlie", "DELTA", "echo", "Foxtrot"};
    for (int i = 1; i <= 300; ++i) {
        TRow row{i, std::string(names[rng() % 6]) + std::to_string(rng() % 50), int(rng() % 200) - 100, ""};
        char date[16];
        std::snprintf(date, sizeof date, "2002-%02d-%02d", int(rng() % 12 + 1), int(rng() % 28 + 1));
        row.Opened = date;
        model.push_back(row);
        input += json{{"Name", row.Name}, {"Small", row.Small}, {"Opened", row.Opened}}.dump() + "\n";
    }
    const TToolResult ins = RunTool({"insert", table, "--exclusive"}, input);
    ASSERT_EQ(ins.Status, 0) << ins.Err;

    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        return s;
    };
    // Name order, without regard to case.
    std::vector<json> rows = Dump({"--index", "Name", "--fields", "Name"});
    ASSERT_EQ(rows.size(), model.size());
    for (size_t i = 1; i < rows.size(); ++i)
        EXPECT_LE(lower(rows[i - 1]["Name"]), lower(rows[i]["Name"])) << i;
    // Small descending, then Name ascending (case-sensitive).
    rows = Dump({"--index", "SmallDown", "--fields", "Small,Name"});
    ASSERT_EQ(rows.size(), model.size());
    for (size_t i = 1; i < rows.size(); ++i) {
        const int a = rows[i - 1]["Small"], b = rows[i]["Small"];
        EXPECT_TRUE(a > b || (a == b && rows[i - 1]["Name"] <= rows[i]["Name"])) << i;
    }
    // Dates in a compressed index.
    rows = Dump({"--index", "Opened", "--fields", "Opened"});
    for (size_t i = 1; i < rows.size(); ++i) EXPECT_LE(rows[i - 1]["Opened"], rows[i]["Opened"]);

    // Filters: counts and dumps against the model; date constants in the US form.
    auto modelCount = [&](auto pred) { return std::count_if(model.begin(), model.end(), pred); };
    EXPECT_EQ(Count({"--filter", "Small > 10"}), modelCount([](const TRow& r) { return r.Small > 10; }));
    EXPECT_EQ(Count({"--filter", "Opened >= '6/1/2002' and Small < 0"}),
              modelCount([](const TRow& r) { return r.Opened >= "2002-06-01" && r.Small < 0; }));
    EXPECT_EQ(Count({"--filter", "Name = 'alpha*'"}),
              modelCount([](const TRow& r) { return r.Name.rfind("alpha", 0) == 0; }));
    EXPECT_EQ(Count({"--filter", "Name = 'ALPHA*'", "--case-insensitive"}),
              modelCount([](const TRow& r) { return r.Name.rfind("alpha", 0) == 0; }));
    EXPECT_EQ(Count({"--filter", "Name = 'alpha*'", "--no-partial"}), 0);
    rows = Dump({"--index", "Name", "--filter", "Small = 5", "--fields", "ID,Small"});
    EXPECT_EQ(int64_t(rows.size()), modelCount([](const TRow& r) { return r.Small == 5; }));
    for (const json& row : rows) EXPECT_EQ(row["Small"], 5);
    EXPECT_EQ(RunTool({"count", table, "--filter", "Small >"}).Status, 3);

    // Find by a case-insensitive name, by a two-field key and by the ID.
    const TRow& pick = model[123];
    TToolResult found = RunTool({"find", table, "--index", "Name", lower(pick.Name)});
    ASSERT_EQ(found.Status, 0) << found.Err;
    EXPECT_EQ(lower(json::parse(found.Out)["Name"]), lower(pick.Name));
    found = RunTool({"find", table, "--index", "SmallDown", std::to_string(pick.Small), pick.Name});
    ASSERT_EQ(found.Status, 0) << found.Err;
    EXPECT_EQ(json::parse(found.Out)["Small"], pick.Small);
    found = RunTool({"find", table, "--index", "Opened", pick.Opened});
    ASSERT_EQ(found.Status, 0) << found.Err;
    EXPECT_EQ(json::parse(found.Out)["Opened"], pick.Opened);
    EXPECT_EQ(RunTool({"find", table, "--index", "Name", "zulu"}).Status, 1);
    EXPECT_EQ(RunTool({"find", table, "--index", "Nope", "x"}).Status, 3);
    EXPECT_EQ(RunTool({"find", table, "--index", "SmallDown", "many"}).Status, 3);
}

TEST_F(VltableTest, UpdateAndDeleteAddressRecordsById) {
    CreateFrom(kAllTypesSchema, table);
    ASSERT_EQ(RunTool({"insert", table}, "{\"Name\":\"a\",\"Note\":\"old\"}\n{\"Name\":\"b\"}\n{\"Name\":\"c\"}\n").Status, 0);
    TToolResult r = RunTool({"update", table, "--id", "2"}, R"({"Name": "B2", "Note": "new text", "Small": null})");
    ASSERT_EQ(r.Status, 0) << r.Err;
    r = RunTool({"update", table, "--id", "1"}, R"({"Note": null})");
    ASSERT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(RunTool({"update", table, "--id", "9"}, R"({"Name": "x"})").Status, 1);
    EXPECT_EQ(RunTool({"update", table, "--id", "3"}, R"({"Name": "日本"})").Status, 3);
    EXPECT_EQ(RunTool({"delete", table, "--id", "3"}).Status, 0);
    EXPECT_EQ(RunTool({"delete", table, "--id", "3"}).Status, 1);
    const std::vector<json> rows = Dump({"--fields", "ID,Name,Note"});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], json::parse(R"({"ID":1,"Name":"a","Note":null})"));
    EXPECT_EQ(rows[1], json::parse(R"({"ID":2,"Name":"B2","Note":"new text"})"));
    const TToolResult info = RunTool({"info", table});
    ASSERT_EQ(info.Status, 0);
    const json description = json::parse(info.Out);
    EXPECT_EQ(description["recordCount"], 2);
    EXPECT_EQ(description["lastRecordID"], 3);
    EXPECT_EQ(description["fields"].size(), 16u);
    EXPECT_EQ(description["indexes"][2]["name"], "SmallDown");
    EXPECT_EQ(description["indexes"][2]["descendingFields"], json::array({"Small"}));
    EXPECT_EQ(description["indexes"][3]["compression"], "both");
    const TToolResult verify = RunTool({"verify", table});
    EXPECT_EQ(verify.Status, 0) << verify.Out;
    EXPECT_EQ(verify.Out, "");
}

TEST_F(VltableTest, UsageAndEngineErrorsHaveTheirExitStatuses) {
    CreateFrom(kAllTypesSchema, table);
    struct TCase {
        std::vector<std::string> Args;
        int Status;
        const char* Message;
    } cases[] = {
        {{}, 2, "no command"},
        {{"frobnicate", table}, 2, "unknown command"},
        {{"dump"}, 2, "needs a TABLE"},
        {{"dump", table, "--format", "xml"}, 2, "jsonl or csv"},
        {{"dump", table, "--id", "3"}, 2, "does not take --id"},
        {{"update", table}, 2, "needs --id"},
        {{"hold", table, "--id", "1"}, 2, "needs --seconds"},
        {{"find", table, "x"}, 2, "needs --index"},
        {{"count", table, "--lock-retry", "300"}, 2, "--lock-retry"},
        {{"count", table, "extra"}, 2, "unexpected argument"},
        {{"count", dir / "missing"}, 3, "Veltra Engine Error # "},
        {{"dump", table, "--index", "Nope"}, 3, "Veltra Engine Error # 10022"},
        {{"dump", table, "--fields", "Nope"}, 3, "Nope"},
        {{"create", table, "--schema", dir / "schema.json"}, 3, "already exists"},
        {{"repair", table, "--exclusive"}, 2, "repair opens the table exclusively"},
        {{"repair", dir / "missing"}, 3, "Veltra Engine Error # 11010"},
    };
    for (const TCase& c : cases) {
        std::vector<std::string> args = c.Args;
        const TToolResult r = RunTool(args);
        EXPECT_EQ(r.Status, c.Status) << testing::PrintToString(args) << r.Err;
        EXPECT_NE(r.Err.find(c.Message), std::string::npos) << testing::PrintToString(args) << ": " << r.Err;
    }
    // A duplicate in a unique index: the engine's own words.
    const std::string unique = dir / "unique.dat";
    CreateFrom(R"({"fields": [{"name": "K", "type": "string", "size": 8}],
                   "indexes": [{"name": "K", "fields": ["K"], "unique": true}]})", unique);
    const TToolResult dup = RunTool({"insert", unique}, "{\"K\":\"a\"}\n{\"K\":\"b\"}\n{\"K\":\"a\"}\n");
    EXPECT_EQ(dup.Status, 3);
    EXPECT_EQ(dup.Out, "0\n0\n");
    EXPECT_NE(dup.Err.find("line 3: Veltra Engine Error # 9729 "), std::string::npos) << dup.Err;
}

TEST_F(VltableTest, InvalidSchemasAreRefusedWithTheEngineCodes) {
    struct TCase {
        const char* Schema;
        const char* Code;
    } cases[] = {
        {R"({"fields": [{"name": "A", "type": "string", "size": 10}, {"name": "a", "type": "date"}]})", "10038"},
        {R"({"fields": [{"name": "A", "type": "quaternion"}]})", "10000"},
        {R"({"fields": [{"name": "A", "type": "string", "size": 0}]})", "9492"},
        {R"({"fields": [{"name": "A", "type": "blob"}], "indexes": [{"name": "X", "fields": ["A"]}]})", "12292"},
        {R"({"fields": [{"name": "A", "type": "date"}], "indexes": [{"name": "X", "fields": ["B"]}]})", "10023"},
        {R"({"fields": [{"name": "A", "type": "date"}], "indexes": [{"fields": ["A"]}]})", "10010"},
        {R"({"fields": [{"name": "A", "type": "blob"}], "blobBlockSize": 10})", "9498"},
        {R"({"fields": [], "indexes": []})", "9492"},
        {R"({"fields": [{"name": "A", "type": "date", "colour": 1}]})", "unknown key"},
        {R"({"fields": {}})", "must be an array"},
    };
    int n = 0;
    for (const TCase& c : cases) {
        const std::string file = dir / ("s" + std::to_string(n) + ".json");
        const std::string path = dir / ("t" + std::to_string(n++) + ".dat");
        std::ofstream(file) << c.Schema;
        const TToolResult r = RunTool({"create", path, "--schema", file});
        EXPECT_EQ(r.Status, 3) << c.Schema;
        EXPECT_NE(r.Err.find(c.Code), std::string::npos) << c.Schema << ": " << r.Err;
        EXPECT_FALSE(std::filesystem::exists(path)) << c.Schema;
    }
}

// ---------------------------------------------------------------- damage

// A table whose Name index has several levels and whose records own BLOBs.
class VltableDamageTest : public VltableTest {
protected:
    static constexpr int kRecords = 300;
    // String(20): null byte and 21 value bytes, then the record ID of a non-unique index.
    static constexpr int kNameKey = 22 + 4;
    static constexpr int kRecordNameAt = 10;  // after the 9-byte record prefix and the null byte
    static constexpr int kRecordNoteAt = 9 + 22 + 1;

    void SetUp() override {
        CreateFrom(R"({"fields": [{"name": "ID", "type": "autoinc"}, {"name": "Name", "type": "string", "size": 20},
                                  {"name": "Note", "type": "blob", "subtype": "memo"}],
                       "indexes": [{"primary": true, "fields": ["ID"]}, {"name": "Name", "fields": ["Name"]}]})",
                   table);
        std::string input;
        for (int i = 1; i <= kRecords; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "name%03d", i);
            input += json{{"Name", name}, {"Note", std::string(300 + i, char('a' + i % 26))}}.dump() + "\n";
        }
        ASSERT_EQ(RunTool({"insert", table, "--exclusive"}, input).Status, 0);
        const TToolResult clean = RunTool({"verify", table});
        ASSERT_EQ(clean.Status, 0) << clean.Out << clean.Err;
        data = ReadFileBytes(table);
        index = ReadFileBytes(IndexPathOf(table));
        blobs = ReadFileBytes(BlobPathOf(table));
    }

    int32_t I32(const std::vector<uint8_t>& bytes, size_t at) { return GetI32(&bytes.at(at + 3) - 3); }
    void SetI32(std::vector<uint8_t>& bytes, size_t at, int32_t v) { PutI32(&bytes.at(at + 3) - 3, v); }
    size_t RecordAt(int n) {
        const int fieldCount = veltra::GetU16(&data[23]);
        const int recordSize = veltra::GetU16(&data[21]);
        return 127 + size_t(fieldCount) * 768 + size_t(n - 1) * recordSize;
    }
    // Root page of the Name index (slot 1) and the first leaf below it.
    int32_t NameRoot() { return I32(index, 14 + 120 + 86); }
    int32_t FirstNameLeaf() { return I32(index, size_t(NameRoot()) + 13 + kNameKey); }

    std::vector<uint8_t> data, index, blobs;
};

TEST_F(VltableDamageTest, VerifyNamesEachPlantedDamageAndChangesNothing) {
    ASSERT_EQ(index.at(size_t(NameRoot())), 0) << "the Name index should have several levels";
    struct TCase {
        const char* What;
        std::function<void()> Plant;
        const char* Expected;  // a distinctive part of verify's line
    } cases[] = {
        {"broken sibling link", [&] { SetI32(index, size_t(FirstNameLeaf()) + 7, 0); }, "next link 0, expected"},
        {"wrong subtree count",
         [&] { SetI32(index, size_t(NameRoot()) + 13 + kNameKey + 4, I32(index, size_t(NameRoot()) + 13 + kNameKey + 4) + 1); },
         "entry 0 counts 65, its subtree holds 64"},
        {"record missing from an index", [&] { data.at(RecordAt(7) + kRecordNameAt) = 'X'; },
         "index slot 1 (Name): record 7 (ID 7) is missing"},
        {"BLOB block in two chains",
         [&] { SetI32(data, RecordAt(2) + kRecordNoteAt, I32(data, RecordAt(1) + kRecordNoteAt)); },
         "in the chains of record 1 (ID 1) field 3 (Note) and record 2 (ID 2)"},
        {"wrong record count", [&] { SetI32(index, 3974, I32(index, 3974) + 5); },
         "the header counts 305 active records, the data file holds 300"},
    };
    const auto cleanData = data, cleanIndex = index, cleanBlobs = blobs;
    for (const TCase& c : cases) {
        data = cleanData;
        index = cleanIndex;
        blobs = cleanBlobs;
        c.Plant();
        WriteFileBytes(table, data);
        WriteFileBytes(IndexPathOf(table), index);
        WriteFileBytes(BlobPathOf(table), blobs);
        const TToolResult r = RunTool({"verify", table});
        EXPECT_EQ(r.Status, 1) << c.What << "\n" << r.Out << r.Err;
        EXPECT_NE(r.Out.find(c.Expected), std::string::npos) << c.What << ":\n" << r.Out;
        EXPECT_EQ(ReadFileBytes(table), data) << c.What;
        EXPECT_EQ(ReadFileBytes(IndexPathOf(table)), index) << c.What;
        EXPECT_EQ(ReadFileBytes(BlobPathOf(table)), blobs) << c.What;
    }
}

TEST_F(VltableDamageTest, RepairBacksUpMendsEachPlantedDamageAndVerifiesClean) {
    struct TCase {
        const char* What;
        std::function<void()> Plant;
        const char* Expected;        // a distinctive part of repair's stdout
        int EmptiedNote = 0;         // the ID whose Note the repair empties
        int Lost = 0;                // the ID of a record that is not readable
    } cases[] = {
        {"broken sibling link", [&] { SetI32(index, size_t(FirstNameLeaf()) + 7, 0); }, "indexes built again"},
        {"record missing from an index", [&] { data.at(RecordAt(7) + kRecordNameAt) = 'X'; }, "indexes built again"},
        {"BLOB block in two chains",
         [&] { SetI32(data, RecordAt(2) + kRecordNoteAt, I32(data, RecordAt(1) + kRecordNoteAt)); },
         "record 2 (ID 2) field 3 (Note): BLOB block", 2},
        {"wrong record count", [&] { SetI32(index, 3974, I32(index, 3974) + 5); },
         "index file: the header counted 305 active records, the data file holds 300"},
        {"leaked BLOB blocks", [&] { blobs.insert(blobs.end(), 3 * 512, uint8_t(0)); }, "3 blocks in no sound chain"},
        {"truncated data file", [&] { data.erase(data.end() - 3, data.end()); },
         "record 300 (ID 300): the last slot was written only in part (33 of 36 bytes); kept, with Note null",
         kRecords},
        {"data file cut inside the last record header", [&] { data.erase(data.begin() + long(RecordAt(kRecords) + 3), data.end()); },
         "unreadable (its record header is incomplete): dropped", 0, kRecords},
        {"truncated BLOB file", [&] { blobs.erase(blobs.end() - 700, blobs.end()); }, "the field is emptied", kRecords},
    };
    const auto cleanData = data, cleanIndex = index, cleanBlobs = blobs;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        data = cleanData;
        index = cleanIndex;
        blobs = cleanBlobs;
        c.Plant();
        WriteFileBytes(table, data);
        WriteFileBytes(IndexPathOf(table), index);
        WriteFileBytes(BlobPathOf(table), blobs);
        ASSERT_EQ(RunTool({"verify", table}).Status, 1);

        const TToolResult r = RunTool({"repair", table});
        EXPECT_EQ(r.Status, 0) << r.Out << r.Err;
        EXPECT_NE(r.Out.find(c.Expected), std::string::npos) << r.Out;
        ASSERT_EQ(r.Out.rfind("backup: ", 0), 0u) << r.Out;
        const std::string folder = r.Out.substr(8, r.Out.find('\n') - 8);
        auto backupOf = [&](const std::string& path) {
            return ReadFileBytes(folder + "/" + std::filesystem::path(path).filename().string());
        };
        EXPECT_EQ(backupOf(table), data);
        EXPECT_EQ(backupOf(IndexPathOf(table)), index);
        EXPECT_EQ(backupOf(BlobPathOf(table)), blobs);
        std::filesystem::remove_all(folder);

        const TToolResult v = RunTool({"verify", table});
        EXPECT_EQ(v.Status, 0) << v.Out;
        // Every readable record with its values; only the broken BLOB emptied.
        std::map<int, json> rows;
        for (const json& row : Dump()) rows[row["ID"].get<int>()] = row;
        EXPECT_EQ(rows.size(), size_t(kRecords - (c.Lost ? 1 : 0)));
        for (int i = 1; i <= kRecords; ++i) {
            if (i == c.Lost) continue;
            char name[32];
            std::snprintf(name, sizeof name, "name%03d", i);
            const std::string expectedName = std::string(c.What) == "record missing from an index" && i == 7
                                                 ? std::string("X") + (name + 1)
                                                 : name;
            ASSERT_TRUE(rows.count(i)) << "ID " << i;
            EXPECT_EQ(rows[i]["Name"], expectedName) << "ID " << i;
            const json note = rows[i]["Note"];
            if (i == c.EmptiedNote) EXPECT_TRUE(note.is_null() || note == "") << "ID " << i << ": " << note;
            else EXPECT_EQ(note, std::string(size_t(300 + i), char('a' + i % 26))) << "ID " << i;
        }
    }
}

TEST_F(VltableDamageTest, RepairRefusesATableWithoutIndexDefinitionsAndChangesNothing) {
    std::filesystem::remove(IndexPathOf(table));
    const TToolResult r = RunTool({"repair", table});
    EXPECT_EQ(r.Status, 3) << r.Out << r.Err;
    EXPECT_NE(r.Err.find("missing: the index definitions are lost; the table cannot be repaired"), std::string::npos)
        << r.Err;
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(ReadFileBytes(table), data);
    EXPECT_EQ(ReadFileBytes(BlobPathOf(table)), blobs);
}

// ---------------------------------------------------------------- locks

TEST_F(VltableTest, AHeldRecordRefusesAnotherProcessUntilTheRetriesRunOut) {
    CreateFrom(kAllTypesSchema, table);
    ASSERT_EQ(RunTool({"insert", table}, "{\"Name\":\"held\"}\n{\"Name\":\"free\"}\n").Status, 0);
    TToolProcess holder({"hold", table, "--id", "1", "--seconds", "5"});
    ASSERT_EQ(holder.ReadLine(), "holding 1\n");

    const auto start = std::chrono::steady_clock::now();
    const TToolResult refused =
        RunTool({"update", table, "--id", "1", "--lock-retry", "3", "--lock-wait", "200"}, R"({"Name": "mine"})");
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(refused.Status, 3);
    EXPECT_NE(refused.Err.find("Veltra Engine Error # 10258"), std::string::npos) << refused.Err;
    // It gave up only after its retries (three waits of 200 ms).
    EXPECT_GE(waited, std::chrono::milliseconds(500));

    const TToolResult other = RunTool({"update", table, "--id", "2", "--lock-retry", "3", "--lock-wait", "200"},
                                      R"({"Name": "updated"})");
    EXPECT_EQ(other.Status, 0) << other.Err;

    EXPECT_EQ(holder.Wait().Status, 0);
    const std::vector<json> rows = Dump({"--fields", "Name"});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0]["Name"], "held");
    EXPECT_EQ(rows[1]["Name"], "updated");
    // Once the holder is gone the record updates at once.
    EXPECT_EQ(RunTool({"update", table, "--id", "1"}, R"({"Name": "mine"})").Status, 0);
}

// ---------------------------------------------------------------- program tables

TEST(ProgramTablesTest, TheBuildGeneratesTheTemplateAndTheSystemTables) {
    const std::string folder = VELTRA_PROGRAM_DIR;
    for (const char* name : {"datamast", "sys1", "sys2"}) {
        const TToolResult v = RunTool({"verify", folder + "/" + name + ".dat"});
        EXPECT_EQ(v.Status, 0) << name << v.Out << v.Err;
    }
    EXPECT_TRUE(std::filesystem::exists(folder + "/datamast.idx"));
    EXPECT_TRUE(std::filesystem::exists(folder + "/datamast.blb"));
    EXPECT_TRUE(std::filesystem::is_directory(folder + "/data"));

    const json info = json::parse(RunTool({"info", folder + "/datamast.dat"}).Out);
    EXPECT_EQ(info["recordCount"], 0);
    std::vector<std::string> fields;
    for (const auto& f : info["fields"]) fields.push_back(f["name"]);
    EXPECT_EQ(fields, (std::vector<std::string>{"ID", "Title", "Submitter", "Submit date", "State", "Priority",
                                                 "Close date", "Category", "Owner", "Other", "Last update",
                                                 "Description", "History", "All"}));
    bool idIndex = false;
    for (const auto& x : info["indexes"])
        if (x["name"] == "ID") idIndex = x["fields"] == json::array({"ID"}) && x["unique"] == true && x["descending"] == false;
    EXPECT_TRUE(idIndex);
    for (const auto& f : info["fields"]) {
        if (f["name"] == "Submitter" || f["name"] == "Owner") {
            EXPECT_GE(f["size"], 10);
        }
    }

    const json users = json::parse(RunTool({"info", folder + "/sys1.dat"}).Out);
    EXPECT_EQ(users["recordCount"], 0);
    bool usernameIndex = false;
    for (const auto& x : users["indexes"])
        if (x["name"] == "username") usernameIndex = x["unique"] == true && x["caseInsensitive"] == true;
    EXPECT_TRUE(usernameIndex);

    const TToolResult groups = RunTool({"dump", folder + "/sys2.dat", "--index", "groupname", "--fields", "groupname"});
    EXPECT_EQ(groups.Out, "{\"groupname\":\"Developers\"}\n{\"groupname\":\"Managers\"}\n"
                          "{\"groupname\":\"Reporters\"}\n{\"groupname\":\"Viewers\"}\n");
    const TToolResult found = RunTool({"find", folder + "/sys2.dat", "--index", "groupname", "viewers"});
    ASSERT_EQ(found.Status, 0);
    EXPECT_EQ(json::parse(found.Out)["submit"], 1);
}

}  // namespace
