// The dataset base: a cursor over records with a state machine, field
// objects, events, and data links through which controls follow the current
// record. A concrete dataset (the table component) implements the protected
// hooks on its storage; everything here is storage-independent.
//
// States:
//
//              Open                 Edit / Insert, Append
//   Inactive --------> Browse  ---------------------------> Edit / Insert
//       ^                 |  ^                                   |
//       |      Close      |  |        Post / Cancel              |
//       +-----------------+  +-----------------------------------+
//
//   SetKey, CalcFields, Filter and NewValue are entered for the duration of a
//   key search, a calculation, a filter callback or a new-value assignment
//   and left again to the state before. Entering and leaving them is silent:
//   no notification, and Modified is kept. Close returns to Inactive from any
//   state (a pending edit is cancelled).
//
// Record buffers are byte strings of RecordBufferSize() bytes whose layout
// belongs to the concrete dataset. The dataset keeps one active buffer: the
// current record as read, or the record being edited or inserted.
//
// Errors of this layer are EDatabaseError with the messages given at each
// operation. Not thread-safe: a dataset lives on the user-interface thread.
//
// Raw field values. GetFieldData and SetFieldData exchange one field's value
// as bytes; these are the engine's record value bytes (little-endian), so the
// table component copies them to and from its record image unchanged:
//
//   String          Size + 1 bytes: Windows-1252 text, zero-terminated
//                   (TField truncates longer texts to Size bytes)
//   SmallInt        int16
//   Integer, AutoInc int32
//   Word            uint16
//   Boolean         uint16, 0 or 1 (any other value reads as true)
//   Float, Currency double
//   BCD             int64 packed as (value x 10^d as a whole number) x 10 + d
//                   with the sign on the whole number, d = min(Decimals, 9);
//                   the value is first rounded half away from zero to four
//                   places, then to min(d, 4) places (1.5 with two decimals
//                   is 1502, -1.5 is -1502)
//   Date            int32 day number: 0001-01-01 is day 1, 1899-12-30 is
//                   day 693594
//   Time            int32 milliseconds since midnight
//   DateTime        double: day number x 86400000 + milliseconds
//   Bytes, VarBytes Size bytes as stored
//   Memo, FormattedMemo, Graphic, TypedBinary, Blob
//                   the record's 4-byte BLOB reference; TField reaches the
//                   content through ReadBlob / WriteBlob (memo texts are
//                   Windows-1252 there)
//
// A null value is reported by GetFieldData returning false and written as
// SetFieldData(field, buffer, nullptr, 0). TField converts between these bytes
// and its value forms; text at the TField boundary is UTF-8.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/db_error.h"

namespace veltra {

class TDataSet;
class TDataSource;

// The application's handler of errors that reach no caller: an exception
// raised by an event the engine calls from inside its own work (the record
// filter event while a filter is built) cannot travel through the engine,
// so it is handed here and the work goes on. The application installs a
// handler that shows its error box; without one the message is written to
// standard error. An empty handler restores that default.
using TApplicationErrorHandler = std::function<void(const std::exception&)>;
void SetApplicationErrorHandler(TApplicationErrorHandler handler);
void HandleApplicationError(const std::exception& error);
// Hands the exception being handled (inside a catch block) to the handler;
// one that is not a std::exception becomes "Unknown error".
void HandleCurrentApplicationError();

enum class TDataSetState { Inactive, Browse, Edit, Insert, SetKey, CalcFields, Filter, NewValue };

// Field types of the dataset (how values are presented), as the table
// component maps engine types onto them.
enum class TFieldKind {
    String, Date, Memo, FormattedMemo, Graphic, TypedBinary, Blob, Boolean, SmallInt, Integer,
    AutoInc, Float, Currency, BCD, Bytes, Time, DateTime, Word, VarBytes
};

enum class TGetMode { Current, Next, Prior };
enum class TGetResult { OK, Bof, Eof, Error };  // (EOF is a C macro)
enum class TDataAction { Fail, Abort, Retry };

// One field of the dataset. Values are read from and written to the active
// buffer through the dataset's GetFieldData / SetFieldData hooks.
//
// Value forms: strings are UTF-8 (the dataset converts at its boundary);
// dates, times and date-times are days since 1899-12-30 with the time as the
// fraction (a date alone has no fraction, a time alone no whole days);
// currency and BCD values are doubles; raw data is the engine's value bytes.
//
// For BCD fields Decimals starts as `size` (the table passes the decimal
// count as the size). Reading a value of a kind that does not convert
// ("AsDateTime" of an integer field) raises "Cannot access field '%s' as type
// %s".
class TField {
public:
    TField(TDataSet& dataSet, std::string name, TFieldKind kind, int size, int fieldNo);
    virtual ~TField() = default;

