// TDBNavigator: a row of captioned buttons that move and change the dataset
// of a data source: First, Prior, Next, Last, Insert, Delete, Edit, Post,
// Cancel and Refresh, in this order, captioned with their names unless the
// caller sets other captions ("Submit" for Insert). Each button's accessible
// name is its caption without "&".
//
// A click performs the button's table action and then calls OnClick with
// the button. When the action raises, the error is shown in the error box and
// OnClick is not called. With ConfirmDelete, Delete first asks "Delete
// record?" (OK and Cancel, through the dialogs service) and deletes only on
// OK; OnClick follows either way, as the framework's navigator does.
//
// Buttons are enabled by the dataset's state: First and Prior unless at the
// beginning, Next and Last unless at the end, Insert when the dataset may be
// changed, Delete when it may be changed and has a record, Edit when it may
// be changed and is not editing, Post and Cancel while editing, Refresh while
// open; all are disabled while no dataset is open.
//
// The navigator's width does not change when buttons are shown or hidden:
// the visible buttons share it equally. Its width is its size hint for the
// buttons visible when it is first shown, until the caller sets another one
// (setFixedWidth or a layout that stretches it).
#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

#include "platform/dataset.h"

class QPushButton;

namespace veltra {

enum class TNavigateButton { First, Prior, Next, Last, Insert, Delete, Edit, Post, Cancel, Refresh };

inline size_t qHash(TNavigateButton b, size_t seed = 0) noexcept { return ::qHash(int(b), seed); }

class TDBNavigator : public QWidget {
    Q_OBJECT
public:
    explicit TDBNavigator(QWidget* parent = nullptr);
    ~TDBNavigator() override;

    void SetDataSource(TDataSource* source);
    TDataSource* DataSource() const;

    // Which buttons are shown (all by default).
    void SetVisibleButtons(const QSet<TNavigateButton>& buttons);
    QSet<TNavigateButton> VisibleButtons() const;
    void SetButtonVisible(TNavigateButton button, bool visible);
    bool ButtonVisible(TNavigateButton button) const;

    void SetCaption(TNavigateButton button, const QString& caption);
    QString Caption(TNavigateButton button) const;
    QPushButton* Button(TNavigateButton button) const;

    void SetConfirmDelete(bool confirm) { m_ConfirmDelete = confirm; }
    bool ConfirmDelete() const { return m_ConfirmDelete; }

    // Performs the button's action and the click step, as a click does
    // (errors are shown, not raised).
    void Click(TNavigateButton button);

    // The click step, run after the button's table action.
    std::function<void(TNavigateButton)> OnClick;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    class TLink;
    void UpdateButtons();
    void LayoutButtons();
    void Act(TNavigateButton button);

    std::unique_ptr<TLink> m_Link;
    QHash<TNavigateButton, QPushButton*> m_Buttons;
    QSet<TNavigateButton> m_Visible;
    bool m_ConfirmDelete = true;
    bool m_WidthFixed = false;
};

// The buttons in their order on the bar.
const QList<TNavigateButton>& NavigateButtonOrder();

}  // namespace veltra
