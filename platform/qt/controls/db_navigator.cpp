#include "platform/qt/controls/db_navigator.h"

#include <QPushButton>
#include <QResizeEvent>
#include <algorithm>

#include "platform/qt/app/application.h"
#include "platform/qt/controls/field_data_link.h"
#include "platform/qt/dialogs/dialogs.h"

namespace veltra {

class TDBNavigator::TLink : public TDataLink {
public:
    explicit TLink(TDBNavigator& owner) : m_Owner(owner) {}
    void ActiveChanged() override { m_Owner.UpdateButtons(); }
    void DataSetChanged() override { m_Owner.UpdateButtons(); }
    void DataSetScrolled(int) override { m_Owner.UpdateButtons(); }
    void EditingChanged() override { m_Owner.UpdateButtons(); }
    void RecordChanged(TField*) override { m_Owner.UpdateButtons(); }

private:
    TDBNavigator& m_Owner;
};

const QList<TNavigateButton>& NavigateButtonOrder() {
    static const QList<TNavigateButton> order = {
        TNavigateButton::First,  TNavigateButton::Prior, TNavigateButton::Next,   TNavigateButton::Last,
        TNavigateButton::Insert, TNavigateButton::Delete, TNavigateButton::Edit,  TNavigateButton::Post,
        TNavigateButton::Cancel, TNavigateButton::Refresh};
    return order;
}

namespace {

QString DefaultCaption(TNavigateButton b) {
    switch (b) {
        case TNavigateButton::First: return QStringLiteral("First");
        case TNavigateButton::Prior: return QStringLiteral("Prior");
        case TNavigateButton::Next: return QStringLiteral("Next");
        case TNavigateButton::Last: return QStringLiteral("Last");
        case TNavigateButton::Insert: return QStringLiteral("Insert");
        case TNavigateButton::Delete: return QStringLiteral("Delete");
        case TNavigateButton::Edit: return QStringLiteral("Edit");
        case TNavigateButton::Post: return QStringLiteral("Post");
        case TNavigateButton::Cancel: return QStringLiteral("Cancel");
        case TNavigateButton::Refresh: return QStringLiteral("Refresh");
    }
    return {};
}

}  // namespace

TDBNavigator::TDBNavigator(QWidget* parent) : QWidget(parent), m_Link(new TLink(*this)) {
    for (TNavigateButton b : NavigateButtonOrder()) {
        auto* button = new QPushButton(this);
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::TabFocus);
        m_Buttons.insert(b, button);
        m_Visible.insert(b);
        SetCaption(b, DefaultCaption(b));
        connect(button, &QPushButton::clicked, this, [this, b] { Click(b); });
    }
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    UpdateButtons();
}

TDBNavigator::~TDBNavigator() { m_Link.reset(); }

void TDBNavigator::SetDataSource(TDataSource* source) {
    m_Link->SetDataSource(source);
    UpdateButtons();
}

TDataSource* TDBNavigator::DataSource() const { return m_Link->DataSource(); }

void TDBNavigator::SetVisibleButtons(const QSet<TNavigateButton>& buttons) {
    m_Visible = buttons;
    for (auto it = m_Buttons.begin(); it != m_Buttons.end(); ++it) it.value()->setVisible(m_Visible.contains(it.key()));
    LayoutButtons();
}

QSet<TNavigateButton> TDBNavigator::VisibleButtons() const { return m_Visible; }

void TDBNavigator::SetButtonVisible(TNavigateButton button, bool visible) {
    QSet<TNavigateButton> buttons = m_Visible;
    if (visible) buttons.insert(button);
    else buttons.remove(button);
    SetVisibleButtons(buttons);
}

bool TDBNavigator::ButtonVisible(TNavigateButton button) const { return m_Visible.contains(button); }

void TDBNavigator::SetCaption(TNavigateButton button, const QString& caption) {
    QPushButton* b = m_Buttons.value(button);
    b->setText(caption);
    b->setAccessibleName(QString(caption).remove(QLatin1Char('&')));
}

QString TDBNavigator::Caption(TNavigateButton button) const { return m_Buttons.value(button)->text(); }

