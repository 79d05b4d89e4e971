#include "app/web_page.h"

#include <QDesktopServices>

#include "platform/qt/dialogs/dialogs.h"

namespace veltra {

const char* const kWebPageAddress = "https://veltralog.example.org/";
const char* const kSupportAddress = "support@veltralog.example.org";

namespace {

std::function<bool(const QUrl&)>& Opener() {
    static std::function<bool(const QUrl&)> opener = [](const QUrl& url) {
        return QDesktopServices::openUrl(url);
    };
    return opener;
}

}  // namespace

bool VisitWebPage(QWidget* parent) {
    if (!Dialogs().ConfirmYesNo(parent,
                                "Visiting our web site requires an internet connection.\r\n"
                                "Are you connected to the internet now?")) {
        return false;
    }
    Opener()(QUrl(kWebPageAddress));
    return true;
}

std::function<bool(const QUrl&)> SetUrlOpener(std::function<bool(const QUrl&)> opener) {
    std::function<bool(const QUrl&)> previous = std::move(Opener());
    Opener() = std::move(opener);
    return previous;
}

}  // namespace veltra
