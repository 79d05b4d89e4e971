#include "commands.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "engine/errors.h"
#include "engine/index_file.h"
#include "engine/session.h"
#include "engine/table_repair.h"
#include "engine/table_verifier.h"
#include "platform/table_text/record_text.h"
#include "platform/table_text/value_json.h"
#include "schema_json.h"
#include "tool_errors.h"

namespace veltra::vltable {

namespace {

void Out(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void ApplyLockOptions(TVeltraTable& t, const TOptions& o) {
    if (o.LockRetry) t.SetLockRetryCount(uint8_t(*o.LockRetry));
    if (o.LockWait) t.SetLockWaitTime(uint16_t(*o.LockWait));
}

void OpenTable(TVeltraTable& t, const TOptions& o) {
    t.SetTableName(o.Table);
    t.SetExclusive(o.Exclusive);
    t.SetReadOnly(o.ReadOnly);
    ApplyLockOptions(t, o);
    if (o.Index) t.SetIndexName(*o.Index);
    t.Open();
}

void ApplyFilter(TVeltraTable& t, const TOptions& o) {
    if (!o.Filter) return;
    TFilterOptions options;
    options.CaseInsensitive = o.CaseInsensitive;
    options.NoPartialCompare = o.NoPartial;
    t.SetFilterOptions(options);
    t.SetFilter(*o.Filter);
    t.SetFiltered(true);
}

// The fields to write: all the table's fields, or those --fields names.
std::vector<TField*> SelectFields(TVeltraTable& t, const TOptions& o) {
    std::vector<TField*> fields;
    if (o.Fields) {
        for (const auto& name : *o.Fields) fields.push_back(&t.FieldByName(StrictCp1252(name, "--fields")));
    } else {
        for (const auto& f : t.Fields()) fields.push_back(f.get());
    }
    return fields;
}

// Reads one JSON object; EBadInput when the text is not one.
TJson ParseObject(const std::string& text, const std::string& what) {
    TJson value;
    try {
        value = TJson::parse(text);
    } catch (const nlohmann::json::parse_error& e) {
        throw EBadInput(what + ": " + e.what());
    }
    if (!value.is_object()) throw EBadInput(what + ": expected a JSON object");
    return value;
}

// Assigns every member of `values` to the record being edited or inserted.
void AssignFields(TVeltraTable& t, const TJson& values) {
    for (const auto& [name, value] : values.items()) {
        TField* field = t.FindField(StrictCp1252(name, "field name"));
        if (!field) throw EBadInput("unknown field \"" + name + "\"");
        JsonToField(t, *field, value);
    }
}

// The auto-increment field, which --id addresses.
TField& IdField(TVeltraTable& t) {
    for (const auto& f : t.Fields())
        if (f->Kind() == TFieldKind::AutoInc) return *f;
    throw EBadInput(t.TableName() + " has no auto-increment field to address by --id");
}

// Makes the record with the given ID current; ENotFound when there is none.
// Searches an index that starts with the ID field when the table has one
// (primary or secondary), otherwise reads the table in physical order.
void LocateId(TVeltraTable& t, int64_t id) {
    TField& idField = IdField(t);
    TIndexFile& ix = t.DataFile()->IndexFile();
    std::optional<std::string> index;
    if (ix.HasPrimaryIndex() && ix.ReadDescriptor(0).FieldNumber(0) == idField.FieldNo()) index = "";
    for (int slot = 1; !index && slot <= ix.IndexCount(); ++slot) {
        const TIndexDescriptor d = ix.ReadDescriptor(slot);
        if (d.FieldNumber(0) == idField.FieldNo() && !d.Name().empty()) index = d.Name();
    }
    if (index) {
        t.SetIndexName(*index);
        if (!t.FindKeyWith(1, [&](size_t, TField& f) { f.SetAsInteger(id); }))
            throw ENotFound("record " + std::to_string(id) + " not found");
        return;
    }
    for (t.First(); !t.Eof(); t.Next())
        if (idField.AsInteger() == id) return;
    throw ENotFound("record " + std::to_string(id) + " not found");
}

std::string ReadAll(std::istream& in) {
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int Create(const TOptions& o) {
    std::ifstream in(o.Schema, std::ios::binary);
    if (!in) throw EBadInput("cannot read the schema file " + o.Schema);
    const TJson schema = [&] {
        try {
            return TJson::parse(ReadAll(in));
        } catch (const nlohmann::json::parse_error& e) {
            throw EBadInput(o.Schema + ": " + e.what());
        }
    }();
    const TTableDef def = ParseSchema(schema, o.Table);
    // Creating replaces files; the tool never overwrites an existing table.
    TDataFile probe;
    const std::string path = probe.ExpandFileName(o.Table);
    if (std::ifstream(path).good()) throw EBadInput(path + " already exists; delete the table's files first");
    CreateTable(o.Table, def);
    return kExitOk;
}

int Info(const TOptions& o) {
    TVeltraTable t;
    OpenTable(t, o);
    Out(DescribeTable(t).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
    return kExitOk;
}

int Insert(const TOptions& o) {
    TVeltraTable t;
    OpenTable(t, o);
    std::string line;
    for (int64_t lineNo = 1; std::getline(std::cin, line); ++lineNo) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        try {
            const TJson values = ParseObject(line, "JSON");
            t.Append();
            AssignFields(t, values);
            t.Post();
        } catch (const std::exception& e) {
            if (t.State() == TDataSetState::Insert) t.Cancel();
            // The lines before this one stay inserted.
            throw EBadInput("line " + std::to_string(lineNo) + ": " + e.what());
        }
        const TField* id = nullptr;
        for (const auto& f : t.Fields())
            if (f->Kind() == TFieldKind::AutoInc) id = f.get();
        Out((id ? std::to_string(id->AsInteger()) : std::string("0")) + "\n");
        std::fflush(stdout);
    }
    return kExitOk;
}

int Dump(const TOptions& o) {
    TVeltraTable t;
    OpenTable(t, o);
    ApplyFilter(t, o);
    const TRecordText text(t, SelectFields(t, o),
                           o.Format == "csv" ? TRecordTextFormat::Csv : TRecordTextFormat::JsonLines,
                           o.PlainText);
    std::string chunk = text.Header();
    TReadBatch batch(*t.DataFile());
    for (t.First(); !t.Eof(); t.Next(), batch.Step()) {
        chunk += text.Row();
        if (chunk.size() > (1 << 16)) {
            Out(chunk);
            chunk.clear();
        }
    }
    Out(chunk);
    return kExitOk;
}

int Count(const TOptions& o) {
    TVeltraTable t;
    OpenTable(t, o);
    ApplyFilter(t, o);
    Out(std::to_string(t.RecordCount()) + "\n");
    return kExitOk;
}

int Find(const TOptions& o) {
    TVeltraTable t;
    OpenTable(t, o);
    const bool found = t.FindKeyWith(o.Values.size(), [&](size_t i, TField& field) {
        JsonToField(t, field, TextToJson(t, field, o.Values[i]), true);
    });
    if (!found) throw ENotFound("no record matches the key");
    Out(TRecordText(t, SelectFields(t, o), TRecordTextFormat::JsonLines, false).Row());
    return kExitOk;
}

int Update(const TOptions& o) {
    const TJson values = ParseObject(ReadAll(std::cin), "JSON");
    TVeltraTable t;
    OpenTable(t, o);
    LocateId(t, *o.Id);
    t.Edit();
    try {
        AssignFields(t, values);
        t.Post();
    } catch (...) {
        if (t.State() == TDataSetState::Edit) t.Cancel();
        throw;
    }
    return kExitOk;
}

int Delete(const TOptions& o) {
    TVeltraTable t;
    OpenTable(t, o);
    LocateId(t, *o.Id);
    t.Delete();
    return kExitOk;
}

int Hold(const TOptions& o) {
    TVeltraTable t;
    OpenTable(t, o);
    LocateId(t, *o.Id);
    t.Edit();
    // Tell whoever waits on us that the lock is taken.
    Out("holding " + std::to_string(*o.Id) + "\n");
    std::fflush(stdout);
    std::this_thread::sleep_for(std::chrono::duration<double>(*o.Seconds));
    t.Cancel();
    return kExitOk;
}

int Verify(const TOptions& o) {
    TVerifyOptions options;
    if (o.LockRetry) options.LockRetryCount = uint8_t(*o.LockRetry);
    if (o.LockWait) options.LockWaitTime = uint16_t(*o.LockWait);
    const TTableReport report = VerifyTable(o.Table, options);
    for (const auto& problem : report.Problems) Out(problem + "\n");
    std::fprintf(stderr, "%s: %lld active records, %lld deleted slots, %lld BLOB chains, %zu problems\n",
                 o.Table.c_str(), static_cast<long long>(report.ActiveRecords),
                 static_cast<long long>(report.DeletedSlots), static_cast<long long>(report.BlobChains),
                 report.Problems.size());
    return report.Ok() ? kExitOk : kExitProblems;
}

// Backs the table up and repairs it. stdout: the backup folder, one line per
// thing mended, then any problem the verify afterwards still finds.
int Repair(const TOptions& o) {
    if (o.Exclusive || o.ReadOnly || o.LockRetry || o.LockWait)
        throw EUsage("repair opens the table exclusively and takes no lock options");
    EngineStartup();
    const TRepairReport report = RepairTable(o.Table);
    Out("backup: " + report.BackupFolder + "\n");
    for (const auto& line : report.Repairs) Out(line + "\n");
    for (const auto& problem : report.After.Problems) Out("after the repair: " + problem + "\n");
    std::fprintf(stderr,
                 "%s: repaired; %lld active records, %lld deleted slots, %lld BLOB chains kept, %lld BLOB fields "
                 "emptied, %lld BLOB blocks reclaimed; verify: %zu problems\n",
                 o.Table.c_str(), static_cast<long long>(report.ActiveRecords),
                 static_cast<long long>(report.DeletedSlots), static_cast<long long>(report.BlobChains),
                 static_cast<long long>(report.EmptiedBlobFields), static_cast<long long>(report.ReclaimedBlocks),
                 report.After.Problems.size());
    return report.After.Ok() ? kExitOk : kExitProblems;
}

}  // namespace

int RunCommand(const TOptions& o) {
    if (o.Command == "create") return Create(o);
    if (o.Command == "info") return Info(o);
    if (o.Command == "insert") return Insert(o);
    if (o.Command == "dump") return Dump(o);
    if (o.Command == "count") return Count(o);
    if (o.Command == "find") return Find(o);
    if (o.Command == "update") return Update(o);
    if (o.Command == "delete") return Delete(o);
    if (o.Command == "hold") return Hold(o);
    if (o.Command == "verify") return Verify(o);
    if (o.Command == "repair") return Repair(o);
    throw EUsage("unknown command \"" + o.Command + "\"");
}

}  // namespace veltra::vltable
