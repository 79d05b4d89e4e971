#include "app/layout/layout_store.h"

#include <QDir>
#include <QFileInfo>
#include <QScreen>
#include <QStandardPaths>
#include <QWidget>

#include "app/layout/component_values.h"
#include "app/layout/grid_columns.h"
#include "app/layout/profile_text.h"
#include "app/layout/stored_properties.h"
#include "platform/qt/controls/db_grid.h"

namespace veltra {

namespace {

// Show-command numbers of the file.
constexpr int kShowNormal = 1;
constexpr int kShowMinimized = 2;
constexpr int kShowMaximized = 3;

QSize ScreenSize(const QWidget& window) {
    const QScreen* screen = window.screen();
    return screen ? screen->geometry().size() : QSize(0, 0);
}

int PixelsPerInch(const QWidget& window) {
    const QScreen* screen = window.screen();
    return screen ? qRound(screen->logicalDotsPerInchY()) : 96;
}

QString FourNumbers(int a, int b, int c, int d) {
    return QString::asprintf("%d,%d,%d,%d", a, b, c, d);
}

// Up to four numbers of a "%d,%d,%d,%d" value; missing or unreadable ones
// keep `values`' entries.
void ReadFourNumbers(const QString& text, int (&values)[4]) {
    const QStringList parts = text.split(',');
    for (int i = 0; i < 4 && i < parts.size(); ++i) {
        bool ok = false;
        const int v = parts[i].trimmed().toInt(&ok);
        if (ok) values[i] = v;
    }
}

QString SizedKey(const char* key, QSize screen) {
    return QString("%1(%2x%3)").arg(key).arg(screen.width()).arg(screen.height());
}

QObject* Component(QWidget& window, const char* name) {
    if (window.objectName() == name) return &window;
    return window.findChild<QObject*>(name);
}

}  // namespace

ELayoutWriteError::ELayoutWriteError(const QString& fileName)
    : std::runtime_error(QString("Unable to write to %1").arg(fileName).toStdString()) {}

QString DefaultLayoutFileName() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           "/veltra-log/kesh_1_1.ini";
}

TLayoutStore::TLayoutStore(QWidget& window, QString fileName)
    : m_Window(window), m_FileName(std::move(fileName)) {}

QString TLayoutStore::Section() const {
    const QString name = QString::fromLatin1(m_Window.metaObject()->className());
    return name.mid(name.lastIndexOf(':') + 1);
}

QString TLayoutStore::ReadValue(const QString& key, const QString& defaultValue) const {
    return ReadProfile(Section(), key, defaultValue, m_FileName);
}

void TLayoutStore::Write(TProfileBatch& batch, const QString& key, const QString& value) {
    if (!batch.Write(Section().toStdString(), key.toStdString(), value.toStdString()))
        throw ELayoutWriteError(m_FileName);
}

void TLayoutStore::Save() {
    if (!m_Restored) return;
    WriteAll(false);
}

void TLayoutStore::SaveAtDestroy() {
    if (!m_Restored || m_Saved) return;
    WriteAll(true);
}

void TLayoutStore::WriteAll(bool destroying) {
    // The folder of a per-user file may not exist yet; a folder that cannot
    // be made shows as the refused write that follows.
    QDir().mkpath(QFileInfo(m_FileName).absolutePath());
    // Every key is queued and the file written once at the end: one
    // read-modify-write for the whole layout rather than one per key.
    TProfileBatch batch(m_FileName.toStdString());
    Write(batch, "FormVersion", "0");
    int show = kShowNormal;
    if (m_Window.isMinimized()) {
        show = kShowMinimized;
    } else if (m_Window.isMaximized()) {
        show = kShowMaximized;
    }
    QRect normal = m_Window.normalGeometry();
    if (!normal.isValid()) normal = m_Window.geometry();
    const QSize screen = ScreenSize(m_Window);
    const QString minMax = FourNumbers(-1, -1, -1, -1);
    const QString norm = FourNumbers(normal.left(), normal.top(), normal.left() + normal.width(),
                                     normal.top() + normal.height());
    Write(batch, "Flags", "0");
    Write(batch, "ShowCmd", IntegerText(show));
    Write(batch, "PixelsPerInch", IntegerText(PixelsPerInch(m_Window)));
    Write(batch, SizedKey("MinMaxPos", screen), minMax);
    Write(batch, "MinMaxPos", minMax);
    Write(batch, SizedKey("NormPos", screen), norm);
    Write(batch, "NormPos", norm);
    Write(batch, "Visible", destroying ? "1" : "0");

    for (const TStoredProperty& p : StoredProperties(Section())) {
        QObject* component = Component(m_Window, p.Component);
        if (!component) continue;
        const QString property = p.Property;
        switch (p.Kind) {
            case TPropertyKind::Integer:
                if (auto v = ReadIntegerProperty(component, property))
                    Write(batch, p.Key(), IntegerText(*v));
                break;
            case TPropertyKind::Boolean:
                if (auto v = ReadBooleanProperty(component, property))
                    Write(batch, p.Key(), BooleanText(*v));
                break;
            case TPropertyKind::Text:
                if (auto v = ReadTextProperty(component, property)) Write(batch, p.Key(), TextValue(*v));
                break;
            case TPropertyKind::Columns:
                if (auto* grid = qobject_cast<TDBGrid*>(component)) {
                    if (!WriteGridColumns(Section(), p.Key(), grid->Columns(), batch))
                        throw ELayoutWriteError(m_FileName);
                }
                break;
        }
    }
    if (!batch.Commit()) throw ELayoutWriteError(m_FileName);
    m_Saved = true;
}

