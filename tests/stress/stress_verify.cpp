#include "stress_verify.h"

#include <cctype>
#include <set>

#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/table_verifier.h"

namespace veltra_stress {

using namespace veltra;

namespace {

std::string StringValue(const std::vector<uint8_t>& v) {
    const char* p = reinterpret_cast<const char*>(v.data());
    size_t n = 0;
    while (n < v.size() && p[n] != '\0') ++n;
    return std::string(p, n);
}

// Reads a BLOB field through the engine, as an application would.
std::string ReadBlob(TDataFile& t, int field, std::vector<uint8_t> record) {
    CheckEngineResult(t.OpenBlobField(field, kBlobRead, record.data()));
    int64_t size = 0, got = 0;
    CheckEngineResult(t.BlobFieldSize(field, record.data(), size));
    std::string text(size_t(size), '\0');
    if (size > 0)
        CheckEngineResult(t.ReadBlobField(field, record.data(), 0, size, reinterpret_cast<uint8_t*>(text.data()), got));
    CheckEngineResult(t.CloseBlobField(field, record.data()));
    if (got != size) RaiseEngineError(ecEndOfBlob, t.FileName());
    return text;
}

void CheckRecords(TDataFile& t, TVerifyResult& out) {
    std::vector<std::string>& problems = out.Problems;
    const int code = t.FieldNumber("Code"), name = t.FieldNumber("Name"), score = t.FieldNumber("Score"),
              bucket = t.FieldNumber("Bucket"), writer = t.FieldNumber("Writer"), seq = t.FieldNumber("Seq"),
              version = t.FieldNumber("Version"), checksum = t.FieldNumber("Checksum"),
              memo = t.FieldNumber("Memo"), data = t.FieldNumber("Data");
    const int32_t next = t.NextRecordNo();
    std::vector<uint8_t> record(size_t(t.RecordSize())), value(256);
    std::set<std::string> codes;
    for (int32_t n = 1; n < next; ++n) {
        TFetchResult f = t.FetchRecord(n);
        if (!f.Record) {
            problems.push_back("content: slot " + std::to_string(n) + " could not be fetched");
            continue;
        }
        record.assign(f.Record->Buffer.begin(), f.Record->Buffer.end());
        f.Record->Unpin();
        if (record[0] != 0) {
            out.Deleted += record[0] == 1;
            continue;  // the verifier checks statuses and the free chain
        }
        const std::string where = "slot " + std::to_string(n);
        TObserved o;
        o.Id = GetI32(&record[5]);
        auto text = [&](int field) {
            std::fill(value.begin(), value.end(), 0);
            t.GetFieldValue(field, record.data(), value.data());
            return StringValue(value);
        };
        auto number = [&](int field) {
            std::fill(value.begin(), value.end(), 0);
            t.GetFieldValue(field, record.data(), value.data());
            return GetI32(value.data());
        };
        o.Code = text(code);
        o.Name = text(name);
        o.Bucket = text(bucket);
        o.Score = number(score);
        std::fill(value.begin(), value.end(), 0);
        t.GetFieldValue(writer, record.data(), value.data());
        o.Writer = GetI16(value.data());
        o.Seq = number(seq);
        o.Version = number(version);
        o.Checksum = number(checksum);
        try {
            o.Memo = ReadBlob(t, memo, record);
            o.Data = ReadBlob(t, data, record);
            o.HasBlobs = true;
        } catch (const EVeltraEngineError& e) {
            problems.push_back("content: " + where + " BLOBs cannot be read: " + e.what());
        }
        if (std::string bad = CheckObserved(o); !bad.empty()) problems.push_back("content: " + where + " " + bad);
        if (!out.Records.emplace(o.Id, o).second) problems.push_back("content: ID " + std::to_string(o.Id) + " twice");
        if (!codes.insert(o.Code).second) problems.push_back("content: code " + o.Code + " twice");
    }
}

}  // namespace

std::string ProblemKind(const std::string& problem) {
    // "index slot 2 (ByCode): ..." and "record 17: ..." are kinds "index slot"
    // and "record": numbers and index names are dropped.
    std::string head = problem.substr(0, problem.find(':')), kind;
    for (size_t i = 0; i < head.size(); ++i) {
        if (head[i] == '(') break;
        if (!std::isdigit(static_cast<unsigned char>(head[i]))) kind += head[i];
    }
    while (!kind.empty() && kind.back() == ' ') kind.pop_back();
    return kind;
}

TVerifyResult DeepVerify(const std::string& path) {
    TVerifyResult out;
    TDataFile t;
    t.SetFileName(path);
    try {
        t.OpenTable();
    } catch (const EVeltraEngineError& e) {
        out.Problems.push_back(std::string("open: ") + e.what());
        return out;
    }
    try {
        t.BeginRead();
        TTableReport report = VerifyTable(t);
        out.Problems = report.Problems;
        CheckRecords(t, out);
        t.EndRead();
    } catch (const EVeltraEngineError& e) {
        out.Problems.push_back(std::string("engine: ") + e.what());
    }
    try {
        t.CloseTable();
    } catch (const EVeltraEngineError& e) {
        out.Problems.push_back(std::string("engine: closing: ") + e.what());
    }
    return out;
}

}  // namespace veltra_stress
