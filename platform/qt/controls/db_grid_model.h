// TDBGridModel: a table model over the rows of a table component
// (TVeltraTable) for TDBGrid. It never loads the whole table: the row count
// is the table's visible record count, and a row is read (through a
// TRowReader, by its logical record number in the active index and filter)
// only when the view asks for one of its cells; the last kRowCacheSize rows
// read are kept.
//
// Row r (0-based) is the record with logical number r + 1, the dataset's
// RecNo. The current record's row shows the dataset's active buffer, so a
// record being edited shows its new values at once. The vertical header is
// the row indicator: a triangle on the current row in browse state, "I" in
// edit state and "*" in insert state, nothing on other rows.
//
// Columns are fields by name with titles; a column whose field the dataset
// lacks shows empty cells. Cells cannot be edited. Engine errors while a row
// is read leave its cells empty (a grid repaint is no place for an error box);
// the error reaches the user through the dataset operation that follows.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <cstdint>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

#include "platform/dataset.h"

namespace veltra {

class TRowReader;
class TVeltraTable;

class TDBGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr size_t kRowCacheSize = 256;

    explicit TDBGridModel(QObject* parent = nullptr);
    ~TDBGridModel() override;

    void SetDataSource(TDataSource* source);
    TDataSource* DataSource() const;
    // The table shown, nullptr when the source's dataset is not an open table.
    TVeltraTable* Table() const;

    // The columns: field names and titles, in model order (a reset).
    void SetColumns(const QStringList& fieldNames, const QStringList& titles);
    const QStringList& FieldNames() const { return m_FieldNames; }
    // The field of column `column` in the open dataset (nullptr when none).
    TField* FieldOf(int column) const;

    // The row of the current record, -1 when there is none.
    int CurrentRow() const;
    // Rows read from the table since the model was made (for tests and
    // diagnostics: how much of the table the view has touched).
    int64_t ReadCount() const { return m_ReadCount; }
    // Reads the table's row count and view again and drops the cached rows.
    void Reload();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

Q_SIGNALS:
    // The dataset moved to another record (or its state changed the indicator).
    void currentRowChanged(int row);

private:
    class TLink;
    const std::vector<uint8_t>* Row(int row) const;
    void DropCache() const;
    void CurrentChanged();

    std::unique_ptr<TLink> m_Link;
    std::unique_ptr<TRowReader> m_Reader;
    QStringList m_FieldNames;
    QStringList m_Titles;
    int m_RowCount = 0;
    int m_IndicatorRow = -1;
    mutable int64_t m_ReadCount = 0;
    mutable std::list<int> m_Lru;  // most recently used first
    struct TCached {
        std::vector<uint8_t> Image;
        bool Found = false;
        std::list<int>::iterator Position;
    };
    mutable std::unordered_map<int, TCached> m_Cache;
};

}  // namespace veltra
