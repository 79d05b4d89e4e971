#include "app/forms.h"

#include <cassert>
#include <exception>

#include "app/aboutforms.h"
#include "app/dialogs/cboxform.h"
#include "app/dialogs/delfileform.h"
#include "app/dialogs/editcategoryform.h"
#include "app/dialogs/faqform.h"
#include "app/dialogs/getdateform.h"
#include "app/dialogs/queryform.h"
#include "app/dialogs/searchform.h"
#include "app/edit/editform.h"
#include "app/layout/layout_store.h"
#include "app/mainform.h"
#include "app/program_folder.h"
#include "platform/qt/dialogs/dialogs.h"
#include "print/forms/pform.h"
#include "print/forms/pform2.h"
#include "print/forms/printallform.h"
#include "users/admin/accessform.h"
#include "users/admin/adduserform.h"
#include "users/admin/chgaccessform.h"
#include "users/admin/delusersform.h"
#include "users/admin/passwordchangeform.h"
#include "users/getuserform2.h"

namespace veltra {

namespace {
TForms* g_Forms = nullptr;
}

TForms::TForms() = default;

TForms::~TForms() {
    if (g_Forms == this) g_Forms = nullptr;
    if (mainlayout) {
        try {
            mainlayout->SaveAtDestroy();
        } catch (const std::exception&) {
            // Nothing can be shown any more at this point; the layout of the
            // last run stays as it was.
        }
        mainlayout.reset();
    }
    editlayout.reset();
    // The dialogs are children of the main window and go with it.
    mainform.reset();
}

std::unique_ptr<TForms> CreateForms() {
    // The dialogs that work on files of the program folder take it at
    // creation: it must be known before they are made.
    SetProgramFolderFromProgramFile();
    const QString folder = ProgramFolder();
    auto forms = std::make_unique<TForms>();
    g_Forms = forms.get();
    TForms& f = *forms;
    f.mainform = std::make_unique<Tmainform>();
    Tmainform* main = f.mainform.get();
    f.editform = new Teditform(&main->DataSource1(), main);
    f.delfileform = new Tdelfileform(folder, main);
    f.delusersform = new Tdelusersform(main);
    f.searchform = new Tsearchform(main->table1(), main);
    f.queryform = new Tqueryform(main->table1(), folder, main);
    f.getdateform = new Tgetdateform(main);
    f.printallform = new Tprintallform(main);
    f.pform = new Tpform(main);
    f.faqform = new Tfaqform(folder, main);
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
    // The query builder asks its values through the program's date and pick
    // dialogs and offers the edit window's lists; applying a query shows
    // the main window's "Close Query".
    f.queryform->SetInputDialogs(f.getdateform, f.cboxform);
    f.queryform->PickItems = [edit](TQueryPickList list) {
        switch (list) {
            case TQueryPickList::Submitter:
                return edit->SubmitterItems();
            case TQueryPickList::State:
                return edit->StateItems();
            case TQueryPickList::Category:
                return edit->CategoryItems();
        }
        return QStringList();
    };
    f.queryform->OnQueryApplied = [main] { main->QueryApplied(); };
    // A saved category list is the edit window's Category list at once.
    f.editcategoryform->OnSaved = [edit](const QStringList& lines) { edit->SetCategories(lines); };
    // One groups table component for every user of sys2.dat.
    f.adduserform->SetGroupsTable(&f.accessform->GroupsTable());
    f.chgaccessform->SetGroupsTable(&f.accessform->GroupsTable());
    // A missing users table ends the program as a refused login does.
    f.adduserform->EndApplication = [main] { main->EndProgram(); };

    f.mainlayout = std::make_unique<TLayoutStore>(*main);
    f.mainlayout->SetMainWindow(true);
    TLayoutStore* layout = f.mainlayout.get();
    main->RestoreLayout = [layout](Tmainform&) { layout->Restore(); };
    main->SaveLayout = [layout](Tmainform& window) {
        try {
            layout->Save();
        } catch (const std::exception& error) {
            // "Unable to write to ..."; the window still closes.
            Dialogs().Error(&window, QString::fromUtf8(error.what()));
        }
    };
    f.editlayout = std::make_unique<TLayoutStore>(*edit);
    TLayoutStore* editLayout = f.editlayout.get();
    edit->RestoreLayout = [editLayout](Teditform&) { editLayout->Restore(); };
    edit->SaveLayout = [editLayout](Teditform& window) {
        try {
            editLayout->Save();
        } catch (const std::exception& error) {
            // "Unable to write to ..."; the window still closes.
            Dialogs().Error(&window, QString::fromUtf8(error.what()));
        }
    };
    return forms;
}

TForms& Forms() {
    assert(g_Forms != nullptr);
    return *g_Forms;
}

}  // namespace veltra
