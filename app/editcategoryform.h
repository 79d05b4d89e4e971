// Teditcategoryform: the category list editor of a log: one category per line, saved to the log's .txt file.
//
// Created once at program start with every other window and reused. This
// window carries its caption, component name and help topic; its controls
// and behaviour come with the feature it serves, and until then showing it
// shows an empty window with that caption.
#pragma once

#include <QDialog>
#include <QString>

namespace veltra {

class Teditcategoryform : public QDialog {
    Q_OBJECT
public:
    explicit Teditcategoryform(QWidget* parent = nullptr);

    // The category list file the editor works on (a log's N.txt).
    void SetFile(const QString& path) { m_File = path; }
    const QString& File() const { return m_File; }

private:
    QString m_File;
};

}  // namespace veltra
