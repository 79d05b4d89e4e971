// TVeltraTable: the table component. It presents one table as a dataset (the
// platform's TDataSet: states, fields, events, data links) whose record
// operations run on a TDataFile: records in the order of the active index,
// find by key, filters, edit with a record lock, post, cancel, delete, and
// BLOB streams.
//
// Sessions and databases are reduced to what the program uses: one implicit
// session (the engine's default session) and the folder taken from the table
// path; TableName is the path of the table's data file.
//
// The dataset's record buffer is the data file's record image (RecordSize
// bytes). Field values are the engine's value bytes; BLOB fields opened by a
// stream hold an open-BLOB handle in the buffer until Post or Cancel.
//
// Errors: EDatabaseError with the messages below for the component's own
// checks, EVeltraEngineError for everything the engine reports.
//
// Events (members of the dataset base, TDataSet): Before/After Open, Close,
// Insert, Edit, Post, Cancel, Delete, Scroll and Refresh, OnNewRecord, as
// their names say. OnPostError, OnEditError and OnDeleteError receive the
// error of a failed Post, Edit (lock or re-read) or Delete and choose Fail
// (raise), Abort (stay silently) or Retry. OnCalcFields runs in the
// CalcFields state each time a record is read into the active buffer.
// OnFilterRecord is a second filter beside the filter text: assign it with
// SetOnFilterRecord on an open table so that it takes effect at once; an
// exception it raises goes to the application's error handler
// (HandleApplicationError in platform/dataset.h).
//
// Display. Each field carries a display label (its name by default), a
// display width in characters, a visible flag and an alignment (numbers to
// the right), and gives its grid text with TField::DisplayText (dates in the
// short date form, BLOBs as "(Memo)"-style markers, empty for null); see
// platform/dataset.h.
//
// Locale rule. Display texts, AsString assignments, filter constants and
// FindKey values are read and written in the process-wide format settings,
// which the application sets once at start from the user's locale
// (InstallUserFormatSettings, platform/format_settings.h). Only the engine's
// own conversion of stored texts (defaults, minimum and maximum values)
// switches, for its duration, to the table's locale or to the fixed US
// settings.
//
// Other processes. A browsing table sees other processes' changes when it
// next reads from disk; ChangedOnDisk tells cheaply whether there are any,
// and Refresh takes them in, staying on the current record (found by its
// record ID even when another process changed its key).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data_file.h"
#include "platform/dataset.h"

namespace veltra {

struct TFilterOptions {
    bool CaseInsensitive = false;
    bool NoPartialCompare = false;
    bool operator==(const TFilterOptions&) const = default;
};

// Compiles filter text for a table; set by the filter language module so that
// the component does not depend on it directly. Raises the parser's errors.
using TFilterCompiler = std::function<std::unique_ptr<TFilterEvaluator>(
    TDataFile& table, const std::string& text, const TFilterOptions& options)>;
void SetFilterCompiler(TFilterCompiler compiler);

// A record's position that survives moves: see TVeltraTable::GetBookmark.
using TBookmark = std::vector<uint8_t>;

class TVeltraTable : public TDataSet {
public:
    TVeltraTable();
    ~TVeltraTable() override;

    static constexpr const char* kEngineVersion = "1.1";
    std::string EngineVersion() const { return kEngineVersion; }

    // Settable only while closed ("Cannot perform this operation on an open dataset").
    const std::string& TableName() const { return m_TableName; }
    void SetTableName(const std::string& name);
    bool Exclusive() const { return m_Exclusive; }
    void SetExclusive(bool v);
    bool ReadOnly() const { return m_ReadOnly; }
    void SetReadOnly(bool v);
    bool StrictChangeDetection() const { return m_Strict; }
    void SetStrictChangeDetection(bool v);
    bool ForceBufferFlush() const { return m_ForceFlush; }
    void SetForceBufferFlush(bool v);
    // Take effect at once on an open table.
    uint8_t LockRetryCount() const { return m_LockRetryCount; }
    void SetLockRetryCount(uint8_t v);
    uint16_t LockWaitTime() const { return m_LockWaitTime; }
    void SetLockWaitTime(uint16_t v);

    // The active index by name ("" = primary index or natural order); on an
    // open table the current record stays current; 10022 for an unknown name.
    const std::string& IndexName() const { return m_IndexName; }
    void SetIndexName(const std::string& name);
    // Field names separated by ";", resolved to the index on those fields.
    const std::string& IndexFieldNames() const { return m_IndexFieldNames; }
    void SetIndexFieldNames(const std::string& names);
    // Names of the named indexes, in slot order (the primary index is never
    // listed). Reads the index file's descriptors, open or not.
    std::vector<std::string> GetIndexNames();

