#include "app/edit/rich_toolbar.h"

#include <QAction>
#include <QButtonGroup>
#include <QEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTextList>
#include <QToolButton>
#include <algorithm>

#include "platform/qt/controls/db_rich_edit.h"
#include "platform/qt/dialogs/dialogs.h"

namespace veltra {

namespace {

bool HasBullets(const QTextCursor& cursor) { return cursor.currentList() != nullptr; }

// Takes every paragraph the cursor's selection touches out of its list.
void RemoveBullets(QTextCursor cursor) {
    const QTextDocument* document = cursor.document();
    QTextBlock block = document->findBlock(cursor.selectionStart());
    const QTextBlock last = document->findBlock(cursor.selectionEnd());
    cursor.beginEditBlock();
    for (;;) {
        if (QTextList* list = block.textList()) {
            list->remove(block);
            QTextCursor at(block);
            QTextBlockFormat format = block.blockFormat();
            format.setIndent(0);
            format.setObjectIndex(-1);
            at.setBlockFormat(format);
        }
        if (block == last || !block.isValid()) break;
        block = block.next();
    }
    cursor.endEditBlock();
}

}  // namespace

const QStringList& FontSizeEntries() {
    static const QStringList sizes = {"7",  "8",  "9",  "10", "11", "12", "14", "16", "18",
                                      "20", "22", "24", "26", "28", "36", "48", "72"};
    return sizes;
}

void ResetFormattingAtEnd(QTextEdit& editor) {
    QTextCursor cursor(editor.document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat plain;
    plain.setFontFamilies(QStringList{"Arial"});
    plain.setFontPointSize(10);
    plain.setFontWeight(QFont::Normal);
    plain.setFontItalic(false);
    plain.setFontUnderline(false);
    plain.setFontStrikeOut(false);
    plain.setForeground(QColor(Qt::black));
    if (cursor.block().length() <= 1) {
        // An empty last paragraph: its format is what text added after the
        // document starts with.
        cursor.beginEditBlock();
        if (HasBullets(cursor)) RemoveBullets(cursor);
        QTextBlockFormat block = cursor.blockFormat();
        block.setAlignment(Qt::AlignLeft);
        cursor.setBlockFormat(block);
        cursor.setBlockCharFormat(plain);
        cursor.endEditBlock();
    }
    cursor.setCharFormat(plain);
    cursor.insertText(QString());  // the empty selection replaced with nothing
    editor.setTextCursor(cursor);
    editor.setCurrentCharFormat(plain);
    editor.viewport()->update();
}

TRichToolbar::TRichToolbar(TDBRichEdit* editor, QWidget* parent) : QWidget(parent), m_Editor(editor) {
    setObjectName("ToolBar1");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);

    m_FontName = new QComboBox(this);
    m_FontName->setObjectName("FontName");
    m_FontName->setAccessibleName("Font name");
    m_FontName->setToolTip("Font name");
    m_FontName->setMinimumContentsLength(16);
    m_FontName->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    // A click on a list leaves the focus, and so the selection, in the editor.
    m_FontName->setFocusPolicy(Qt::TabFocus);
    layout->addWidget(m_FontName);

    m_FontSize = new QComboBox(this);
    m_FontSize->setObjectName("FontSize");
    m_FontSize->setAccessibleName("Font size");
    m_FontSize->setToolTip("Font size");
    m_FontSize->addItems(FontSizeEntries());
    m_FontSize->setFocusPolicy(Qt::TabFocus);
    layout->addWidget(m_FontSize);

    m_Bold = AddButton("B", "BoldButton", "Bold", QKeySequence::Bold, true);
    m_Italic = AddButton("I", "ItalicButton", "Italic", QKeySequence::Italic, true);
    m_Underline = AddButton("U", "UnderlineButton", "Underline", QKeySequence::Underline, true);
    QFont bold = m_Bold->font();
    bold.setBold(true);
    m_Bold->setFont(bold);
    QFont italic = m_Italic->font();
    italic.setItalic(true);
    m_Italic->setFont(italic);
    QFont underline = m_Underline->font();
    underline.setUnderline(true);
    m_Underline->setFont(underline);
    m_Colour = AddButton("Colour", "ColourButton", "Text colour", QKeySequence(), false);
    m_Left = AddButton("Left", "LeftButton", "Align left", QKeySequence("Ctrl+L"), true);
    m_Center = AddButton("Centre", "CenterButton", "Centre", QKeySequence("Ctrl+E"), true);
    m_Right = AddButton("Right", "RightButton", "Align right", QKeySequence("Ctrl+R"), true);
    m_Bullets = AddButton("Bullets", "BulletsButton", "Bullets", QKeySequence(), true);
    layout->addStretch(1);

    m_Alignment = new QButtonGroup(this);
    m_Alignment->setExclusive(true);
    m_Alignment->addButton(m_Left);
    m_Alignment->addButton(m_Center);
    m_Alignment->addButton(m_Right);
    m_Left->setChecked(true);

    connect(m_FontName, &QComboBox::activated, this, &TRichToolbar::FontNameChosen);
    connect(m_FontSize, &QComboBox::activated, this, &TRichToolbar::FontSizeChosen);
    for (QToolButton* style : {m_Bold, m_Italic, m_Underline})
        connect(style, &QToolButton::clicked, this, [this, style] { StyleClicked(style); });
    connect(m_Colour, &QToolButton::clicked, this, &TRichToolbar::ColourClicked);
    for (QToolButton* align : {m_Left, m_Center, m_Right})
        connect(align, &QToolButton::clicked, this, [this, align] { AlignmentClicked(align); });
    connect(m_Bullets, &QToolButton::clicked, this, &TRichToolbar::BulletsClicked);

    // The buttons follow the caret after every key and click that moves it
    // or changes the format under it.
    connect(m_Editor, &TDBRichEdit::formatChanged, this, &TRichToolbar::setbuttons);
    m_Editor->installEventFilter(this);
    m_Editor->viewport()->installEventFilter(this);
}

bool TRichToolbar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_Editor || watched == m_Editor->viewport()) {
        // Runs before the editor's own handler, which may re-read its document.
        if (event->type() == QEvent::FocusOut && watched == m_Editor) {
            const QTextCursor cursor = m_Editor->textCursor();
            m_SavedAnchor = cursor.anchor();
            m_SavedPosition = cursor.position();
        } else if (event->type() == QEvent::KeyPress ||
                   event->type() == QEvent::MouseButtonPress) {
            // The user works in the editor again: its own caret counts.
            m_SavedAnchor = m_SavedPosition = -1;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TRichToolbar::RestoreSelection() {
    if (m_SavedAnchor < 0) return;
    const QTextCursor current = m_Editor->textCursor();
    if (current.anchor() == m_SavedAnchor && current.position() == m_SavedPosition) return;
    const int last = m_Editor->document()->characterCount() - 1;
    QTextCursor cursor(m_Editor->document());
    cursor.setPosition(std::clamp(m_SavedAnchor, 0, last));
    cursor.setPosition(std::clamp(m_SavedPosition, 0, last), QTextCursor::KeepAnchor);
    m_Editor->setTextCursor(cursor);
}

QToolButton* TRichToolbar::AddButton(const QString& text, const QString& name,
                                     const QString& accessible, const QKeySequence& shortcut,
                                     bool checkable) {
    auto* button = new QToolButton(this);
    button->setObjectName(name);
    button->setText(text);
    button->setAccessibleName(accessible);
    button->setCheckable(checkable);
    button->setFocusPolicy(Qt::TabFocus);
    button->setMinimumWidth(24);
    QString tip = accessible;
    if (!shortcut.isEmpty()) {
        // A shortcut of the window that clicks the button at once (a
        // button's own shortcut would animate the click over a timer).
        auto* action = new QAction(button);
        action->setShortcut(shortcut);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, button, &QToolButton::click);
        m_Editor->addAction(action);
        tip += " (" + shortcut.toString(QKeySequence::NativeText) + ")";
    }
    button->setToolTip(tip);
    layout()->addWidget(button);
    return button;
}

void TRichToolbar::SetFontNames(const QStringList& names) {
    m_FontName->clear();
    m_FontName->addItems(names);
    m_FontName->setCurrentIndex(-1);
}

void TRichToolbar::setbuttons() {
    m_Bold->setChecked(m_Editor->CurrentBold());
    m_Italic->setChecked(m_Editor->CurrentItalic());
    m_Underline->setChecked(m_Editor->CurrentUnderline());

    const QString family = m_Editor->CurrentFontName();
    if (m_FontName->currentText() != family) {
        for (int i = m_FontName->count() - 1; i >= 0; --i) {
            if (m_FontName->itemText(i) == family) {
                m_FontName->setCurrentIndex(i);
                break;
            }
        }
    }

    const double size = m_Editor->CurrentFontSize();
    bool shownIsNumber = false;
    const double shown = m_FontSize->currentText().toDouble(&shownIsNumber);
    if (!shownIsNumber || shown != size) {
        for (int i = 0; i < m_FontSize->count(); ++i) {
            if (m_FontSize->itemText(i).toDouble() == size) {
                m_FontSize->setCurrentIndex(i);
                break;
            }
        }
    }

    const Qt::Alignment alignment = m_Editor->CurrentAlignment();
    if (alignment & Qt::AlignHCenter) {
        m_Center->setChecked(true);
    } else if (alignment & Qt::AlignRight) {
        m_Right->setChecked(true);
    } else {
        m_Left->setChecked(true);
    }

    m_Bullets->setChecked(m_Editor->CurrentBullets());
}

void TRichToolbar::FontNameChosen(int index) {
    if (index < 0) return;
    RestoreSelection();
    m_Editor->SetFontName(m_FontName->itemText(index));
    setbuttons();
    m_Editor->setFocus(Qt::OtherFocusReason);
}

void TRichToolbar::FontSizeChosen(int index) {
    if (index < 0) return;
    RestoreSelection();
    m_Editor->SetFontSize(m_FontSize->itemText(index).toDouble());
    setbuttons();
    m_Editor->setFocus(Qt::OtherFocusReason);
}

void TRichToolbar::StyleClicked(QToolButton* button) {
    RestoreSelection();
    const bool on = button->isChecked();
    if (button == m_Bold) {
        m_Editor->SetBold(on);
    } else if (button == m_Italic) {
        m_Editor->SetItalic(on);
    } else {
        m_Editor->SetUnderline(on);
    }
    setbuttons();
}

void TRichToolbar::ColourClicked() {
    RestoreSelection();
    const int anchor = m_Editor->textCursor().anchor();
    const int position = m_Editor->textCursor().position();
    const std::optional<QColor> colour =
        Dialogs().ChooseColour(window(), m_Editor->CurrentColour());
    const QTextCursor current = m_Editor->textCursor();
    if (colour.has_value() && colour->isValid() &&
        (current.anchor() != anchor || current.position() != position)) {
        // The dialog took the focus from the editor, which may have shown
        // its field again: the colour goes to the selection as it was.
        QTextCursor cursor(m_Editor->document());
        const int last = m_Editor->document()->characterCount() - 1;
        cursor.setPosition(std::min(anchor, last));
        cursor.setPosition(std::min(position, last), QTextCursor::KeepAnchor);
        m_Editor->setTextCursor(cursor);
    }
    if (colour.has_value() && colour->isValid()) m_Editor->SetColour(*colour);
    setbuttons();
}

void TRichToolbar::AlignmentClicked(QToolButton* button) {
    RestoreSelection();
    Qt::Alignment alignment = Qt::AlignLeft;
    if (button == m_Center) alignment = Qt::AlignHCenter;
    if (button == m_Right) alignment = Qt::AlignRight;
    // A refused change leaves the group showing the paragraph's alignment.
    if (!m_Editor->SetParagraphAlignment(alignment)) setbuttons();
}

void TRichToolbar::BulletsClicked() {
    RestoreSelection();
    if (!m_Editor->SetBullets(m_Bullets->isChecked())) setbuttons();
}

}  // namespace veltra