    TDataSet& DataSet() const { return m_DataSet; }
    const std::string& FieldName() const { return m_Name; }
    TFieldKind Kind() const { return m_Kind; }
    int Size() const { return m_Size; }
    int FieldNo() const { return m_FieldNo; }
    bool IsBlob() const;
    bool IsNumeric() const;
    bool ReadOnly = false;
    bool Required = false;
    int Decimals = 0;  // BCD

    // Display properties, as a grid and the data-aware controls use them.
    // DisplayLabel is the column caption: the field name until one is set.
    // DisplayWidth is in characters (a grid's default column width): until
    // one is set, the declared size for strings, 6 for small integers and
    // words, 11 for integers and auto-increment fields, 5 for booleans, 18
    // for date-times, 10 for everything else. A field that is not Visible is
    // left out of a grid's default columns. Alignment is Right for numbers
    // (integers, floats, currency, BCD) and Left otherwise until set.
    enum class TAlignment { Left, Right, Center };
    std::string DisplayLabel() const { return m_DisplayLabel.empty() ? m_Name : m_DisplayLabel; }
    void SetDisplayLabel(std::string label) { m_DisplayLabel = std::move(label); }
    int DisplayWidth() const;
    void SetDisplayWidth(int width) { m_DisplayWidth = width; }
    bool Visible = true;
    TAlignment Alignment() const;
    void SetAlignment(TAlignment alignment) { m_Alignment = alignment; m_AlignmentSet = true; }

    bool IsNull() const;
    // Display text: numbers plainly, dates in the locale's short date form,
    // booleans "True"/"False", BLOB text as stored; "" for null.
    std::string AsString() const;
    // The text a grid cell shows (UTF-8), read under the process-wide format
    // settings in force: AsString for every kind but the BLOB kinds, which
    // show a marker of their kind instead of their content, as the dataset
    // framework does: "(Memo)", "(FmtMemo)", "(Graphic)", "(TypedBinary)" or
    // "(Blob)" while null, the same in upper case ("(MEMO)") when the field
    // holds data. Empty for any other null field.
    std::string DisplayText() const;
    int64_t AsInteger() const;
    double AsFloat() const;
    bool AsBoolean() const;
    double AsDateTime() const;
    // Assignments convert to the field's kind (EConvertError for a text that
    // does not convert; "Value of field '%s' is out of range" for a number
    // that does not fit) and write through the dataset, which checks the
    // state ("Dataset not in edit or insert mode") and read-only fields
    // ("Field '%s' cannot be modified"). An empty string sets null.
    void SetAsString(const std::string& value);
    void SetAsInteger(int64_t value);
    void SetAsFloat(double value);
    void SetAsBoolean(bool value);
    void SetAsDateTime(double value);
    void Clear();  // sets null

    // Raw value bytes; false when null. SetData(nullptr, 0) sets null.
    bool GetData(std::vector<uint8_t>& value) const;
    void SetData(const uint8_t* value, size_t size);

private:
    [[noreturn]] void AccessError(const char* type) const;
    [[noreturn]] void RangeError() const;
    void SetNumber(double value);
    void SetWhole(int64_t value);
    TDataSet& m_DataSet;
    std::string m_Name;
    TFieldKind m_Kind;
    int m_Size;
    int m_FieldNo;
    std::string m_DisplayLabel;
    int m_DisplayWidth = -1;  // -1: the kind's default
    TAlignment m_Alignment = TAlignment::Left;
    bool m_AlignmentSet = false;
};

// A link from a control (or anything that follows a dataset) to a data source.
// Either side may be destroyed first: the link leaves its source when it
// goes, and a source that goes first detaches its links (ActiveChanged).
// Notifications other than ActiveChanged and EditingChanged reach only active
// links.
class TDataLink {
public:
    virtual ~TDataLink();
    void SetDataSource(TDataSource* source);
    TDataSource* DataSource() const { return m_Source; }
    TDataSet* DataSet() const;
    // The state as last notified: the source's dataset is open / in Edit or
    // Insert.
    bool Active() const;
    bool Editing() const { return m_Editing; }

