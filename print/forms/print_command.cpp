#include "print/forms/print_command.h"

#include "platform/qt/dialogs/dialogs.h"
#include "print/forms/pform.h"
#include "print/forms/pform2.h"
#include "print/forms/printallform.h"

namespace veltra {

void RunPrintCommand(TPrintCommand command, const TPrintView& view, Tprintallform& choice,
                     Tpform& detail, Tpform2& summary) {
    const bool all = command == TPrintCommand::PrintAll;
    if (all && Dialogs().Exec(choice) != QDialog::Accepted) return;
    if (all && choice.SummaryOnly()) {
        summary.PrintSummary(view);
        return;
    }
    detail.PrintDetail(view, !all);
}

}  // namespace veltra
