#include "app/dialogs/queryform.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/dialogs/cboxform.h"
#include "app/dialogs/getdateform.h"
#include "engine/veltra_table.h"
#include "platform/locale_services.h"
#include "platform/qt/app/application.h"
#include "platform/qt/dialogs/dialogs.h"
#include "platform/qt/help/help_viewer.h"

namespace veltra {

namespace {

const QString kQueryFilter = "Saved Query Files (*.qry)";
const QString kQueryExtension = "qry";

}  // namespace

Tqueryform::Tqueryform(TVeltraTable& table, const QString& programFolder, QWidget* parent)
    : QDialog(parent), m_Table(table), m_QueryFolder(QDir(programFolder).filePath("data")) {
    setObjectName("queryform");
    setWindowTitle("Query");
    SetHelpTopic(this, 9);

    auto* fieldsLabel = new QLabel("Fields available to query", this);
    m_Fields = new QListWidget(this);
    m_Fields->setObjectName("listbox1");
    m_Fields->setAccessibleName("Fields available to query");
    fieldsLabel->setBuddy(m_Fields);
    auto* queryLabel = new QLabel("Query list", this);
    m_Query = new QListWidget(this);
    m_Query->setObjectName("listbox2");
    m_Query->setAccessibleName("Query list");
    queryLabel->setBuddy(m_Query);
    QFont fixed("Courier New");
    fixed.setStyleHint(QFont::TypeWriter);
    m_Query->setFont(fixed);  // the 8-character connectives line the conditions up

    auto* compare = new QVBoxLayout;
    compare->addStretch();
    for (const char* op : {"=", "<>", ">", "<"}) {
        QPushButton* b = AddButton(op, "comparebtn");
        compare->addWidget(b);
        connect(b, &QPushButton::clicked, this, Guarded([this, op](bool) { CompareClick(op); }));
    }
    compare->addStretch();

    auto* connectives = new QHBoxLayout;
    for (const char* caption : {"AND", "AND NOT", "OR"}) {
        QPushButton* b = AddButton(caption, "connectivebtn");
        connectives->addWidget(b);
        connect(b, &QPushButton::clicked, this,
                Guarded([this, caption](bool) { ConnectiveClick(caption); }));
    }
    connectives->addStretch();

    auto* commands = new QHBoxLayout;
    const struct {
        const char* Caption;
        const char* Name;
        void (Tqueryform::*Action)();
    } kCommands[] = {{"Delete", "deletebtn", &Tqueryform::DeleteClick},
                     {"Clear", "clearbtn", nullptr},
                     {"Execute", "executebtn", &Tqueryform::ExecuteClick},
                     {"Save", "savebtn", &Tqueryform::SaveClick},
                     {"Open", "openbtn", &Tqueryform::OpenClick}};
    for (const auto& c : kCommands) {
        QPushButton* b = AddButton(c.Caption, c.Name);
        commands->addWidget(b);
        if (c.Action != nullptr)
            connect(b, &QPushButton::clicked, this,
                    Guarded([this, a = c.Action](bool) { (this->*a)(); }));
    }
    connect(Button("Clear"), &QPushButton::clicked, m_Query, &QListWidget::clear);
    commands->addStretch();
    QPushButton* cancel = AddButton("Cancel", "cancelbtn");
    commands->addWidget(cancel);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* grid = new QGridLayout(this);
    grid->addWidget(fieldsLabel, 0, 0);
    grid->addWidget(queryLabel, 0, 2);
    grid->addWidget(m_Fields, 1, 0);
    grid->addLayout(compare, 1, 1);
    grid->addWidget(m_Query, 1, 2);
    grid->addLayout(connectives, 2, 2);
    grid->addLayout(commands, 3, 0, 1, 3);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(2, 3);
    resize(640, 340);
}

QPushButton* Tqueryform::AddButton(const QString& caption, const char* name) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    m_Buttons << b;
    return b;
}

QPushButton* Tqueryform::Button(const QString& caption) const {
    for (QPushButton* b : m_Buttons)
        if (b->text() == caption) return b;
    return nullptr;
}

void Tqueryform::SetInputDialogs(Tgetdateform* dateForm, Tcboxform* pickForm) {
    m_DateForm = dateForm;
    m_PickForm = pickForm;
}

