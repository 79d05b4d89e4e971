// TRichToolbar: the formatting toolbar of the ticket edit window's
// description editor. Left to right: the font name list, the font size list,
// the "B", "I" and "U" toggle buttons, the colour button, the left, centre and
// right alignment buttons (one group: exactly one is down) and the bullets
// toggle button.
//
// Every action applies to the editor's selection, or to the caret position
// when nothing is selected (the format then holds for the text typed next),
// through the editor's own formatting calls: they put the editor's dataset
// into Edit first, and an action the dataset refuses changes nothing (the
// buttons are then put back in line with the text).
// An action taken while the focus is away from the editor (in a list, its
// drop-down or the colour dialog) applies to the selection the editor had
// when it lost the focus, even if the editor has shown its field again
// meanwhile (it writes and re-reads its document when it loses the focus).
// After an action that changes the character format the toolbar runs
// setbuttons; after choosing a font name or size the focus goes back to the
// editor. The colour button asks the dialogs service for the colour, preset
// with the colour at the caret.
//
// setbuttons brings the toolbar in line with the format at the caret. It
// also runs whenever the caret moves or the format at the caret changes
// (every key and click in the editor that does either), so the buttons follow
// the text the caret is in after the key or click, not before it.
//
// The toolbar does not own the editor; the editor must outlive it.
// Thread: the user-interface thread only.
#pragma once

#include <QStringList>
#include <QWidget>

class QButtonGroup;
class QComboBox;
class QTextEdit;
class QToolButton;

namespace veltra {

class TDBRichEdit;

// The entries of the font size list, in order.
const QStringList& FontSizeEntries();

// Resets the format at the end of the editor's text so that text added
// after it starts plain: the caret goes to the end (nothing is selected; the
// selection asked for reaches past the text), the format there becomes Arial
// 10 points, black, regular; the last paragraph is left-aligned without a
// bullet when it holds no text (a paragraph with text keeps its alignment
// and bullet, which are part of the user's document). The editor is
// repainted. The document's modified flag is left as it was only when no
// paragraph format had to change.
void ResetFormattingAtEnd(QTextEdit& editor);

class TRichToolbar : public QWidget {
    Q_OBJECT
public:
    // Builds the toolbar for `editor` (not owned) and connects it.
    TRichToolbar(TDBRichEdit* editor, QWidget* parent = nullptr);

    // Replaces the font name list with `names` (the installed fonts); the
    // list then shows no entry until setbuttons selects one.
    void SetFontNames(const QStringList& names);

    // Brings the toolbar in line with the format at the caret:
    //  1. "B", "I", "U" are down exactly when the character there is bold,
    //     italic, underlined;
    //  2. when the font name list's text differs from the font name there,
    //     the list entry equal to that name is selected (exact comparison,
    //     the last equal entry wins; no equal entry: the list stays);
    //  3. when the size list's number differs from the size there, the entry
    //     with that number is selected (none: the list stays as it is);
    //  4. the alignment button of the paragraph's alignment is down;
    //  5. the bullets button is down exactly when the paragraph has bullets.
    void setbuttons();

    // Forgets the selection saved when the editor last lost the focus (the
    // editor shows another document now).
    void ForgetSelection() { m_SavedAnchor = m_SavedPosition = -1; }

    // The controls, for the window's tab order and for tests.
    QComboBox* FontName() const { return m_FontName; }
    QComboBox* FontSize() const { return m_FontSize; }
    QToolButton* BoldButton() const { return m_Bold; }
    QToolButton* ItalicButton() const { return m_Italic; }
    QToolButton* UnderlineButton() const { return m_Underline; }
    QToolButton* ColourButton() const { return m_Colour; }
    QToolButton* LeftButton() const { return m_Left; }
    QToolButton* CenterButton() const { return m_Center; }
    QToolButton* RightButton() const { return m_Right; }
    QToolButton* BulletsButton() const { return m_Bullets; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Puts back the selection the editor had when it lost the focus, when
    // the focus has not returned to it since.
    void RestoreSelection();
    QToolButton* AddButton(const QString& text, const QString& name, const QString& accessible,
                           const QKeySequence& shortcut, bool checkable);
    void FontNameChosen(int index);
    void FontSizeChosen(int index);
    void StyleClicked(QToolButton* button);
    void ColourClicked();
    void AlignmentClicked(QToolButton* button);
    void BulletsClicked();

    TDBRichEdit* m_Editor;
    QComboBox* m_FontName = nullptr;
    QComboBox* m_FontSize = nullptr;
    QToolButton* m_Bold = nullptr;
    QToolButton* m_Italic = nullptr;
    QToolButton* m_Underline = nullptr;
    QToolButton* m_Colour = nullptr;
    QToolButton* m_Left = nullptr;
    QToolButton* m_Center = nullptr;
    QToolButton* m_Right = nullptr;
    QToolButton* m_Bullets = nullptr;
    QButtonGroup* m_Alignment = nullptr;
    int m_SavedAnchor = -1;  // -1: nothing saved
    int m_SavedPosition = -1;
};

}  // namespace veltra
