// A small demonstration of the table engine: creates a ticket table in a
// temporary folder, inserts a few tickets with a description, reopens the
// table and prints what it stored, in two index orders.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/codec.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/session.h"
#include "engine/table_builder.h"

using namespace veltra;

namespace {

void SetText(TDataFile& t, std::vector<uint8_t>& rec, const char* field, const std::string& text) {
    t.SetFieldValue(t.FieldNumber(field), rec.data(), reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::string GetText(TDataFile& t, const std::vector<uint8_t>& rec, const char* field) {
    std::vector<uint8_t> value(256, 0);
    if (t.GetFieldValue(t.FieldNumber(field), rec.data(), value.data())) return "";
    return reinterpret_cast<const char*>(value.data());
}

std::string GetDate(TDataFile& t, const std::vector<uint8_t>& rec, const char* field) {
    uint8_t value[4];
    if (t.GetFieldValue(t.FieldNumber(field), rec.data(), value)) return "";
    int y, m, d;
    DecodeDayNumber(GetI32(value), y, m, d);
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
    return text;
}

void Print(TDataFile& t, const char* index) {
    t.SelectIndexByName(index);
    std::printf("\nIn %s order:\n", *index ? index : "primary");
    std::vector<uint8_t> rec(size_t(t.RecordSize()));
    t.FirstRecord();
    while (t.NextRecord(rec.data()) == ecOK) {
        int f = t.FieldNumber("Description");
        int64_t size = 0;
        CheckEngineResult(t.OpenBlobField(f, kBlobRead, rec.data()));
        CheckEngineResult(t.BlobFieldSize(f, rec.data(), size));
        CheckEngineResult(t.CloseBlobField(f, rec.data()));
        std::printf("  #%d  %-28s %-6s %s  %-20s %lld bytes of description\n", GetI32(&rec[5]),
                    GetText(t, rec, "Title").c_str(), GetText(t, rec, "Submitter").c_str(),
                    GetDate(t, rec, "Submit date").c_str(), GetText(t, rec, "State").c_str(),
                    static_cast<long long>(size));
    }
}

}  // namespace

int main() {
    EngineStartup();
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "veltra-demo";
    std::filesystem::create_directories(dir);
    std::string name = (dir / "tickets.dat").string();
    try {
        TTableDef def;
        def.Fields = {{"ID", ftInteger, kSubTypeAutoInc},
                      {"Title", ftString, 0, 60},
                      {"Submitter", ftString, 0, 10},
                      {"Submit date", ftDate, 0, 0, 0, false, "", "", "DATE"},
                      {"State", ftString, 0, 20, 0, false, "", "", "Open"},
                      {"Description", ftBlob, 22}};
        def.Indexes = {{.Primary = true, .Fields = {"ID"}},
                       {.Name = "Title", .Fields = {"Title"}, .CaseInsensitive = true},
                       {.Name = "State", .Fields = {"State"}}};
        CreateTable(name, def);

        struct {
            const char* Title;
            const char* Who;
            const char* State;
            const char* Description;
        } tickets[] = {{"Printer jams on page two", "anna", "Open", "Happens with duplex printing only."},
                       {"Login takes a minute", "ben", "Under investigation", "Since the last update."},
                       {"Typo in the summary report", "carla", "Closed", "\"Priorty\" in the heading."}};

        TDataFile table;
        table.SetFileName(name);
        table.OpenTable();
        std::vector<uint8_t> rec(size_t(table.RecordSize()));
        for (const auto& t : tickets) {
            table.InitRecord(rec.data());
            SetText(table, rec, "Title", t.Title);
            SetText(table, rec, "Submitter", t.Who);
            SetText(table, rec, "State", t.State);
            int f = table.FieldNumber("Description");
            CheckEngineResult(table.OpenBlobField(f, kBlobWrite, rec.data()));
            CheckEngineResult(table.WriteBlobField(f, rec.data(), 0, int64_t(std::strlen(t.Description)),
                                                   reinterpret_cast<const uint8_t*>(t.Description)));
            table.InsertRecord(rec.data(), true);
            CheckEngineResult(table.CloseBlobField(f, rec.data()));
        }
        table.CloseTable();

        table.OpenTable();
        std::printf("Table %s: %d fields, record size %d, %lld records\n", table.FileName().c_str(),
                    table.FieldCount(), table.RecordSize(), static_cast<long long>(table.RecordCount()));
        Print(table, "");
        Print(table, "Title");
        Print(table, "State");
        table.CloseTable();
    } catch (const EVeltraEngineError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
