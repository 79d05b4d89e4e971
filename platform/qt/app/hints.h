// Hints: every control and menu item can carry a hint, a one-line text the
// main window shows in its hint line. The application keeps one current hint
// text; whenever it changes the installed hint handler is called with it (the
// main window installs its `displayhint`).
//
// The current hint follows the mouse: when the mouse enters a widget, the
// current hint becomes the hint of that widget or, when it has none, of its
// nearest parent that has one (so an empty part of a window shows the
// window's hint), or "" when none has; when a menu item is highlighted it
// becomes that item's hint. The program may also set the text itself.
//
// Tracking starts with InstallHintTracking (TApplication calls it; tests may
// call it on a plain QApplication); it is idempotent.
//
// Thread: the user-interface thread only.
#pragma once

#include <QString>
#include <functional>

class QObject;

namespace veltra {

// Gives a widget or a QAction its hint ("" removes it).
void SetHint(QObject* widgetOrAction, const QString& hint);
// The hint given to this object ("" when none).
QString Hint(const QObject* widgetOrAction);

// The application's current hint text.
QString CurrentHint();
// Sets the current hint text; the handler is called when the text changes.
void SetCurrentHint(const QString& hint);

// Installs the hint handler (an empty function removes it) and returns the
// one it replaces.
std::function<void(const QString&)> SetHintHandler(std::function<void(const QString&)> handler);

// Starts following the mouse over widgets (an application-wide event
// filter). Needs a QApplication.
void InstallHintTracking();

}  // namespace veltra
