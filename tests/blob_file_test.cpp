// BLOB files: chains of blocks, the free block chain, open BLOBs and their
// handles, damaged chains, change scopes, scrambling, and a randomized run
// against a plain model of every record's BLOB.
//
// BLOBs are set up the way a record write does it: inside a write phase the
// record's BLOB field is opened on its cached buffer, changed, written with
// WriteOpenBlobs, its offset stored in the buffer with StoreOpenBlobOffsets,
// and everything flushed. The files are inspected byte by byte where the
// layout matters.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/blob_file.h"
#include "engine/byte_order.h"
#include "engine/codec.h"
#include "engine/data_file.h"
#include "engine/errors.h"
#include "engine/file_handler.h"
#include "engine/session.h"
#include "engine/table_builder.h"
#include "test_util.h"

using namespace veltra;
using namespace veltra_test;

namespace {

using TBytes = std::vector<uint8_t>;

// Block header field offsets.
constexpr int kPrev = 0, kNext = 4, kUsed = 8, kOwner = 10, kTotal = 14;

TBytes Pattern(size_t size, uint32_t seed) {
    TBytes b(size);
    std::mt19937 rng(seed);
    for (auto& c : b) c = uint8_t(rng());
    return b;
}

// The engine error a call raises, with its message; code 0 when it returns.
std::pair<int, std::string> ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EVeltraEngineError& e) {
        return {e.ErrorCode(), e.what()};
    }
    return {0, {}};
}

// The BLOB file as bytes, unscrambled the way the engine scrambles it.
struct TRawBlobFile {
    TBytes Bytes;
    int B = kDefaultBlobBlockSize;

    int32_t Header(int offset) const { return GetI32(&Bytes[size_t(offset)]); }
    int32_t FirstFree() const { return Header(bh::FirstFreeBlock); }
    int32_t End() const { return Header(bh::EndOffset); }
    int32_t Field(int32_t block, int field) const { return GetI32(&Bytes[size_t(block + field)]); }
    uint16_t Used(int32_t block) const { return GetU16(&Bytes[size_t(block + kUsed)]); }
    const uint8_t* Data(int32_t block) const { return &Bytes[size_t(block + kBlobBlockHeaderSize)]; }
};

TRawBlobFile ReadRaw(const std::string& dataPath, int blockSize, bool encrypted) {
    TRawBlobFile raw{ReadFileBytes(BlobPathOf(dataPath)), blockSize};
    if (encrypted && raw.Bytes.size() >= size_t(kBlobHeaderSize)) {
        Scramble(raw.Bytes.data(), kBlobHeaderSize, kTableKey);
        for (size_t o = kBlobHeaderSize; o + size_t(blockSize) <= raw.Bytes.size(); o += size_t(blockSize)) {
            Scramble(&raw.Bytes[o], kBlobBlockHeaderSize, kTableKey);
            Scramble(&raw.Bytes[o + kBlobBlockHeaderSize], size_t(blockSize - kBlobBlockHeaderSize), kTableKey);
        }
    }
    return raw;
}

void PatchBlobFile(const std::string& dataPath, const std::function<void(TBytes&)>& damage) {
    TBytes bytes = ReadFileBytes(BlobPathOf(dataPath));
    damage(bytes);
    WriteFileBytes(BlobPathOf(dataPath), bytes);
}

TRecord* Fetch(TDataFile& t, int32_t n) {
    for (;;) {
        TFetchResult f = t.FetchRecord(n);
        if (!f.TableChanged) return f.Record;
    }
}

int Notes(TDataFile& t) { return t.FieldNumber(kNotesField); }

// The BLOB field of record n as it stands in the record (offset or handle).
int32_t NotesValue(TDataFile& t, int32_t n) {
    TRecord* r = Fetch(t, n);
    int32_t v = GetI32(&r->Buffer[t.FieldDescriptor(Notes(t)).Offset() + 1u]);
    r->Unpin();
    return v;
}

// Changes record n's BLOB as a record write does, inside a write phase
// (taken here unless the caller holds one).
void EditBlob(TDataFile& t, int32_t n, const std::function<void(TDataFile&, uint8_t*)>& edit) {
    bool phase = !t.InWritePhase();
    if (phase) t.BeginWrite();
    TRecord* r = Fetch(t, n);
    uint8_t* rec = r->Buffer.data();
    TBlobFile& blob = *t.BlobFile();
    CheckEngineResult(t.OpenBlobField(Notes(t), kBlobWrite, rec));
    int32_t handle = GetI32(rec + t.FieldDescriptor(Notes(t)).Offset() + 1);
    edit(t, rec);
    blob.SetOwnerOfOpenBlobs(n);
    blob.WriteOpenBlobs();
    blob.StoreOpenBlobOffsets(rec);
    blob.CloseBlob(handle);
    r->Dirty = true;
    r->Unpin();
    t.UnpinAll();
    t.FlushBuffers(true);
    if (phase) t.EndWrite();
}

void StoreBlob(TDataFile& t, int32_t n, const TBytes& content) {
    EditBlob(t, n, [&](TDataFile& table, uint8_t* rec) {
        CheckEngineResult(table.TruncateBlobField(Notes(table), rec, 0));
        CheckEngineResult(table.WriteBlobField(Notes(table), rec, 0, int64_t(content.size()), content.data()));
    });
}

// Record n's BLOB read through a copy of its record buffer.
TBytes LoadBlob(TDataFile& t, int32_t n, int mode = kBlobRead) {
    TRecord* r = Fetch(t, n);
    TBytes copy = r->Buffer;
    r->Unpin();
    int field = Notes(t);
    CheckEngineResult(t.OpenBlobField(field, mode, copy.data()));
    int64_t size = -1;
    CheckEngineResult(t.BlobFieldSize(field, copy.data(), size));
    TBytes content(static_cast<size_t>(size));
    int64_t got = -1;
    CheckEngineResult(t.ReadBlobField(field, copy.data(), 0, size, content.data(), got));
    EXPECT_EQ(got, size);
    CheckEngineResult(t.CloseBlobField(field, copy.data()));
    return content;
}