    // Notifications (no-ops by default).
    virtual void ActiveChanged() {}
    virtual void DataSetChanged() {}  // records changed or re-read
    virtual void DataSetScrolled(int /*distance*/) {}
    virtual void RecordChanged(TField* /*field*/) {}  // a field of the active record changed
    virtual void EditingChanged() {}
    virtual void UpdateData() {}  // a control should write its pending value now (before Post)

private:
    friend class TDataSource;
    friend class TDataSet;
    void UpdateState();  // ActiveChanged / EditingChanged when they changed
    TDataSource* m_Source = nullptr;
    bool m_Active = false;
    bool m_Editing = false;
};

// Connects links to a dataset. OnStateChange follows every state change the
// links are told of; OnDataChange follows every data notification (field for
// a field write, nullptr for a whole-record change, a scroll or a re-read)
// and the opening of the dataset.
class TDataSource {
public:
    TDataSource() = default;
    ~TDataSource();
    TDataSource(const TDataSource&) = delete;
    TDataSource& operator=(const TDataSource&) = delete;
    TDataSet* DataSet() const { return m_DataSet; }
    void SetDataSet(TDataSet* dataSet);
    // The dataset's state as last notified (Inactive without a dataset).
    TDataSetState State() const { return m_State; }
    std::function<void(TDataSource&)> OnStateChange;
    std::function<void(TDataSource&, TField*)> OnDataChange;
    const std::vector<TDataLink*>& Links() const { return m_Links; }

private:
    friend class TDataLink;
    friend class TDataSet;
    void UpdateState();
    bool HasLink(const TDataLink* link) const;
    TDataSet* m_DataSet = nullptr;
    std::vector<TDataLink*> m_Links;
    TDataSetState m_State = TDataSetState::Inactive;
};

class TDataSet {
public:
    using TEvent = std::function<void(TDataSet&)>;
    TDataSet();
    // A concrete dataset closes itself in its own destructor (the hooks are
    // gone by the time this one runs); the data sources still attached are
    // detached here, so their links see ActiveChanged.
    virtual ~TDataSet();
    TDataSet(const TDataSet&) = delete;
    TDataSet& operator=(const TDataSet&) = delete;

    // Events, each called at the point its name says.
    TEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert, BeforeEdit,
        AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel, BeforeDelete, AfterDelete,
        BeforeScroll, AfterScroll, OnNewRecord, BeforeRefresh, AfterRefresh;
    std::function<void(TDataSet&, bool& accept)> OnFilterRecord;
    // Called each time a record is read into the active buffer (every move,
    // re-read and refresh), in the CalcFields state, so that the application
    // can derive values from the record as it is read; what it writes to
    // fields goes to the record just read and is not stored (the dataset has
    // no calculated-field area of its own). An exception raised by the event
    // propagates out of the move.
    TEvent OnCalcFields;
    // Called when Post, Edit (locking and re-reading the record) or Delete
    // raises; the action decides: Fail (the default) re-raises, Abort
    // swallows silently (the dataset stays as it was before the call), Retry
    // tries again.
    std::function<void(TDataSet&, const std::exception&, TDataAction&)> OnPostError, OnEditError,
        OnDeleteError;

    // Open: BeforeOpen, InternalOpen (fields created), state Browse, the
    // first record read, AfterOpen, AfterScroll unless empty. A failed open
    // calls InternalClose (which must cope with a half-open storage) and
    // leaves the dataset inactive. Close: BeforeClose, InternalCancel when
    // editing, state Inactive, InternalClose, the fields destroyed, AfterClose.
    void Open();
    void Close();
    bool Active() const { return m_State != TDataSetState::Inactive; }
    void SetActive(bool active) { active ? Open() : Close(); }
    TDataSetState State() const { return m_State; }

    // Moves; AfterScroll follows every move that reached a record or an end.
    // Each runs CheckBrowseMode, then BeforeScroll, the move, the links'
    // notification and AfterScroll. First and Last re-read the window (links:
    // DataSetChanged); Next, Prior and MoveBy scroll it (DataSetScrolled with
    // the distance moved). Eof is set when a forward move ran past the last
    // record, Bof when a move backward ran past the first one or after First;
    // the current record is then still the last / first one. Both are set on
    // an empty dataset.
    void First();
    void Last();
    void Next();
    void Prior();
    int64_t MoveBy(int64_t distance);  // returns the distance moved
    bool Bof() const { return m_Bof; }
    bool Eof() const { return m_Eof; }
    // No current record (always true for a closed dataset; false in Insert).
    bool IsEmpty();

