#include "platform/qt/controls/edit_keys.h"

#include <QKeyEvent>
#include <QKeySequence>

namespace veltra {

bool IsTextChangingKey(const QKeyEvent* event) {
    if (event->matches(QKeySequence::Paste) || event->matches(QKeySequence::Cut) ||
        event->matches(QKeySequence::Undo) || event->matches(QKeySequence::Redo) ||
        event->matches(QKeySequence::Delete) || event->matches(QKeySequence::DeleteStartOfWord) ||
        event->matches(QKeySequence::DeleteEndOfWord) || event->matches(QKeySequence::DeleteEndOfLine)) {
        return true;
    }
    switch (event->key()) {
        case Qt::Key_Backspace:
        case Qt::Key_Delete:
            return true;
        default:
            break;
    }
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    const QString text = event->text();
    return !text.isEmpty() && text.at(0).isPrint();
}

}  // namespace veltra
