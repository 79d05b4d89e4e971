// Tsearchform: the text search window (modeless): finds a text in the titles and descriptions of the open log, or a ticket by its number.
//
// Created once at program start with every other window and reused. This
// window carries its caption, component name and help topic; its controls
// and behaviour come with the feature it serves, and until then showing it
// shows an empty window with that caption.
#pragma once

#include <QDialog>

namespace veltra {

class Tsearchform : public QDialog {
    Q_OBJECT
public:
    explicit Tsearchform(QWidget* parent = nullptr);
};

}  // namespace veltra
