#include "users/admin/delusersform.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "engine/veltra_table.h"
#include "platform/qt/app/application.h"
#include "platform/qt/controls/db_grid.h"
#include "platform/qt/controls/db_navigator.h"
#include "platform/qt/help/help_viewer.h"
#include "users/admin/admin_common.h"
#include "users/user_context.h"

namespace veltra {

Tdelusersform::Tdelusersform(QWidget* parent)
    : QDialog(parent),
      m_Users(std::make_unique<TVeltraTable>()),
      m_Source(std::make_unique<TDataSource>()) {
    setObjectName("delusersform");
    setWindowTitle("Delete Log Users");
    SetHelpTopic(this, 15);
    m_Source->SetDataSet(m_Users.get());

    m_Grid = new TDBGrid(this);
    m_Grid->setObjectName("DBGrid1");
    m_Grid->setAccessibleName("Users");
    m_Grid->SetDataSource(m_Source.get());
    m_Grid->SetColumns({TGridColumn{"username", "", 0, true}});
    m_Navigator = new TDBNavigator(this);
    m_Navigator->setObjectName("navigator1");
    m_Navigator->SetDataSource(m_Source.get());
    m_Navigator->SetVisibleButtons({TNavigateButton::Delete});
    m_Confirm = new QCheckBox("&Confirm before deleting", this);
    m_Confirm->setObjectName("confirmbox");
    m_Confirm->setChecked(true);
    m_Close = new QPushButton("Close", this);
    m_Close->setObjectName("closebtn");

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_Navigator);
    buttons->addWidget(m_Confirm);
    buttons->addStretch();
    buttons->addWidget(m_Close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_Grid, 1);
    layout->addLayout(buttons);

    connect(m_Confirm, &QCheckBox::clicked, this, [this] {
        m_Navigator->SetConfirmDelete(m_Confirm->isChecked());
        m_Grid->setFocus();
    });
    connect(m_Close, &QPushButton::clicked, this, &QDialog::reject);
}

Tdelusersform::~Tdelusersform() {
    // The controls unlink from the source before the table goes.
    m_Grid->SetDataSource(nullptr);
    m_Navigator->SetDataSource(nullptr);
}

void Tdelusersform::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) RunGuarded([this] { FormShow(); });
}

void Tdelusersform::FormShow() {
    m_Navigator->SetConfirmDelete(m_Confirm->isChecked());
    m_Users->Close();
    m_Users->SetTableName(UsersTablePath().toStdString());
    m_Users->SetIndexName("username");
    m_Users->SetFilter(
        ("username <> " + QuotedFilterConstant(UserContext().AdminName)).toStdString());
    m_Users->Open();
    m_Users->SetFiltered(true);
    m_Grid->setFocus();
}

void Tdelusersform::done(int result) {
    RunGuarded([this] {
        m_Users->Close();
        m_Users->SetFiltered(false);
        m_Users->SetFilter("");
    });
    QDialog::done(result);
}

}  // namespace veltra
