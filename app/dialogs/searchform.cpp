#include "app/dialogs/searchform.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <optional>

#include "engine/veltra_table.h"
#include "platform/format_settings.h"
#include "platform/qt/app/application.h"
#include "platform/qt/dialogs/dialogs.h"
#include "platform/qt/help/help_viewer.h"
#include "platform/rtf/rtf.h"
#include "platform/table_text/record_text.h"

namespace veltra {

namespace {

// How long a search runs between two looks at the user interface: short
// enough that Cancel answers at once, long enough that a search over
// thousands of tickets is not spent repainting.
constexpr qint64 kEventIntervalMs = 40;

}  // namespace

Tsearchform::Tsearchform(TVeltraTable& table, QWidget* parent) : QDialog(parent), m_Table(table) {
    setObjectName("searchform");
    setWindowTitle("Search");
    SetHelpTopic(this, 8);

    auto* label = new QLabel("Text to find:", this);
    m_Text = new QLineEdit(this);
    m_Text->setObjectName("edit1");
    m_Text->setAccessibleName("Text to find:");
    label->setBuddy(m_Text);
    m_Case = new QCheckBox("Case sensitive", this);
    m_Case->setObjectName("checkbox1");
    m_Find = new QPushButton("&Find", this);
    m_Find->setObjectName("findbtn");
    m_FindNext = new QPushButton("Find &Next", this);
    m_FindNext->setObjectName("findnextbtn");
    m_Cancel = new QPushButton("&Cancel", this);
    m_Cancel->setObjectName("cancelbtn");
    for (QPushButton* b : {m_Find, m_FindNext, m_Cancel}) b->setAutoDefault(false);
    m_Progress = new QProgressBar(this);
    m_Progress->setObjectName("progress");
    m_Progress->setAccessibleName("Tickets searched");
    m_Progress->setFormat("%v of %m tickets searched");
    QSizePolicy keep = m_Progress->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_Progress->setSizePolicy(keep);
    m_Progress->hide();

    auto* fields = new QVBoxLayout;
    fields->addWidget(label);
    fields->addWidget(m_Text);
    fields->addWidget(m_Case);
    fields->addWidget(m_Progress);
    fields->addStretch();
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_Find);
    buttons->addWidget(m_FindNext);
    buttons->addWidget(m_Cancel);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(fields, 1);
    layout->addLayout(buttons);
    resize(400, 140);

    m_Text->installEventFilter(this);
    connect(m_Text, &QLineEdit::textChanged, this, [this] { UpdateButtons(); });
    connect(m_Find, &QPushButton::clicked, this, [this] { findbtnClick(TStart::Current); });
    connect(m_FindNext, &QPushButton::clicked, this, [this] { findbtnClick(TStart::Next); });
    connect(m_Cancel, &QPushButton::clicked, this, &Tsearchform::reject);
    UpdateButtons();
}

void Tsearchform::UpdateButtons() {
    const bool enabled = !m_Searching && !m_Text->text().trimmed().isEmpty();
    m_Find->setEnabled(enabled);
    m_FindNext->setEnabled(enabled);
}

void Tsearchform::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_Searching) m_Stop = false;
    UpdateButtons();
    m_Text->setFocus();
}

void Tsearchform::reject() {
    m_Stop = true;
    QDialog::reject();
}

bool Tsearchform::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_Text &&
        (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            // Enter never reaches the field (no beep, no default button);
            // with a text it searches on from the current ticket.
            if (event->type() == QEvent::KeyPress && m_FindNext->isEnabled()) m_FindNext->click();
            return true;
        }
        const bool handled = QDialog::eventFilter(watched, event);
        UpdateButtons();
        return handled;
    }
    return QDialog::eventFilter(watched, event);
}

QString Tsearchform::Comparable(const QString& s) const {
    if (m_Case->isChecked()) return s;
    static const QLocale locale(QString::fromStdString(UserLocaleName()));
    return locale.toUpper(s);
}

