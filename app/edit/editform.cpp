#include "app/edit/editform.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QSplitter>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/edit/rich_toolbar.h"
#include "platform/dataset.h"
#include "platform/qt/app/application.h"
#include "platform/qt/controls/db_combo_box.h"
#include "platform/qt/controls/db_date_edit.h"
#include "platform/qt/controls/db_edit.h"
#include "platform/qt/controls/db_rich_edit.h"
#include "platform/qt/dialogs/dialogs.h"
#include "platform/qt/help/help_viewer.h"

namespace veltra {

namespace {

const QStringList& StateEntries() {
    static const QStringList states = {"Open", "Under investigation", "Close pending", "Closed"};
    return states;
}

// Days since 1899-12-30, the dataset's form of a date.
double DateValue(const QDate& date) {
    return static_cast<double>(QDate(1899, 12, 30).daysTo(date));
}

QLabel* AddLabel(QGridLayout* grid, QWidget* control, const QString& text, int row, int column) {
    auto* label = new QLabel(text);
    label->setBuddy(control);
    control->setAccessibleName(text);
    grid->addWidget(label, row, column);
    grid->addWidget(control, row, column + 1);
    return label;
}

}  // namespace

Teditform::Teditform(TDataSource* source, QWidget* parent) : QDialog(parent) {
    setObjectName("editform");
    setWindowTitle("Submit/Edit Ticket");
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    setFont(QFont("Arial", 9));
    SetHelpTopic(this, 4);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(4);

    m_Editor = new TDBRichEdit;
    m_Editor->setObjectName("RichEdit1");
    m_Editor->setAccessibleName("Description");
    m_Editor->setTabChangesFocus(false);  // Tab is text
    m_Editor->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_Editor->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_Editor->SetBaseFont(QFont("Arial", 10));

    m_Toolbar = new TRichToolbar(m_Editor, this);
    layout->addWidget(m_Toolbar);

    m_Splitter = new QSplitter(Qt::Vertical, this);
    m_Splitter->setObjectName("Splitter1");
    m_Splitter->setChildrenCollapsible(false);
    layout->addWidget(m_Splitter, 1);

    m_Panel1 = new QWidget;
    m_Panel1->setObjectName("Panel1");
    m_Panel1->setMinimumHeight(50);
    auto* editorLayout = new QVBoxLayout(m_Panel1);
    editorLayout->setContentsMargins(0, 0, 0, 0);
    editorLayout->addWidget(m_Editor);
    m_Splitter->addWidget(m_Panel1);

    m_Panel4 = new QScrollArea;
    m_Panel4->setObjectName("Panel4");
    m_Panel4->setWidgetResizable(true);
    m_Panel4->setFrameShape(QFrame::NoFrame);
    auto* fields = new QWidget;
    fields->setObjectName("FieldPanel");
    BuildFields(fields);
    m_Panel4->setWidget(fields);
    m_Splitter->addWidget(m_Panel4);
    m_Splitter->setStretchFactor(0, 1);
    m_Splitter->setStretchFactor(1, 0);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    m_Ok = new QPushButton("OK", this);
    m_Ok->setObjectName("okbtn");
    m_Ok->setDefault(true);
    m_Cancel = new QPushButton("Cancel", this);
    m_Cancel->setObjectName("cancelbtn");
    m_Cancel->setAutoDefault(false);
    buttons->addWidget(m_Ok);
    buttons->addWidget(m_Cancel);
    layout->addLayout(buttons);

    connect(m_Ok, &QPushButton::clicked, this, [this] { okbtnClick(); });
    connect(m_Cancel, &QPushButton::clicked, this, [this] { cancelbtnClick(); });

    BuildTabOrder();
    resize(640, 560);
    m_Splitter->setSizes({260, 220});
    SetDataSource(source);
}

Teditform::~Teditform() {
    // The controls leave the data source before the window's members go.
    SetDataSource(nullptr);
}

void Teditform::BuildFields(QWidget* panel) {
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setHorizontalSpacing(8);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    m_Title = new TDBEdit;
    m_Title->setObjectName("TitleEdit");
    m_Category = new TDBComboBox;
    m_Category->setObjectName("CategoryBox");
    m_Category->SetEditable(true);
    m_Priority = new TDBEdit;
    m_Priority->setObjectName("PriorityEdit");
    m_Other = new TDBEdit;
    m_Other->setObjectName("OtherEdit");
    m_State = new TDBComboBox;
    m_State->setObjectName("StateBox");
    m_State->SetEditable(true);
    m_State->SetItems(StateEntries());
    m_CloseDate = new TDBDateEdit;
    m_CloseDate->setObjectName("CloseDateEdit");
    m_Owner = new TDBComboBox;
    m_Owner->setObjectName("OwnerBox");
    m_Owner->SetEditable(true);
    m_Owner->SetSorted(true);
    m_Submitter = new TDBComboBox;
    m_Submitter->setObjectName("SubmitterBox");
    m_Submitter->SetEditable(true);
    m_Submitter->SetSorted(true);
    m_SubmitDate = new TDBDateEdit;
    m_SubmitDate->setObjectName("SubmitDateEdit");

    AddLabel(grid, m_Title, "Title", 0, 0);
    grid->removeWidget(m_Title);
    grid->addWidget(m_Title, 0, 1, 1, 3);
    AddLabel(grid, m_Category, "Category", 1, 0);
    AddLabel(grid, m_Priority, "Priority", 1, 2);
    AddLabel(grid, m_Other, "Other", 2, 0);
    grid->removeWidget(m_Other);
    grid->addWidget(m_Other, 2, 1, 1, 3);
    AddLabel(grid, m_State, "State", 3, 0);
    AddLabel(grid, m_CloseDate, "Close date", 3, 2);
    AddLabel(grid, m_Owner, "Owner", 4, 0);
    AddLabel(grid, m_Submitter, "Submitter", 5, 0);
    AddLabel(grid, m_SubmitDate, "Submit date", 5, 2);
    grid->setRowStretch(6, 1);

    // The rule runs on the user's changes of the State text only: a change
    // the control makes to show the record is not a change of the ticket.
    connect(m_State, &QComboBox::activated, this, [this] { RunGuarded([this] { StateChange(); }); });
    connect(m_State->lineEdit(), &QLineEdit::textEdited, this,
            [this] { RunGuarded([this] { StateChange(); }); });
}

void Teditform::BuildTabOrder() {
    QList<QWidget*> order = {m_Title,     m_Category,  m_Priority,   m_Other,
                             m_State,     m_CloseDate, m_Owner,      m_Submitter,
                             m_SubmitDate, m_Editor};
    order << m_Toolbar->FontName() << m_Toolbar->FontSize() << m_Toolbar->BoldButton()
          << m_Toolbar->ItalicButton() << m_Toolbar->UnderlineButton() << m_Toolbar->ColourButton()
          << m_Toolbar->LeftButton() << m_Toolbar->CenterButton() << m_Toolbar->RightButton()
          << m_Toolbar->BulletsButton() << m_Ok << m_Cancel;
    for (int i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);
}

void Teditform::SetDataSource(TDataSource* source) {
    m_Source = source;
    const struct {
        QWidget* control;
        const char* field;
    } bindings[] = {{m_Title, "Title"},         {m_Category, "Category"},
                    {m_Priority, "Priority"},   {m_Other, "Other"},
                    {m_State, "State"},         {m_CloseDate, "Close date"},
                    {m_Owner, "Owner"},         {m_Submitter, "Submitter"},
                    {m_SubmitDate, "Submit date"}};
    for (const auto& binding : bindings) {
        if (auto* edit = qobject_cast<TDBEdit*>(binding.control)) {
            edit->SetDataSource(source);
            edit->SetDataField(binding.field);
        } else if (auto* box = qobject_cast<TDBComboBox*>(binding.control)) {
            box->SetDataSource(source);
            box->SetDataField(binding.field);
        } else if (auto* date = qobject_cast<TDBDateEdit*>(binding.control)) {
            date->SetDataSource(source);
            date->SetDataField(binding.field);
        }
    }
    m_Editor->SetDataSource(source);
}

int Teditform::ShowModal() {
    BindDescription();
    const int result = Dialogs().Exec(*this);
    UnbindDescription();
    return result;
}

void Teditform::BindDescription() {
    m_Editor->SetDataField("Description");
    m_DescriptionBound = true;
}

void Teditform::UnbindDescription() {
    if (!m_Closing) m_ModifiedAtClose = m_ModifiedAtClose || EditorModified();
    m_Closing = true;
    m_DescriptionBound = false;
    m_Editor->SetDataField(QString());
}

bool Teditform::EditorModified() const { return m_Editor->Modified(); }

bool Teditform::DescriptionModified() const {
    if (m_Closing || !m_DescriptionBound) return m_ModifiedAtClose;
    return m_ModifiedAtClose || EditorModified();
}

void Teditform::SetCategories(const QStringList& categories) { m_Category->SetItems(categories); }

void Teditform::SetUserNames(const QStringList& names) {
    m_Owner->SetItems(names);
    m_Submitter->SetItems(names);
}

QStringList Teditform::StateItems() const { return m_State->Items(); }
QStringList Teditform::SubmitterItems() const { return m_Submitter->Items(); }
QStringList Teditform::CategoryItems() const { return m_Category->Items(); }

void Teditform::SetAdministrator(bool administrator) {
    m_Submitter->setEnabled(administrator);
    m_SubmitDate->setEnabled(administrator);
}

void Teditform::SetCloseAllowed(bool allowed) {
    m_State->setEnabled(allowed);
    m_CloseDate->setEnabled(allowed);
}

void Teditform::SetAssignAllowed(bool allowed) { m_Owner->setEnabled(allowed); }

TDataSet* Teditform::DataSet() const {
    return m_Source != nullptr ? m_Source->DataSet() : nullptr;
}

bool Teditform::Editing() const {
    const TDataSet* ds = DataSet();
    return ds != nullptr &&
           (ds->State() == TDataSetState::Edit || ds->State() == TDataSetState::Insert);
}

void Teditform::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A window restored from the task bar is not shown anew.
    if (event->spontaneous()) return;
    if (RestoreLayout) RestoreLayout(*this);
    FormShow();
}