void TLayoutStore::Restore() {
    if (ReadInteger(ReadValue("FormVersion", "0")) < 0) return;
    RestorePlacement();
    RestoreProperties();
    m_Restored = true;
    m_Saved = false;
}

void TLayoutStore::RestorePlacement() {
    const QSize screen = ScreenSize(m_Window);
    ReadValue("Flags", "0");  // Qt keeps no placement flags
    auto read = [&](const char* key) {
        const QString sized = ReadValue(SizedKey(key, screen), "");
        return sized.isEmpty() ? ReadValue(key, "") : sized;
    };
    const QString minMax = read("MinMaxPos");
    const QString norm = read("NormPos");
    const QRect current = m_Window.geometry();
    int rect[4] = {current.left(), current.top(), current.left() + current.width(),
                   current.top() + current.height()};
    ReadFourNumbers(norm, rect);
    const int ppi = ReadInteger(ReadValue("PixelsPerInch", IntegerText(PixelsPerInch(m_Window))));
    if ((!minMax.isEmpty() || !norm.isEmpty()) && ppi == PixelsPerInch(m_Window)) {
        const bool fixedSize = m_Window.minimumSize() == m_Window.maximumSize();
        if (fixedSize) {
            m_Window.move(rect[0], rect[1]);
        } else if (rect[0] < rect[2]) {
            m_Window.setGeometry(rect[0], rect[1], rect[2] - rect[0], rect[3] - rect[1]);
        }
    }

    Qt::WindowStates state = m_Window.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    switch (ReadInteger(ReadValue("ShowCmd", "0"))) {
        case 2: case 6: case 7: state |= Qt::WindowMinimized; break;
        case kShowMaximized: state |= Qt::WindowMaximized; break;
        default: break;  // 1, 5, 9 and anything else: normal
    }
    // Qt has no application-wide minimize apart from the main window's: the
    // main window minimized is the program minimized, its normal rectangle
    // kept for when it is restored.
    m_Window.setWindowState(state);
}

void TLayoutStore::RestoreProperties() {
    for (const TStoredProperty& p : StoredProperties(Section())) {
        QObject* component = Component(m_Window, p.Component);
        if (!component) continue;
        const QString property = p.Property;
        try {
            switch (p.Kind) {
                case TPropertyKind::Integer:
                    if (auto v = ReadIntegerProperty(component, property)) {
                        SetIntegerProperty(component, property,
                                           ReadInteger(ReadValue(p.Key(), IntegerText(*v))));
                    }
                    break;
                case TPropertyKind::Boolean:
                    if (auto v = ReadBooleanProperty(component, property)) {
                        SetBooleanProperty(component, property,
                                           ReadBoolean(ReadValue(p.Key(), BooleanText(*v)), *v));
                    }
                    break;
                case TPropertyKind::Text:
                    if (auto v = ReadTextProperty(component, property))
                        SetTextProperty(component, property, ReadValue(p.Key(), *v));
                    break;
                case TPropertyKind::Columns:
                    if (auto* grid = qobject_cast<TDBGrid*>(component)) {
                        grid->SetColumns(
                            ReadGridColumns(Section(), p.Key(), grid->Columns(), m_FileName));
                    }
                    break;
            }
        } catch (...) {
            // A value the component refuses leaves it as it was.
        }
    }
}

}  // namespace veltra
