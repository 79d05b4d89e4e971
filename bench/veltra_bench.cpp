// Runs one ticket-shaped workload on the Veltra table engine and on SQLite 3
// and prints each operation's time for both and the ratio ours/SQLite.
//
//   veltra-bench [--small] [--n N] [--jumps J] [--dir FOLDER] [--keep] [--exclusive-reads]
//                [--jumps-only] [--no-journal]
//
// --no-journal writes every flush in place without the rollback journal
// (engine/journal.h), to show what the journal costs the writing operations
// (1, 2, 7a, 7b); a run with and one without it side by side give the cost.
//
// --jumps-only builds the tables with operation 2 and runs operations 3 to 5b
// only (the positional jumps, plain and under a filter), for a short run.
//
// --small is the smoke mode (2,000 records, 500 jumps). Every operation's
// results are compared between the two engines (counts, the scanned order,
// looked-up and jumped-to IDs, the memo contents that survive the updates);
// any disagreement is printed and makes the exit code 1, so the smoke run is
// a test. Timings are wall-clock times of one run and are never asserted.
// Operations 3 to 7 run on our table opened shared, as the program opens its
// logs, so every disk read takes the read locks; --exclusive-reads opens it
// exclusively instead, to show what the lock protocol costs.
//
// Both tables hold the same records, generated from a fixed seed: an
// auto-increment ID, a title of up to 80 characters, submitter and owner of up
// to 10, a state, three dates, a priority and a memo of 1 to 4 KB. Our table
// has a primary index on the ID and secondary indexes on the title and the
// state; SQLite has an INTEGER PRIMARY KEY and indexes on title and state.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "engine/byte_order.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/filter_eval.h"
#include "engine/journal.h"
#include "engine/session.h"
#include "engine/table_builder.h"

using namespace veltra;
namespace fs = std::filesystem;

namespace {

// ------------------------------------------------------------ the workload

constexpr const char* kStates[] = {"Open", "Under investigation", "Close pending", "Closed"};
constexpr const char* kUsers[] = {"anna", "ben", "carla", "dmitri", "eve", "farid", "greta", "hugo",
                                  "ines", "jonas", "kemal", "lena", "marco", "nadia", "oskar", "petra"};
constexpr const char* kWords[] = {
    "printer", "jams", "on", "page", "login", "takes", "a", "minute", "report", "shows", "wrong",
    "totals", "after", "update", "crash", "when", "saving", "ticket", "search", "misses", "closed",
    "items", "slow", "grid", "with", "many", "rows", "summary", "heading", "typo", "in", "export",
    "fails", "for", "large", "logs", "window", "layout", "lost", "restart", "date", "field", "accepts",
    "invalid", "values", "owner", "list", "empty", "network", "share", "locks", "time", "out"};

struct TTicket {
    std::string Title, Submitter, State, Owner;
    int32_t SubmitDate = 0, CloseDate = 0, LastUpdate = 0;
    int32_t Priority = 0;
    size_t MemoOffset = 0, MemoSize = 0;  // a slice of the memo pool
};

struct TWorkload {
    std::vector<TTicket> Tickets;  // ticket i gets ID i + 1
    std::vector<uint8_t> MemoPool;
    std::vector<int32_t> LookupIds;   // random IDs for point lookups
    std::vector<int64_t> Jumps;       // random logical positions in title order
    struct TUpdate {
        int32_t Id;
        std::string State;
        size_t MemoOffset, MemoSize;
    };
    std::vector<TUpdate> Updates;
    std::vector<int32_t> Deletes;  // distinct IDs