Tgetdateform& Tqueryform::DateForm() {
    if (m_DateForm == nullptr) m_DateForm = new Tgetdateform(this);
    return *m_DateForm;
}

Tcboxform& Tqueryform::PickForm() {
    if (m_PickForm == nullptr) m_PickForm = new Tcboxform(this);
    return *m_PickForm;
}

void Tqueryform::SetFields(const QStringList& entries) {
    m_Fields->clear();
    m_Fields->addItems(entries);
}

QStringList Tqueryform::Fields() const {
    QStringList entries;
    for (int i = 0; i < m_Fields->count(); ++i) entries << m_Fields->item(i)->text();
    return entries;
}

QStringList Tqueryform::QueryLines() const {
    QStringList lines;
    for (int i = 0; i < m_Query->count(); ++i) lines << m_Query->item(i)->text();
    return lines;
}

void Tqueryform::SetQueryLines(const QStringList& lines) {
    m_Query->clear();
    m_Query->addItems(lines);
}

void Tqueryform::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_Fields->count() > 0) m_Fields->setCurrentRow(0);
    m_Fields->setFocus();
}

std::optional<QString> Tqueryform::AskValue(const QString& entry, const QString& op) {
    switch (QueryValueKind(entry)) {
        case TQueryValueKind::Text: {
            const auto answer = Dialogs().Prompt(this, entry, entry + " " + op + " :", "", false);
            if (!answer) return std::nullopt;
            return TextValue(op, *answer);
        }
        case TQueryValueKind::Integer: {
            const auto answer = Dialogs().Prompt(this, entry, entry + " " + op + " :", "", false);
            if (!answer) return std::nullopt;
            const auto value = IntegerValue(*answer);
            if (!value) Dialogs().Error(this, "Integer value expected");
            return value;
        }
        case TQueryValueKind::Date: {
            Tgetdateform& form = DateForm();
            if (Dialogs().Exec(form) != QDialog::Accepted) return std::nullopt;
            return DateValue(form.DateText());
        }
        case TQueryValueKind::Pick: {
            Tcboxform& form = PickForm();
            form.Clear();
            if (PickItems) form.AddItems(PickItems(QueryPickList(entry)));
            form.setWindowTitle(entry);
            form.SetText(QString());
            if (Dialogs().Exec(form) != QDialog::Accepted) return std::nullopt;
            return PickValue(form.Text());
        }
        case TQueryValueKind::None:
            break;
    }
    return std::nullopt;
}

void Tqueryform::CompareClick(const QString& op) {
    const QListWidgetItem* field = m_Fields->currentItem();
    if (field == nullptr || !field->isSelected()) return;
    const QString entry = field->text();
    const auto value = AskValue(entry, op);
    if (!value) return;
    m_Query->addItem(NewQueryLine(m_Query->count(), Condition(entry, op, *value)));
}

void Tqueryform::ConnectiveClick(const QString& caption) {
    QListWidgetItem* line = m_Query->currentItem();
    if (line == nullptr || !line->isSelected() || m_Query->row(line) == 0) return;
    line->setText(WithConnective(line->text(), caption));
}

void Tqueryform::DeleteClick() {
    const QListWidgetItem* line = m_Query->currentItem();
    const int row = line != nullptr && line->isSelected() ? m_Query->row(line) : -1;
    SetQueryLines(RemoveQueryLine(QueryLines(), row));
}

void Tqueryform::ExecuteClick() {
    // SetFilter raises for a text the engine refuses and keeps the previous
    // filter; the main window is told only once the new one is in force.
    m_Table.SetFilter(Utf8ToCp1252(QueryFilterText(QueryLines()).toStdString()));
    m_Table.SetFiltered(true);
    if (OnQueryApplied) OnQueryApplied();
    accept();
}

void Tqueryform::SaveClick() {
    const auto path =
        Dialogs().SaveFileName(this, "Save Query", m_QueryFolder, kQueryFilter, kQueryExtension);
    if (!path) return;
    WriteQueryFile(*path, QueryLines());
}

void Tqueryform::OpenClick() {
    const auto path =
        Dialogs().OpenFileName(this, "Open Query", m_QueryFolder, kQueryFilter, kQueryExtension);
    if (!path) return;
    SetQueryLines(ReadQueryFile(*path));
}

}  // namespace veltra
