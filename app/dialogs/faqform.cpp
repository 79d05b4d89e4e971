#include "app/dialogs/faqform.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QPrinter>
#include <QPushButton>
#include <QStringDecoder>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <stdexcept>

#include "platform/locale_services.h"
#include "platform/qt/app/application.h"
#include "platform/qt/help/help_viewer.h"
#include "platform/qt/rtf/rtf_text_document.h"

namespace veltra {

Tfaqform::Tfaqform(const QString& programFolder, QWidget* parent)
    : QDialog(parent), m_FaqFile(QDir(programFolder).filePath("faq.txt")) {
    setObjectName("faqform");
    setWindowTitle("faqform");
    SetHelpTopic(this, 1);
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint);
    setSizeGripEnabled(true);

    auto* layout = new QVBoxLayout(this);
    m_Viewer = new QTextBrowser(this);
    m_Viewer->setObjectName("richedit1");
    m_Viewer->setAccessibleName("Frequently asked questions");
    m_Viewer->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_Viewer->setOpenLinks(false);
    auto* buttons = new QDialogButtonBox(this);
    m_Print = buttons->addButton("Print", QDialogButtonBox::ActionRole);
    m_Print->setObjectName("printbtn");
    m_Close = buttons->addButton(QDialogButtonBox::Close);
    layout->addWidget(m_Viewer, 1);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_Print, &QPushButton::clicked, this, Guarded([this](bool) { Print(); }));
    resize(560, 440);
}

Tfaqform::~Tfaqform() = default;

void Tfaqform::Load() {
    m_Viewer->clear();
    QFile file(m_FaqFile);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(
            QString("Cannot open %1: %2").arg(m_FaqFile, file.errorString()).toStdString());
    const QByteArray bytes = file.readAll();
    if (bytes.startsWith("{\\rtf")) {
        RtfToTextDocument(std::string_view(bytes.data(), bytes.size()), *m_Viewer->document());
        return;
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = QString::fromStdString(Cp1252ToUtf8(std::string_view(bytes.data(), bytes.size())));
    m_Viewer->setPlainText(text);
}

QPrinter& Tfaqform::Printer() {
    if (!m_Printer) m_Printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    return *m_Printer;
}

void Tfaqform::Print() {
    QPrinter& printer = Printer();
    printer.setDocName("FAQ");
    m_Viewer->document()->print(&printer);
}

void Tfaqform::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    RunGuarded([this] { Load(); });
}

}  // namespace veltra