    // Insert / Append: CheckBrowseMode, BeforeInsert, BeforeScroll, a new
    // record image (InternalInitRecord), state Insert, OnNewRecord (values
    // written there leave Modified false), AfterInsert, AfterScroll. The new
    // record takes its place in the storage's order when posted, so Append
    // is Insert.
    void Insert();
    void Append();
    // Edit: on an empty dataset Insert; otherwise CheckBrowseMode,
    // BeforeEdit, InternalEdit (which re-reads the record with a lock; when it
    // raises the dataset stays in Browse with its buffer and OnEditError
    // decides), state Edit, links RecordChanged(nullptr), AfterEdit. Nothing
    // happens in Edit or Insert.
    void Edit();
    // Post: links UpdateData, BeforePost, InternalPost, state Browse, Resync,
    // AfterPost. When InternalPost raises, the buffer is restored to what it
    // was before the attempt, the state stays Edit / Insert and OnPostError
    // decides. SetKey returns to Browse; in any other state: "Dataset not in
    // edit or insert mode".
    void Post();
    // Cancel (in Edit or Insert; nothing otherwise): BeforeCancel,
    // BeforeScroll for an insert, InternalCancel in Edit, the record as
    // before restored, state Browse, Resync, AfterCancel, AfterScroll for an
    // insert.
    void Cancel();
    // Delete: Cancel in Insert; "Cannot perform this operation on an empty
    // dataset" without a record; otherwise BeforeDelete, BeforeScroll,
    // InternalDelete (which leaves the storage on the record that takes the
    // deleted one's place; when it raises OnDeleteError decides), state Browse, Resync, AfterDelete, AfterScroll.
    void Delete();
    // CheckBrowseMode, BeforeRefresh, InternalRefresh, Resync, AfterRefresh.
    void Refresh();
    // Posts a pending edit (after asking links to write their values) —
    // or cancels it when nothing was modified — and returns to browse.
    void CheckBrowseMode();
    bool Modified() const { return m_Modified; }

    int64_t RecordCount();
    // The hook's number of the current record.
    int64_t RecNo();
    // CheckBrowseMode; when n differs from RecNo: BeforeScroll,
    // InternalSetRecNo, Resync, AfterScroll.
    void SetRecNo(int64_t n);

    TField* FindField(const std::string& name) const;  // without regard to case; nullptr
    TField& FieldByName(const std::string& name) const;  // "Field '%s' not found"
    const std::vector<std::unique_ptr<TField>>& Fields() const { return m_Fields; }

    // Suspends notification of links and data sources; calls nest. The
    // outermost EnableControls tells the sources of a state change that
    // happened meanwhile and sends one DataSetChanged when any data
    // notification was held back.
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return m_DisableCount > 0; }

    const std::vector<uint8_t>& ActiveBuffer() const { return m_Buffer; }
    std::vector<uint8_t>& ActiveBuffer() { return m_Buffer; }

    // Called by TField; checks the state and writes through SetFieldData.
    // Allowed in Edit, Insert, SetKey, CalcFields, Filter and NewValue, else
    // "Dataset not in edit or insert mode"; a ReadOnly field outside SetKey
    // and Filter: "Field '%s' cannot be modified". In Edit and Insert the
    // write sets Modified and notifies (DataEvent(field)).
    void WriteField(TField& field, const uint8_t* value, size_t size);
    // Reads through GetFieldData from StateBuffer(); false (null) when closed
    // or when there is no current record.
    bool ReadField(const TField& field, std::vector<uint8_t>& value) const;

