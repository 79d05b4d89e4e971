// Which key presses change the text of an entry field, so that a data-aware
// control can put its dataset into Edit before the change is made.
#pragma once

class QKeyEvent;

namespace veltra {

// True for a key press that inserts text, deletes, cuts, pastes, undoes or
// redoes in a line or text editor.
bool IsTextChangingKey(const QKeyEvent* event);

}  // namespace veltra

class QLineEdit;

namespace veltra {

class TFieldDataLink;

// Puts the link's dataset into Edit before a change of `edit`'s text. Edit
// re-reads the record and shows it again; when it shows the same text the
// caret and the selection are put back, so that the key that asked for the
// change acts where the user put it. An exception of Edit is shown in the
// error box. False when the change must not be made.
bool BeginLineEditChange(TFieldDataLink& link, QLineEdit& edit);

}  // namespace veltra
