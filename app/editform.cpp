#include "app/editform.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/qt/controls/db_combo_box.h"
#include "platform/qt/controls/db_date_edit.h"
#include "platform/qt/controls/db_edit.h"
#include "platform/qt/help/help_viewer.h"

namespace veltra {

namespace {

template <class T>
T* Bound(TDataSource* source, const char* field, const char* objectName, QWidget* parent) {
    auto* control = new T(parent);
    control->setObjectName(objectName);
    control->SetDataSource(source);
    control->SetDataField(field);
    return control;
}

}  // namespace

Teditform::Teditform(TDataSource* source, QWidget* parent) : QDialog(parent) {
    setObjectName("editform");
    setWindowTitle("Submit/Edit Ticket");
    SetHelpTopic(this, 4);

    m_Title = Bound<TDBEdit>(source, "Title", "titleedit", this);
    m_Category = Bound<TDBComboBox>(source, "Category", "categorybox", this);
    m_Category->SetEditable(true);
    m_Priority = Bound<TDBEdit>(source, "Priority", "priorityedit", this);
    m_Other = Bound<TDBEdit>(source, "Other", "otheredit", this);
    m_State = Bound<TDBComboBox>(source, "State", "statebox", this);
    m_State->SetEditable(true);
    m_State->SetItems({"Open", "Under investigation", "Close pending", "Closed"});
    m_CloseDate = Bound<TDBDateEdit>(source, "Close date", "closedateedit", this);
    m_Owner = Bound<TDBComboBox>(source, "Owner", "ownerbox", this);
    m_Owner->SetEditable(true);
    m_Owner->SetSorted(true);
    m_Submitter = Bound<TDBComboBox>(source, "Submitter", "submitterbox", this);
    m_Submitter->SetEditable(true);
    m_Submitter->SetSorted(true);
    m_SubmitDate = Bound<TDBDateEdit>(source, "Submit date", "submitdateedit", this);

    auto* fields = new QFormLayout;
    auto add = [&](const QString& caption, QWidget* control) {
        auto* label = new QLabel(caption, this);
        label->setBuddy(control);
        control->setAccessibleName(QString(caption).remove('&'));
        fields->addRow(label, control);
    };
    add("&Title", m_Title);
    add("&Category", m_Category);
    add("&Priority", m_Priority);
    add("Ot&her", m_Other);
    add("&State", m_State);
    add("C&lose date", m_CloseDate);
    add("&Owner", m_Owner);
    add("Su&bmitter", m_Submitter);
    add("Submit &date", m_SubmitDate);

    m_Ok = new QPushButton("OK", this);
    m_Ok->setObjectName("okbtn");
    m_Ok->setDefault(true);
    m_Cancel = new QPushButton("Cancel", this);
    m_Cancel->setObjectName("cancelbtn");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_Ok);
    buttons->addWidget(m_Cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addLayout(buttons);
    connect(m_Ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_Cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void Teditform::SetUserNames(const QStringList& names) {
    m_Submitter->SetItems(names);
    m_Owner->SetItems(names);
}

void Teditform::SetCategories(const QStringList& categories) { m_Category->SetItems(categories); }

void Teditform::SetAdministrator(bool admin) {
    m_Submitter->setEnabled(admin);
    m_SubmitDate->setEnabled(admin);
}

}  // namespace veltra
