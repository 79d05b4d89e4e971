// Reading and setting one stored property of a window's component, by the
// property names the settings file uses, on Qt widgets and actions:
//
//   Left, Top, Width, Height  the component's geometry in its parent. For a
//       QSplitter, Left and Top are the position of its first handle in the
//       splitter (the bar between its first two panes); setting the one
//       along the splitter's direction moves the bar. For a pane of a
//       QSplitter, the size along the splitter's direction is the pane's
//       share of the splitter and setting it moves the bar next to it; the
//       splitter places its panes, so their Left and Top are not set. Any
//       other widget is moved or resized (its layout may place it again).
//   Caption  the text of a label, button or action, the title of a group
//       box, the title of a window.
//   Checked  the check mark of an action or a checkable button.
//
// Integer and boolean properties go through int; Caption through QString.
// A property a component does not have reads as nullopt and setting it does
// nothing.
#pragma once

#include <QString>
#include <optional>

class QObject;

namespace veltra {

std::optional<int> ReadIntegerProperty(QObject* component, const QString& property);
void SetIntegerProperty(QObject* component, const QString& property, int value);

std::optional<bool> ReadBooleanProperty(QObject* component, const QString& property);
void SetBooleanProperty(QObject* component, const QString& property, bool value);

std::optional<QString> ReadTextProperty(QObject* component, const QString& property);
void SetTextProperty(QObject* component, const QString& property, const QString& value);

}  // namespace veltra