// Every block of the file lies in exactly one place: the chain of the live
// record whose field names it, or the free chain. Chains carry their owner,
// back links, the total size in the first block and full blocks but the last.
void ExpectEveryBlockAccountedFor(TDataFile& t, const TRawBlobFile& raw) {
    const int32_t b = raw.B;
    const int32_t end = raw.End();
    ASSERT_EQ(int64_t(raw.Bytes.size()), int64_t(end)) << "file length";
    ASSERT_EQ((end - kBlobHeaderSize) % b, 0);
    std::vector<int> uses(size_t((end - kBlobHeaderSize) / b), 0);
    auto visit = [&](int32_t o) {
        bool valid = o >= kBlobHeaderSize && o < end && (o - kBlobHeaderSize) % b == 0;
        EXPECT_TRUE(valid) << "link " << o;
        if (!valid) return false;
        int& u = uses[size_t((o - kBlobHeaderSize) / b)];
        ++u;
        EXPECT_EQ(u, 1) << "block " << o << " used twice";
        return u == 1;
    };
    for (int32_t n = 1; n < t.NextRecordNo(); ++n) {
        TRecord* r = Fetch(t, n);
        bool deleted = r->IsDeleted();
        r->Unpin();
        int32_t first = NotesValue(t, n);
        if (deleted || first == 0) continue;
        int64_t total = raw.Field(first, kTotal);
        int64_t seen = 0;
        int32_t prev = 0;
        for (int32_t o = first; o != 0; o = raw.Field(o, kNext)) {
            if (!visit(o)) return;
            EXPECT_EQ(raw.Field(o, kOwner), n) << "owner of block " << o;
            EXPECT_EQ(raw.Field(o, kPrev), prev) << "back link of block " << o;
            if (o != first) { EXPECT_EQ(raw.Field(o, kTotal), 0); }
            int64_t used = raw.Used(o);
            seen += used;
            if (raw.Field(o, kNext) != 0) { EXPECT_EQ(used, b - kBlobBlockHeaderSize); }
            prev = o;
        }
        EXPECT_EQ(seen, total) << "record " << n;
    }
    for (int32_t o = raw.FirstFree(); o != 0; o = raw.Field(o, kNext))
        if (!visit(o)) return;
    for (size_t i = 0; i < uses.size(); ++i)
        EXPECT_EQ(uses[i], 1) << "block " << kBlobHeaderSize + int64_t(i) * b << " lost";
}

class BlobFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        EngineStartup();
        RemoveAllPasswords();
    }

    // A small table (BLOB field "Notes") with `records` records.
    std::string Create(int blockSize, int records, const std::string& password = {}) {
        TTableDef def = SmallTableDef();
        def.BlobBlockSize = blockSize;
        def.Password = password;
        std::string path = m_Dir / "blobs.dat";
        CreateTable(path, def);
        if (!password.empty()) AddPassword(password);
        auto t = Open(path);
        t->BeginWrite();
        AppendRecords(*t, records);
        IndexRecords(*t, 1, records);
        t->EndWrite();
        return path;
    }

    static std::unique_ptr<TDataFile> Open(const std::string& path) {
        auto t = std::make_unique<TDataFile>();
        t->SetFileName(path);
        t->OpenTable();
        return t;
    }

    TTestDir m_Dir;
};

// ---------------------------------------------------------------- layout

TEST_F(BlobFileTest, ABlobTakesOneBlockPerDataAreaStartedAndChainsThem) {
    struct TCase {
        int B;
        size_t Size;
        int Blocks;
    };
    const TCase cases[] = {{512, 0, 0},    {512, 494, 1},  {512, 495, 2},   {512, 1482, 3},
                           {512, 1483, 4}, {64, 46, 1},    {64, 47, 2},     {64, 1000, 22},
                           {4096, 4078, 1}, {4096, 40000, 10}};
    for (const TCase& c : cases) {
        SCOPED_TRACE("B=" + std::to_string(c.B) + " size=" + std::to_string(c.Size));
        std::string path = Create(c.B, 1);
        TBytes content = Pattern(c.Size, uint32_t(c.Size));
        {
            auto t = Open(path);
            StoreBlob(*t, 1, content);
            EXPECT_EQ(t->BlobFile()->EndOffset(), kBlobHeaderSize + c.Blocks * c.B);
            EXPECT_EQ(t->BlobFile()->FirstFreeBlock(), 0);
            TRecord* r = Fetch(*t, 1);
            const uint8_t* field = &r->Buffer[t->FieldDescriptor(Notes(*t)).Offset()];
            EXPECT_EQ(field[0], c.Size > 0 ? 1 : 0) << "null byte";
            EXPECT_EQ(GetI32(field + 1), c.Size > 0 ? kBlobHeaderSize : 0);
            r->Unpin();
        }
        auto t = Open(path);
        EXPECT_EQ(LoadBlob(*t, 1), content);
        TRawBlobFile raw = ReadRaw(path, c.B, false);
        ExpectEveryBlockAccountedFor(*t, raw);
        if (c.Blocks > 0) {
            EXPECT_EQ(raw.Field(kBlobHeaderSize, kTotal), int32_t(c.Size));
            int32_t last = kBlobHeaderSize + (c.Blocks - 1) * c.B;
            EXPECT_EQ(raw.Used(last), c.Size - size_t(c.Blocks - 1) * size_t(c.B - kBlobBlockHeaderSize));
        }
    }
}

