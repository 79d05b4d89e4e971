#include "print/forms/print_view.h"

namespace veltra {

void CopyView(const TVeltraTable& main, TVeltraTable& report) {
    // A closed table only keeps these settings; the filter is compiled when
    // it opens.
    report.Close();
    report.SetTableName(main.TableName());
    report.SetIndexName(main.IndexName());
    report.SetFilterOptions(main.FilterOptions());
    report.SetFilter(main.Filter());
    report.SetFiltered(main.Filtered());
}

}  // namespace veltra
