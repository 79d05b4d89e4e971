#include "platform/qt/app/application.h"

#include <QWidget>

#include "platform/qt/app/hints.h"
#include "platform/qt/dialogs/dialogs.h"

namespace veltra {

void ShowException(const std::exception& error) {
    if (dynamic_cast<const EAbortCommand*>(&error) != nullptr) return;
    Dialogs().Error(QApplication::activeWindow(), QString::fromUtf8(error.what()));
}

void ShowCurrentException() {
    try {
        throw;
    } catch (const std::exception& e) {
        ShowException(e);
    } catch (...) {
        Dialogs().Error(QApplication::activeWindow(), QStringLiteral("Unknown error"));
    }
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    InstallHintTracking();
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        // A message box here runs a nested event loop; that is what the
        // framework's own default handler does as well, and the event that
        // failed is simply dropped.
        ShowCurrentException();
        return false;
    }
}

}  // namespace veltra
