// The print command shared by "Print &All" and "&Print Selected"
// (`SpeedButton1Click` of the main window, which repaints its grid after it).
//
// "Print &All" first runs the print choice dialog through the dialogs
// service and prints nothing unless it closes with OK; then it prints the
// summary when "Summary Only" is checked, else every ticket of the view in
// detail. "&Print Selected" prints the current ticket in detail, with no
// dialog. See print_view.h for what the view must hold.
#pragma once

#include "print/forms/print_view.h"

namespace veltra {

class Tprintallform;
class Tpform;
class Tpform2;

enum class TPrintCommand { PrintAll, PrintSelected };

void RunPrintCommand(TPrintCommand command, const TPrintView& view, Tprintallform& choice,
                     Tpform& detail, Tpform2& summary);

}  // namespace veltra
