// Taboutforms: the about box, caption "About", fixed size, no maximise,
// help topic 1. A stretched background picture (the JPEG of
// about_picture.h, decoded with libjpeg) under the lines "Corvane Software",
// "Veltra Log", "Version 1.1" and the web page address; clicking the address
// asks the web page confirmation and opens the page on Yes. "OK" closes.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace veltra {

class Taboutforms : public QDialog {
    Q_OBJECT
public:
    explicit Taboutforms(QWidget* parent = nullptr);

    QLabel* AddressLabel() const { return m_Address; }
    QPushButton* OkButton() const { return m_Ok; }
    // True when the picture decoded (the box is drawn on a plain colour
    // otherwise).
    bool HasPicture() const { return m_HasPicture; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_Address = nullptr;
    QPushButton* m_Ok = nullptr;
    bool m_HasPicture = false;
};

}  // namespace veltra