void Teditform::FormShow() {
    // 1. No close under way, no flags.
    m_ModalResult = 0;
    setResult(0);
    m_SaveRequested = false;
    m_Cancelled = false;
    m_Closing = false;
    m_ModifiedAtClose = false;
    m_Toolbar->SetFontNames(Dialogs().FontNames());
    m_Toolbar->ForgetSelection();

    // 2. A plain style at the start, the caret after the first character,
    //    the base font, an unmodified editor, the size list at its first entry.
    QTextCursor cursor(m_Editor->document());
    cursor.setPosition(0);
    m_Editor->setTextCursor(cursor);
    QTextCharFormat plain;
    plain.setFontWeight(QFont::Normal);
    plain.setFontItalic(false);
    plain.setFontUnderline(false);
    plain.setFontStrikeOut(false);
    m_Editor->mergeCurrentCharFormat(plain);
    cursor.setPosition(std::min(1, m_Editor->document()->characterCount() - 1));
    m_Editor->setTextCursor(cursor);
    m_Editor->SetBaseFont(QFont("Arial", 10));
    m_Editor->SetModified(false);
    m_Toolbar->FontSize()->setCurrentIndex(0);

    // 3. An empty description starts plain.
    if (m_Editor->document()->isEmpty()) {
        ResetFormattingAtEnd(*m_Editor);
        m_Editor->SetModified(false);
    }

    // 4.
    m_Toolbar->setbuttons();
    m_Title->setFocus(Qt::OtherFocusReason);
}

