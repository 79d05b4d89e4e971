#include "users/upper_case.h"

#include <QLineEdit>

namespace veltra {

void ForceUpperCase(QLineEdit* edit) {
    QObject::connect(edit, &QLineEdit::textEdited, edit, [edit](const QString& text) {
        const QString upper = text.toUpper();
        if (upper == text) return;
        const int caret = edit->cursorPosition();
        edit->setText(upper);
        edit->setCursorPosition(caret);
    });
}

}  // namespace veltra