    // Exact search on the leading fields of the active index with values as
    // texts (converted by the fields' types). On success the found record
    // becomes current; otherwise the current record stays. "No index
    // currently active" in natural order.
    bool FindKey(const std::vector<std::string>& values);
    // The same with the search values assigned by `assign(i, field)` to the
    // first `count` key fields, in the set-key state (so read-only fields
    // such as the auto-increment field take values too). Whatever `assign`
    // raises leaves the table as it was.
    bool FindKeyWith(size_t count, const std::function<void(size_t, TField&)>& assign);

    // Bookmarks: the current record's full key in the active index (record-ID
    // suffix included), or its 4-byte slot number in natural order; empty
    // when there is no current record. A bookmark belongs to the index it
    // was taken in and to the record's key at that time.
    using TBookmark = veltra::TBookmark;
    TBookmark GetBookmark();
    // Makes the bookmarked record current (BeforeScroll, AfterScroll); 8710
    // "Record not found", with the current record unchanged, when no record
    // of the current view has that bookmark.
    void GotoBookmark(const TBookmark& bookmark);
    // -1, 0 or 1 by the order of the active index; an empty bookmark sorts
    // first.
    int CompareBookmarks(const TBookmark& a, const TBookmark& b);
    // True when a record of the current view has the bookmark. Does not move
    // the current record.
    bool BookmarkValid(const TBookmark& bookmark);

    // SetKey enters the SetKey state with an empty search key (a new record's
    // image); assigning fields of the active index writes to it ("Field '%s'
    // is not indexed and cannot be modified" for other fields). GotoKey
    // leaves the state and searches the active index exactly, over the leading
    // index fields assigned since SetKey (as FindKey does); true when found,
    // the found record then current; otherwise the current record stays.
    // Cancel (or Post) leaves the SetKey state without searching. "No index
    // currently active" in natural order.
    void SetKey();
    bool GotoKey();

    // Searches with the filters (Filter and OnFilterRecord) in force whether
    // or not Filtered is set: FindFirst the first passing record, FindLast the
    // last, FindNext the next one after the current record, FindPrior the
    // one before it. True when found, the found record then current;
    // otherwise the current record stays. Filtered itself is not changed.
    bool FindFirst() { return FindRecord(true, true); }
    bool FindLast() { return FindRecord(true, false); }
    bool FindNext() { return FindRecord(false, true); }
    bool FindPrior() { return FindRecord(false, false); }

    // Filters. A text that does not compile raises the parser's error and
    // leaves the previous filter in place. Setting Filtered moves to the
    // first record, even when the value does not change. Setting Filter or
    // FilterOptions on an open table posts a pending edit first; options
    // changed without filter text change nothing else. Activating the
    // expression filter is retried once with a freshly compiled filter when
    // it fails; a second failure is raised. Filter constants are read in the
    // process-wide format settings (the user's locale once installed).
    const std::string& Filter() const { return m_FilterText; }
    void SetFilter(const std::string& text);
    const TFilterOptions& FilterOptions() const { return m_FilterOptions; }
    void SetFilterOptions(const TFilterOptions& options);
    bool Filtered() const { return m_Filtered; }
    void SetFiltered(bool filtered);
    // Assigns the record filter event (OnFilterRecord of the dataset base) so
    // that it takes effect at once on an open table: the pending edit is
    // posted, the records are filtered anew with the new event when Filtered
    // is true, and the cursor goes to the first record. An empty handler
    // removes the event's filter. Assigning OnFilterRecord directly takes
    // effect only at the next open or the next SetFiltered. The event runs in
    // the Filter state with the record under test in the active buffer; an
    // exception it raises goes to the application's error handler
    // (HandleApplicationError) and the record keeps the verdict the event
    // gave before raising.
    void SetOnFilterRecord(std::function<void(TDataSet&, bool&)> handler);

    // True when another process changed the table since this table last read
    // its files' headers (at its last read phase or Refresh): compares the
    // change counters on disk with the ones last seen, without a lock and
    // without reading records. A window calls it when it gains the focus or
    // before an edit and calls Refresh when it is true. False for a closed
    // or exclusive table.
    bool ChangedOnDisk() { return m_File && m_File->ChangedOnDisk(); }