TEST_F(BlobFileTest, ShrinkingFreesTheSurplusInChainOrderAndAllocationTakesItBack) {
    std::string path = Create(512, 2);
    auto t = Open(path);
    TBlobFile& blob = *t->BlobFile();
    StoreBlob(*t, 1, Pattern(1200, 1));  // blocks 512, 1024, 1536
    ASSERT_EQ(blob.EndOffset(), 2048);

    TBytes shrunk = Pattern(100, 2);
    StoreBlob(*t, 1, shrunk);
    EXPECT_EQ(NotesValue(*t, 1), 512) << "the first block is kept";
    EXPECT_EQ(blob.FirstFreeBlock(), 1536) << "the old third block was freed last";
    EXPECT_EQ(blob.EndOffset(), 2048);
    TRawBlobFile raw = ReadRaw(path, 512, false);
    EXPECT_EQ(raw.Field(1536, kNext), 1024);
    EXPECT_EQ(raw.Field(1024, kNext), 0);
    EXPECT_EQ(raw.Field(512, kNext), 0);
    EXPECT_EQ(raw.Field(512, kTotal), 100);

    // The next allocation takes the old third block, then the second, and
    // only then the file grows.
    TBytes grown = Pattern(1500, 3);  // four blocks
    StoreBlob(*t, 2, grown);
    raw = ReadRaw(path, 512, false);
    EXPECT_EQ(NotesValue(*t, 2), 1536);
    EXPECT_EQ(raw.Field(1536, kNext), 1024);
    EXPECT_EQ(raw.Field(1024, kNext), 2048);
    EXPECT_EQ(raw.Field(2048, kNext), 2560);
    EXPECT_EQ(raw.Field(2560, kPrev), 2048);
    EXPECT_EQ(blob.FirstFreeBlock(), 0);
    EXPECT_EQ(blob.EndOffset(), 3072);
    ExpectEveryBlockAccountedFor(*t, raw);

    auto again = Open(path);
    EXPECT_EQ(LoadBlob(*again, 1), shrunk);
    EXPECT_EQ(LoadBlob(*again, 2), grown);
}

TEST_F(BlobFileTest, RewritingInPlaceKeepsTheChainAndAnEmptyBlobFreesIt) {
    std::string path = Create(512, 1);
    auto t = Open(path);
    StoreBlob(*t, 1, Pattern(1000, 4));
    TRawBlobFile before = ReadRaw(path, 512, false);
    TBytes same = Pattern(1000, 5);
    StoreBlob(*t, 1, same);
    TRawBlobFile after = ReadRaw(path, 512, false);
    EXPECT_EQ(after.End(), before.End());
    EXPECT_EQ(after.Field(512, kNext), 1024);
    EXPECT_EQ(after.Field(1024, kNext), 1536);
    EXPECT_EQ(LoadBlob(*t, 1), same);

    StoreBlob(*t, 1, {});
    EXPECT_EQ(NotesValue(*t, 1), 0);
    after = ReadRaw(path, 512, false);
    EXPECT_EQ(after.FirstFree(), 1536);
    ExpectEveryBlockAccountedFor(*t, after);
    EXPECT_TRUE(LoadBlob(*t, 1).empty());
}

// ---------------------------------------------------------------- open BLOBs

TEST_F(BlobFileTest, ReadingPastTheEndReturnsWhatIsThereWithEndOfBlob) {
    std::string path = Create(512, 1);
    auto t = Open(path);
    TBlobFile& blob = *t->BlobFile();
    int32_t h = 0;
    ASSERT_EQ(blob.OpenBlob(0, Notes(*t), 1, kBlobWrite, h), 0);
    TBytes content = Pattern(700, 6);
    ASSERT_EQ(blob.WriteBlob(h, 0, 700, content.data()), 0);
    struct TCase {
        int64_t Position, Count, Bytes;
        int Code;
    };
    const TCase cases[] = {{699, 10, 1, 8711}, {700, 10, 0, 8711}, {900, 1, 0, 8711}, {0, 700, 700, 0},
                           {700, 0, 0, 0},     {3, 5, 5, 0},       {-1, 5, 0, 10029}, {0, -5, 0, 10029}};
    for (const TCase& c : cases) {
        SCOPED_TRACE("position " + std::to_string(c.Position) + " count " + std::to_string(c.Count));
        TBytes out(16 + size_t(std::max<int64_t>(c.Count, 0)), 0xEE);
        int64_t got = -1;
        EXPECT_EQ(blob.ReadBlob(h, c.Position, c.Count, out.data(), got), c.Code);
        EXPECT_EQ(got, c.Bytes);
        for (int64_t i = 0; i < c.Bytes; ++i) EXPECT_EQ(out[size_t(i)], content[size_t(c.Position + i)]);
        EXPECT_EQ(out[size_t(c.Bytes)], 0xEE) << "nothing written past the bytes returned";
    }
    int64_t got = 0;
    uint8_t one = 0;
    EXPECT_EQ(blob.ReadBlob(-7, 0, 1, &one, got), 10030);
    EXPECT_EQ(blob.WriteBlob(5, 0, 1, &one), 10030);

    // Writing past the end zero-fills the gap; truncation keeps the head.
    ASSERT_EQ(blob.WriteBlob(h, 710, 1, &one), 0);
    int64_t size = 0;
    ASSERT_EQ(blob.GetBlobSize(h, size), 0);
    EXPECT_EQ(size, 711);
    TBytes gap(10, 0xEE);
    ASSERT_EQ(blob.ReadBlob(h, 700, 10, gap.data(), got), 0);
    EXPECT_EQ(gap, TBytes(10, 0));
    ASSERT_EQ(blob.TruncateBlob(h, 5), 0);
    TBytes head(5);
    ASSERT_EQ(blob.ReadBlob(h, 0, 5, head.data(), got), 0);
    EXPECT_EQ(head, TBytes(content.begin(), content.begin() + 5));
}

