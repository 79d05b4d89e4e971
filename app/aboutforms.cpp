#include "app/aboutforms.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/about_picture.h"
#include "app/jpeg_image.h"
#include "app/web_page.h"
#include "platform/qt/help/help_viewer.h"

namespace veltra {

namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 260;

QLabel* Line(const QString& text, int pixels, bool bold, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font("Arial");
    font.setPixelSize(pixels);
    font.setBold(bold);
    label->setFont(font);
    label->setStyleSheet("color: white; background: transparent;");
    label->setAlignment(Qt::AlignLeft);
    return label;
}

}  // namespace

Taboutforms::Taboutforms(QWidget* parent) : QDialog(parent) {
    setObjectName("aboutforms");
    setWindowTitle("About");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kWidth, kHeight);
    SetHelpTopic(this, 1);

    auto* background = new QLabel(this);
    background->setObjectName("aboutpicture");
    background->setGeometry(0, 0, kWidth, kHeight);
    background->setScaledContents(true);
    const QImage picture = DecodeJpeg(kAboutPicture, kAboutPictureSize);
    m_HasPicture = !picture.isNull();
    if (m_HasPicture) {
        background->setPixmap(QPixmap::fromImage(picture));
    } else {
        background->setStyleSheet("background: rgb(70, 96, 80);");
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 16);
    layout->setSpacing(4);
    layout->addWidget(Line("Corvane Software", 13, false, this));
    layout->addWidget(Line("Veltra Log", 28, true, this));
    layout->addWidget(Line("Version 1.1", 13, false, this));
    layout->addStretch();
    m_Address = Line(kWebPageAddress, 13, false, this);
    m_Address->setObjectName("addresslabel");
    m_Address->setStyleSheet("color: #fff8c0; background: transparent; text-decoration: underline;");
    m_Address->setCursor(Qt::PointingHandCursor);
    m_Address->setFocusPolicy(Qt::StrongFocus);
    m_Address->setAccessibleName("Web page");
    m_Address->installEventFilter(this);
    m_Ok = new QPushButton("OK", this);
    m_Ok->setObjectName("okbtn");
    m_Ok->setDefault(true);
    m_Ok->setFixedWidth(60);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_Address);
    bottom->addStretch();
    bottom->addWidget(m_Ok);
    layout->addLayout(bottom);
    connect(m_Ok, &QPushButton::clicked, this, &QDialog::accept);
}

bool Taboutforms::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_Address) {
        const bool click = event->type() == QEvent::MouseButtonRelease &&
                           static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
        const bool key = event->type() == QEvent::KeyPress &&
                         (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space);
        if (click || key) {
            VisitWebPage(this);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace veltra
