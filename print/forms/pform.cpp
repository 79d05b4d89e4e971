#include "print/forms/pform.h"

#include <QApplication>
#include <set>

#include "platform/qt/app/application.h"

namespace veltra {
namespace {

constexpr int kDetailWidth = 720;
constexpr int kDetailHeight = 300;
constexpr int kFirstRowTop = 16;
constexpr int kRowSpacing = 24;
constexpr int kLabelLeft = 30;
constexpr int kTextLeft = 134;

int RowTop(int index) { return kFirstRowTop + kRowSpacing * index; }

}  // namespace

Tpform::Tpform(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("pform");
    setWindowTitle("Detail report");
    m_Table.SetLockRetryCount(15);
    m_Table.SetLockWaitTime(100);

    m_Report.Title = "Ticket details";
    m_Report.Orientation = QPageLayout::Portrait;
    m_Report.DataSet = &m_Table;
    m_Report.Detail.Width = kDetailWidth;
    m_Report.Detail.Height = kDetailHeight;
    m_Report.Detail.NewPage = true;
    QFont bold = m_Report.DefaultFont;
    bold.setBold(true);
    for (int i = 0; i < kReportRows; ++i) {
        m_Labels[i] = m_Report.Detail.Add<TReportLabel>();
        m_Labels[i]->Left = kLabelLeft;
        m_Labels[i]->Top = RowTop(i);
        m_Labels[i]->Font = bold;
        m_Labels[i]->Enabled = false;
        m_Texts[i] = m_Report.Detail.Add<TReportDataText>();
        m_Texts[i]->Left = kTextLeft;
        m_Texts[i]->Top = RowTop(i);
        m_Texts[i]->Enabled = false;
    }
    m_Report.HasChild = true;
    m_Report.Child.Width = kDetailWidth;
    m_Report.Child.Height = 636;
    m_Rich = m_Report.Child.Add<TReportRichText>();
    m_Rich->Left = 40;
    m_Rich->Top = 16;
    m_Rich->Width = 647;
    m_Rich->Height = 593;
    m_Rich->Stretch = true;
    m_Rich->DataField = "All";

    m_Report.OnStartPage = [this](TReport&) { StartPage(); };
    m_Report.OnPreviewClosed = [this](TReport&) { m_Table.Close(); };
}

Tpform::~Tpform() = default;

void Tpform::StartPage() {
    int height = kDetailHeight;
    for (int i = 0; i < kReportRows; ++i) {
        if (!m_Labels[i]->Enabled) {
            height = RowTop(i) + 20;
            break;
        }
    }
    m_Report.Detail.Height = height;
}

bool Tpform::PrintDetail(const TPrintView& view, bool selectedOnly) {
    const TVeltraTable& main = *view.MainTable;
    m_Rich->DataField = view.PrintChangeHistory ? "All" : "Description";
    const bool opened = RunGuarded([&] {
        CopyView(main, m_Table);
        if (selectedOnly) {
            const TField* id = main.FindField("ID");
            const int64_t value = id && !id->IsNull() ? id->AsInteger() : 0;
            m_Table.SetFilter("ID = " + std::to_string(value));
            m_Table.SetFiltered(true);
        }
        m_Table.Open();
    });
    if (!opened) return false;

    for (int i = 0; i < kReportRows; ++i) {
        m_Labels[i]->Caption.clear();
        m_Labels[i]->Enabled = false;
        m_Texts[i]->Enabled = false;
    }
    std::set<int> placed;
    for (int i = 0; i < kReportRows; ++i) {
        int next = -1;
        for (int c = 0; c < view.Columns.size(); ++c) {
            if (view.Columns[c].Visible && !placed.count(c)) {
                next = c;
                break;
            }
        }
        if (next < 0) break;
        const TGridColumn& column = view.Columns[next];
        m_Labels[i]->Caption = column.Title.isEmpty() ? column.FieldName : column.Title;
        m_Texts[i]->DataField = column.FieldName;
        m_Labels[i]->Enabled = m_Texts[i]->Enabled = true;
        placed.insert(next);
    }

    // The report form itself is never shown: its windows belong to the one
    // the user works in.
    QWidget* owner = QApplication::activeWindow();
    if (view.Preview) m_Report.Preview(owner);
    else m_Report.Print(owner);
    return true;
}

}  // namespace veltra
