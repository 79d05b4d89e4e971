#include "platform/qt/help/help_viewer.h"

#include <QFileInfo>
#include <QKeySequence>
#include <QPointer>
#include <QShortcut>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <QVariant>

#include "platform/qt/dialogs/dialogs.h"

namespace veltra {

namespace {

constexpr const char* kTopicProperty = "veltraHelpTopic";

QPointer<QTextBrowser>& Browser() {
    static QPointer<QTextBrowser> browser;
    return browser;
}

QString& HelpPath() {
    static QString path;
    return path;
}

QString TopicAnchor(int topic) { return QStringLiteral("topic-%1").arg(topic); }

}  // namespace

void ShowHelp(QWidget* parent, const QString& helpFile, int topic) {
    const QFileInfo info(helpFile);
    if (helpFile.isEmpty() || !info.isFile() || !info.isReadable()) {
        Dialogs().Error(parent, QStringLiteral("Cannot open the help file %1.").arg(helpFile));
        return;
    }
    QPointer<QTextBrowser>& browser = Browser();
    if (!browser) {
        browser = new QTextBrowser();
        browser->setAttribute(Qt::WA_DeleteOnClose, false);
        browser->setOpenLinks(true);
        browser->setOpenExternalLinks(false);
        browser->setAccessibleName(QStringLiteral("Help"));
        browser->resize(640, 480);
    }
    const QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
    // Setting the same source again re-reads nothing; a different file or a
    // changed one is loaded afresh.
    if (browser->source() != url) {
        browser->setSource(url);
    } else {
        browser->reload();
    }
    browser->setWindowTitle(browser->documentTitle().isEmpty() ? QStringLiteral("Help")
                                                               : browser->documentTitle());
    if (topic > 0) {
        browser->scrollToAnchor(TopicAnchor(topic));
    } else {
        browser->moveCursor(QTextCursor::Start);
        browser->ensureCursorVisible();
    }
    browser->show();
    browser->raise();
    browser->activateWindow();
}

void SetHelpFile(const QString& path) { HelpPath() = path; }
QString HelpFile() { return HelpPath(); }

void SetHelpTopic(QWidget* window, int topic) {
    if (window == nullptr) return;
    const bool hadShortcut = window->property(kTopicProperty).isValid();
    window->setProperty(kTopicProperty, topic);
    if (hadShortcut) return;
    auto* shortcut = new QShortcut(QKeySequence(Qt::Key_F1), window);
    shortcut->setContext(Qt::WindowShortcut);
    QObject::connect(shortcut, &QShortcut::activated, window,
                     [window] { ShowHelp(window, HelpFile(), HelpTopic(window)); });
}

int HelpTopic(const QWidget* window) {
    return window != nullptr ? window->property(kTopicProperty).toInt() : 0;
}

QTextBrowser* HelpBrowser() { return Browser().data(); }

}  // namespace veltra