TEST_F(BlobFileTest, SixtyFourBlobsAtMostAndClosingOneRenumbersNoOther) {
    std::string path = Create(512, 1);
    auto t = Open(path);
    TBlobFile& blob = *t->BlobFile();
    std::vector<int32_t> handles;
    for (int i = 0; i < kMaxOpenBlobs; ++i) {
        int32_t h = 0;
        ASSERT_EQ(blob.OpenBlob(0, Notes(*t), 1, kBlobWrite, h), 0);
        EXPECT_TRUE(IsBlobHandle(h));
        uint8_t tag = uint8_t(i);
        ASSERT_EQ(blob.WriteBlob(h, 0, 1, &tag), 0);
        handles.push_back(h);
    }
    std::sort(handles.begin(), handles.end());
    EXPECT_EQ(std::unique(handles.begin(), handles.end()), handles.end());
    EXPECT_EQ(handles.front(), -kMaxOpenBlobs);
    EXPECT_EQ(handles.back(), -1);

    int32_t extra = 123;
    EXPECT_EQ(blob.OpenBlob(0, Notes(*t), 1, kBlobWrite, extra), 9494);
    EXPECT_EQ(extra, 0);
    EXPECT_EQ(LastEngineErrorCode(), 9494);

    EXPECT_EQ(blob.CloseBlob(-10), 0);
    EXPECT_FALSE(blob.IsBlobOpen(-10));
    EXPECT_EQ(blob.OpenBlobCount(), kMaxOpenBlobs - 1);
    for (int32_t h = -1; h >= -kMaxOpenBlobs; --h) {
        if (h == -10) continue;
        uint8_t tag = 0;
        int64_t got = 0;
        ASSERT_EQ(blob.ReadBlob(h, 0, 1, &tag, got), 0) << h;
        EXPECT_EQ(tag, uint8_t(-h - 1)) << "handle " << h << " still names its own BLOB";
    }
    int32_t reused = 0;
    ASSERT_EQ(blob.OpenBlob(0, Notes(*t), 1, kBlobWrite, reused), 0);
    EXPECT_EQ(reused, -10);
    blob.CloseAllBlobs();
    EXPECT_EQ(blob.OpenBlobCount(), 0);
}

TEST_F(BlobFileTest, BlobFieldOperationsCheckFieldAndHandle) {
    std::string path = Create(512, 1);
    auto t = Open(path);
    StoreBlob(*t, 1, Pattern(300, 7));
    TRecord* r = Fetch(*t, 1);
    TBytes rec = r->Buffer;
    r->Unpin();
    const int notes = Notes(*t);
    const int title = t->FieldNumber(kTitleField);
    const size_t at = t->FieldDescriptor(notes).Offset();
    int64_t size = 0, got = 0;
    uint8_t byte = 0;

    EXPECT_EQ(t->OpenBlobField(title, kBlobRead, rec.data()), 10753);
    EXPECT_EQ(t->OpenBlobField(99, kBlobRead, rec.data()), 10753);
    EXPECT_EQ(t->BlobFieldSize(notes, rec.data(), size), 10030) << "not open yet";
    EXPECT_EQ(t->CloseBlobField(notes, rec.data()), 10030);
    EXPECT_FALSE(t->IsBlobFieldOpen(notes, rec.data()));

    ASSERT_EQ(t->OpenBlobField(notes, kBlobWrite, rec.data()), 0);
    int32_t handle = GetI32(&rec[at + 1]);
    EXPECT_TRUE(IsBlobHandle(handle));
    EXPECT_TRUE(t->IsBlobFieldOpen(notes, rec.data()));
    EXPECT_EQ(t->OpenBlobField(notes, kBlobWrite, rec.data()), 0) << "already open";
    EXPECT_EQ(t->BlobFile()->OpenBlobCount(), 1);
    EXPECT_EQ(t->BlobFieldSize(notes, rec.data(), size), 0);
    EXPECT_EQ(size, 300);
    EXPECT_EQ(t->ReadBlobField(title, rec.data(), 0, 1, &byte, got), 10753);

    // The null byte follows the open BLOB's size.
    ASSERT_EQ(t->TruncateBlobField(notes, rec.data(), 0), 0);
    EXPECT_EQ(rec[at], 0);
    ASSERT_EQ(t->WriteBlobField(notes, rec.data(), 0, 1, &byte), 0);
    EXPECT_EQ(rec[at], 1);

    // Closing gives the stored offset back; unsaved changes are lost.
    ASSERT_EQ(t->CloseBlobField(notes, rec.data()), 0);
    EXPECT_EQ(GetI32(&rec[at + 1]), kBlobHeaderSize);
    EXPECT_EQ(rec[at], 1);
    EXPECT_EQ(LoadBlob(*t, 1), Pattern(300, 7));

    // A handle whose BLOB is no longer open.
    PutI32(&rec[at + 1], handle);
    EXPECT_EQ(t->OpenBlobField(notes, kBlobRead, rec.data()), 9998);
    EXPECT_EQ(t->WriteBlobField(notes, rec.data(), 0, 1, &byte), 10030);
}