    const uint8_t* Memo(size_t offset) const { return MemoPool.data() + offset; }
};

TWorkload MakeWorkload(int n, int jumps, int changes) {
    std::mt19937_64 rng(20261210);
    TWorkload w;
    w.MemoPool.resize(1 << 20);
    for (auto& b : w.MemoPool) b = uint8_t(rng());
    auto memoSlice = [&](size_t& offset, size_t& size) {
        size = 1024 + rng() % (3 * 1024 + 1);
        offset = rng() % (w.MemoPool.size() - size);
    };
    const int32_t base = 738000;  // a day number in 2021
    w.Tickets.resize(size_t(n));
    for (auto& t : w.Tickets) {
        int words = 3 + int(rng() % 8);
        for (int i = 0; i < words; ++i) {
            std::string word = kWords[rng() % std::size(kWords)];
            if (i == 0) word[0] = char(std::toupper(static_cast<unsigned char>(word[0])));
            if (t.Title.size() + word.size() + 1 > 79) break;
            if (!t.Title.empty()) t.Title += ' ';
            t.Title += word;
        }
        t.Submitter = kUsers[rng() % std::size(kUsers)];
        t.Owner = kUsers[rng() % std::size(kUsers)];
        t.State = kStates[rng() % std::size(kStates)];
        t.SubmitDate = base + int32_t(rng() % 1500);
        t.CloseDate = t.State == std::string("Closed") ? t.SubmitDate + int32_t(rng() % 60) : 0;
        t.LastUpdate = t.SubmitDate + int32_t(rng() % 90);
        t.Priority = 1 + int32_t(rng() % 5);
        memoSlice(t.MemoOffset, t.MemoSize);
    }
    for (int i = 0; i < n; ++i) w.LookupIds.push_back(1 + int32_t(rng() % uint64_t(n)));
    for (int i = 0; i < jumps; ++i) w.Jumps.push_back(1 + int64_t(rng() % uint64_t(n)));
    for (int i = 0; i < changes; ++i) {
        TWorkload::TUpdate u;
        u.Id = 1 + int32_t(rng() % uint64_t(n));
        u.State = kStates[rng() % std::size(kStates)];
        memoSlice(u.MemoOffset, u.MemoSize);
        w.Updates.push_back(u);
    }
    std::vector<int32_t> ids(static_cast<size_t>(n));
    std::iota(ids.begin(), ids.end(), 1);
    std::shuffle(ids.begin(), ids.end(), rng);
    w.Deletes.assign(ids.begin(), ids.begin() + changes);
    return w;
}

// ------------------------------------------------------------ reporting

int g_Failures = 0;

void Check(bool ok, const std::string& what) {
    if (ok) return;
    ++g_Failures;
    std::fprintf(stderr, "MISMATCH: %s\n", what.c_str());
}

double Seconds(const std::function<void()>& f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct TRow {
    std::string Operation;
    double Ours, Theirs;  // seconds; for sizes, MB
    bool Size = false;
};
std::vector<TRow> g_Rows;

void Report(const std::string& operation, double ours, double theirs) {
    g_Rows.push_back({operation, ours, theirs});
    std::fprintf(stderr, "  %-58s %10.3f s %10.3f s\n", operation.c_str(), ours, theirs);
}

// ------------------------------------------------------------ SQLite side

class TSqlite {
public:
    explicit TSqlite(const std::string& path) {
        if (sqlite3_open(path.c_str(), &m_Db) != SQLITE_OK) Fail("open");
        Exec("PRAGMA journal_mode=WAL");
        Exec("PRAGMA synchronous=OFF");
    }
    ~TSqlite() {
        for (auto* s : m_Statements) sqlite3_finalize(s);
        sqlite3_close(m_Db);
    }
    TSqlite(const TSqlite&) = delete;
    TSqlite& operator=(const TSqlite&) = delete;

    void Exec(const char* sql) {
        char* error = nullptr;
        if (sqlite3_exec(m_Db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
            std::string text = error ? error : "?";
            sqlite3_free(error);
            Fail(std::string(sql) + ": " + text);
        }
    }
    sqlite3_stmt* Prepare(const char* sql) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(m_Db, sql, -1, &s, nullptr) != SQLITE_OK) Fail(sql);
        m_Statements.push_back(s);
        return s;
    }
    // Steps a statement that returns no rows, then resets it.
    void Run(sqlite3_stmt* s) {
        if (sqlite3_step(s) != SQLITE_DONE) Fail(sqlite3_sql(s));
        sqlite3_reset(s);
    }
    std::string Pragma(const char* name) {
        sqlite3_stmt* s = nullptr;
        std::string q = std::string("PRAGMA ") + name;
        std::string value;
        if (sqlite3_prepare_v2(m_Db, q.c_str(), -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
            value = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        sqlite3_finalize(s);
        return value;
    }
    [[noreturn]] void Fail(const std::string& what) {
        std::fprintf(stderr, "sqlite: %s: %s\n", what.c_str(), sqlite3_errmsg(m_Db));
        std::exit(2);
    }

private:
    sqlite3* m_Db = nullptr;
    std::vector<sqlite3_stmt*> m_Statements;
};

constexpr const char* kSqlSchema =
    "CREATE TABLE tickets(id INTEGER PRIMARY KEY, title TEXT, submitter TEXT, submit_date INTEGER,"
    " state TEXT, priority INTEGER, close_date INTEGER, owner TEXT, last_update INTEGER, memo BLOB);"
    "CREATE INDEX by_title ON tickets(title);"
    "CREATE INDEX by_state ON tickets(state);";
constexpr const char* kSqlColumns =
    "id, title, submitter, submit_date, state, priority, close_date, owner, last_update";

void SqlInsert(TSqlite& db, sqlite3_stmt* s, const TWorkload& w, const TTicket& t) {
    sqlite3_bind_text(s, 1, t.Title.c_str(), int(t.Title.size()), SQLITE_STATIC);
    sqlite3_bind_text(s, 2, t.Submitter.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int(s, 3, t.SubmitDate);
    sqlite3_bind_text(s, 4, t.State.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int(s, 5, t.Priority);
    if (t.CloseDate) sqlite3_bind_int(s, 6, t.CloseDate);
    else sqlite3_bind_null(s, 6);
    sqlite3_bind_text(s, 7, t.Owner.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_int(s, 8, t.LastUpdate);
    sqlite3_bind_blob(s, 9, w.Memo(t.MemoOffset), int(t.MemoSize), SQLITE_STATIC);
    db.Run(s);
}

void SqlInsertAll(const std::string& path, const TWorkload& w, bool oneTransaction) {
    TSqlite db(path);
    db.Exec(kSqlSchema);
    sqlite3_stmt* s = db.Prepare(
        "INSERT INTO tickets(title, submitter, submit_date, state, priority, close_date, owner, last_update, memo)"
        " VALUES(?,?,?,?,?,?,?,?,?)");
    if (oneTransaction) db.Exec("BEGIN");
    for (const auto& t : w.Tickets) SqlInsert(db, s, w, t);
    if (oneTransaction) db.Exec("COMMIT");
}

// ------------------------------------------------------------ our side

struct TFields {
    int Title, Submitter, SubmitDate, State, Priority, CloseDate, Owner, LastUpdate, Memo;
};

TFields FieldsOf(TDataFile& t) {
    return {t.FieldNumber("Title"),    t.FieldNumber("Submitter"),  t.FieldNumber("Submit date"),
            t.FieldNumber("State"),    t.FieldNumber("Priority"),   t.FieldNumber("Close date"),
            t.FieldNumber("Owner"),    t.FieldNumber("Last update"), t.FieldNumber("Memo")};
}

TTableDef TicketTableDef() {
    TTableDef def;
    def.Fields = {{"ID", ftInteger, kSubTypeAutoInc},
                  {"Title", ftString, 0, 80},
                  {"Submitter", ftString, 0, 10},
                  {"Submit date", ftDate},
                  {"State", ftString, 0, 20},
                  {"Priority", ftInteger},
                  {"Close date", ftDate},
                  {"Owner", ftString, 0, 10},
                  {"Last update", ftDate},
                  {"Memo", ftBlob, 22}};
    def.Indexes = {{.Primary = true, .Fields = {"ID"}},
                   {.Name = "ByTitle", .Fields = {"Title"}, .Compression = TCompression::Both},
                   {.Name = "ByState", .Fields = {"State"}, .Compression = TCompression::Both}};
    return def;
}

void SetText(TDataFile& t, int field, uint8_t* rec, const std::string& text) {
    t.SetFieldValue(field, rec, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

void SetInt(TDataFile& t, int field, uint8_t* rec, int32_t v) {
    uint8_t b[4];
    PutI32(b, v);
    t.SetFieldValue(field, rec, v ? b : nullptr, 4);
}

std::string GetText(TDataFile& t, int field, const uint8_t* rec) {
    uint8_t value[256] = {};
    if (t.GetFieldValue(field, rec, value)) return "";
    return reinterpret_cast<const char*>(value);
}

void WriteMemo(TDataFile& t, int field, uint8_t* rec, const uint8_t* bytes, size_t size) {
    CheckEngineResult(t.OpenBlobField(field, kBlobWrite, rec));
    CheckEngineResult(t.TruncateBlobField(field, rec, 0));
    CheckEngineResult(t.WriteBlobField(field, rec, 0, int64_t(size), bytes));
}

std::vector<uint8_t> ReadMemo(TDataFile& t, int field, uint8_t* rec) {
    CheckEngineResult(t.OpenBlobField(field, kBlobRead, rec));
    int64_t size = 0, got = 0;
    CheckEngineResult(t.BlobFieldSize(field, rec, size));
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (size) CheckEngineResult(t.ReadBlobField(field, rec, 0, size, bytes.data(), got));
    CheckEngineResult(t.CloseBlobField(field, rec));
    return bytes;
}

void OpenTicketTable(TDataFile& t, const std::string& path, bool exclusive) {
    t.SetFileName(path);
    t.SetExclusive(exclusive);
    t.OpenTable();
}

void OurInsertAll(const std::string& path, const TWorkload& w, bool exclusive) {
    CreateTable(path, TicketTableDef());
    TDataFile t;
    OpenTicketTable(t, path, exclusive);
    TFields f = FieldsOf(t);
    std::vector<uint8_t> rec(size_t(t.RecordSize()));
    for (const auto& k : w.Tickets) {
        t.InitRecord(rec.data());
        SetText(t, f.Title, rec.data(), k.Title);
        SetText(t, f.Submitter, rec.data(), k.Submitter);
        SetInt(t, f.SubmitDate, rec.data(), k.SubmitDate);
        SetText(t, f.State, rec.data(), k.State);
        SetInt(t, f.Priority, rec.data(), k.Priority);
        SetInt(t, f.CloseDate, rec.data(), k.CloseDate);
        SetText(t, f.Owner, rec.data(), k.Owner);
        SetInt(t, f.LastUpdate, rec.data(), k.LastUpdate);
        WriteMemo(t, f.Memo, rec.data(), w.Memo(k.MemoOffset), k.MemoSize);
        t.InsertRecord(rec.data(), false);
        CheckEngineResult(t.CloseBlobField(f.Memo, rec.data()));
    }
    t.CloseTable();
}

// The ID, title and state of a record image, for comparing with SQLite's rows.
struct TSeen {
    int32_t Id = 0;
    std::string Title;
    bool operator==(const TSeen&) const = default;
};

// ------------------------------------------------------------ files

std::vector<std::string> FilesOf(const std::string& dir, const std::string& stem) {
    std::vector<std::string> files;
    for (const auto& e : fs::directory_iterator(dir)) {
        std::string name = e.path().filename().string();
        if (name.rfind(stem + ".", 0) == 0 || name.rfind(stem + "-", 0) == 0) files.push_back(e.path().string());
    }
    return files;
}

double MegabytesOf(const std::vector<std::string>& files) {
    uintmax_t total = 0;
    for (const auto& f : files) total += fs::file_size(f);
    return double(total) / 1e6;
}

// Writes the files' dirty pages and asks the kernel to drop them from the page
// cache (posix_fadvise DONTNEED, which needs no privileges); returns the
// fraction of their pages still resident afterwards, measured with mincore.
double DropFromPageCache(const std::vector<std::string>& files) {
    const long page = sysconf(_SC_PAGESIZE);
    uint64_t pages = 0, resident = 0;
    for (const auto& f : files) {
        int fd = open(f.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) continue;
        fdatasync(fd);
        posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        struct stat st {};
        if (fstat(fd, &st) == 0 && st.st_size > 0) {
            void* map = mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_SHARED, fd, 0);
            if (map != MAP_FAILED) {
                std::vector<unsigned char> vec(size_t((st.st_size + page - 1) / page));
                if (mincore(map, size_t(st.st_size), vec.data()) == 0) {
                    pages += vec.size();
                    for (unsigned char v : vec) resident += v & 1;
                }
                munmap(map, size_t(st.st_size));
            }
        }
        close(fd);
    }
    return pages ? double(resident) / double(pages) : 0.0;
}

// ------------------------------------------------------------ the run

struct TOptions {
    int N = 100000;
    int Jumps = 10000;
    std::string Dir;
    bool Keep = false;
    bool Small = false;
    bool ExclusiveReads = false;  // operations 3 to 7 on a table opened exclusively
    bool JumpsOnly = false;       // operations 2, 3, 4, 5 and 5b only
    bool NoJournal = false;       // flushes without the rollback journal
};

TOptions ParseOptions(int argc, char** argv) {
    TOptions o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--small") {
            o.Small = true;
            o.N = 2000;
            o.Jumps = 500;
        } else if (a == "--n") {
            o.N = std::max(100, std::atoi(next().c_str()));
        } else if (a == "--jumps") {
            o.Jumps = std::max(1, std::atoi(next().c_str()));
        } else if (a == "--dir") {
            o.Dir = next();
        } else if (a == "--keep") {
            o.Keep = true;
        } else if (a == "--exclusive-reads") {
            o.ExclusiveReads = true;
        } else if (a == "--jumps-only") {
            o.JumpsOnly = true;
        } else if (a == "--no-journal") {
            o.NoJournal = true;
        } else {
            std::fprintf(stderr,
                         "usage: veltra-bench [--small] [--n N] [--jumps J] [--dir FOLDER] [--keep] [--exclusive-reads]"
                         " [--jumps-only] [--no-journal]\n");
            std::exit(2);
        }
    }
    return o;
}

void Run(const TOptions& o, const std::string& dir) {
    const int n = o.N;
    const int changes = std::min(10000, n / 4);
    const int counts = 20;  // repetitions of each count
    TWorkload w = MakeWorkload(n, o.Jumps, changes);
    const std::string oursShared = dir + "/shared.dat", oursExclusive = dir + "/tickets.dat";
    const std::string sqlShared = dir + "/shared.db", sqlBulk = dir + "/tickets.db";
    const std::string N = std::to_string(n);

    std::fprintf(stderr, "%d records, %d jumps, %d updates and deletes, in %s\n", n, o.Jumps, changes,
                 dir.c_str());

    // 1, 2: inserts.
    double ours = 0, theirs = 0;
    if (!o.JumpsOnly) {
        ours = Seconds([&] { OurInsertAll(oursShared, w, false); });
        theirs = Seconds([&] { SqlInsertAll(sqlShared, w, false); });
        Report("1 insert " + N + ": shared, flush per insert / txn per insert", ours, theirs);
    }
    ours = Seconds([&] { OurInsertAll(oursExclusive, w, true); });
    theirs = Seconds([&] { SqlInsertAll(sqlBulk, w, true); });
    Report("2 insert " + N + ": exclusive / one transaction", ours, theirs);

    TDataFile t;
    OpenTicketTable(t, oursExclusive, o.ExclusiveReads);
    TFields f = FieldsOf(t);
    std::vector<uint8_t> rec(size_t(t.RecordSize()));
    auto connection = std::make_unique<TSqlite>(sqlBulk);
    TSqlite& db = *connection;
    Check(t.RecordCount() == n, "record count after the inserts");

    // 3: ordered scan in title order.
    std::vector<TSeen> oursOrder, sqlOrder;
    oursOrder.reserve(size_t(n));
    sqlOrder.reserve(size_t(n));
    t.SelectIndexByName("ByTitle");
    ours = Seconds([&] {
        t.FirstRecord();
        while (t.NextRecord(rec.data()) == ecOK) oursOrder.push_back({GetI32(&rec[5]), GetText(t, f.Title, rec.data())});
    });
    sqlite3_stmt* scan = db.Prepare((std::string("SELECT ") + kSqlColumns + " FROM tickets ORDER BY title").c_str());
    theirs = Seconds([&] {
        while (sqlite3_step(scan) == SQLITE_ROW)
            sqlOrder.push_back({sqlite3_column_int(scan, 0), reinterpret_cast<const char*>(sqlite3_column_text(scan, 1))});
        sqlite3_reset(scan);
    });
    Report("3 ordered scan of " + N + " by title", ours, theirs);
    Check(oursOrder.size() == size_t(n) && oursOrder == sqlOrder, "title order differs");

    // 4: point lookups by ID.
    int64_t oursSum = 0, sqlSum = 0;
    std::vector<uint8_t> probe(rec.size());
    t.SelectIndexByName("");
    ours = Seconds([&] {
        for (int32_t id : w.LookupIds) {
            PutI32(&probe[5], id);
            if (!t.FindKey(probe.data(), nullptr, 1, rec.data())) continue;
            uint8_t priority[4];
            t.GetFieldValue(f.Priority, rec.data(), priority);
            oursSum += int64_t(GetI32(&rec[5])) * 7 + GetI32(priority);
        }
    });
    sqlite3_stmt* byId = db.Prepare((std::string("SELECT ") + kSqlColumns + " FROM tickets WHERE id = ?").c_str());
    theirs = Seconds([&] {
        for (int32_t id : w.LookupIds) {
            sqlite3_bind_int(byId, 1, id);
            if (sqlite3_step(byId) == SQLITE_ROW)
                sqlSum += int64_t(sqlite3_column_int(byId, 0)) * 7 + sqlite3_column_int(byId, 5);
            sqlite3_reset(byId);
        }
    });
    Report("4 " + std::to_string(w.LookupIds.size()) + " random point lookups by ID", ours, theirs);
    Check(oursSum == sqlSum, "point lookups found different records");

    // 5: jumps to the k-th record in title order.
    std::vector<int32_t> oursJump, sqlJump;
    t.SelectIndexByName("ByTitle");
    ours = Seconds([&] {
        for (int64_t k : w.Jumps) {
            t.GotoRecordNumber(k);
            oursJump.push_back(t.GetCurrentRecord(rec.data(), false) == ecOK ? GetI32(&rec[5]) : 0);
        }
    });
    sqlite3_stmt* nth = db.Prepare(
        (std::string("SELECT ") + kSqlColumns + " FROM tickets ORDER BY title LIMIT 1 OFFSET ?").c_str());
    theirs = Seconds([&] {
        for (int64_t k : w.Jumps) {
            sqlite3_bind_int64(nth, 1, k - 1);
            sqlJump.push_back(sqlite3_step(nth) == SQLITE_ROW ? sqlite3_column_int(nth, 0) : -1);
            sqlite3_reset(nth);
        }
    });
    Report("5 " + std::to_string(w.Jumps.size()) + " jumps to the k-th record by title", ours, theirs);
    Check(oursJump == sqlJump, "jumps landed on different records");
    for (size_t i = 0; i < w.Jumps.size() && i < 50; ++i)
        Check(oursJump[i] == oursOrder[size_t(w.Jumps[i] - 1)].Id, "a jump disagrees with the scan");

    // 5b: jumps to the k-th record in title order under a filter, as a grid
    // shows a log with a query applied: the view's record list is built by
    // the first jump and reused; each jump also asks for the record number.
    {
        TFilterHandle open = t.AddFilter(CreateExpressionFilter(t, "[State] = 'Open'", 0), nullptr);
        CheckEngineResult(t.ActivateFilter(open));
        const int64_t visible = t.RecordCount();
        std::vector<int64_t> filteredJumps;
        for (int64_t k : w.Jumps) filteredJumps.push_back(1 + (k - 1) % std::max<int64_t>(visible, 1));
        std::vector<int32_t> oursFiltered, sqlFiltered;
        bool numbersAgree = true;
        ours = Seconds([&] {
            for (int64_t k : filteredJumps) {
                t.GotoRecordNumber(k);
                oursFiltered.push_back(t.GetCurrentRecord(rec.data(), false) == ecOK ? GetI32(&rec[5]) : 0);
                numbersAgree = numbersAgree && t.CurrentRecordNumber() == k;
            }
        });
        sqlite3_stmt* nthOpen = db.Prepare((std::string("SELECT ") + kSqlColumns +
                                            " FROM tickets WHERE state = 'Open' ORDER BY title LIMIT 1 OFFSET ?")
                                               .c_str());
        theirs = Seconds([&] {
            for (int64_t k : filteredJumps) {
                sqlite3_bind_int64(nthOpen, 1, k - 1);
                sqlFiltered.push_back(sqlite3_step(nthOpen) == SQLITE_ROW ? sqlite3_column_int(nthOpen, 0) : -1);
                sqlite3_reset(nthOpen);
            }
        });
        Report("5b " + std::to_string(filteredJumps.size()) + " jumps to the k-th record by title under a filter",
               ours, theirs);
        Check(visible > 0 && oursFiltered == sqlFiltered, "filtered jumps landed on different records");
        Check(numbersAgree, "a filtered jump's record number is not k");
        CheckEngineResult(t.RemoveFilter(open));
    }
    if (o.JumpsOnly) {
        t.CloseTable();
        std::printf("| operation | Veltra | SQLite | ours/SQLite |\n|---|---:|---:|---:|\n");
        for (const auto& r : g_Rows)
            std::printf("| %s | %.3f s | %.3f s | %.3f |\n", r.Operation.c_str(), r.Ours, r.Theirs,
                        r.Theirs > 0 ? r.Ours / r.Theirs : 0.0);
        return;
    }

    // 6: counts under filters.
    auto ourCount = [&](const char* text) {
        int64_t c = 0;
        for (int i = 0; i < counts; ++i) {
            TFilterHandle h = t.AddFilter(CreateExpressionFilter(t, text, 0), nullptr);
            CheckEngineResult(t.ActivateFilter(h));
            c = t.RecordCount();
            CheckEngineResult(t.RemoveFilter(h));
        }
        return c;
    };
    auto sqlCount = [&](const char* sql) {
        sqlite3_stmt* s = db.Prepare(sql);
        int64_t c = 0;
        for (int i = 0; i < counts; ++i) {
            if (sqlite3_step(s) == SQLITE_ROW) c = sqlite3_column_int64(s, 0);
            sqlite3_reset(s);
        }
        return c;
    };
    int64_t oursCount = 0, sqlCountValue = 0;
    t.SelectIndexByName("");
    ours = Seconds([&] { oursCount = ourCount("[State] = 'Open'"); });
    theirs = Seconds([&] { sqlCountValue = sqlCount("SELECT COUNT(*) FROM tickets WHERE state = 'Open'"); });
    Report("6a count, filter an index answers (x" + std::to_string(counts) + ")", ours, theirs);
    Check(oursCount == sqlCountValue && oursCount > 0, "index-answered counts differ");
    ours = Seconds([&] { oursCount = ourCount("[Priority] > 3"); });
    theirs = Seconds([&] { sqlCountValue = sqlCount("SELECT COUNT(*) FROM tickets WHERE priority > 3"); });
    Report("6b count, filter reading records (x" + std::to_string(counts) + ")", ours, theirs);
    Check(oursCount == sqlCountValue && oursCount > 0, "record-reading counts differ");

    // 7: updates of the state and the memo, then deletes.
    ours = Seconds([&] {
        for (const auto& u : w.Updates) {
            PutI32(&probe[5], u.Id);
            if (!t.FindKey(probe.data(), nullptr, 1, rec.data())) continue;
            CheckEngineResult(t.GetCurrentRecord(rec.data(), true));
            SetText(t, f.State, rec.data(), u.State);
            WriteMemo(t, f.Memo, rec.data(), w.Memo(u.MemoOffset), u.MemoSize);
            t.ModifyRecord(rec.data(), true, false);
            CheckEngineResult(t.CloseBlobField(f.Memo, rec.data()));
        }
    });
    sqlite3_stmt* update = db.Prepare("UPDATE tickets SET state = ?, memo = ? WHERE id = ?");
    theirs = Seconds([&] {
        for (const auto& u : w.Updates) {
            sqlite3_bind_text(update, 1, u.State.c_str(), -1, SQLITE_STATIC);
            sqlite3_bind_blob(update, 2, w.Memo(u.MemoOffset), int(u.MemoSize), SQLITE_STATIC);
            sqlite3_bind_int(update, 3, u.Id);
            db.Run(update);
        }
    });
    Report("7a " + std::to_string(changes) + " updates of state and memo", ours, theirs);
    ours = Seconds([&] {
        for (int32_t id : w.Deletes) {
            PutI32(&probe[5], id);
            if (t.FindKey(probe.data(), nullptr, 1, rec.data())) t.DeleteRecord(false);
        }
    });
    sqlite3_stmt* del = db.Prepare("DELETE FROM tickets WHERE id = ?");
    theirs = Seconds([&] {
        for (int32_t id : w.Deletes) {
            sqlite3_bind_int(del, 1, id);
            db.Run(del);
        }
    });
    Report("7b " + std::to_string(changes) + " deletes", ours, theirs);
    Check(t.RecordCount() == n - changes, "record count after the deletes");
    Check(ourCount("[State] = 'Closed'") ==
              sqlCount("SELECT COUNT(*) FROM tickets WHERE state = 'Closed'"),
          "state counts differ after the updates");
    {
        // The memos of the last updated records that survive agree.
        sqlite3_stmt* memo = db.Prepare("SELECT memo FROM tickets WHERE id = ?");
        int compared = 0;
        for (auto it = w.Updates.rbegin(); it != w.Updates.rend() && compared < 20; ++it) {
            sqlite3_bind_int(memo, 1, it->Id);
            if (sqlite3_step(memo) == SQLITE_ROW) {
                const uint8_t* b = static_cast<const uint8_t*>(sqlite3_column_blob(memo, 0));
                std::vector<uint8_t> sql(b, b + sqlite3_column_bytes(memo, 0));
                PutI32(&probe[5], it->Id);
                Check(t.FindKey(probe.data(), nullptr, 1, rec.data()) && ReadMemo(t, f.Memo, rec.data()) == sql,
                      "memo of record " + std::to_string(it->Id) + " differs");
                ++compared;
            }
            sqlite3_reset(memo);
        }
        Check(compared > 0, "no updated record survived to compare memos");
    }
    t.CloseTable();
    sqlite3_stmt* checkpoint = db.Prepare("PRAGMA wal_checkpoint(TRUNCATE)");
    sqlite3_step(checkpoint);
    sqlite3_reset(checkpoint);
    std::string version = sqlite3_libversion(), journal = db.Pragma("journal_mode"),
                sync = db.Pragma("synchronous"), pageSize = db.Pragma("page_size"),
                cacheSize = db.Pragma("cache_size"), tempStore = db.Pragma("temp_store");
    connection.reset();

    // 8: cold open and the first 50 records in title order.
    auto isSqlite = [](const std::string& p) { return p.ends_with(".db") || p.find(".db-") != std::string::npos; };
    std::vector<std::string> ourFiles = FilesOf(dir, "tickets"), sqlFiles;
    std::copy_if(ourFiles.begin(), ourFiles.end(), std::back_inserter(sqlFiles), isSqlite);
    std::erase_if(ourFiles, isSqlite);
    double ourResident = DropFromPageCache(ourFiles);
    std::vector<int32_t> oursFirst, sqlFirst;
    ours = Seconds([&] {
        TDataFile cold;
        OpenTicketTable(cold, oursExclusive, false);
        cold.SelectIndexByName("ByTitle");
        cold.FirstRecord();
        std::vector<uint8_t> r(size_t(cold.RecordSize()));
        for (int i = 0; i < 50 && cold.NextRecord(r.data()) == ecOK; ++i) oursFirst.push_back(GetI32(&r[5]));
    });
    double sqlResident = DropFromPageCache(sqlFiles);
    theirs = Seconds([&] {
        TSqlite cold(sqlBulk);
        sqlite3_stmt* s =
            cold.Prepare((std::string("SELECT ") + kSqlColumns + " FROM tickets ORDER BY title LIMIT 50").c_str());
        while (sqlite3_step(s) == SQLITE_ROW) sqlFirst.push_back(sqlite3_column_int(s, 0));
    });
    char note[96];
    std::snprintf(note, sizeof note, "8 cold open + first 50 by title (resident %.0f%%/%.0f%%)", 100 * ourResident,
                  100 * sqlResident);
    Report(note, ours, theirs);
    Check(oursFirst.size() == 50 && oursFirst == sqlFirst, "first 50 records differ");

    // 9: sizes.
    g_Rows.push_back({"9 files on disk after the run (MB)", MegabytesOf(ourFiles), MegabytesOf(sqlFiles), true});

    std::printf("\nVeltra table engine vs SQLite %s: %d records, one run\n", version.c_str(), n);
    std::printf("SQLite settings: journal_mode=%s synchronous=%s page_size=%s cache_size=%s temp_store=%s\n\n",
                journal.c_str(), sync.c_str(), pageSize.c_str(), cacheSize.c_str(), tempStore.c_str());
    std::printf("| operation | Veltra | SQLite | ours/SQLite |\n|---|---:|---:|---:|\n");
    for (const auto& r : g_Rows) {
        const char* unit = r.Size ? " MB" : " s";
        std::printf("| %s | %.3f%s | %.3f%s | %.3f |\n", r.Operation.c_str(), r.Ours, unit, r.Theirs, unit,
                    r.Theirs > 0 ? r.Ours / r.Theirs : 0.0);
    }
    std::printf("\nOperation 8 drops the files from the OS page cache first (posix_fadvise DONTNEED); "
                "'resident' is the share of their pages still cached.\n");
}

}  // namespace

int main(int argc, char** argv) {
    TOptions o = ParseOptions(argc, argv);
    EngineStartup();
    SetJournalling(!o.NoJournal);
    std::printf("rollback journal: %s\n", o.NoJournal ? "off" : "on");
    std::string dir = o.Dir;
    bool made = false;
    if (dir.empty()) {
        std::string tmpl = (fs::temp_directory_path() / "veltra-bench-XXXXXX").string();
        if (!mkdtemp(tmpl.data())) {
            std::perror("mkdtemp");
            return 2;
        }
        dir = tmpl;
        made = true;
    } else {
        fs::create_directories(dir);
        for (const auto& p : FilesOf(dir, "tickets")) fs::remove(p);
        for (const auto& p : FilesOf(dir, "shared")) fs::remove(p);
    }
    int rc = 0;
    try {
        Run(o, dir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        rc = 2;
    }
    if (made && !o.Keep) fs::remove_all(dir);
    if (g_Failures) {
        std::fprintf(stderr, "%d mismatches between the engines\n", g_Failures);
        return 1;
    }
    return rc;
}
