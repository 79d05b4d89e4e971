#include "app/forms.h"

#include <cassert>

#include "app/aboutforms.h"
#include "app/cboxform.h"
#include "app/delfileform.h"
#include "app/editcategoryform.h"
#include "app/edit/editform.h"
#include "app/faqform.h"
#include "app/getdateform.h"
#include "app/mainform.h"
#include "app/queryform.h"
#include "app/searchform.h"
#include "print/pform.h"
#include "print/pform2.h"
#include "print/printallform.h"
#include "users/accessform.h"
#include "users/adduserform.h"
#include "users/chgaccessform.h"
#include "users/delusersform.h"
#include "users/getuserform2.h"
#include "users/passwordchangeform.h"

namespace veltra {

namespace {
TForms* g_Forms = nullptr;
}

TForms::TForms() = default;

TForms::~TForms() {
    if (g_Forms == this) g_Forms = nullptr;
    // The dialogs are children of the main window and go with it.
    mainform.reset();
}

std::unique_ptr<TForms> CreateForms() {
    auto forms = std::make_unique<TForms>();
    g_Forms = forms.get();
    TForms& f = *forms;
    f.mainform = std::make_unique<Tmainform>();
    Tmainform* main = f.mainform.get();
    f.editform = new Teditform(&main->DataSource1(), main);
    f.delfileform = new Tdelfileform(main);
    f.delusersform = new Tdelusersform(main);
    f.searchform = new Tsearchform(main);
    f.queryform = new Tqueryform(main);
    f.getdateform = new Tgetdateform(main);
    f.printallform = new Tprintallform(main);
    f.pform = new Tpform(main);
    f.faqform = new Tfaqform(main);
    f.getuserform2 = new Tgetuserform2(main);
    f.adduserform = new Tadduserform(main);
    f.passwordchangeform = new Tpasswordchangeform(main);
    f.editcategoryform = new Teditcategoryform(main);
    f.cboxform = new Tcboxform(main);
    f.pform2 = new Tpform2(main);
    f.aboutforms = new Taboutforms(main);
    f.accessform = new Taccessform(main);
    f.chgaccessform = new Tchgaccessform(main);
    Teditform* edit = f.editform;
    f.getuserform2->OnUserNames = [edit](const QStringList& names) { edit->SetUserNames(names); };
    return forms;
}

TForms& Forms() {
    assert(g_Forms != nullptr);
    return *g_Forms;
}

}  // namespace veltra