    TDataFile* DataFile() const { return m_File.get(); }
    // BLOB content of a field of the active buffer (stored bytes).
    std::string ReadBlob(const TField& field) override;
    void WriteBlob(TField& field, const std::string& bytes) override;

protected:
    void InternalOpen() override;
    void InternalClose() override;
    void InternalFirst() override;
    void InternalLast() override;
    TGetResult GetRecord(std::vector<uint8_t>& buffer, TGetMode mode, bool doCheck) override;
    size_t RecordBufferSize() const override;
    void InternalInitRecord(std::vector<uint8_t>& buffer) override;
    void InternalEdit() override;
    void InternalPost() override;
    void InternalCancel() override;
    void InternalDelete() override;
    void InternalRefresh() override;
    bool GetFieldData(const TField& field, const std::vector<uint8_t>& buffer,
                      std::vector<uint8_t>& value) const override;
    void SetFieldData(TField& field, std::vector<uint8_t>& buffer, const uint8_t* value, size_t size) override;
    int64_t GetRecordCount() override;
    int64_t GetRecNo() override;
    void InternalSetRecNo(int64_t n) override;
    std::vector<uint8_t>& StateBuffer() override;

private:
    friend class TVeltraBlobStream;
    void CheckInactive() const;
    void BuildFields();
    std::string ResolveIndexName() const;
    void CloseBufferBlobs(std::vector<uint8_t>& buffer);
    // Replaces a browsed record image by the record as it is in the file
    // now (read in the caller's read phase); false when its slot no longer
    // holds that record.
    bool RefreshBrowsedImage(std::vector<uint8_t>& buffer);
    void InstallFilters();
    void RemoveFilters();
    std::unique_ptr<TFilterEvaluator> CompileFilter(const std::string& text);
    TFilterHandle AddCallbackFilter();
    // Activates the expression filter; one that fails is compiled afresh and
    // activated once more, and a second failure is raised.
    void ActivateExpressionFilter();
    bool FindRecord(bool restart, bool forward);
    // The key fields of the active index that have field objects, in order.
    std::vector<TField*> KeyFields();
    // Searches the active index for the search key built from m_KeyBuffer
    // over `count` fields; see FindKey.
    bool SearchKey(size_t count);
    // The bookmark of a record image in the active index.
    TBookmark BookmarkOf(const std::vector<uint8_t>& record);
    // Puts the cursor on the bookmarked record; false (cursor unchanged) when
    // no record of the view has it.
    bool PositionOnBookmark(const TBookmark& bookmark);

    std::vector<uint8_t> m_KeyBuffer;  // the search key while in SetKey
    std::vector<bool> m_KeyGiven;      // key fields assigned since SetKey

    std::string m_TableName;
    bool m_Exclusive = false, m_ReadOnly = false, m_Strict = false, m_ForceFlush = false;
    uint8_t m_LockRetryCount = 15;
    uint16_t m_LockWaitTime = 100;
    std::string m_IndexName, m_IndexFieldNames;
    std::string m_FilterText;
    TFilterOptions m_FilterOptions;
    bool m_Filtered = false;
    std::unique_ptr<TDataFile> m_File;
    TFilterHandle m_ExpressionFilter = nullptr;
    TFilterHandle m_CallbackFilter = nullptr;
};

// A byte stream over one BLOB field of a table's current record. Reading
// mode reads the stored content; Write truncates the BLOB at once; ReadWrite
// keeps it. Writing needs the dataset in edit or insert state ("Dataset not in
// edit or insert mode") and a writable field ("Field '%s' cannot be
// modified"). A stream that wrote marks the field modified when destroyed; one
// that wrote nothing closes the BLOB again unless the field was modified.
// A read stream over a BLOB not open in the record takes the content as
// ReadBlob reads it: in one read phase with the record as it is now, so that a
// browsed record another process changed shows its new BLOB, not the blocks
// its old image pointed at.
class TVeltraBlobStream {
public:
    enum class TMode { Read, Write, ReadWrite };
    TVeltraBlobStream(TVeltraTable& table, TField& field, TMode mode);
    ~TVeltraBlobStream();

    int64_t Read(void* buffer, int64_t count);
    int64_t Write(const void* buffer, int64_t count);
    // origin: 0 start, 1 current, 2 end.
    int64_t Seek(int64_t offset, int origin);
    int64_t Size();
    int64_t Position() const { return m_Position; }

private:
    TVeltraTable& m_Table;
    TField& m_Field;
    bool m_WasOpen;
    bool m_Written = false;
    int64_t m_Position = 0;
    std::optional<std::string> m_Snapshot;  // read mode over a BLOB not open before
};

// Random access to the rows of a table for views (a grid): the record at any
// row of the table's current view without moving the table's current record.
// Rows always follow the table as it is now: its active index, range and
// filters, and its data, with this process's own posts and deletions at once
// and other processes' changes once the table has seen them (after
// TVeltraTable::Refresh, or whenever it next reads from disk). Row n costs one
// descent of the index; under a filter (and in natural order) a lookup in the
// index file's view list, rebuilt by the first read after a change (see
// TIndexFile, "the view list"), and one descent. The reader reads through the
// table's own files and caches and holds nothing of its own, so it may live
// across opens and closes of the table (a closed table has no rows).
class TRowReader {
public:
    explicit TRowReader(TVeltraTable& table);
    ~TRowReader();
    int64_t RowCount();
    // The record image of row n (1-based); false when there is none. Engine
    // errors of the reads are raised.
    bool ReadRow(int64_t n, std::vector<uint8_t>& record);

private:
    TVeltraTable& m_Table;
};

}  // namespace veltra
