#include "app/layout/component_values.h"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QSplitter>
#include <QSplitterHandle>
#include <QWidget>

namespace veltra {

namespace {

enum class TGeometry { Left, Top, Width, Height, None };

TGeometry GeometryOf(const QString& property) {
    if (property.compare("Left", Qt::CaseInsensitive) == 0) return TGeometry::Left;
    if (property.compare("Top", Qt::CaseInsensitive) == 0) return TGeometry::Top;
    if (property.compare("Width", Qt::CaseInsensitive) == 0) return TGeometry::Width;
    if (property.compare("Height", Qt::CaseInsensitive) == 0) return TGeometry::Height;
    return TGeometry::None;
}

bool Is(const QString& property, const char* name) {
    return property.compare(name, Qt::CaseInsensitive) == 0;
}

// Along the splitter's direction: Left and Width for a horizontal splitter,
// Top and Height for a vertical one.
bool AlongSplitter(const QSplitter* splitter, TGeometry g) {
    if (splitter->orientation() == Qt::Horizontal)
        return g == TGeometry::Left || g == TGeometry::Width;
    return g == TGeometry::Top || g == TGeometry::Height;
}

// Gives pane `index` of `splitter` the size `size`, taking the difference
// from the pane after it (or before it, for the last pane).
void SetPaneSize(QSplitter* splitter, int index, int size) {
    QList<int> sizes = splitter->sizes();
    if (index < 0 || index >= sizes.size() || size < 0) return;
    const int other = index + 1 < sizes.size() ? index + 1 : index - 1;
    if (other >= 0) sizes[other] = std::max(0, sizes[other] + sizes[index] - size);
    sizes[index] = size;
    splitter->setSizes(sizes);
}

int HandlePosition(const QSplitter* splitter, TGeometry g) {
    if (splitter->count() < 2) return 0;
    const QRect handle = splitter->handle(1)->geometry();
    return g == TGeometry::Left ? handle.left() : handle.top();
}

}  // namespace

std::optional<int> ReadIntegerProperty(QObject* component, const QString& property) {
    auto* widget = qobject_cast<QWidget*>(component);
    const TGeometry g = GeometryOf(property);
    if (!widget || g == TGeometry::None) return std::nullopt;
    if (auto* splitter = qobject_cast<QSplitter*>(widget);
        splitter && (g == TGeometry::Left || g == TGeometry::Top)) {
        return HandlePosition(splitter, g);
    }
    if (auto* parent = qobject_cast<QSplitter*>(widget->parentWidget());
        parent && AlongSplitter(parent, g) && (g == TGeometry::Width || g == TGeometry::Height)) {
        const int index = parent->indexOf(widget);
        if (index >= 0) return parent->sizes().value(index);
    }
    const QRect r = widget->geometry();
    switch (g) {
        case TGeometry::Left: return r.x();
        case TGeometry::Top: return r.y();
        case TGeometry::Width: return r.width();
        case TGeometry::Height: return r.height();
        case TGeometry::None: break;
    }
    return std::nullopt;
}

void SetIntegerProperty(QObject* component, const QString& property, int value) {
    auto* widget = qobject_cast<QWidget*>(component);
    const TGeometry g = GeometryOf(property);
    if (!widget || g == TGeometry::None) return;
    if (auto* splitter = qobject_cast<QSplitter*>(widget);
        splitter && (g == TGeometry::Left || g == TGeometry::Top)) {
        // The first handle sits right after the first pane.
        if (AlongSplitter(splitter, g)) SetPaneSize(splitter, 0, value);
        return;
    }
    if (auto* parent = qobject_cast<QSplitter*>(widget->parentWidget())) {
        if (AlongSplitter(parent, g) && (g == TGeometry::Width || g == TGeometry::Height))
            SetPaneSize(parent, parent->indexOf(widget), value);
        return;  // the splitter places and sizes its panes across its direction
    }
    QRect r = widget->geometry();
    switch (g) {
        case TGeometry::Left: r.moveLeft(value); break;
        case TGeometry::Top: r.moveTop(value); break;
        case TGeometry::Width: r.setWidth(value); break;
        case TGeometry::Height: r.setHeight(value); break;
        case TGeometry::None: return;
    }
    widget->setGeometry(r);
}

std::optional<bool> ReadBooleanProperty(QObject* component, const QString& property) {
    if (!Is(property, "Checked")) return std::nullopt;
    if (auto* action = qobject_cast<QAction*>(component)) return action->isChecked();
    if (auto* button = qobject_cast<QAbstractButton*>(component)) return button->isChecked();
    return std::nullopt;
}

void SetBooleanProperty(QObject* component, const QString& property, bool value) {
    if (!Is(property, "Checked")) return;
    if (auto* action = qobject_cast<QAction*>(component)) {
        if (action->isCheckable()) action->setChecked(value);
    } else if (auto* button = qobject_cast<QAbstractButton*>(component)) {
        if (button->isCheckable()) button->setChecked(value);
    }
}

std::optional<QString> ReadTextProperty(QObject* component, const QString& property) {
    if (!Is(property, "Caption")) return std::nullopt;
    if (auto* label = qobject_cast<QLabel*>(component)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(component)) return button->text();
    if (auto* action = qobject_cast<QAction*>(component)) return action->text();
    if (auto* group = qobject_cast<QGroupBox*>(component)) return group->title();
    if (auto* widget = qobject_cast<QWidget*>(component); widget && widget->isWindow())
        return widget->windowTitle();
    return std::nullopt;
}

void SetTextProperty(QObject* component, const QString& property, const QString& value) {
    if (!Is(property, "Caption")) return;
    if (auto* label = qobject_cast<QLabel*>(component)) {
        label->setText(value);
    } else if (auto* button = qobject_cast<QAbstractButton*>(component)) {
        button->setText(value);
    } else if (auto* action = qobject_cast<QAction*>(component)) {
        action->setText(value);
    } else if (auto* group = qobject_cast<QGroupBox*>(component)) {
        group->setTitle(value);
    } else if (auto* widget = qobject_cast<QWidget*>(component); widget && widget->isWindow()) {
        widget->setWindowTitle(value);
    }
}

}  // namespace veltra