TEST_F(BlobFileTest, AChainOfAnotherRecordIsEmptyForReadingAndRefusedForWriting) {
    std::string path = Create(512, 2);
    {
        auto t = Open(path);
        StoreBlob(*t, 1, Pattern(800, 8));
        t->BeginWrite();
        TRecord* r = Fetch(*t, 2);
        uint8_t* field = &r->Buffer[t->FieldDescriptor(Notes(*t)).Offset()];
        field[0] = 1;
        PutI32(field + 1, NotesValue(*t, 1));
        r->Dirty = true;
        r->Unpin();
        t->UnpinAll();
        t->FlushBuffers(true);
        t->EndWrite();
    }
    auto t = Open(path);
    EXPECT_TRUE(LoadBlob(*t, 2, kBlobRead).empty());
    auto [code, message] = ErrorOf([&] { LoadBlob(*t, 2, kBlobWrite); });
    EXPECT_EQ(code, 8963);
    EXPECT_NE(message.find(t->BlobFile()->FileName()), std::string::npos) << message;
    EXPECT_EQ(t->BlobFile()->OpenBlobCount(), 0) << "a failed open holds no handle";
    EXPECT_EQ(LoadBlob(*t, 1, kBlobWrite), Pattern(800, 8));
}

// ---------------------------------------------------------------- damaged chains

