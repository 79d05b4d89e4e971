#include "users/admin/accessform.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "engine/veltra_table.h"
#include "platform/qt/app/application.h"
#include "platform/qt/controls/db_edit.h"
#include "platform/qt/controls/db_navigator.h"
#include "platform/qt/controls/db_radio_group.h"
#include "platform/qt/dialogs/dialogs.h"
#include "platform/qt/help/help_viewer.h"
#include "users/admin/admin_common.h"

namespace veltra {

namespace {

struct TRightsField {
    const char* Title;
    const char* Field;
    QStringList Captions;  // value i is the caption's index
};

const TRightsField* RightsFields() {
    static const TRightsField fields[5] = {
        {"Submit", "submit", {"Can submit new tickets", "Cannot submit new tickets"}},
        {"Edit",
         "edit",
         {"Edit any ticket", "Edit only if owner", "Edit only if submitter",
          "Edit if submitter or owner"}},
        {"Delete", "delete", {"Delete any ticket", "Cannot delete", "Delete if submitter"}},
        {"Close", "close", {"Close any ticket", "Cannot close", "Close if submitter"}},
        {"Assign",
         "assign",
         {"Assign any ticket", "Cannot assign", "Assign if owner", "Assign if submitter",
          "Assign if owner or submitter"}},
    };
    return fields;
}

// The value an empty rights field is stored as: 1 is the narrowest value of
// every rights field.
constexpr int kMostRestrictive = 1;

QString FieldText(TDataSet& dataSet, const char* field) {
    return QString::fromStdString(dataSet.FieldByName(field).AsString());
}

bool SameGroup(const QString& a, const QString& b) {
    return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

}  // namespace

Taccessform::Taccessform(QWidget* parent)
    : QDialog(parent),
      m_Groups(std::make_unique<TVeltraTable>()),
      m_Source(std::make_unique<TDataSource>()) {
    setObjectName("accessform");
    setWindowTitle("Access Levels");
    SetHelpTopic(this, 16);

    auto* rights = new QGridLayout;
    for (int i = 0; i < 5; ++i) {
        const TRightsField& f = RightsFields()[i];
        auto* group = new TDBRadioGroup(f.Title, this);
        group->setObjectName(QString("RadioGroup%1").arg(i + 1));
        group->setAccessibleName(f.Title);
        group->SetItems(f.Captions);
        QStringList values;
        for (int v = 0; v < f.Captions.size(); ++v) values << QString::number(v);
        group->SetValues(values);
        group->SetDataSource(m_Source.get());
        group->SetDataField(f.Field);
        m_Rights[i] = group;
        rights->addWidget(group, i / 3, i % 3);
    }
    m_Name = new TDBEdit(this);
    m_Name->setObjectName("DBEdit1");
    m_Name->SetDataSource(m_Source.get());
    m_Name->SetDataField("groupname");
    m_Navigator = new TDBNavigator(this);
    m_Navigator->setObjectName("navigator1");
    m_Navigator->SetDataSource(m_Source.get());
    m_Navigator->SetVisibleButtons({TNavigateButton::First, TNavigateButton::Prior,
                                    TNavigateButton::Next, TNavigateButton::Last,
                                    TNavigateButton::Insert, TNavigateButton::Delete});
    m_Navigator->SetConfirmDelete(true);
    m_Ok = new QPushButton("OK", this);
    m_Ok->setObjectName("okbtn");

    auto* name = new QFormLayout;
    name->addRow(BuddyLabel("&Group Name", m_Name, this), m_Name);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_Navigator);
    buttons->addStretch();
    buttons->addWidget(m_Ok);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(name);
    layout->addLayout(rights);
    layout->addLayout(buttons);

    connect(m_Ok, &QPushButton::clicked, this, &QDialog::accept);
}

Taccessform::~Taccessform() {
    for (TDBRadioGroup* group : m_Rights) group->SetDataSource(nullptr);
    m_Name->SetDataSource(nullptr);
    m_Navigator->SetDataSource(nullptr);
}

void Taccessform::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) RunGuarded([this] { FormShow(); });
}

void Taccessform::FormShow() {
    m_Groups->Close();
    m_Source->SetDataSet(m_Groups.get());
    m_Groups->SetTableName(GroupsTablePath().toStdString());
    m_Groups->SetIndexName("groupname");
    // The shared component carries the editor's rules only while the editor
    // is shown; its other users only read.
    m_Groups->AfterEdit = [this](TDataSet& d) { m_EditedName = FieldText(d, "groupname"); };
    m_Groups->BeforePost = [this](TDataSet& d) { BeforePost(d); };
    m_Groups->BeforeDelete = [this](TDataSet& d) { BeforeDelete(d); };
    m_Groups->Open();
    m_Name->setFocus();
}

bool Taccessform::ConfirmMembers(const QString& group, bool rename) {
    int members = 0;
    try {
        members = CountGroupMembers(group);
    } catch (...) {
        return true;  // the users cannot be counted: the change is not held up
    }
    if (members == 0) return true;
    const QString who =
        members == 1 ? QString("1 user belongs") : QString("%1 users belong").arg(members);
    return Dialogs().ConfirmOkCancel(
        this, QString("%1 to the group \"%2\". %3 it leaves them without a group: they cannot "
                      "start the program until they are assigned to another group. %4 the "
                      "group anyway?")
                  .arg(who, group.trimmed(), rename ? "Renaming" : "Deleting",
                       rename ? "Rename" : "Delete"));
}

void Taccessform::BeforePost(TDataSet& dataSet) {
    for (int i = 0; i < 5; ++i) {
        TField& field = dataSet.FieldByName(RightsFields()[i].Field);
        if (field.IsNull()) field.SetAsInteger(kMostRestrictive);
    }
    if (dataSet.State() != TDataSetState::Edit) return;
    const QString name = FieldText(dataSet, "groupname");
    if (SameGroup(name, m_EditedName)) return;
    if (!ConfirmMembers(m_EditedName, true)) {
        dataSet.FieldByName("groupname").SetAsString(m_EditedName.toStdString());
    }
}

void Taccessform::BeforeDelete(TDataSet& dataSet) {
    if (!ConfirmMembers(FieldText(dataSet, "groupname"), false)) throw EAbortCommand();
}

void Taccessform::done(int result) {
    if (m_Groups->State() == TDataSetState::Edit || m_Groups->State() == TDataSetState::Insert) {
        try {
            m_Groups->Post();
        } catch (...) {
            // Ignored: the change is lost when the table closes.
        }
    }
    RunGuarded([this] { m_Groups->Close(); });
    m_Groups->AfterEdit = nullptr;
    m_Groups->BeforePost = nullptr;
    m_Groups->BeforeDelete = nullptr;
    m_Source->SetDataSet(nullptr);
    QDialog::done(result);
}

}  // namespace veltra
