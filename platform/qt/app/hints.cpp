#include "platform/qt/app/hints.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QVariant>
#include <QWidget>

namespace veltra {

namespace {

constexpr const char* kHintProperty = "veltraHint";

struct THintState {
    QString Current;
    std::function<void(const QString&)> Handler;
};

THintState& State() {
    static THintState state;
    return state;
}

// Follows Enter events to the widget under the mouse.
class THintTracker : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Enter && watched->isWidgetType()) {
            const QWidget* w = static_cast<QWidget*>(watched);
            while (w != nullptr && Hint(w).isEmpty()) w = w->parentWidget();
            SetCurrentHint(w != nullptr ? Hint(w) : QString());
        }
        return false;
    }
};

}  // namespace

void SetHint(QObject* widgetOrAction, const QString& hint) {
    if (widgetOrAction == nullptr) return;
    const bool hadHint = !Hint(widgetOrAction).isEmpty();
    widgetOrAction->setProperty(kHintProperty, hint);
    if (auto* action = qobject_cast<QAction*>(widgetOrAction); action != nullptr && !hadHint) {
        // One connection per action: a hint changed later is read when the
        // item is highlighted.
        QPointer<QAction> guard(action);
        QObject::connect(action, &QAction::hovered, action, [guard] {
            if (guard) SetCurrentHint(Hint(guard));
        });
    }
}

QString Hint(const QObject* widgetOrAction) {
    if (widgetOrAction == nullptr) return {};
    return widgetOrAction->property(kHintProperty).toString();
}

QString CurrentHint() { return State().Current; }

void SetCurrentHint(const QString& hint) {
    THintState& s = State();
    if (s.Current == hint) return;
    s.Current = hint;
    if (s.Handler) s.Handler(hint);
}

std::function<void(const QString&)> SetHintHandler(std::function<void(const QString&)> handler) {
    std::function<void(const QString&)> previous = std::move(State().Handler);
    State().Handler = std::move(handler);
    return previous;
}

void InstallHintTracking() {
    static QPointer<THintTracker> tracker;
    if (tracker || qApp == nullptr) return;
    tracker = new THintTracker(qApp);
    qApp->installEventFilter(tracker);
}

}  // namespace veltra