TEST_F(BlobFileTest, DamagedChainsAreReportedNotFollowed) {
    // Record 1: blocks 512, 1024, 1536 (1200 bytes); record 2: block 2048.
    using TDamage = std::function<void(TBytes&)>;
    auto put = [](int32_t block, int field, int32_t v) {
        return [=](TBytes& b) { PutI32(&b[size_t(block + field)], v); };
    };
    struct TCase {
        const char* Name;
        TDamage Damage;
        int Code;
    };
    const TCase cases[] = {
        {"cycle back to the first block", put(1024, kNext, 512), 8963},
        {"block linked to itself", put(1024, kNext, 1024), 8963},
        {"link beyond the end", put(1024, kNext, 2560 + 512 * 100), 8963},
        {"link to the end offset", put(1024, kNext, 2560), 8963},
        {"link off the block grid", put(1024, kNext, 1025), 8963},
        {"negative link", put(512, kNext, -512), 8963},
        {"link into another record's chain", put(1024, kNext, 2048), 8963},
        {"total size beyond the chain", put(512, kTotal, 1500), 8711},
        {"negative total size", put(512, kTotal, -5), 8711},
        {"chain ends early", put(1024, kNext, 0), 8711},
        {"short middle block", [](TBytes& b) { PutU16(&b[1024 + kUsed], 10); }, 8711},
        {"used bytes above the block are not trusted", [](TBytes& b) { PutU16(&b[1536 + kUsed], 65535); }, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::string path = Create(512, 2);
        TBytes content = Pattern(1200, 9);
        {
            auto t = Open(path);
            StoreBlob(*t, 1, content);
            StoreBlob(*t, 2, Pattern(10, 10));
            ASSERT_EQ(t->BlobFile()->EndOffset(), 2560);
        }
        PatchBlobFile(path, c.Damage);
        auto t = Open(path);
        for (int mode : {kBlobRead, kBlobWrite}) {
            TBytes got;
            auto [code, message] = ErrorOf([&] { got = LoadBlob(*t, 1, mode); });
            EXPECT_EQ(code, c.Code) << "mode " << mode;
            if (code == 8963) { EXPECT_NE(message.find(t->BlobFile()->FileName()), std::string::npos); }
            if (c.Code == 0) { EXPECT_EQ(got, content); }
            EXPECT_EQ(t->BlobFile()->OpenBlobCount(), 0);
        }
        EXPECT_EQ(LoadBlob(*t, 2), Pattern(10, 10)) << "other BLOBs stay readable";
    }
}

TEST_F(BlobFileTest, ARecordFieldOutsideTheFileIsReported) {
    std::string path = Create(512, 1);
    auto t = Open(path);
    StoreBlob(*t, 1, Pattern(600, 11));
    for (int32_t bad : {100, 513, 1536, 1 << 30}) {
        SCOPED_TRACE(bad);
        TRecord* r = Fetch(*t, 1);
        TBytes copy = r->Buffer;
        r->Unpin();
        PutI32(&copy[t->FieldDescriptor(Notes(*t)).Offset() + 1u], bad);
        EXPECT_EQ(EngineErrorOf([&] { t->OpenBlobField(Notes(*t), kBlobRead, copy.data()); }), 8963);
    }
}

// A tail damaged behind the BLOB's last byte loads, but writing over it
// reaches the damage: the write fails and leaves the file as it was.
TEST_F(BlobFileTest, AWriteThatMeetsADamagedChainChangesNothing) {
    for (size_t newSize : {size_t(100), size_t(2000)}) {
        SCOPED_TRACE(newSize);
        std::string path = Create(512, 1);
        TBytes content = Pattern(1200, 12);
        {
            auto t = Open(path);
            StoreBlob(*t, 1, content);
        }
        PatchBlobFile(path, [](TBytes& b) { PutI32(&b[1536 + kNext], 1 << 20); });
        TBytes before = ReadFileBytes(BlobPathOf(path));
        auto t = Open(path);
        t->BeginWrite();
        TRecord* r = Fetch(*t, 1);
        TBytes copy = r->Buffer;
        r->Unpin();
        uint8_t* rec = copy.data();
        ASSERT_EQ(t->OpenBlobField(Notes(*t), kBlobWrite, rec), 0);
        int32_t handle = GetI32(rec + t->FieldDescriptor(Notes(*t)).Offset() + 1);
        TBytes next = Pattern(newSize, 13);
        ASSERT_EQ(t->TruncateBlobField(Notes(*t), rec, 0), 0);
        ASSERT_EQ(t->WriteBlobField(Notes(*t), rec, 0, int64_t(next.size()), next.data()), 0);
        TBlobFile& blob = *t->BlobFile();
        EXPECT_EQ(EngineErrorOf([&] { blob.WriteOpenBlobs(); }), 8963);
        EXPECT_TRUE(blob.OpenBlobBuffer(handle)->Modified);
        EXPECT_EQ(blob.OpenBlobBuffer(handle)->FirstBlock, 512);
        EXPECT_EQ(blob.FirstFreeBlock(), 0);
        EXPECT_EQ(blob.EndOffset(), 2048);
        blob.CloseBlob(handle);
        t->UnpinAll();
        t->FlushBuffers(true);
        t->EndWrite();
        EXPECT_EQ(ReadFileBytes(BlobPathOf(path)), before);
        EXPECT_EQ(LoadBlob(*t, 1), content);
    }
}

TEST_F(BlobFileTest, FreeChainChecksTheWholeChainBeforeFreeingAnyBlock) {
    std::string path = Create(512, 2);
    {
        auto t = Open(path);
        StoreBlob(*t, 1, Pattern(1200, 14));
        StoreBlob(*t, 2, Pattern(100, 15));
    }
    PatchBlobFile(path, [](TBytes& b) { PutI32(&b[1536 + kOwner], 2); });
    auto t = Open(path);
    TBlobFile& blob = *t->BlobFile();
    t->BeginWrite();
    EXPECT_EQ(EngineErrorOf([&] { blob.FreeChain(512, 1, 3); }), 8963);
    EXPECT_EQ(EngineErrorOf([&] { blob.FreeChain(2048, 1, 1); }), 8963) << "first block of another record";
    EXPECT_EQ(blob.FirstFreeBlock(), 0);
    blob.FreeChain(2048, 2, 1);
    EXPECT_EQ(blob.FirstFreeBlock(), 2048);
    t->UnpinAll();
    t->FlushBuffers(true);
    t->EndWrite();
}

// ---------------------------------------------------------------- blocks

TEST_F(BlobFileTest, BlockPinsAreLimitedAndFetchingTheEndAppends) {
    std::string path = Create(512, 1);
    auto t = Open(path);
    StoreBlob(*t, 1, Pattern(600, 16));
    TBlobFile& blob = *t->BlobFile();
    bool changed = false;
    t->BeginWrite();
    EXPECT_EQ(blob.FetchBlock(0, 1, changed), nullptr);
    for (int i = 0; i < 64; ++i) ASSERT_NE(blob.FetchBlock(1024, 1, changed), nullptr);
    EXPECT_EQ(EngineErrorOf([&] { blob.FetchBlock(1024, 1, changed); }), 8963);
    for (int32_t bad : {-512, 0x100, 1025, 2048 + 512}) EXPECT_EQ(EngineErrorOf([&] { blob.FetchBlock(bad, 1, changed); }), 8963) << bad;

    TBlock* appended = blob.FetchBlock(1536, 1, changed);
    ASSERT_NE(appended, nullptr);
    EXPECT_EQ(appended->Offset, 1536);
    EXPECT_EQ(appended->Pins, 1);
    EXPECT_EQ(blob.EndOffset(), 2048);
    blob.FreeBlock(appended);
    t->UnpinAll();
    t->FlushBuffers(true);
    t->EndWrite();
    TRawBlobFile raw = ReadRaw(path, 512, false);
    EXPECT_EQ(raw.Bytes.size(), 2048u);
    EXPECT_EQ(raw.FirstFree(), 1536);
    ExpectEveryBlockAccountedFor(*t, raw);
}

TEST_F(BlobFileTest, TheFileStopsGrowingAtTwoBillionBytes) {
    std::string path = Create(512, 1);
    const int32_t end = kBlobHeaderSize + 3'906'250 * 512;  // 2,000,000,512
    PatchBlobFile(path, [&](TBytes& b) { PutI32(&b[bh::EndOffset], end); });
    ASSERT_EQ(::truncate(BlobPathOf(path).c_str(), end), 0);  // sparse
    auto t = Open(path);
    t->BeginWrite();
    EXPECT_EQ(EngineErrorOf([&] { t->BlobFile()->AllocateBlock(); }), 9479);
    EXPECT_EQ(t->BlobFile()->EndOffset(), end);
    t->EndWrite();
}

// Counts the reads and writes of whole blocks that reach the BLOB file.
class TBlobIoCounter : public TFileIo {
public:
    explicit TBlobIoCounter(int blockSize) : m_BlockSize(blockSize) {}
    ssize_t PRead(int fd, void* buffer, size_t count, off_t offset) override {
        if (IsBlobFile(fd) && offset >= kBlobHeaderSize) Reads.push_back(count / size_t(m_BlockSize));
        return TFileIo::PRead(fd, buffer, count, offset);
    }
    ssize_t PWrite(int fd, const void* buffer, size_t count, off_t offset) override {
        if (IsBlobFile(fd) && offset >= kBlobHeaderSize) Writes.push_back(count / size_t(m_BlockSize));
        return TFileIo::PWrite(fd, buffer, count, offset);
    }
    std::vector<size_t> Reads, Writes;

private:
    static bool IsBlobFile(int fd) {
        char target[512];
        std::string link = "/proc/self/fd/" + std::to_string(fd);
        ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        if (n < 4) return false;
        std::string name(target, size_t(n));
        return name.size() >= 4 && (name.compare(name.size() - 4, 4, ".BLB") == 0 ||
                                    name.compare(name.size() - 4, 4, ".blb") == 0);
    }
    int m_BlockSize;
};

TEST_F(BlobFileTest, ChainsAreReadAheadAndWrittenInRuns) {
    std::string path = Create(512, 1);
    TBlobIoCounter io(512);
    SetFileIo(&io);
    struct TRestore {
        ~TRestore() { SetFileIo(nullptr); }
    } restore;
    TBytes content = Pattern(10 * 494, 17);
    {
        auto t = Open(path);
        StoreBlob(*t, 1, content);
    }
    EXPECT_EQ(io.Writes, (std::vector<size_t>{10})) << "ten adjacent blocks, one write";
    io.Reads.clear();
    auto t = Open(path);
    EXPECT_EQ(LoadBlob(*t, 1), content);
    EXPECT_EQ(io.Reads, (std::vector<size_t>{1, 9})) << "the first block, then the rest at once";
}

// ---------------------------------------------------------------- change scopes

TEST_F(BlobFileTest, AChangeScopeEndedWithoutCommitLeavesTheFileAsItWas) {
    std::string path = Create(512, 3);
    TBytes one = Pattern(1200, 18), two = Pattern(600, 19);
    {
        auto t = Open(path);
        StoreBlob(*t, 1, one);               // 512, 1024, 1536
        StoreBlob(*t, 2, two);               // 2048, 2560
        StoreBlob(*t, 3, Pattern(100, 20));  // 3072
        StoreBlob(*t, 3, {});                // free: 3072
    }
    const TBytes before = ReadFileBytes(BlobPathOf(path));
    auto t = Open(path);
    TBlobFile& blob = *t->BlobFile();
    ASSERT_EQ(blob.FirstFreeBlock(), 3072);
    ASSERT_EQ(blob.EndOffset(), 3584);

    t->BeginWrite();
    blob.BeginChange();
    EditBlob(*t, 1, [](TDataFile& table, uint8_t* rec) {
        CheckEngineResult(table.TruncateBlobField(Notes(table), rec, 100));
    });
    EXPECT_EQ(blob.FirstFreeBlock(), 1536);
    // Record 2's BLOB, opened inside the scope, grows over the freed blocks
    // and past the end; its record buffer is not touched here.
    int32_t handle2 = 0;
    ASSERT_EQ(blob.OpenBlob(2048, Notes(*t), 2, kBlobWrite, handle2), 0);
    TBytes longer = Pattern(6000, 21);
    ASSERT_EQ(blob.WriteBlob(handle2, 0, int64_t(longer.size()), longer.data()), 0);
    blob.SetOwnerOfOpenBlobs(2);
    blob.WriteOpenBlobs();
    EXPECT_FALSE(blob.OpenBlobBuffer(handle2)->Modified);
    TBlock* spare = blob.AllocateBlock();
    blob.FreeBlock(spare);
    EXPECT_GT(blob.EndOffset(), 3584);
    t->UnpinAll();
    t->FlushBuffers(true);
    EXPECT_EQ(ReadFileBytes(BlobPathOf(path)), before) << "nothing is written inside a scope";

    blob.EndChange(false);
    EXPECT_EQ(blob.FirstFreeBlock(), 3072);
    EXPECT_EQ(blob.EndOffset(), 3584);
    EXPECT_TRUE(blob.OpenBlobBuffer(handle2)->Modified) << "the rolled-back write must be repeated";
    EXPECT_EQ(blob.OpenBlobBuffer(handle2)->FirstBlock, 2048);
    t->UnpinAll();
    t->FlushBuffers(true);
    EXPECT_EQ(ReadFileBytes(BlobPathOf(path)), before);

    // Record 1 kept its first block, so its field still names the chain the
    // rollback restored. Writing again, committed this time, gives the expected chains.
    blob.WriteOpenBlobs();
    blob.CloseBlob(handle2);
    t->UnpinAll();
    t->FlushBuffers(true);
    t->EndWrite();

    auto again = Open(path);
    EXPECT_EQ(LoadBlob(*again, 1), one);
    EXPECT_EQ(NotesValue(*again, 2), 2048);
    int32_t h = 0;
    ASSERT_EQ(again->BlobFile()->OpenBlob(2048, Notes(*again), 2, kBlobRead, h), 0);
    TBytes read(longer.size());
    int64_t got = 0;
    EXPECT_EQ(again->BlobFile()->ReadBlob(h, 0, int64_t(read.size()) + 1, read.data(), got), 8711);
    EXPECT_EQ(read, longer);
    again->BlobFile()->CloseBlob(h);
    ExpectEveryBlockAccountedFor(*again, ReadRaw(path, 512, false));
}

// With 4096-byte blocks the cache holds 64 blocks; a change of a hundred
// blocks must grow it rather than write a dirty block early.
TEST_F(BlobFileTest, AScopeLargerThanTheCacheStillWritesNothing) {
    std::string path = Create(4096, 1);
    TBytes small = Pattern(5000, 22);
    {
        auto t = Open(path);
        StoreBlob(*t, 1, small);
    }
    const TBytes before = ReadFileBytes(BlobPathOf(path));
    auto t = Open(path);
    TBlobFile& blob = *t->BlobFile();
    TBytes big = Pattern(100 * 4078, 23);
    t->BeginWrite();
    blob.BeginChange();
    int32_t h = 0;
    ASSERT_EQ(blob.OpenBlob(512, Notes(*t), 1, kBlobWrite, h), 0);
    ASSERT_EQ(blob.WriteBlob(h, 0, int64_t(big.size()), big.data()), 0);
    blob.WriteOpenBlobs();
    bool changed = false;
    for (int32_t o = 512; o < blob.EndOffset(); o += 4096) blob.Unpin(blob.FetchBlock(o, 1, changed));
    t->FlushBuffers(true);
    EXPECT_EQ(ReadFileBytes(BlobPathOf(path)), before);
    blob.EndChange(false);
    t->UnpinAll();
    t->FlushBuffers(true);
    EXPECT_EQ(ReadFileBytes(BlobPathOf(path)), before);

    blob.WriteOpenBlobs();  // committed
    blob.CloseBlob(h);
    t->UnpinAll();
    t->FlushBuffers(true);
    t->EndWrite();
    auto again = Open(path);
    EXPECT_EQ(LoadBlob(*again, 1), big);
    ExpectEveryBlockAccountedFor(*again, ReadRaw(path, 4096, false));
}

// ---------------------------------------------------------------- scrambling and sharing

TEST_F(BlobFileTest, AnEncryptedTablesBlobFileHoldsNoPlainText) {
    std::string path = Create(512, 1, "Secret");
    std::string text;
    while (text.size() < 1500) text += "The printer on the third floor jams again. ";
    TBytes content(text.begin(), text.end());
    {
        auto t = Open(path);
        StoreBlob(*t, 1, content);
    }
    TBytes disk = ReadFileBytes(BlobPathOf(path));
    std::string plain(disk.begin(), disk.end());
    EXPECT_EQ(plain.find("printer"), std::string::npos);
    EXPECT_EQ(plain.find("third floor"), std::string::npos);
    EXPECT_NE(disk[bh::Version], kFileVersion);

    // Header, block headers and data areas are scrambled independently.
    TRawBlobFile raw = ReadRaw(path, 512, true);
    EXPECT_EQ(raw.Bytes[bh::Version], kFileVersion);
    EXPECT_EQ(raw.End(), 512 + 4 * 512);
    EXPECT_EQ(raw.Field(512, kTotal), int32_t(content.size()));
    EXPECT_EQ(raw.Field(512, kOwner), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw.Data(512)), 20), text.substr(0, 20));

    auto t = Open(path);
    EXPECT_EQ(LoadBlob(*t, 1), content);
    ExpectEveryBlockAccountedFor(*t, raw);
}