QPushButton* TDBNavigator::Button(TNavigateButton button) const { return m_Buttons.value(button); }

void TDBNavigator::UpdateButtons() {
    TDataSet* ds = m_Link->DataSet();
    const bool active = ds != nullptr && ds->Active();
    const bool editing = active && (ds->State() == TDataSetState::Edit || ds->State() == TDataSetState::Insert);
    const bool canModify = active && DataSetCanModify(ds);
    const bool up = active && !ds->Bof();
    const bool down = active && !ds->Eof();
    const bool empty = !active || (ds->Bof() && ds->Eof() && !editing);
    m_Buttons[TNavigateButton::First]->setEnabled(up);
    m_Buttons[TNavigateButton::Prior]->setEnabled(up);
    m_Buttons[TNavigateButton::Next]->setEnabled(down);
    m_Buttons[TNavigateButton::Last]->setEnabled(down);
    m_Buttons[TNavigateButton::Insert]->setEnabled(canModify);
    m_Buttons[TNavigateButton::Delete]->setEnabled(canModify && !empty);
    m_Buttons[TNavigateButton::Edit]->setEnabled(canModify && !editing);
    m_Buttons[TNavigateButton::Post]->setEnabled(canModify && editing);
    m_Buttons[TNavigateButton::Cancel]->setEnabled(canModify && editing);
    m_Buttons[TNavigateButton::Refresh]->setEnabled(active);
}

void TDBNavigator::Act(TNavigateButton button) {
    TDataSet* ds = m_Link->DataSet();
    if (ds == nullptr || !ds->Active()) return;
    switch (button) {
        case TNavigateButton::First: ds->First(); break;
        case TNavigateButton::Prior: ds->Prior(); break;
        case TNavigateButton::Next: ds->Next(); break;
        case TNavigateButton::Last: ds->Last(); break;
        case TNavigateButton::Insert: ds->Insert(); break;
        case TNavigateButton::Delete:
            if (!m_ConfirmDelete || Dialogs().ConfirmOkCancel(window(), QStringLiteral("Delete record?"))) {
                ds->Delete();
            }
            break;
        case TNavigateButton::Edit: ds->Edit(); break;
        case TNavigateButton::Post: ds->Post(); break;
        case TNavigateButton::Cancel: ds->Cancel(); break;
        case TNavigateButton::Refresh: ds->Refresh(); break;
    }
}

void TDBNavigator::Click(TNavigateButton button) {
    if (!RunGuarded([&] { Act(button); })) {
        UpdateButtons();
        return;
    }
    UpdateButtons();
    if (OnClick) RunGuarded(OnClick, button);
}

QSize TDBNavigator::sizeHint() const {
    int width = 0, height = 0;
    for (TNavigateButton b : NavigateButtonOrder()) {
        if (!m_Visible.contains(b)) continue;
        const QSize hint = m_Buttons.value(b)->sizeHint();
        width += hint.width();
        height = std::max(height, hint.height());
    }
    if (height == 0) height = m_Buttons.value(TNavigateButton::First)->sizeHint().height();
    return {std::max(width, 1), height};
}

QSize TDBNavigator::minimumSizeHint() const { return sizeHint(); }

void TDBNavigator::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_WidthFixed) {
        // The width is taken once; hiding buttons later must not shrink the bar.
        m_WidthFixed = true;
        if (minimumWidth() != maximumWidth() || maximumWidth() >= QWIDGETSIZE_MAX) {
            setFixedWidth(sizeHint().width());
        }
        setFixedHeight(sizeHint().height());
    }
    LayoutButtons();
}

void TDBNavigator::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    LayoutButtons();
}

void TDBNavigator::LayoutButtons() {
    QList<QPushButton*> shown;
    for (TNavigateButton b : NavigateButtonOrder()) {
        if (m_Visible.contains(b)) shown << m_Buttons.value(b);
    }
    if (shown.isEmpty()) return;
    const int n = int(shown.size());
    const int w = width();
    for (int i = 0; i < n; ++i) {
        // Integer shares that add up to the whole width.
        const int left = w * i / n;
        const int right = w * (i + 1) / n;
        shown[i]->setGeometry(left, 0, right - left, height());
    }
}

}  // namespace veltra
