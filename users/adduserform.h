// Tadduserform: the add-users dialog: adds users with a password and an access group.
//
// Created once at program start with every other window and reused. This
// window carries its caption, component name and help topic; its controls
// and behaviour come with the feature it serves, and until then showing it
// shows an empty window with that caption.
#pragma once

#include <QDialog>

namespace veltra {

class Tadduserform : public QDialog {
    Q_OBJECT
public:
    explicit Tadduserform(QWidget* parent = nullptr);
};

}  // namespace veltra
