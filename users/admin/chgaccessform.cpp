#include "users/admin/chgaccessform.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "engine/veltra_table.h"
#include "platform/qt/app/application.h"
#include "platform/qt/controls/db_combo_box.h"
#include "platform/qt/controls/db_grid.h"
#include "platform/qt/help/help_viewer.h"
#include "users/admin/admin_common.h"

namespace veltra {

Tchgaccessform::Tchgaccessform(QWidget* parent)
    : QDialog(parent),
      m_Users(std::make_unique<TVeltraTable>()),
      m_Source(std::make_unique<TDataSource>()) {
    setObjectName("chgaccessform");
    setWindowTitle("User Access Level");
    SetHelpTopic(this, 17);
    m_Source->SetDataSet(m_Users.get());

    m_Grid = new TDBGrid(this);
    m_Grid->setObjectName("DBGrid1");
    m_Grid->SetDataSource(m_Source.get());
    m_Grid->SetColumns({TGridColumn{"username", "", 0, true}});
    m_Group = new TDBComboBox(this);
    m_Group->setObjectName("DBComboBox1");
    m_Group->SetEditable(false);
    m_Group->SetDataSource(m_Source.get());
    m_Group->SetDataField("groupname");
    m_Close = new QPushButton("Close", this);
    m_Close->setObjectName("closebtn");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(BuddyLabel("&Users", m_Grid, this));
    layout->addWidget(m_Grid, 1);
    layout->addWidget(BuddyLabel("&Access Level", m_Group, this));
    layout->addWidget(m_Group);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_Close);
    layout->addLayout(buttons);

    connect(m_Close, &QPushButton::clicked, this, &QDialog::reject);
}

Tchgaccessform::~Tchgaccessform() {
    m_Grid->SetDataSource(nullptr);
    m_Group->SetDataSource(nullptr);
}

TVeltraTable& Tchgaccessform::Groups() {
    if (m_Groups) return *m_Groups;
    if (!m_OwnGroups) m_OwnGroups = std::make_unique<TVeltraTable>();
    return *m_OwnGroups;
}

void Tchgaccessform::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) RunGuarded([this] { FormShow(); });
}

void Tchgaccessform::FormShow() {
    const QStringList names = ReadGroupNames(Groups());
    Groups().Close();
    m_Group->SetItems(names);
    if (!names.isEmpty()) m_Group->setCurrentIndex(0);
    m_Users->Close();
    m_Users->SetTableName(UsersTablePath().toStdString());
    m_Users->SetIndexName("username");
    m_Users->SetFilter("admin = false");
    m_Users->Open();
    m_Users->SetFiltered(true);
    m_Grid->setFocus();
}

void Tchgaccessform::done(int result) {
    if (m_Users->State() == TDataSetState::Edit || m_Users->State() == TDataSetState::Insert) {
        try {
            m_Users->Post();
        } catch (...) {
            // Ignored: the change is lost when the table closes.
        }
    }
    RunGuarded([this] {
        m_Users->Close();
        m_Users->SetFiltered(false);
        m_Users->SetFilter("");
    });
    QDialog::done(result);
}

}  // namespace veltra
