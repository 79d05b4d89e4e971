// The help viewer. The help file is an HTML document; topic 0 is its
// contents page (the top of the document) and topic N > 0 is the element
// whose anchor name or id is "topic-N". The viewer is one non-modal window
// with a QTextBrowser, created at the first call and reused by every later
// one; links inside the help file are followed in the same window.
//
// Each window may carry a help topic number; F1 pressed anywhere in a window
// that has one opens the application's help file at that topic.
//
// Thread: the user-interface thread only.
#pragma once

#include <QString>

class QTextBrowser;
class QWidget;

namespace veltra {

// Shows `helpFile` at `topic` in the help window and raises it. A file that
// does not exist is reported in an error box ("Cannot open the help file
// <path>.") through the dialogs service and leaves the window as it was. A
// topic the file does not contain shows the contents page. `parent` is the
// window asking (used for the error box only; the help window has none).
void ShowHelp(QWidget* parent, const QString& helpFile, int topic = 0);

// The application's help file (initially none).
void SetHelpFile(const QString& path);
QString HelpFile();

// Gives `window` its help topic number and makes F1 in it open the
// application's help file at that topic (a shortcut of the window; calling
// again only changes the number).
void SetHelpTopic(QWidget* window, int topic);
// The topic given to `window` (0 when none).
int HelpTopic(const QWidget* window);

// The help window's browser, nullptr before the first ShowHelp (for tests and
// for closing it at exit).
QTextBrowser* HelpBrowser();

}  // namespace veltra
