// TLayoutStore: keeps one window's layout in the settings file kesh_1_1.ini
// from one run to the next: its placement on the screen and its stored
// properties (splitters, pane sizes, the grid's columns, the sort index
// caption, menu check marks), as stored_properties.h lists them for the
// window's section.
//
// Where the file lives. The file is per user, in the user's configuration
// folder: $XDG_CONFIG_HOME/veltra-log/kesh_1_1.ini, by default
// ~/.config/veltra-log/kesh_1_1.ini (DefaultLayoutFileName). Linux keeps
// window layouts per user, and the program and data folders may be shared
// or read-only, so the file is never put there. Tests give the store a path
// of their own.
//
// The file is read through the private-profile functions
// (platform/profile/profile.h), one key per call, and a save writes all its
// keys as one batch (TProfileBatch): the file is read, changed and replaced
// once per save. Nothing is cached between operations. The window's section is named after its class without the
// namespace ("Tmainform", "Teditform").
//
// Placement keys, in this order:
//   FormVersion           always 0; a stored value below 0 restores nothing
//   Flags                 the placement flags, always 0 (Qt has none)
//   ShowCmd               1 normal, 2 minimized, 3 maximized
//   PixelsPerInch         the screen's logical pixels per inch
//   MinMaxPos(WxH), MinMaxPos  "%d,%d,%d,%d": minimized x, y and maximized x, y;
//                         Qt places these itself, so -1,-1,-1,-1 is written
//   NormPos(WxH), NormPos "%d,%d,%d,%d": left, top, right, bottom of the
//                         window's normal rectangle (its inner geometry, so
//                         that restoring does not grow the window by its frame)
//   Visible               1 when written because the window is being destroyed
// W and H are the screen's size when written; the plain key holds the same
// value for the last screen size. Restore prefers the key of the current
// screen size and falls back on the plain key; placements written at
// another pixels-per-inch are not applied.
//
// Thread: the user-interface thread.
#pragma once

#include <QString>
#include <stdexcept>

class QWidget;

namespace veltra {

class TProfileBatch;

// "Unable to write to <file>": the platform refused a write.
class ELayoutWriteError : public std::runtime_error {
public:
    explicit ELayoutWriteError(const QString& fileName);
};

// $XDG_CONFIG_HOME/veltra-log/kesh_1_1.ini (~/.config/veltra-log/ by default).
QString DefaultLayoutFileName();

class TLayoutStore {
public:
    // The store of `window` (not owned; it must outlive the store) in
    // `fileName`.
    explicit TLayoutStore(QWidget& window, QString fileName = DefaultLayoutFileName());

    const QString& FileName() const { return m_FileName; }
    // The window's section: its class name without namespace.
    QString Section() const;

    // The application's main window: minimized, it minimizes the program.
    void SetMainWindow(bool main) { m_MainWindow = main; }

    // Reads the layout back: called each time the window is shown, before the
    // window's own show step. A missing file or missing keys leave the window
    // as designed. Errors setting a property are ignored. Marks the window
    // restored and not saved.
    void Restore();

    // Writes the layout: called when the window is asked to close and the
    // close is allowed. Does nothing when the window was never restored in
    // this run. Raises ELayoutWriteError when a write is refused (the window
    // shows it in the error box and still closes); the window then stays
    // not saved. Marks the window saved.
    void Save();
    // Saves with Visible=1 when the window is destroyed at program end and
    // its layout has not been saved since it was restored; nothing otherwise.
    void SaveAtDestroy();

    bool Restored() const { return m_Restored; }
    bool Saved() const { return m_Saved; }

private:
    void Write(TProfileBatch& batch, const QString& key, const QString& value);
    void WriteAll(bool destroying);
    void RestorePlacement();
    void RestoreProperties();
    QString ReadValue(const QString& key, const QString& defaultValue) const;

    QWidget& m_Window;
    QString m_FileName;
    bool m_MainWindow = false;
    bool m_Restored = false;
    bool m_Saved = false;
};

}  // namespace veltra
