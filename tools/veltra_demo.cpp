// A small demonstration of the table engine: creates a ticket table in a
// temporary folder, appends a few records through the record cache, closes
// it, reopens it and prints what was stored.
#include <cstdio>
#include <cstdlib>
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

void PutString(TRecord& r, const TFieldDescriptor& d, const std::string& text) {
    uint8_t* p = &r.Buffer[d.Offset()];
    std::memset(p, 0, size_t(d.PhysicalSize()) + 1);
    size_t n = std::min(text.size(), size_t(d.PhysicalSize()) - 1);
    p[0] = n > 0 ? 1 : 0;
    std::memcpy(p + 1, text.data(), n);
}

void PutDate(TRecord& r, const TFieldDescriptor& d, int y, int m, int day) {
    uint8_t* p = &r.Buffer[d.Offset()];
    p[0] = 1;
    PutI32(p + 1, EncodeDayNumber(y, m, day));
}

std::string GetString(const TRecord& r, const TFieldDescriptor& d) {
    const uint8_t* p = &r.Buffer[d.Offset()];
    if (p[0] == 0) return "(null)";
    return std::string(reinterpret_cast<const char*>(p + 1), strnlen(reinterpret_cast<const char*>(p + 1), d.PhysicalSize()));
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
                      {"Submitter", ftString, 0, 30},
                      {"Submit date", ftDate},
                      {"State", ftString, 0, 20}};
        def.Indexes = {{.Name = "", .Primary = true, .Fields = {"ID"}}};
        CreateTable(name, def);

        struct {
            const char* Title;
            const char* Who;
            int Y, M, D;
            const char* State;
        } tickets[] = {{"Printer jams on page two", "anna", 2026, 12, 1, "Open"},
                       {"Login takes a minute", "ben", 2026, 12, 3, "Under investigation"},
                       {"Typo in the summary report", "carla", 2026, 12, 9, "Closed"}};

        TDataFile table;
        table.SetFileName(name);
        table.OpenTable();
        table.BeginWrite();
        for (const auto& t : tickets) {
            TRecord* r = table.NewRecordSlot();
            r->SetRecordID(table.TakeRecordID());
            PutString(*r, table.FieldDescriptorByName("Title"), t.Title);
            PutString(*r, table.FieldDescriptorByName("Submitter"), t.Who);
            PutDate(*r, table.FieldDescriptorByName("Submit date"), t.Y, t.M, t.D);
            PutString(*r, table.FieldDescriptorByName("State"), t.State);
            r->Dirty = true;
            r->Unpin();
        }
        table.IndexFile().SetRecordCount(3);
        table.UnpinAll();
        table.FlushBuffers(true);
        table.EndWrite();
        table.CloseTable();

        table.OpenTable();
        std::printf("Table %s: %d fields, record size %d, %d records\n", table.FileName().c_str(),
                    table.FieldCount(), table.RecordSize(), table.NextRecordNo() - 1);
        for (int32_t n = 1; n < table.NextRecordNo(); ++n) {
            TRecord* r = table.FetchRecord(n, TReadAhead::Physical).Record;
            int y, m, d;
            auto date = table.FieldDescriptorByName("Submit date");
            DecodeDayNumber(GetI32(&r->Buffer[date.Offset() + 1]), y, m, d);
            std::printf("  #%d  %-28s %-8s %04d-%02d-%02d  %s\n", r->RecordID(),
                        GetString(*r, table.FieldDescriptorByName("Title")).c_str(),
                        GetString(*r, table.FieldDescriptorByName("Submitter")).c_str(), y, m, d,
                        GetString(*r, table.FieldDescriptorByName("State")).c_str());
            r->Unpin();
        }
        table.CloseTable();
    } catch (const EVeltraEngineError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
