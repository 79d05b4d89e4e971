// Tdelusersform: the delete-users dialog: lists every user but the administrator and deletes the chosen one.
//
// Created once at program start with every other window and reused. This
// window carries its caption, component name and help topic; its controls
// and behaviour come with the feature it serves, and until then showing it
// shows an empty window with that caption.
#pragma once

#include <QDialog>

namespace veltra {

class Tdelusersform : public QDialog {
    Q_OBJECT
public:
    explicit Tdelusersform(QWidget* parent = nullptr);
};

}  // namespace veltra