// Another table object (another lock owner, as another process) sees the
// change at its next read from disk: loading starts over when the read lock
// reveals that the table changed.
TEST_F(BlobFileTest, AReaderLoadsTheBlobAsItIsAfterAnotherWriter) {
    std::string path = Create(512, 1);
    auto writer = Open(path);
    StoreBlob(*writer, 1, Pattern(2000, 24));
    auto reader = Open(path);
    EXPECT_EQ(NotesValue(*reader, 1), 512);  // the record is cached now, its BLOB is not
    TBytes changed = Pattern(2000, 25);
    StoreBlob(*writer, 1, changed);  // rewritten in place
    EXPECT_EQ(LoadBlob(*reader, 1), changed);

    // Now the change shows only at the second block: the first one, cached
    // before the writer came, is stale, and the walk must start over.
    TBlobFile& blob = *reader->BlobFile();
    blob.DiscardBlocks();
    EXPECT_EQ(NotesValue(*reader, 1), 512);
    bool tableChanged = true;
    blob.Unpin(blob.FetchBlock(512, 1, tableChanged));
    ASSERT_FALSE(tableChanged);
    TBytes third = Pattern(2000, 26);
    StoreBlob(*writer, 1, third);
    EXPECT_EQ(LoadBlob(*reader, 1), third);
}

