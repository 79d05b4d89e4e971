// Which key presses change the text of an entry field, so that a data-aware
// control can put its dataset into Edit before the change is made.
#pragma once

class QKeyEvent;

namespace veltra {

// True for a key press that inserts text, deletes, cuts, pastes, undoes or
// redoes in a line or text editor.
bool IsTextChangingKey(const QKeyEvent* event);

}  // namespace veltra