bool Tsearchform::Matches(const QString& text, TField& titleField, TField& descriptionField) {
    const QString title = QString::fromStdString(titleField.AsString());
    if (Comparable(title).contains(text)) return true;
    const std::string rtf = m_Table.ReadBlob(descriptionField);
    if (rtf.empty()) return false;
    return Comparable(QString::fromStdString(RtfPlainText(rtf))).contains(text);
}

void Tsearchform::ShowProgress(qint64 searched, qint64 total) {
    m_Progress->setMaximum(int(std::min<qint64>(std::max<qint64>(total, searched), INT_MAX)));
    m_Progress->setValue(int(std::min<qint64>(searched, INT_MAX)));
    m_Progress->show();
    emit Progress(searched, total);
}

bool Tsearchform::StepForward() {
    if (!m_Table.Eof()) return m_Table.MoveBy(1) == 1;
    // The end flag can be left over from an earlier walk to the end after a
    // key search brought the cursor back (a key search does not clear it);
    // the position in the view tells whether a ticket really follows.
    const int64_t n = m_Table.RecNo();
    if (n <= 0 || n >= m_Table.RecordCount()) return false;
    m_Table.SetRecNo(n + 1);
    return true;
}

bool Tsearchform::Search(TStart start, const QString& text, qint64 total) {
    if (m_Table.IsEmpty()) return false;
    // Find Next on the last ticket of the view has no ticket after it: it
    // finds nothing rather than testing the current ticket again.
    if (start == TStart::Next && !StepForward()) return false;
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    // One read phase covers a batch of tickets instead of one per move and
    // per description read. It never spans a turn of the user interface,
    // where this program may want to write.
    std::optional<TReadBatch> batch(std::in_place, *m_Table.DataFile());
    TField& title = m_Table.FieldByName("Title");
    TField& description = m_Table.FieldByName("Description");
    for (qint64 searched = 1;; ++searched) {
        if (Matches(text, title, description)) return true;
        // The first ticket already lets the user interface run, so that the
        // window shows its progress and a Cancel is seen at once.
        if (searched == 1 || sinceEvents.elapsed() >= kEventIntervalMs) {
            batch.reset();
            ShowProgress(searched, total);
            QApplication::processEvents();
            sinceEvents.restart();
            if (m_Stop) return false;
            batch.emplace(*m_Table.DataFile());
        }
        if (!StepForward()) return false;
        batch->Step();
    }
}

void Tsearchform::ReturnTo(const std::string& id, const std::string& indexName) {
    if (id.empty()) return;
    m_Table.SetIndexName("ID");
    try {
        m_Table.FindKey({id});
    } catch (...) {
        m_Table.SetIndexName(indexName);
        throw;
    }
    m_Table.SetIndexName(indexName);
}

void Tsearchform::findbtnClick(TStart start) {
    if (m_Searching || !m_Table.Active()) return;
    m_Stop = false;
    const QString text = Comparable(m_Text->text().trimmed());
    if (text.isEmpty()) return;
    const std::string id = m_Table.IsEmpty() ? std::string() : m_Table.FieldByName("ID").AsString();
    const std::string indexName = m_Table.IndexName();

    m_Searching = true;
    UpdateButtons();
    bool found = false;
    bool failed = false;
    m_Table.DisableControls();
    try {
        found = Search(start, text, m_Table.RecordCount());
        if (!found) ReturnTo(id, indexName);
    } catch (...) {
        failed = true;
        try {
            ReturnTo(id, indexName);
        } catch (...) {
            // The first error is the one the user sees.
        }
        m_Table.EnableControls();
        m_Searching = false;
        m_Progress->hide();
        UpdateButtons();
        ShowCurrentException();
    }
    if (failed) return;
    m_Table.EnableControls();
    m_Searching = false;
    m_Progress->hide();
    UpdateButtons();
    if (!found && !m_Stop) Dialogs().Information(this, "Text not found.");
}

}  // namespace veltra
