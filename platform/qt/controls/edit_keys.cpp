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

#include <QLineEdit>

#include "platform/qt/app/application.h"
#include "platform/qt/controls/field_data_link.h"

namespace veltra {

bool BeginLineEditChange(TFieldDataLink& link, QLineEdit& edit) {
    const QString before = edit.text();
    const int caret = edit.cursorPosition();
    const int start = edit.selectionStart();
    const int length = edit.selectionLength();
    bool ok = false;
    RunGuarded([&] { ok = link.Edit(); });
    if (ok && edit.text() == before) {
        if (start >= 0 && length > 0) {
            // The caret stays at the end of the selection it was at.
            if (caret == start) {
                edit.setSelection(start + length, -length);
            } else {
                edit.setSelection(start, length);
            }
        } else {
            edit.setCursorPosition(caret);
        }
    }
    return ok;
}

}  // namespace veltra
