// The application's default error box. An exception that leaves a user
// command (a slot, a button's action, a menu command) is shown in one place
// with its message, through the dialogs service's error box, and the window
// keeps the state it had: nothing is rolled back or closed, the command simply
// ends where it failed.
//
// Commands are wrapped once where they are connected:
//
//   connect(button, &QPushButton::clicked, this, Guarded([this] { table1.Post(); }));
//
// TApplication catches, as a last resort, whatever escapes an event handler
// that was not wrapped, and shows it the same way.
//
// Thread: the user-interface thread only.
#pragma once

#include <QApplication>
#include <exception>
#include <utility>

class QWidget;

namespace veltra {

// Shows the error box for the exception `error`: its message (what(), UTF-8)
// through Dialogs().Error, parented to the active window. An EAbortCommand
// shows nothing.
void ShowException(const std::exception& error);
// The same for the exception being handled (call inside a catch block); an
// exception that is not a std::exception shows "Unknown error".
void ShowCurrentException();

// A silent exception: a command that ends it with this shows no message
// (the user has already been told, or cancelled).
class EAbortCommand : public std::exception {
public:
    const char* what() const noexcept override { return "Operation aborted"; }
};

// Runs f(args...) and shows any exception that leaves it in the error box
// instead of letting it escape. Returns true when f returned normally.
template <class F, class... Args>
bool RunGuarded(F&& f, Args&&... args) {
    try {
        std::forward<F>(f)(std::forward<Args>(args)...);
        return true;
    } catch (...) {
        ShowCurrentException();
        return false;
    }
}

// Wraps a command so that an exception leaving it is shown in the error box.
// The wrapper takes the arguments of the signal it is connected to and
// forwards them; its own result is dropped.
template <class F>
auto Guarded(F f) {
    return [f = std::move(f)](auto&&... args) mutable {
        RunGuarded(f, std::forward<decltype(args)>(args)...);
    };
}

// The program's QApplication. Its notify shows an exception escaping any
// event handler in the error box and reports the event as not handled,
// instead of ending the program. It also starts the hint tracking of
// hints.h.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace veltra
