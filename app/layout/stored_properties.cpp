#include "app/layout/stored_properties.h"

namespace veltra {

const QList<TStoredProperty>& StoredProperties(const QString& section) {
    static const QList<TStoredProperty> kMain{
        // the splitter between the log list and the ticket area
        {"Splitter1", "Left", TPropertyKind::Integer},
        {"Splitter1", "Top", TPropertyKind::Integer},
        // the splitter between the grid and the text pane
        {"Splitter2", "Top", TPropertyKind::Integer},
        {"Splitter2", "Left", TPropertyKind::Integer},
        {"Panel2", "Width", TPropertyKind::Integer},  // the log list pane
        {"DBRichEdit1", "Height", TPropertyKind::Integer},
        {"DBRichEdit1", "Width", TPropertyKind::Integer},
        {"DBGrid1", "Height", TPropertyKind::Integer},
        {"DBGrid1", "Width", TPropertyKind::Integer},
        {"DBGrid1", "Columns", TPropertyKind::Columns},
        {"Labelindex", "Caption", TPropertyKind::Text},  // the sort index last chosen
        {"Preview1", "Checked", TPropertyKind::Boolean},
        {"PrintChangeHistory1", "Checked", TPropertyKind::Boolean},
    };
    static const QList<TStoredProperty> kEdit{
        // the split between the description editor and the field panel
        {"Splitter1", "Top", TPropertyKind::Integer},
        {"Panel1", "Top", TPropertyKind::Integer},
        {"Panel1", "Height", TPropertyKind::Integer},
        {"Panel4", "Height", TPropertyKind::Integer},
        {"Panel4", "Top", TPropertyKind::Integer},
    };
    static const QList<TStoredProperty> kNone;
    if (section.compare("Tmainform", Qt::CaseInsensitive) == 0) return kMain;
    if (section.compare("Teditform", Qt::CaseInsensitive) == 0) return kEdit;
    return kNone;
}

QString IntegerText(int value) { return QString::number(value); }

int ReadInteger(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? value : 0;
}

QString BooleanText(bool value) { return value ? "True" : "False"; }

bool ReadBoolean(const QString& text, bool current) {
    if (text.compare("True", Qt::CaseInsensitive) == 0) return true;
    if (text.compare("False", Qt::CaseInsensitive) == 0) return false;
    return current;
}

QString TextValue(const QString& text) {
    const QString trimmed = text.trimmed();
    const bool quoted =
        trimmed.size() >= 2 && ((trimmed.startsWith('"') && trimmed.endsWith('"')) ||
                                (trimmed.startsWith('\'') && trimmed.endsWith('\'')));
    return quoted ? "\"" + trimmed + "\"" : trimmed;
}

}  // namespace veltra
