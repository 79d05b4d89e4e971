#include "schema_json.h"

#include <array>
#include <set>

#include "engine/errors.h"
#include "engine/index_file.h"
#include "platform/locale_services.h"
#include "tool_errors.h"

namespace veltra::vltable {

namespace {

struct TTypeName {
    const char* Name;
    uint8_t Type;
    uint8_t SubType;
};

constexpr std::array<TTypeName, 16> kTypes{{
    {"string", ftString, 0},     {"date", ftDate, 0},         {"blob", ftBlob, 22},
    {"boolean", ftBoolean, 0},   {"smallint", ftSmallInt, 0}, {"integer", ftInteger, 0},
    {"autoinc", ftInteger, kSubTypeAutoInc}, {"float", ftFloat, 0}, {"money", ftFloat, kSubTypeMoney},
    {"bcd", ftBCD, 0},           {"bytes", ftBytes, 0},       {"time", ftTime, 0},
    {"datetime", ftDateTime, 0}, {"word", ftWord, 0},         {"cardinal", ftCardinal, 0},
    {"varbytes", ftVarBytes, 0},
}};

struct TBlobKind {
    const char* Name;
    uint8_t SubType;
};
constexpr std::array<TBlobKind, 5> kBlobKinds{
    {{"memo", 22}, {"binary", 23}, {"fmtmemo", 24}, {"graphic", 26}, {"typed", 28}}};

constexpr std::array<const char*, 4> kCompressions{"none", "leading", "trailing", "both"};

void CheckKeys(const TJson& object, const std::set<std::string>& allowed, const std::string& what) {
    if (!object.is_object()) throw EBadInput(what + ": expected an object");
    for (const auto& [key, value] : object.items())
        if (!allowed.count(key)) throw EBadInput(what + ": unknown key \"" + key + "\"");
}

template <typename T>
T Get(const TJson& object, const char* key, T fallback, const std::string& what) {
    if (!object.contains(key)) return fallback;
    try {
        return object.at(key).get<T>();
    } catch (const nlohmann::json::exception&) {
        throw EBadInput(what + ": \"" + key + "\" has the wrong type");
    }
}

int SmallNumber(const TJson& object, const char* key, int limit, int code, const std::string& table,
                const std::string& name, const std::string& what) {
    const int64_t v = Get<int64_t>(object, key, 0, what);
    if (v < 0 || v > limit) RaiseEngineError(code, table, name);
    return int(v);
}

TFieldDef ParseField(const TJson& f, const std::string& table, size_t n) {
    const std::string what = "field " + std::to_string(n + 1);
    CheckKeys(f, {"name", "type", "size", "decimals", "subtype", "required", "min", "max", "default"}, what);
    if (!f.contains("name") || !f.contains("type")) throw EBadInput(what + ": \"name\" and \"type\" are required");
    TFieldDef def;
    def.Name = StrictCp1252(Get<std::string>(f, "name", "", what), what);
    const std::string type = Get<std::string>(f, "type", "", what);
    const TTypeName* found = nullptr;
    for (const auto& t : kTypes)
        if (type == t.Name) found = &t;
    if (!found) RaiseEngineError(ecInvalidFieldDefinition, table, def.Name);
    def.Type = found->Type;
    def.SubType = found->SubType;
    if (f.contains("subtype")) {
        const std::string sub = Get<std::string>(f, "subtype", "", what);
        const TBlobKind* kind = nullptr;
        for (const auto& k : kBlobKinds)
            if (sub == k.Name) kind = &k;
        if (!kind || def.Type != ftBlob) RaiseEngineError(ecInvalidFieldDefinition, table, def.Name);
        def.SubType = kind->SubType;
    }
    def.Size = uint8_t(SmallNumber(f, "size", 255, ecFieldLimits, table, def.Name, what));
    def.Decimals = uint8_t(SmallNumber(f, "decimals", 255, ecInvalidFieldDefinition, table, def.Name, what));
    def.Required = Get<bool>(f, "required", false, what);
    def.MinValue = StrictCp1252(Get<std::string>(f, "min", "", what), what);
    def.MaxValue = StrictCp1252(Get<std::string>(f, "max", "", what), what);
    def.DefaultValue = StrictCp1252(Get<std::string>(f, "default", "", what), what);
    return def;
}

TIndexDef ParseIndex(const TJson& x, size_t n) {
    const std::string what = "index " + std::to_string(n + 1);
    CheckKeys(x, {"name", "primary", "fields", "unique", "descending", "caseInsensitive", "descendingFields", "compression"},
              what);
    TIndexDef def;
    def.Name = StrictCp1252(Get<std::string>(x, "name", "", what), what);
    def.Primary = Get<bool>(x, "primary", false, what);
    for (const std::string& name : Get<std::vector<std::string>>(x, "fields", {}, what))
        def.Fields.push_back(StrictCp1252(name, what));
    if (def.Fields.empty()) throw EBadInput(what + ": \"fields\" must name at least one field");
    def.Unique = Get<bool>(x, "unique", false, what);
    def.Descending = Get<bool>(x, "descending", false, what);
    def.CaseInsensitive = Get<bool>(x, "caseInsensitive", false, what);
    // "descendingFields" names the fields that sort in descending order.
    const auto descending = Get<std::vector<std::string>>(x, "descendingFields", {}, what);
    if (!descending.empty()) {
        for (const auto& field : def.Fields) {
            bool down = false;
            for (const auto& d : descending) down = down || d == field;
            def.FieldDescending.push_back(down);
        }
    }
    const std::string compression = Get<std::string>(x, "compression", "none", what);
    size_t mode = 0;
    while (mode < kCompressions.size() && compression != kCompressions[mode]) ++mode;
    if (mode == kCompressions.size()) throw EBadInput(what + ": unknown compression \"" + compression + "\"");
    def.Compression = TCompression(mode);
    return def;
}

const char* TypeName(const TFieldDescriptor& d) {
    switch (d.FieldType()) {
        case ftInteger: return d.IsAutoIncrement() ? "autoinc" : "integer";
        case ftFloat: return d.SubType() == kSubTypeMoney ? "money" : "float";
        case ftBlob: return "blob";
        case ftExtended: return "extended";
        default:
            for (const auto& t : kTypes)
                if (t.Type == d.FieldType()) return t.Name;
            return "unknown";
    }
}

TJson DescribeIndex(TDataFile& file, const TIndexDescriptor& d, bool primary) {
    TJson x;
    x["name"] = Cp1252ToUtf8(d.Name());
    x["primary"] = primary;
    TJson fields = TJson::array(), descending = TJson::array();
    for (int i = 0; i < d.FieldCount() && i < kMaxIndexFields; ++i) {
        std::string name = "#" + std::to_string(d.FieldNumber(i));
        try {
            name = Cp1252ToUtf8(file.FieldDescriptor(d.FieldNumber(i)).Name());
        } catch (const EVeltraEngineError&) {
            // A damaged descriptor still describes: the number stands in for the name.
        }
        fields.push_back(name);
        if (d.FieldDescending(i)) descending.push_back(name);
    }
    x["fields"] = fields;
    x["unique"] = d.Unique() || primary;
    x["descending"] = d.Descending();
    x["caseInsensitive"] = d.CaseInsensitive();
    x["descendingFields"] = descending;
    x["compression"] = d.Compression() < kCompressions.size() ? kCompressions[d.Compression()] : "unknown";
    x["keySize"] = d.KeySize();
    return x;
}

}  // namespace

TTableDef ParseSchema(const TJson& schema, const std::string& tableName) {
    CheckKeys(schema, {"locale", "blobBlockSize", "fields", "indexes"}, "schema");
    TTableDef def;
    const int64_t locale = Get<int64_t>(schema, "locale", 0, "schema");
    if (locale < 0 || locale > 0xFFFF) RaiseEngineError(ecLanguageDriver, tableName);
    def.LanguageID = uint16_t(locale);
    const int64_t block = Get<int64_t>(schema, "blobBlockSize", 512, "schema");
    if (block < 0 || block > 0x7FFFFFFF) RaiseEngineError(ecBlobFieldLimits, tableName);
    def.BlobBlockSize = int(block);
    if (!schema.contains("fields") || !schema["fields"].is_array())
        throw EBadInput("schema: \"fields\" must be an array");
    for (size_t i = 0; i < schema["fields"].size(); ++i) def.Fields.push_back(ParseField(schema["fields"][i], tableName, i));
    if (schema.contains("indexes")) {
        if (!schema["indexes"].is_array()) throw EBadInput("schema: \"indexes\" must be an array");
        for (size_t i = 0; i < schema["indexes"].size(); ++i) def.Indexes.push_back(ParseIndex(schema["indexes"][i], i));
    }
    return def;
}

TJson DescribeTable(TVeltraTable& table) {
    TDataFile& file = *table.DataFile();
    TJson info;
    info["table"] = file.FileName();
    info["recordCount"] = table.RecordCount();
    info["recordSize"] = file.RecordSize();
    info["fieldCount"] = file.FieldCount();
    info["blobFieldCount"] = file.BlobFieldCount();
    info["blobBlockSize"] = file.BlobBlockSize();
    info["nextRecordNo"] = file.NextRecordNo();
    info["firstFreeRecord"] = file.FirstFreeRecord();
    info["lastRecordID"] = file.LastRecordID();
    info["changeCount"] = file.ChangeCount();
    info["locale"] = file.LanguageID();
    info["sortID"] = file.SortID();
    info["encrypted"] = file.Encrypted();
    info["lastUpdated"] = file.LastUpdated();
    TJson fields = TJson::array();
    for (int n = 1; n <= file.FieldCount(); ++n) {
        const TFieldDescriptor d = file.FieldDescriptor(n);
        TJson f;
        f["name"] = Cp1252ToUtf8(d.Name());
        f["type"] = TypeName(d);
        if (d.FieldType() == ftBlob) {
            const char* sub = "binary";
            for (const auto& k : kBlobKinds)
                if (k.SubType == d.SubType()) sub = k.Name;
            f["subtype"] = sub;
        }
        if (d.FieldType() == ftString || d.FieldType() == ftBytes || d.FieldType() == ftVarBytes) f["size"] = d.Size();
        if (d.FieldType() == ftBCD) f["decimals"] = d.Decimals();
        f["required"] = d.Required();
        if (!d.MinValue().empty()) f["min"] = Cp1252ToUtf8(d.MinValue());
        if (!d.MaxValue().empty()) f["max"] = Cp1252ToUtf8(d.MaxValue());
        if (!d.DefaultValue().empty()) f["default"] = Cp1252ToUtf8(d.DefaultValue());
        fields.push_back(f);
    }
    info["fields"] = fields;
    TJson indexes = TJson::array();
    TIndexFile& ix = file.IndexFile();
    if (ix.HasPrimaryIndex()) indexes.push_back(DescribeIndex(file, ix.ReadDescriptor(0), true));
    for (int slot = 1; slot <= ix.IndexCount(); ++slot) indexes.push_back(DescribeIndex(file, ix.ReadDescriptor(slot), false));
    info["indexes"] = indexes;
    return info;
}

}  // namespace veltra::vltable