// ---------------------------------------------------------------- randomized

// Random sequences of BLOB rewrites over a few records, checked after every
// batch against a map of the expected contents, read by a second table that
// shares the files and by a fresh open, and walked block by block.
TEST_F(BlobFileTest, RandomRewritesMatchAModel) {
    for (int blockSize : {64, 512, 4096}) {
        SCOPED_TRACE("block size " + std::to_string(blockSize));
        const int records = 6;
        std::string path = Create(blockSize, records);
        const int64_t area = blockSize - kBlobBlockHeaderSize;
        std::mt19937 rng(uint32_t(blockSize) * 7919u);
        auto below = [&](int64_t n) { return n <= 0 ? int64_t(0) : int64_t(rng() % uint64_t(n)); };
        auto randomSize = [&]() -> int64_t {
            switch (below(10)) {
                case 0: return 0;
                case 1: case 2: case 3: return 1 + below(3 * area);
                case 4: case 5: case 6: return std::max<int64_t>(0, (1 + below(8)) * area + below(3) - 1);
                case 7: case 8: return below(20000);
                default: return 100000 + below(200000);
            }
        };
        std::map<int32_t, TBytes> model;
        for (int32_t n = 1; n <= records; ++n) model[n] = {};
        auto writer = Open(path);
        auto reader = Open(path);
        for (int batch = 0; batch < 24; ++batch) {
            SCOPED_TRACE("batch " + std::to_string(batch));
            writer->BeginWrite();
            for (int step = 0, steps = 1 + int(below(3)); step < steps; ++step) {
                int32_t n = int32_t(1 + below(records));
                TBytes& expected = model[n];
                EditBlob(*writer, n, [&](TDataFile& t, uint8_t* rec) {
                    int f = Notes(t);
                    for (int op = 0, ops = 1 + int(below(3)); op < ops; ++op) {
                        if (below(2) == 0) {
                            int64_t s = randomSize();
                            ASSERT_EQ(t.TruncateBlobField(f, rec, s), 0);
                            expected.resize(size_t(s), 0);
                        } else {
                            int64_t p = below(int64_t(expected.size()) + area);
                            TBytes bytes = Pattern(size_t(below(3 * area) + 1), uint32_t(rng()));
                            ASSERT_EQ(t.WriteBlobField(f, rec, p, int64_t(bytes.size()), bytes.data()), 0);
                            if (expected.size() < size_t(p) + bytes.size()) expected.resize(size_t(p) + bytes.size(), 0);
                            std::copy(bytes.begin(), bytes.end(), expected.begin() + p);
                        }
                    }
                });
            }
            writer->EndWrite();

            reader->BeginRead();
            for (auto& [n, expected] : model) EXPECT_EQ(LoadBlob(*reader, n), expected) << "reader, record " << n;
            reader->EndRead();
            auto fresh = Open(path);
            for (auto& [n, expected] : model) EXPECT_EQ(LoadBlob(*fresh, n), expected) << "fresh, record " << n;
            ExpectEveryBlockAccountedFor(*fresh, ReadRaw(path, blockSize, false));
            if (HasFailure()) return;
        }
    }
}

}  // namespace