    // Content of a BLOB field of the active record, as stored. The default
    // takes the raw value bytes as the content (ReadField / WriteField, an
    // empty content written as null); a dataset whose records hold BLOB
    // references reads and writes the BLOB behind them, with the same state
    // and read-only checks as WriteField.
    virtual std::string ReadBlob(const TField& field);
    virtual void WriteBlob(TField& field, const std::string& bytes);

protected:
    // ---- hooks of the concrete dataset
    virtual void InternalOpen() = 0;   // opens storage, creates fields (AddField)
    virtual void InternalClose() = 0;  // closes storage
    virtual void InternalFirst() = 0;  // cursor before the first record
    virtual void InternalLast() = 0;   // cursor after the last record
    // Reads the current / next / prior record into buffer (errors raised when
    // doCheck, else reported as Error). Next past the last record leaves the
    // storage cursor after the last record and returns EOF; Prior before the
    // first leaves it before the first and returns BOF; Current on no record
    // returns Error (or raises when doCheck). The buffer has
    // RecordBufferSize() bytes when called; only a read that returns OK is
    // taken into the active buffer.
    virtual TGetResult GetRecord(std::vector<uint8_t>& buffer, TGetMode mode, bool doCheck) = 0;
    virtual size_t RecordBufferSize() const = 0;
    virtual void InternalInitRecord(std::vector<uint8_t>& buffer) = 0;  // a new record's image
    virtual void InternalEdit() = 0;    // locks the current record, re-reads it into the active buffer
    virtual void InternalPost() = 0;    // writes the active buffer (state Edit or Insert)
    virtual void InternalCancel() = 0;  // releases what InternalEdit took
    virtual void InternalDelete() = 0;
    virtual void InternalRefresh() = 0;
    virtual bool GetFieldData(const TField& field, const std::vector<uint8_t>& buffer,
                              std::vector<uint8_t>& value) const = 0;
    virtual void SetFieldData(TField& field, std::vector<uint8_t>& buffer, const uint8_t* value, size_t size) = 0;
    virtual int64_t GetRecordCount() = 0;
    virtual int64_t GetRecNo() = 0;
    virtual void InternalSetRecNo(int64_t n) = 0;
    // The field list is complete; the default does nothing.
    virtual void InternalFieldsCreated() {}
    // The buffer fields read and write in the current state: the active
    // buffer unless the dataset keeps another one for a temporary state (a
    // key buffer in SetKey, the record under test in Filter).
    virtual std::vector<uint8_t>& StateBuffer() { return m_Buffer; }

    // ---- helpers for the concrete dataset
    TField& AddField(const std::string& name, TFieldKind kind, int size, int fieldNo);
    void ClearFields();
    // Changes the state: Modified becomes false and the sources and links
    // are told. A change into or out of a temporary state (SetKey,
    // CalcFields, Filter, NewValue) only switches the state.
    void SetState(TDataSetState state);
    // Re-reads the current record into the active buffer and notifies the
    // links (DataSetChanged). When the current record is gone it reads the
    // next one, else the prior one; with none left the dataset is empty.
    void Resync();
    void DataEvent(TField* field);  // RecordChanged to links, OnDataChange to sources
    void CheckActive() const;       // "Cannot perform this operation on a closed dataset"

private:
    friend class TDataSource;
    enum class TMove { Next, Prior };
    void NotifyLinks(const std::function<void(TDataLink&)>& f);
    // Sends a data notification to the active links of every source, then
    // OnDataChange(field); held back while controls are disabled.
    void SendDataEvent(const std::function<void(TDataLink&)>& f, TField* field);
    void NotifyStateChange();
    void NotifyDataSetChanged();
    void DoAfterScroll();
    static void Fire(const TEvent& event, TDataSet& dataSet);
    // Reads the next / prior record into the active buffer; false at the end
    // of the storage, whose cursor is then brought back onto the current record.
    bool Step(TMove move);
    bool ReadInto(TGetMode mode, bool doCheck);
    void BeginInsert();
    void PostEdit();  // Post without asking the links for their values
    // CheckBrowseMode; false when the edit is still pending because
    // OnPostError chose Abort (the operation that asked then does nothing).
    bool ReachBrowseMode();
    void RestoreSaved();

    TDataSetState m_State = TDataSetState::Inactive;
    std::vector<std::unique_ptr<TField>> m_Fields;
    std::vector<uint8_t> m_Buffer;
    std::vector<uint8_t> m_SavedBuffer;  // the record as it was before Edit/Insert
    std::vector<uint8_t> m_ReadBuffer;   // target of reads that may fail
    bool m_Bof = true;
    bool m_Eof = true;
    bool m_HasRecord = false;  // the active buffer holds a current record
    bool m_SavedBof = true;
    bool m_SavedEof = true;
    bool m_SavedHasRecord = false;
    bool m_Modified = false;
    int m_DisableCount = 0;
    bool m_PendingChange = false;  // notification deferred while controls are disabled
    std::vector<TDataSource*> m_Sources;
};

}  // namespace veltra
