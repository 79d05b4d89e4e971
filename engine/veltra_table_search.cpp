// The table component's searches: find by key (FindKey, SetKey / GotoKey),
// bookmarks, and the FindFirst family, which searches with the filters in
// force whether or not the table is filtered.
#include <algorithm>

#include "errors.h"
#include "veltra_table.h"

namespace veltra {

std::vector<uint8_t>& TVeltraTable::StateBuffer() {
    return State() == TDataSetState::SetKey ? m_KeyBuffer : TDataSet::StateBuffer();
}

std::vector<TField*> TVeltraTable::KeyFields() {
    std::vector<TField*> fields;
    const TKeyLayout& layout = m_File->IndexFile().CurrentLayout();
    for (const auto& part : layout.Fields) {
        TField* field = nullptr;
        for (const auto& f : Fields())
            if (f->FieldNo() == part.FieldNo) field = f.get();
        if (!field)
            throw EDatabaseError("Cannot access index field '" + m_File->FieldDescriptor(part.FieldNo).Name() + "'");
        fields.push_back(field);
    }
    return fields;
}

void TVeltraTable::SetKey() {
    CheckActive();
    CheckBrowseMode();
    if (m_File->IndexFile().NaturalOrder()) throw EDatabaseError("No index currently active");
    m_KeyBuffer.assign(RecordBufferSize(), 0);
    m_File->InitRecord(m_KeyBuffer.data());
    m_KeyGiven.assign(m_File->IndexFile().CurrentLayout().Fields.size(), false);
    SetState(TDataSetState::SetKey);
}

bool TVeltraTable::GotoKey() {
    CheckActive();
    if (State() != TDataSetState::SetKey) throw EDatabaseError("Dataset not in edit or insert mode");
    SetState(TDataSetState::Browse);
    size_t count = 0;
    while (count < m_KeyGiven.size() && m_KeyGiven[count]) ++count;
    return SearchKey(std::max<size_t>(count, 1));
}

bool TVeltraTable::FindKey(const std::vector<std::string>& values) {
    return FindKeyWith(values.size(), [&](size_t i, TField& field) { field.SetAsString(values[i]); });
}

bool TVeltraTable::FindKeyWith(size_t count, const std::function<void(size_t, TField&)>& assign) {
    CheckActive();
    CheckBrowseMode();
    if (m_File->IndexFile().NaturalOrder()) throw EDatabaseError("No index currently active");
    if (count > m_File->IndexFile().CurrentLayout().Fields.size()) throw EDatabaseError("Field index out of range");
    // The search record is built in the set-key state through the key fields.
    std::vector<TField*> fields = KeyFields();
    SetKey();
    try {
        for (size_t i = 0; i < count; ++i) assign(i, *fields[i]);
    } catch (...) {
        SetState(TDataSetState::Browse);
        throw;
    }
    SetState(TDataSetState::Browse);
    return SearchKey(count);
}

bool TVeltraTable::SearchKey(size_t count) {
    std::vector<uint8_t> bookmark = m_File->GetBookmark();
    bool found = m_File->FindKey(m_KeyBuffer.data(), nullptr, int(count), nullptr);
    if (!found) {
        if (!bookmark.empty()) m_File->GotoBookmark(bookmark);
        return false;
    }
    if (BeforeScroll) BeforeScroll(*this);
    Resync();
    if (AfterScroll) AfterScroll(*this);
    return true;
}

// ------------------------------------------------------------ bookmarks

TVeltraTable::TBookmark TVeltraTable::BookmarkOf(const std::vector<uint8_t>& record) {
    TIndexFile& ix = m_File->IndexFile();
    if (ix.NaturalOrder()) return TBookmark(record.begin() + 1, record.begin() + 5);
    TBookmark key(size_t(ix.CurrentLayout().KeySize));
    m_File->BuildKey(ix.CurrentSlot(), record.data(), key.data());
    return key;
}

TVeltraTable::TBookmark TVeltraTable::GetBookmark() {
    if (!Active() || IsEmpty() || State() == TDataSetState::Insert) return {};
    const std::vector<uint8_t>& record = ActiveBuffer();
    if (record.size() != RecordBufferSize()) return {};
    return BookmarkOf(record);
}

bool TVeltraTable::PositionOnBookmark(const TBookmark& bookmark) {
    TIndexFile& ix = m_File->IndexFile();
    const size_t size = ix.NaturalOrder() ? 4 : size_t(ix.CurrentLayout().KeySize);
    if (bookmark.size() != size) return false;
    std::vector<uint8_t> before = m_File->GetBookmark();
    m_File->GotoBookmark(bookmark);
    std::vector<uint8_t> landed(RecordBufferSize());
    bool found = m_File->GetCurrentRecord(landed.data(), false) == ecOK && BookmarkOf(landed) == bookmark;
    if (!found) {
        if (!before.empty()) m_File->GotoBookmark(before);
        else m_File->FirstRecord();
    }
    return found;
}

void TVeltraTable::GotoBookmark(const TBookmark& bookmark) {
    CheckActive();
    CheckBrowseMode();
    if (!PositionOnBookmark(bookmark)) RaiseEngineError(ecRecordNotFound, m_File->FileName());
    if (BeforeScroll) BeforeScroll(*this);
    Resync();
    if (AfterScroll) AfterScroll(*this);
}

int TVeltraTable::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
    CheckActive();
    return m_File->CompareBookmarks(a, b);
}

