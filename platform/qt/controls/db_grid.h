// TDBGrid: the data grid. A QTableView over a TDBGridModel that shows the
// rows of a data source's table with titles, a row indicator (the vertical
// header), column and row lines, whole-row selection and read-only cells.
//
// The selected row follows the dataset's current record, and choosing a row
// (click, arrow keys) moves the dataset there (SetRecNo); a move the dataset
// refuses (a pending post that fails) is shown in the error box and the
// selection returns to the current record.
//
// Columns: an ordered list of (field name, title, width, visible). The user
// reorders them by dragging titles and resizes them by dragging title
// borders; Columns() reports the order and widths as shown. A width of 0 or
// less means the default: the field's display width in average characters of
// the grid's font, at least the title's width. Without columns set (or after
// SetColumns with an empty list) the grid shows every field of the dataset
// with default widths. Rows and columns are never sized to their contents.
#pragma once

#include <QList>
#include <QString>
#include <QTableView>

#include "platform/qt/controls/db_grid_model.h"

namespace veltra {

struct TGridColumn {
    QString FieldName;
    QString Title;  // the field's display label when empty
    int Width = 0;  // pixels; 0 or less: the default
    bool Visible = true;
    bool operator==(const TGridColumn&) const = default;
};

class TDBGrid : public QTableView {
    Q_OBJECT
public:
    explicit TDBGrid(QWidget* parent = nullptr);
    ~TDBGrid() override;

    void SetDataSource(TDataSource* source);
    TDataSource* DataSource() const { return m_Model->DataSource(); }
    TDBGridModel* Model() const { return m_Model; }

    // The columns in the order shown, with their widths and titles now (a
    // column without its own title reports the field's label).
    QList<TGridColumn> Columns() const;
    void SetColumns(const QList<TGridColumn>& columns);
    // Shows or hides the columns of a field (every column whose trimmed
    // field name equals the trimmed name).
    void SetFieldVisible(const QString& fieldName, bool visible);

Q_SIGNALS:
    // A data row was double-clicked.
    void doubleClicked();

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void ApplyColumns();
    void DefaultColumns();
    int DefaultWidth(const TGridColumn& column) const;
    void FollowDataSet(int row);

    TDBGridModel* m_Model;
    QList<TGridColumn> m_Columns;  // model order
    bool m_DefaultColumns = true;
    bool m_Following = false;  // the selection is being moved to the dataset's record
};

}  // namespace veltra
