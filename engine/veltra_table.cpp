#include "veltra_table.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "errors.h"
#include "filter_eval.h"
#include "session.h"

namespace veltra {

namespace {

// The filter language compiles filter texts unless a program installs another compiler.
TFilterCompiler& Compiler() {
    static TFilterCompiler compiler = [](TDataFile& t, const std::string& text, const TFilterOptions& o) {
        return std::unique_ptr<TFilterEvaluator>(CreateExpressionFilter(
            t, text,
            TFilterOptionSet((o.CaseInsensitive ? foCaseInsensitive : 0) | (o.NoPartialCompare ? foNoPartialCompare : 0))));
    };
    return compiler;
}

// The dataset kind of an engine field; false for a type the dataset leaves out.
bool KindOf(const TFieldDescriptor& d, TFieldKind& kind, int& size) {
    size = 0;
    switch (d.FieldType()) {
        case ftString: kind = TFieldKind::String; size = d.Size(); return true;
        case ftDate: kind = TFieldKind::Date; return true;
        case ftBlob:
            switch (d.SubType()) {
                case 22: kind = TFieldKind::Memo; break;
                case 24: kind = TFieldKind::FormattedMemo; break;
                case 26: kind = TFieldKind::Graphic; break;
                case 28: kind = TFieldKind::TypedBinary; break;
                default: kind = TFieldKind::Blob;
            }
            return true;
        case ftBoolean: kind = TFieldKind::Boolean; return true;
        case ftSmallInt: kind = TFieldKind::SmallInt; return true;
        case ftInteger: kind = d.IsAutoIncrement() ? TFieldKind::AutoInc : TFieldKind::Integer; return true;
        case ftFloat: kind = d.SubType() == kSubTypeMoney ? TFieldKind::Currency : TFieldKind::Float; return true;
        case ftBCD: kind = TFieldKind::BCD; size = d.Decimals(); return true;
        case ftBytes: kind = TFieldKind::Bytes; size = d.Size(); return true;
        case ftTime: kind = TFieldKind::Time; return true;
        case ftDateTime: kind = TFieldKind::DateTime; return true;
        case ftWord: kind = TFieldKind::Word; return true;
        case ftCardinal: kind = TFieldKind::Integer; return true;
        case ftVarBytes: kind = TFieldKind::VarBytes; size = d.Size(); return true;
        default: return false;
    }
}

}  // namespace

void SetFilterCompiler(TFilterCompiler compiler) { Compiler() = std::move(compiler); }

TVeltraTable::TVeltraTable() { EngineStartup(); }

TVeltraTable::~TVeltraTable() {
    try {
        Close();
    } catch (...) {
        // A destructor reports nothing; closing the files released every lock.
    }
}

void TVeltraTable::CheckInactive() const {
    if (Active()) throw EDatabaseError("Cannot perform this operation on an open dataset");
}

void TVeltraTable::SetTableName(const std::string& name) {
    CheckInactive();
    m_TableName = name;
}
void TVeltraTable::SetExclusive(bool v) {
    CheckInactive();
    m_Exclusive = v;
}
void TVeltraTable::SetReadOnly(bool v) {
    CheckInactive();
    m_ReadOnly = v;
}
void TVeltraTable::SetStrictChangeDetection(bool v) {
    CheckInactive();
    m_Strict = v;
}
void TVeltraTable::SetForceBufferFlush(bool v) {
    CheckInactive();
    m_ForceFlush = v;
}
void TVeltraTable::SetLockRetryCount(uint8_t v) {
    m_LockRetryCount = v;
    if (m_File) m_File->SetLockRetryCount(v);
}
void TVeltraTable::SetLockWaitTime(uint16_t v) {
    m_LockWaitTime = v;
    if (m_File) m_File->SetLockWaitTime(v);
}

// ------------------------------------------------------------ open and close

std::string TVeltraTable::ResolveIndexName() const {
    if (m_IndexFieldNames.empty() || !m_File) return m_IndexName;
    // The index whose fields are exactly the listed ones, in order.
    std::vector<std::string> wanted;
    size_t start = 0;
    for (;;) {
        size_t sep = m_IndexFieldNames.find(';', start);
        wanted.push_back(m_IndexFieldNames.substr(start, sep == std::string::npos ? sep : sep - start));
        if (sep == std::string::npos) break;
        start = sep + 1;
    }
    TIndexFile& ix = m_File->IndexFile();
    for (int slot = ix.HasPrimaryIndex() ? 0 : 1; slot <= ix.IndexCount(); ++slot) {
        TIndexDescriptor d = ix.ReadDescriptor(slot);
        if (d.FieldCount() != wanted.size()) continue;
        bool match = true;
        for (int i = 0; i < d.FieldCount() && match; ++i)
            match = SameNameNoCase(m_File->FieldDescriptor(d.FieldNumber(i)).Name(), wanted[size_t(i)]);
        if (match) return slot == 0 ? std::string() : d.Name();
    }
    RaiseEngineError(ecInvalidIndexName, m_File->FileName(), {}, m_IndexFieldNames);
}

void TVeltraTable::InternalOpen() {
    if (m_TableName.empty()) throw EDatabaseError("Missing table name.");
    auto file = std::make_unique<TDataFile>();
    file->SetFileName(m_TableName);
    file->SetExclusive(m_Exclusive);
    file->SetReadOnly(m_ReadOnly);
    file->SetStrictChangeDetection(m_Strict);
    file->SetForceBufferFlush(m_ForceFlush);
    file->SetLockRetryCount(m_LockRetryCount);
    file->SetLockWaitTime(m_LockWaitTime);
    file->OpenTable();
    m_File = std::move(file);
    try {
        m_ReadOnly = m_File->ReadOnly();
        m_File->SelectIndexByName(ResolveIndexName());
        BuildFields();
        m_File->FirstRecord();
        InstallFilters();
    } catch (...) {
        m_File.reset();
        ClearFields();
        throw;
    }
}

void TVeltraTable::InternalClose() {
    m_ExpressionFilter = m_CallbackFilter = nullptr;
    ClearFields();
    if (m_File) {
        std::unique_ptr<TDataFile> file = std::move(m_File);
        file->CloseTable();
    }
}

// Fields in field-number order; a repeated name becomes "%s_%d".
void TVeltraTable::BuildFields() {
    ClearFields();
    std::vector<std::string> names;
    for (int f = 1; f <= m_File->FieldCount(); ++f) {
        TFieldDescriptor d = m_File->FieldDescriptor(f);
        TFieldKind kind;
        int size;
        if (!KindOf(d, kind, size)) continue;
        std::string name = d.Name();
        for (int n = 1; std::any_of(names.begin(), names.end(), [&](const std::string& x) { return SameNameNoCase(x, name); });
             ++n)
            name = d.Name() + "_" + std::to_string(n);
        names.push_back(name);
        TField& field = AddField(name, kind, size, f);
        field.Required = d.Required();
        field.ReadOnly = d.IsAutoIncrement() || d.IsComputed();
        field.Decimals = d.Decimals();
    }
}

// ------------------------------------------------------------ records

void TVeltraTable::InternalFirst() { m_File->FirstRecord(); }
void TVeltraTable::InternalLast() { m_File->LastRecord(); }

TGetResult TVeltraTable::GetRecord(std::vector<uint8_t>& buffer, TGetMode mode, bool doCheck) {
    buffer.resize(RecordBufferSize());
    int code = mode == TGetMode::Current ? m_File->GetCurrentRecord(buffer.data(), false)
               : mode == TGetMode::Next  ? m_File->NextRecord(buffer.data())
                                         : m_File->PriorRecord(buffer.data());
    if (code == ecOK) return TGetResult::OK;
    if (code == ecBOF) return TGetResult::Bof;
    if (code == ecEOF) return TGetResult::Eof;
    if (doCheck) CheckEngineResult(code, m_File->FileName());
    return TGetResult::Error;
}

size_t TVeltraTable::RecordBufferSize() const { return m_File ? size_t(m_File->RecordSize()) : 0; }

void TVeltraTable::InternalInitRecord(std::vector<uint8_t>& buffer) {
    buffer.resize(RecordBufferSize());
    m_File->InitRecord(buffer.data());
}

void TVeltraTable::InternalEdit() {
    std::vector<uint8_t>& buffer = ActiveBuffer();
    buffer.resize(RecordBufferSize());
    CheckEngineResult(m_File->GetCurrentRecord(buffer.data(), true), m_File->FileName());
}

// BLOBs opened by streams stay open in the buffer until the record is
// written or abandoned.
void TVeltraTable::CloseBufferBlobs(std::vector<uint8_t>& buffer) {
    if (buffer.size() != RecordBufferSize()) return;
    for (int f = 1; f <= m_File->FieldCount(); ++f)
        if (m_File->FieldDescriptor(f).FieldType() == ftBlob && m_File->IsBlobFieldOpen(f, buffer.data()))
            m_File->CloseBlobField(f, buffer.data());
}

void TVeltraTable::InternalPost() {
    std::vector<uint8_t>& buffer = ActiveBuffer();
    if (State() == TDataSetState::Edit) m_File->ModifyRecord(buffer.data(), true, true);
    else m_File->InsertRecord(buffer.data(), true);
    CloseBufferBlobs(buffer);
    if (m_File->IndexFile().AnyFilterActive() && m_File->CurrentRecord() &&
        !m_File->IndexFile().VisibleBitmap().Test(m_File->CurrentRecord()->PhysicalNo)) {
        // The posted record no longer passes the filter: stand on a visible one.
        m_File->GotoRecordNumber(std::max<int64_t>(1, m_File->CurrentRecordNumber()));
    }
}

void TVeltraTable::InternalCancel() {
    CloseBufferBlobs(ActiveBuffer());
    if (State() == TDataSetState::Edit) m_File->UnlockCurrentRecord();
}

void TVeltraTable::InternalDelete() { m_File->DeleteRecord(true); }

void TVeltraTable::InternalRefresh() { m_File->Refresh(); }

bool TVeltraTable::GetFieldData(const TField& field, const std::vector<uint8_t>& buffer,
                                std::vector<uint8_t>& value) const {
    if (buffer.size() != RecordBufferSize()) return false;
    TFieldDescriptor d = m_File->FieldDescriptor(field.FieldNo());
    value.assign(std::max<size_t>(d.PhysicalSize(), 4), 0);
    bool isNull = m_File->GetFieldValue(field.FieldNo(), buffer.data(), value.data());
    value.resize(d.IsAutoIncrement() ? 4 : d.PhysicalSize());
    return !isNull;
}

void TVeltraTable::SetFieldData(TField& field, std::vector<uint8_t>& buffer, const uint8_t* value, size_t size) {
    if (State() == TDataSetState::SetKey) {
        // Only fields of the active index make up a search key.
        const auto& parts = m_File->IndexFile().CurrentLayout().Fields;
        auto it = std::find_if(parts.begin(), parts.end(), [&](const auto& p) { return p.FieldNo == field.FieldNo(); });
        if (it == parts.end())
            throw EDatabaseError("Field '" + field.FieldName() + "' is not indexed and cannot be modified");
        const size_t position = size_t(it - parts.begin());
        if (position < m_KeyGiven.size()) m_KeyGiven[position] = true;
    }
    buffer.resize(RecordBufferSize());
    m_File->SetFieldValue(field.FieldNo(), buffer.data(), value, size);
}

int64_t TVeltraTable::GetRecordCount() { return m_File->RecordCount(); }
int64_t TVeltraTable::GetRecNo() { return m_File->CurrentRecordNumber(); }
void TVeltraTable::InternalSetRecNo(int64_t n) { m_File->GotoRecordNumber(n); }

std::string TVeltraTable::ReadBlob(const TField& field) {
    std::vector<uint8_t>& buffer = const_cast<TVeltraTable*>(this)->ActiveBuffer();
    if (buffer.size() != RecordBufferSize()) return {};
    const int f = field.FieldNo();
    const bool wasOpen = m_File->IsBlobFieldOpen(f, buffer.data());
    // A record shown while other processes work may be older than the files:
    // its BLOB chain may have been freed and its blocks reused since. The BLOB
    // is read in one read phase with the record as it is now, and a browsed
    // record that changed takes its new image, so that the fields and the
    // BLOB shown belong to one version. A record deleted meanwhile has none.
    const bool ownPhase = !wasOpen && !m_File->InReadPhase() && !m_File->InWritePhase();
    struct TPhase {
        TDataFile& File;
        bool Active;
        // A failure to release must not hide the error that is unwinding.
        ~TPhase() noexcept(false) {
            if (!Active) return;
            try {
                File.EndRead();
            } catch (const EVeltraEngineError&) {
                if (std::uncaught_exceptions() == 0) throw;
            }
        }
    } phase{*m_File, false};
    if (ownPhase) {
        m_File->BeginRead();
        phase.Active = m_File->InReadPhase();
    }
    if (!wasOpen && State() == TDataSetState::Browse && !m_File->LocksDisabled() && !RefreshBrowsedImage(buffer))
        return {};
    if (!wasOpen) CheckEngineResult(m_File->OpenBlobField(f, kBlobRead, buffer.data()), m_File->FileName());
    int64_t size = 0, got = 0;
    CheckEngineResult(m_File->BlobFieldSize(f, buffer.data(), size), m_File->FileName());
    std::string bytes(size_t(size), '\0');
    if (size)
        CheckEngineResult(
            m_File->ReadBlobField(f, buffer.data(), 0, size, reinterpret_cast<uint8_t*>(bytes.data()), got),
            m_File->FileName());
    if (!wasOpen) m_File->CloseBlobField(f, buffer.data());
    return bytes;
}

bool TVeltraTable::RefreshBrowsedImage(std::vector<uint8_t>& buffer) {
    const int32_t n = GetI32(&buffer[1]), id = GetI32(&buffer[5]);
    if (buffer[0] != 0 || n < 1 || n >= m_File->NextRecordNo()) return false;
    // A BLOB open in the buffer keeps its handle there; the image stays.
    for (int f = 1; f <= m_File->FieldCount(); ++f)
        if (m_File->FieldDescriptor(f).FieldType() == ftBlob && m_File->IsBlobFieldOpen(f, buffer.data())) return true;
    TFetchResult fetched = m_File->FetchRecord(n);
    TRecord* r = fetched.Record;
    if (!r) return false;
    const bool same = !r->IsDeleted() && r->RecordID() == id;
    if (same) std::copy(r->Buffer.begin(), r->Buffer.end(), buffer.begin());
    r->Unpin();
    return same;
}

void TVeltraTable::WriteBlob(TField& field, const std::string& bytes) {
    TVeltraBlobStream stream(*this, field, TVeltraBlobStream::TMode::Write);
    stream.Write(bytes.data(), int64_t(bytes.size()));
}

// ------------------------------------------------------------ indexes

void TVeltraTable::SetIndexName(const std::string& name) {
    if (!Active()) {
        m_IndexName = name;
        m_IndexFieldNames.clear();
        return;
    }
    CheckBrowseMode();
    std::vector<uint8_t> current = ActiveBuffer();
    const bool hadRecord = !IsEmpty() && current.size() == RecordBufferSize();
    // Raises 10022 for an unknown name before anything changes.
    m_File->SelectIndexByName(name);
    m_IndexName = name;
    m_IndexFieldNames.clear();
    if (hadRecord) {
        // The current record stays current: found by its full key in the new
        // index, record-ID suffix included, so that among repeated keys it
        // is this record and not the first of its equals.
        TIndexFile& ix = m_File->IndexFile();
        if (ix.NaturalOrder()) {
            m_File->GotoRecordNumber(GetI32(&current[1]));
        } else {
            std::vector<uint8_t> key(size_t(ix.CurrentLayout().KeySize));
            m_File->BuildKey(ix.CurrentSlot(), current.data(), key.data());
            m_File->GotoBookmark(key);
        }
    }
    Resync();
}

void TVeltraTable::SetIndexFieldNames(const std::string& names) {
    if (!Active()) {
        m_IndexFieldNames = names;
        m_IndexName.clear();
        return;
    }
    // Resolved before anything changes: an unknown field list (10022)
    // leaves the names and the order in force.
    const std::string previous = m_IndexFieldNames;
    m_IndexFieldNames = names;
    std::string resolved;
    try {
        resolved = ResolveIndexName();
    } catch (...) {
        m_IndexFieldNames = previous;
        throw;
    }
    m_IndexFieldNames = previous;
    SetIndexName(resolved);
    m_IndexFieldNames = names;
    m_IndexName.clear();
}

std::vector<std::string> TVeltraTable::GetIndexNames() {
    std::vector<std::string> names;
    auto collect = [&](TDataFile& file) {
        TIndexFile& ix = file.IndexFile();
        for (int slot = 1; slot <= ix.IndexCount(); ++slot) {
            std::string n = ix.ReadDescriptor(slot).Name();
            if (!n.empty()) names.push_back(n);
        }
    };
    if (m_File) {
        collect(*m_File);
    } else {
        TDataFile file;
        file.SetFileName(m_TableName);
        file.SetReadOnly(true);
        file.OpenTable();
        collect(file);
    }
    return names;
}

// ------------------------------------------------------------ filters

std::unique_ptr<TFilterEvaluator> TVeltraTable::CompileFilter(const std::string& text) {
    if (!Compiler()) RaiseEngineError(ecInvalidFilter, m_File->FileName());
    return Compiler()(*m_File, text, m_FilterOptions);
}

TFilterHandle TVeltraTable::AddCallbackFilter() {
    return m_File->AddFilter(nullptr, [this](const uint8_t* record) {
        // The event sees the record in the filter state, in the active buffer.
        if (!OnFilterRecord) return true;
        std::vector<uint8_t> saved = ActiveBuffer();
        TDataSetState before = State();
        ActiveBuffer().assign(record, record + RecordBufferSize());
        SetState(TDataSetState::Filter);
        bool accept = true;
        try {
            OnFilterRecord(*this, accept);
        } catch (...) {
            // The error cannot travel through the engine's filter building:
            // the application's handler shows it, and the record keeps the
            // verdict the event gave before raising (accepted unless it had
            // already rejected it).
            SetState(before);
            ActiveBuffer() = saved;
            HandleCurrentApplicationError();
            return accept;
        }
        SetState(before);
        ActiveBuffer() = saved;
        return accept;
    });
}

void TVeltraTable::ActivateExpressionFilter() {
    bool failed = false;
    try {
        failed = m_File->ActivateFilter(m_ExpressionFilter) != ecOK;
    } catch (const EVeltraEngineError&) {
        failed = true;
    }
    if (!failed) return;
    // A filter that fails to activate is compiled afresh and tried once more;
    // a second failure is raised.
    m_File->RemoveFilter(m_ExpressionFilter);
    m_ExpressionFilter = nullptr;
    m_ExpressionFilter = m_File->AddFilter(CompileFilter(m_FilterText), nullptr);
    CheckEngineResult(m_File->ActivateFilter(m_ExpressionFilter), m_File->FileName());
}

void TVeltraTable::InstallFilters() {
    if (!m_FilterText.empty()) m_ExpressionFilter = m_File->AddFilter(CompileFilter(m_FilterText), nullptr);
    if (OnFilterRecord) m_CallbackFilter = AddCallbackFilter();
    if (m_Filtered) {
        if (m_ExpressionFilter) ActivateExpressionFilter();
        if (m_CallbackFilter) CheckEngineResult(m_File->ActivateFilter(m_CallbackFilter), m_File->FileName());
    }
}

void TVeltraTable::RemoveFilters() {
    for (TFilterHandle* h : {&m_ExpressionFilter, &m_CallbackFilter}) {
        if (*h) m_File->RemoveFilter(*h);
        *h = nullptr;
    }
}

void TVeltraTable::SetFilter(const std::string& text) {
    if (!Active()) {
        m_FilterText = text;
        return;
    }
    CheckBrowseMode();
    if (text == m_FilterText) return;
    std::unique_ptr<TFilterEvaluator> compiled;
    if (!text.empty()) compiled = CompileFilter(text);  // raises before anything changes
    if (m_ExpressionFilter) m_File->RemoveFilter(m_ExpressionFilter);
    m_ExpressionFilter = nullptr;
    m_FilterText = text;
    if (compiled) {
        m_ExpressionFilter = m_File->AddFilter(std::move(compiled), nullptr);
        if (m_Filtered) ActivateExpressionFilter();
    }
    First();
}

void TVeltraTable::SetFilterOptions(const TFilterOptions& options) {
    if (Active()) CheckBrowseMode();
    if (options == m_FilterOptions) return;
    const TFilterOptions previous = m_FilterOptions;
    m_FilterOptions = options;
    // Without filter text there is nothing to recompile: the filter state and
    // the position stay as they are.
    if (!Active() || m_FilterText.empty()) return;
    std::string text = m_FilterText;
    m_FilterText.clear();  // recompiles with the new options
    try {
        SetFilter(text);
    } catch (...) {
        m_FilterText = text;
        m_FilterOptions = previous;
        throw;
    }
}

void TVeltraTable::SetFiltered(bool filtered) {
    if (Active()) CheckBrowseMode();
    if (Active()) {
        // An event assigned to OnFilterRecord after the table was opened.
        if (!m_CallbackFilter && OnFilterRecord) m_CallbackFilter = AddCallbackFilter();
        if (filtered != m_Filtered) {
            if (m_ExpressionFilter) {
                if (filtered) ActivateExpressionFilter();
                else CheckEngineResult(m_File->DeactivateFilter(m_ExpressionFilter), m_File->FileName());
            }
            if (m_CallbackFilter)
                CheckEngineResult(filtered ? m_File->ActivateFilter(m_CallbackFilter)
                                           : m_File->DeactivateFilter(m_CallbackFilter),
                                  m_File->FileName());
        }
    }
    m_Filtered = filtered;
    if (Active()) First();
}

void TVeltraTable::SetOnFilterRecord(std::function<void(TDataSet&, bool&)> handler) {
    if (!Active()) {
        OnFilterRecord = std::move(handler);
        return;
    }
    CheckBrowseMode();
    if (m_CallbackFilter) m_File->RemoveFilter(m_CallbackFilter);
    m_CallbackFilter = nullptr;
    OnFilterRecord = std::move(handler);
    if (OnFilterRecord) {
        m_CallbackFilter = AddCallbackFilter();
        if (m_Filtered) CheckEngineResult(m_File->ActivateFilter(m_CallbackFilter), m_File->FileName());
    }
    First();
}

// ------------------------------------------------------------ BLOB streams

TVeltraBlobStream::TVeltraBlobStream(TVeltraTable& table, TField& field, TMode mode)
    : m_Table(table), m_Field(field) {
    TDataFile& file = *table.m_File;
    std::vector<uint8_t>& buffer = table.ActiveBuffer();
    m_WasOpen = file.IsBlobFieldOpen(field.FieldNo(), buffer.data());
    if (mode != TMode::Read) {
        if (field.ReadOnly) throw EDatabaseError("Field '" + field.FieldName() + "' cannot be modified");
        if (table.State() != TDataSetState::Edit && table.State() != TDataSetState::Insert)
            throw EDatabaseError("Dataset not in edit or insert mode");
    }
    if (mode == TMode::Read && !m_WasOpen) {
        m_Snapshot = table.ReadBlob(field);
        return;
    }
    if (!m_WasOpen)
        CheckEngineResult(file.OpenBlobField(field.FieldNo(), mode == TMode::Read ? kBlobRead : kBlobWrite,
                                             buffer.data()),
                          file.FileName());
    if (mode == TMode::Write) {
        CheckEngineResult(file.TruncateBlobField(field.FieldNo(), buffer.data(), 0), file.FileName());
        m_Written = true;
    }
}

TVeltraBlobStream::~TVeltraBlobStream() {
    if (m_Snapshot) return;  // nothing was opened
    TDataFile& file = *m_Table.m_File;
    std::vector<uint8_t>& buffer = m_Table.ActiveBuffer();
    try {
        if (m_Written) {
            // Rewriting the field's handle sets its null byte from the BLOB's
            // size, marks the record modified and tells the controls.
            std::vector<uint8_t> value;
            m_Table.ReadField(m_Field, value);
            value.resize(4);
            m_Table.WriteField(m_Field, value.data(), 4);
        } else if (!m_WasOpen) {
            file.CloseBlobField(m_Field.FieldNo(), buffer.data());
        }
    } catch (...) {
        // Destructors report nothing; the BLOB stays open in the buffer and is
        // closed with the record.
    }
}

int64_t TVeltraBlobStream::Read(void* buffer, int64_t count) {
    if (m_Snapshot) {
        const int64_t size = int64_t(m_Snapshot->size());
        const int64_t got = std::clamp<int64_t>(size - m_Position, 0, std::max<int64_t>(count, 0));
        if (got > 0) std::memcpy(buffer, m_Snapshot->data() + m_Position, size_t(got));
        m_Position += got;
        return got;
    }
    int64_t got = 0;
    int code = m_Table.m_File->ReadBlobField(m_Field.FieldNo(), m_Table.ActiveBuffer().data(), m_Position, count,
                                             static_cast<uint8_t*>(buffer), got);
    if (code != ecOK && code != ecEndOfBlob) CheckEngineResult(code, m_Table.m_File->FileName());
    m_Position += got;
    return got;
}

int64_t TVeltraBlobStream::Write(const void* buffer, int64_t count) {
    CheckEngineResult(m_Table.m_File->WriteBlobField(m_Field.FieldNo(), m_Table.ActiveBuffer().data(), m_Position,
                                                     count, static_cast<const uint8_t*>(buffer)),
                      m_Table.m_File->FileName());
    m_Position += count;
    m_Written = true;
    return count;
}

int64_t TVeltraBlobStream::Size() {
    if (m_Snapshot) return int64_t(m_Snapshot->size());
    int64_t size = 0;
    CheckEngineResult(m_Table.m_File->BlobFieldSize(m_Field.FieldNo(), m_Table.ActiveBuffer().data(), size),
                      m_Table.m_File->FileName());
    return size;
}

int64_t TVeltraBlobStream::Seek(int64_t offset, int origin) {
    int64_t base = origin == 0 ? 0 : origin == 1 ? m_Position : Size();
    m_Position = std::max<int64_t>(0, base + offset);
    return m_Position;
}

// ------------------------------------------------------------ row reader

TRowReader::TRowReader(TVeltraTable& table) : m_Table(table) {}

TRowReader::~TRowReader() = default;

int64_t TRowReader::RowCount() {
    TDataFile* file = m_Table.DataFile();
    return file ? file->RecordCount() : 0;
}

bool TRowReader::ReadRow(int64_t n, std::vector<uint8_t>& record) {
    TDataFile* file = m_Table.DataFile();
    if (!file || n < 1) return false;
    // Strict change detection promises a read phase around every read; the
    // ordinary mode takes the read lock only when a page or record must come
    // from disk, as the cursor's own reads do.
    const bool ownPhase = file->StrictChangeDetection() && !file->InReadPhase() && !file->InWritePhase();
    struct TPhase {
        TDataFile* File;
        bool Active;
        ~TPhase() noexcept(false) {
            if (!Active) return;
            try {
                File->EndRead();
            } catch (const EVeltraEngineError&) {
                if (std::uncaught_exceptions() == 0) throw;
            }
        }
    } phase{file, false};
    if (ownPhase) {
        file->BeginRead();
        phase.Active = file->InReadPhase();
    }
    constexpr int kMaxAttempts = 1000;
    for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
        const int32_t slot = file->IndexFile().RecordAtRow(n);
        if (slot == 0) return false;
        TFetchResult fetched = file->FetchRecord(slot);
        // Another process changed the table: the files were read anew and the
        // row may now be another record; look it up again.
        if (fetched.TableChanged) continue;
        if (!fetched.Record) return false;
        record = fetched.Record->Buffer;
        fetched.Record->Unpin();
        return true;
    }
    RaiseEngineError(ecLockFailure, file->FileName());
}

}  // namespace veltra