bool TVeltraTable::BookmarkValid(const TBookmark& bookmark) {
    if (!Active() || bookmark.empty()) return false;
    std::vector<uint8_t> before = m_File->GetBookmark();
    const bool found = PositionOnBookmark(bookmark);
    if (found) {
        if (!before.empty()) m_File->GotoBookmark(before);
        else m_File->FirstRecord();
    }
    return found;
}

// ------------------------------------------------------------ FindFirst and the others

bool TVeltraTable::FindRecord(bool restart, bool forward) {
    CheckActive();
    CheckBrowseMode();
    const std::vector<uint8_t> current = IsEmpty() ? std::vector<uint8_t>() : ActiveBuffer();
    const TBookmark start = current.empty() ? TBookmark() : BookmarkOf(current);
    // Outside the filtered view the filters are put in force for the search
    // only; activating or deactivating a filter resets the cursor.
    const bool temporary = !m_Filtered;
    if (temporary) {
        if (!m_CallbackFilter && OnFilterRecord) m_CallbackFilter = AddCallbackFilter();
        if (m_ExpressionFilter) ActivateExpressionFilter();
        if (m_CallbackFilter) CheckEngineResult(m_File->ActivateFilter(m_CallbackFilter), m_File->FileName());
    }
    TBookmark found;
    try {
        std::vector<uint8_t> record(RecordBufferSize());
        int code = ecEOF;
        if (restart || start.empty()) {
            if (forward) {
                m_File->FirstRecord();
                code = m_File->NextRecord(record.data());
            } else {
                m_File->LastRecord();
                code = m_File->PriorRecord(record.data());
            }
        } else {
            // The cursor goes to the first passing record not before the
            // current one (in natural order, when none follows, the last one
            // before it); the search goes on from there.
            m_File->GotoBookmark(start);
            code = m_File->GetCurrentRecord(record.data(), false);
            const int side = code == ecOK ? m_File->CompareBookmarks(BookmarkOf(record), start) : 1;
            if (forward) {
                if (code != ecOK) code = ecEOF;
                else if (side <= 0) code = m_File->NextRecord(record.data());
            } else if (code != ecOK) {
                m_File->LastRecord();
                code = m_File->PriorRecord(record.data());
            } else if (side >= 0) {
                code = m_File->PriorRecord(record.data());
            }
        }
        if (code == ecOK) found = BookmarkOf(record);
        else if (code != ecEOF && code != ecBOF) CheckEngineResult(code, m_File->FileName());
    } catch (...) {
        if (temporary) {
            for (TFilterHandle h : {m_ExpressionFilter, m_CallbackFilter})
                if (h) m_File->DeactivateFilter(h);
            if (!start.empty()) m_File->GotoBookmark(start);
        }
        throw;
    }
    if (temporary) {
        for (TFilterHandle h : {m_ExpressionFilter, m_CallbackFilter})
            if (h) CheckEngineResult(m_File->DeactivateFilter(h), m_File->FileName());
    }
    if (found.empty()) {
        if (!start.empty()) m_File->GotoBookmark(start);
        return false;
    }
    m_File->GotoBookmark(found);
    if (BeforeScroll) BeforeScroll(*this);
    Resync();
    if (AfterScroll) AfterScroll(*this);
    return true;
}

}  // namespace veltra
