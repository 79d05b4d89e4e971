#include "platform/qt/controls/db_grid.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <algorithm>

#include "platform/qt/app/application.h"
#include "platform/qt/controls/field_text.h"

namespace veltra {

TDBGrid::TDBGrid(QWidget* parent) : QTableView(parent), m_Model(new TDBGridModel(this)) {
    setModel(m_Model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setTabKeyNavigation(false);
    horizontalHeader()->setSectionsMovable(true);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setHighlightSections(false);
    QHeaderView* rows = verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(fontMetrics().height() + 4);
    rows->setMinimumWidth(fontMetrics().horizontalAdvance(QChar(0x25B6)) + 8);
    rows->setMaximumWidth(rows->minimumWidth());
    rows->setSectionsClickable(false);
    rows->setHighlightSections(false);

    connect(m_Model, &TDBGridModel::currentRowChanged, this, [this](int row) { FollowDataSet(row); });
    connect(m_Model, &QAbstractItemModel::modelReset, this, [this] { FollowDataSet(m_Model->CurrentRow()); });
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int logical, int, int size) {
        if (size > 0 && logical >= 0 && logical < m_Columns.size()) m_Columns[logical].Width = size;
    });
    // Default columns follow the fields of whatever table opens.
    connect(m_Model, &QAbstractItemModel::rowsInserted, this, [this] {
        if (m_DefaultColumns && m_Columns.isEmpty()) DefaultColumns();
    });
}

TDBGrid::~TDBGrid() = default;

void TDBGrid::SetDataSource(TDataSource* source) {
    m_Model->SetDataSource(source);
    if (m_DefaultColumns) DefaultColumns();
    else ApplyColumns();
}

QList<TGridColumn> TDBGrid::Columns() const {
    QList<TGridColumn> shown;
    const QHeaderView* header = horizontalHeader();
    for (int visual = 0; visual < m_Columns.size(); ++visual) {
        const int logical = header->logicalIndex(visual);
        if (logical < 0 || logical >= m_Columns.size()) continue;
        TGridColumn c = m_Columns[logical];
        if (c.Title.isEmpty()) c.Title = m_Model->headerData(logical, Qt::Horizontal).toString();
        c.Visible = !header->isSectionHidden(logical);
        if (c.Visible) c.Width = header->sectionSize(logical);
        if (c.Width <= 0) c.Width = DefaultWidth(c);
        shown << c;
    }
    return shown;
}

void TDBGrid::SetColumns(const QList<TGridColumn>& columns) {
    m_DefaultColumns = columns.isEmpty();
    if (m_DefaultColumns) {
        DefaultColumns();
        return;
    }
    m_Columns = columns;
    ApplyColumns();
}

void TDBGrid::SetFieldVisible(const QString& fieldName, bool visible) {
    for (int i = 0; i < m_Columns.size(); ++i) {
        if (m_Columns[i].FieldName.trimmed() != fieldName.trimmed()) continue;
        m_Columns[i].Visible = visible;
        if (visible && m_Columns[i].Width <= 0) m_Columns[i].Width = DefaultWidth(m_Columns[i]);
        setColumnHidden(i, !visible);
        if (visible) setColumnWidth(i, m_Columns[i].Width);
    }
}

void TDBGrid::DefaultColumns() {
    m_Columns.clear();
    if (TDataSet* ds = DataSource() != nullptr ? DataSource()->DataSet() : nullptr; ds && ds->Active()) {
        for (const auto& f : ds->Fields()) {
            if (f->Visible) m_Columns << TGridColumn{QString::fromStdString(f->FieldName())};
        }
    }
    ApplyColumns();
}

int TDBGrid::DefaultWidth(const TGridColumn& column) const {
    const QFontMetrics fm = fontMetrics();
    TField* field = nullptr;
    if (TDataSet* ds = DataSource() != nullptr ? DataSource()->DataSet() : nullptr; ds && ds->Active()) {
        field = ds->FindField(column.FieldName.toStdString());
    }
    const QString title = !column.Title.isEmpty() ? column.Title
                          : field != nullptr      ? FieldDisplayLabel(*field)
                                                  : column.FieldName;
    const int chars = field != nullptr ? FieldDisplayWidth(*field) : 10;
    return std::max(chars * fm.averageCharWidth(), fm.horizontalAdvance(title)) + 8;
}

void TDBGrid::ApplyColumns() {
    QStringList names, titles;
    for (const TGridColumn& c : m_Columns) {
        names << c.FieldName;
        TField* field = nullptr;
        if (TDataSet* ds = DataSource() != nullptr ? DataSource()->DataSet() : nullptr; ds && ds->Active()) {
            field = ds->FindField(c.FieldName.toStdString());
        }
        titles << (!c.Title.isEmpty() ? c.Title : field != nullptr ? FieldDisplayLabel(*field) : c.FieldName);
    }
    m_Model->SetColumns(names, titles);
    QHeaderView* header = horizontalHeader();
    // Back to the given order: visual position i shows logical column i.
    for (int i = 0; i < m_Columns.size(); ++i) {
        const int visual = header->visualIndex(i);
        if (visual != i && visual >= 0) header->moveSection(visual, i);
    }
    for (int i = 0; i < m_Columns.size(); ++i) {
        const int width = m_Columns[i].Width > 0 ? m_Columns[i].Width : DefaultWidth(m_Columns[i]);
        setColumnHidden(i, false);
        setColumnWidth(i, width);
        setColumnHidden(i, !m_Columns[i].Visible);
    }
    FollowDataSet(m_Model->CurrentRow());
}

void TDBGrid::FollowDataSet(int row) {
    QItemSelectionModel* sel = selectionModel();
    if (sel == nullptr) return;
    m_Following = true;
    if (row < 0) {
        sel->clear();
    } else {
        int column = currentIndex().isValid() ? currentIndex().column() : 0;
        for (int i = 0; i < m_Columns.size() && isColumnHidden(column); ++i) column = i;
        const QModelIndex target = m_Model->index(row, std::max(0, column));
        sel->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        scrollTo(target);
    }
    m_Following = false;
}

void TDBGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    QTableView::mouseDoubleClickEvent(event);
    if (indexAt(event->position().toPoint()).isValid()) Q_EMIT doubleClicked();
}

void TDBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (m_Following || !current.isValid()) return;
    TDataSet* ds = DataSource() != nullptr ? DataSource()->DataSet() : nullptr;
    if (ds == nullptr || !ds->Active()) return;
    if (current.row() == m_Model->CurrentRow()) return;
    const int target = current.row();
    RunGuarded([&] { ds->SetRecNo(int64_t(target) + 1); });
    // Whether the move succeeded or not, the selection shows the record the
    // dataset is on.
    FollowDataSet(m_Model->CurrentRow());
}

}  // namespace veltra
