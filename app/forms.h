// The program's windows, created once at start in this order and living
// until the program ends: the main window first, then every dialog, report
// and viewer. Each window reaches the others through Forms().
#pragma once

#include <memory>

namespace veltra {

class Tmainform;
class Teditform;
class Tdelfileform;
class Tdelusersform;
class Tsearchform;
class Tqueryform;
class Tgetdateform;
class Tprintallform;
class Tpform;
class Tfaqform;
class Tgetuserform2;
class Tadduserform;
class Tpasswordchangeform;
class Teditcategoryform;
class Tcboxform;
class Tpform2;
class Taboutforms;
class Taccessform;
class Tchgaccessform;
class TLayoutStore;

struct TForms {
    TForms();
    ~TForms();
    TForms(const TForms&) = delete;
    TForms& operator=(const TForms&) = delete;

    // The main window owns no other window: the dialogs are its children
    // (centred over it, destroyed before it), created in this order.
    std::unique_ptr<Tmainform> mainform;
    Teditform* editform = nullptr;
    Tdelfileform* delfileform = nullptr;
    Tdelusersform* delusersform = nullptr;
    Tsearchform* searchform = nullptr;
    Tqueryform* queryform = nullptr;
    Tgetdateform* getdateform = nullptr;
    Tprintallform* printallform = nullptr;
    Tpform* pform = nullptr;
    Tfaqform* faqform = nullptr;
    Tgetuserform2* getuserform2 = nullptr;
    Tadduserform* adduserform = nullptr;
    Tpasswordchangeform* passwordchangeform = nullptr;
    Teditcategoryform* editcategoryform = nullptr;
    Tcboxform* cboxform = nullptr;
    Tpform2* pform2 = nullptr;
    Taboutforms* aboutforms = nullptr;
    Taccessform* accessform = nullptr;
    Tchgaccessform* chgaccessform = nullptr;

    // The main window's layout in the settings file (DefaultLayoutFileName:
    // $XDG_CONFIG_HOME/veltra-log/kesh_1_1.ini): restored by its show step,
    // saved when it closes, and saved at destruction when it was not.
    std::unique_ptr<TLayoutStore> mainlayout;
    // The edit window's layout in the same file: restored at every showing,
    // saved when it closes.
    std::unique_ptr<TLayoutStore> editlayout;
};

// Creates every window in the order above, connects them (the query
// builder's input dialogs and lists, the category editor's save, the shared
// groups table, the main window's layout store) and makes the result the
// one Forms() returns until it is destroyed. Sets the program folder from
// the program file unless it was set before: the log deletion dialog, the
// query builder and the FAQ window take it at creation. Needs a
// QApplication.
std::unique_ptr<TForms> CreateForms();

// The windows of the running program; only valid while a TForms made by
// CreateForms lives.
TForms& Forms();

}  // namespace veltra
