// The product's web page and support address, and opening the page in the
// desktop's default browser after the user confirms being online.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>

class QWidget;

namespace veltra {

// The product's web page address and support mail address.
extern const char* const kWebPageAddress;
extern const char* const kSupportAddress;

// Asks "Visiting our web site requires an internet connection.\r\nAre you
// connected to the internet now?" (Yes/No) through the dialogs service and,
// on Yes, opens the web page through the installed opener. Returns whether it
// asked the opener.
bool VisitWebPage(QWidget* parent);

// The function that opens an address (initially QDesktopServices::openUrl);
// tests install one that records the address. Returns the previous one.
std::function<bool(const QUrl&)> SetUrlOpener(std::function<bool(const QUrl&)> opener);

}  // namespace veltra