void Teditform::StateChange() {
    TDataSet* ds = DataSet();
    if (ds == nullptr || !Editing()) return;
    TField* closeDate = ds->FindField("Close date");
    if (closeDate == nullptr) return;
    if (m_State->currentText() == "Closed") {
        if (closeDate->IsNull()) closeDate->SetAsDateTime(DateValue(Today()));
    } else if (!closeDate->IsNull()) {
        closeDate->Clear();
    }
    update();
}

void Teditform::okbtnClick() {
    if (TDataSet* ds = DataSet(); ds != nullptr && !Editing()) {
        // A refused edit (a record another user holds) is not reported: the
        // close-query step cancels instead of posting.
        try {
            ds->Edit();
        } catch (...) {
        }
    }
    m_SaveRequested = true;
    m_ModalResult = QDialog::Accepted;
    CloseModal();
}

void Teditform::cancelbtnClick() {
    m_ModalResult = QDialog::Rejected;
    if (!RunGuarded([this] {
            if (TDataSet* ds = DataSet()) ds->Cancel();
        })) {
        m_ModalResult = 0;
        return;
    }
    m_Cancelled = true;
    CloseModal();
}

void Teditform::accept() { okbtnClick(); }

void Teditform::reject() { cancelbtnClick(); }

void Teditform::closeEvent(QCloseEvent* event) {
    m_ModalResult = QDialog::Rejected;
    if (CloseModal()) {
        event->accept();
    } else {
        event->ignore();
    }
}

bool Teditform::CloseModal() {
    if (!isVisible()) return true;
    // The flag as it stands now is what the post reports, even if the
    // editor's own flag is cleared on the way (its text written, the
    // record shown again).
    m_ModifiedAtClose = m_ModifiedAtClose || (m_DescriptionBound && EditorModified());
    m_Closing = true;
    if (!RunGuarded([this] { FormCloseQuery(); })) {
        m_Closing = false;
        m_ModalResult = 0;
        return false;
    }
    if (SaveLayout) SaveLayout(*this);
    QDialog::done(m_ModalResult);
    return true;
}

void Teditform::FormCloseQuery() {
    if (!m_SaveRequested && !m_Cancelled) {
        if (Dialogs().ConfirmYesNo(this, "Save changes?")) m_SaveRequested = true;
    }
    TDataSet* ds = DataSet();
    if (ds == nullptr || !ds->Active()) return;
    if (!m_SaveRequested) ds->Cancel();
    if (m_ModalResult == QDialog::Accepted) {
        if (!Editing()) {
            ds->Cancel();
        } else {
            if (m_ModifiedAtClose) ResetFormattingAtEnd(*m_Editor);
            ds->Post();
        }
    }
    ds->Refresh();
}

}  // namespace veltra
