#include "print/forms/pform2.h"

#include <QApplication>

#include "platform/qt/app/application.h"

namespace veltra {
namespace {

constexpr int kBandWidth = 960;
constexpr int kColumnGap = 3;

}  // namespace

Tpform2::Tpform2(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("pform2");
    setWindowTitle("Summary report");
    m_Table.SetLockRetryCount(15);
    m_Table.SetLockWaitTime(100);

    m_Report.Title = "Ticket summary";
    m_Report.Orientation = QPageLayout::Landscape;
    m_Report.DataSet = &m_Table;
    m_Report.HasColumnHeader = true;
    m_Report.ColumnHeader.Width = kBandWidth;
    m_Report.ColumnHeader.Height = 40;
    m_Report.Detail.Width = kBandWidth;
    m_Report.Detail.Height = 33;
    QFont bold = m_Report.DefaultFont;
    bold.setBold(true);
    for (int i = 0; i < kReportRows; ++i) {
        for (TReportItem* item : {static_cast<TReportItem*>(m_Headings[i] =
                                      m_Report.ColumnHeader.Add<TReportLabel>()),
                                  static_cast<TReportItem*>(m_Texts[i] =
                                      m_Report.Detail.Add<TReportDataText>())}) {
            item->Top = 8;
            item->AutoSize = true;
            item->WordWrap = true;
            item->Stretch = true;
            item->Enabled = false;
        }
        m_Headings[i]->Font = bold;
    }
}

Tpform2::~Tpform2() = default;

bool Tpform2::PrintSummary(const TPrintView& view) {
    const bool opened = RunGuarded([&] {
        CopyView(*view.MainTable, m_Table);
        m_Table.Open();
    });
    if (!opened) return false;

    for (int i = 0; i < kReportRows; ++i) {
        m_Headings[i]->Caption.clear();
        m_Headings[i]->Enabled = false;
        m_Texts[i]->Enabled = false;
    }
    int x = 0;
    for (const TGridColumn& column : view.Columns) {
        if (!column.Visible) continue;
        TReportLabel* heading = nullptr;
        TReportDataText* text = nullptr;
        for (int i = 0; i < kReportRows; ++i) {
            if (m_Headings[i]->Caption.isEmpty()) {
                heading = m_Headings[i];
                text = m_Texts[i];
                break;
            }
        }
        if (!heading) break;
        // A column without a title would leave its slot looking free; the
        // field name stands in, as the grid shows it.
        heading->Caption = column.Title.isEmpty() ? column.FieldName : column.Title;
        heading->Enabled = text->Enabled = true;
        heading->Left = text->Left = x;
        heading->Width = text->Width = column.Width;
        text->DataField = column.FieldName;
        x += column.Width + kColumnGap;
    }

    QWidget* owner = QApplication::activeWindow();
    if (view.Preview) m_Report.Preview(owner);
    else m_Report.Print(owner);
    return true;
}

}  // namespace veltra
