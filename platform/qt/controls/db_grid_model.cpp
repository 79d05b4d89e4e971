#include "platform/qt/controls/db_grid_model.h"

#include <algorithm>
#include <limits>

#include "engine/veltra_table.h"
#include "platform/qt/controls/field_text.h"

namespace veltra {

class TDBGridModel::TLink : public TDataLink {
public:
    explicit TLink(TDBGridModel& owner) : m_Owner(owner) {}
    void ActiveChanged() override { m_Owner.Reload(); }
    void DataSetChanged() override { m_Owner.Reload(); }
    void DataSetScrolled(int) override { m_Owner.CurrentChanged(); }
    void RecordChanged(TField*) override { m_Owner.CurrentChanged(); }
    void EditingChanged() override { m_Owner.CurrentChanged(); }

private:
    TDBGridModel& m_Owner;
};

TDBGridModel::TDBGridModel(QObject* parent) : QAbstractTableModel(parent), m_Link(new TLink(*this)) {}

TDBGridModel::~TDBGridModel() {
    // The link leaves its source in its own destructor, where it no longer
    // calls back: a model being destroyed must not signal a view that may be
    // half gone.
    m_Link.reset();
    m_Reader.reset();
}

void TDBGridModel::SetDataSource(TDataSource* source) {
    m_Link->SetDataSource(source);
    Reload();
}

TDataSource* TDBGridModel::DataSource() const { return m_Link->DataSource(); }

TVeltraTable* TDBGridModel::Table() const {
    TDataSet* ds = m_Link->DataSet();
    if (ds == nullptr || !ds->Active()) return nullptr;
    return dynamic_cast<TVeltraTable*>(ds);
}

void TDBGridModel::SetColumns(const QStringList& fieldNames, const QStringList& titles) {
    beginResetModel();
    m_FieldNames = fieldNames;
    m_Titles = titles;
    while (m_Titles.size() < m_FieldNames.size()) m_Titles << m_FieldNames[m_Titles.size()];
    endResetModel();
}

TField* TDBGridModel::FieldOf(int column) const {
    TDataSet* ds = m_Link->DataSet();
    if (ds == nullptr || !ds->Active() || column < 0 || column >= m_FieldNames.size()) return nullptr;
    return ds->FindField(m_FieldNames[column].toStdString());
}

int TDBGridModel::CurrentRow() const {
    TDataSet* ds = m_Link->DataSet();
    if (ds == nullptr || !ds->Active() || ds->IsEmpty()) return -1;
    const int64_t recNo = ds->RecNo();
    return recNo >= 1 && recNo <= m_RowCount ? int(recNo - 1) : -1;
}

void TDBGridModel::DropCache() const {
    m_Cache.clear();
    m_Lru.clear();
}

void TDBGridModel::Reload() {
    // A new reader follows the table's index, range and filters as they are
    // now; the old one may stand on a view that no longer exists.
    m_Reader.reset();
    DropCache();
    int count = 0;
    if (TVeltraTable* table = Table()) {
        m_Reader = std::make_unique<TRowReader>(*table);
        try {
            count = int(std::clamp<int64_t>(m_Reader->RowCount(), 0, std::numeric_limits<int>::max()));
        } catch (const std::exception&) {
            count = 0;
        }
    }
    // Rows are inserted or removed at the end rather than resetting the
    // model, so that the view keeps its column order, widths and scroll
    // position.
    if (count > m_RowCount) {
        beginInsertRows(QModelIndex(), m_RowCount, count - 1);
        m_RowCount = count;
        endInsertRows();
    } else if (count < m_RowCount) {
        beginRemoveRows(QModelIndex(), count, m_RowCount - 1);
        m_RowCount = count;
        endRemoveRows();
    }
    if (m_RowCount > 0 && !m_FieldNames.isEmpty()) {
        Q_EMIT dataChanged(index(0, 0), index(m_RowCount - 1, int(m_FieldNames.size()) - 1));
    }
    CurrentChanged();
}

void TDBGridModel::CurrentChanged() {
    const int row = CurrentRow();
    const int old = m_IndicatorRow;
    m_IndicatorRow = row;
    if (old >= 0 && old < m_RowCount) Q_EMIT headerDataChanged(Qt::Vertical, old, old);
    if (row >= 0) {
        Q_EMIT headerDataChanged(Qt::Vertical, row, row);
        if (!m_FieldNames.isEmpty()) {
            Q_EMIT dataChanged(index(row, 0), index(row, int(m_FieldNames.size()) - 1));
        }
    }
    Q_EMIT currentRowChanged(row);
}

const std::vector<uint8_t>* TDBGridModel::Row(int row) const {
    auto it = m_Cache.find(row);
    if (it != m_Cache.end()) {
        m_Lru.splice(m_Lru.begin(), m_Lru, it->second.Position);
        return it->second.Found ? &it->second.Image : nullptr;
    }
    if (!m_Reader) return nullptr;
    TCached entry;
    ++m_ReadCount;
    try {
        entry.Found = m_Reader->ReadRow(row + 1, entry.Image);
    } catch (const std::exception&) {
        entry.Found = false;
    }
    if (m_Cache.size() >= kRowCacheSize) {
        m_Cache.erase(m_Lru.back());
        m_Lru.pop_back();
    }
    m_Lru.push_front(row);
    entry.Position = m_Lru.begin();
    auto [pos, inserted] = m_Cache.emplace(row, std::move(entry));
    return pos->second.Found ? &pos->second.Image : nullptr;
}

int TDBGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_RowCount; }

int TDBGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_FieldNames.size());
}

QVariant TDBGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_RowCount) return {};
    TField* field = FieldOf(index.column());
    if (field == nullptr) return {};
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(FieldAlignment(*field));
    }
    if (role != Qt::DisplayRole) return {};
    TDataSet* ds = m_Link->DataSet();
    const bool editing = ds->State() == TDataSetState::Edit || ds->State() == TDataSetState::Insert;
    if (editing && index.row() == m_IndicatorRow) return FieldDisplayText(*field);
    const std::vector<uint8_t>* image = Row(index.row());
    if (image == nullptr) return {};
    TVeltraTable* table = Table();
    if (table == nullptr) return {};
    try {
        return RowFieldText(*table, *field, *image);
    } catch (const std::exception&) {
        return {};
    }
}

QVariant TDBGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal) {
        if (role == Qt::DisplayRole && section >= 0 && section < m_Titles.size()) return m_Titles[section];
        return {};
    }
    if (role != Qt::DisplayRole) return {};
    if (section != m_IndicatorRow) return QString();
    TDataSet* ds = m_Link->DataSet();
    switch (ds != nullptr ? ds->State() : TDataSetState::Inactive) {
        case TDataSetState::Edit:
            return QStringLiteral("I");
        case TDataSetState::Insert:
            return QStringLiteral("*");
        default:
            return QString(QChar(0x25B6));
    }
}

Qt::ItemFlags TDBGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

}  // namespace veltra
