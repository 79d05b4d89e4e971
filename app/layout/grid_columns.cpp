#include "app/layout/grid_columns.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "app/layout/profile_text.h"
#include "app/layout/stored_properties.h"

namespace veltra {

namespace {

// The attributes the grid does not carry, with the values a fresh column of
// the grid has. Colours are system colour numbers (window, window text,
// button face); the font is the program's 8-point Arial.
const char* const kFont[][2] = {
    {"Charset", "1"},        {"Color", "-16777208"}, {"Height", "-11"},
    {"Name", "Arial"},       {"Pitch", "fpDefault"}, {"Size", "8"},
    {"Style", "[]"},
};

std::vector<std::pair<QString, QString>> Attributes(const TGridColumn& column) {
    std::vector<std::pair<QString, QString>> a{
        {"Alignment", "taLeftJustify"},
        {"ButtonStyle", "cbsAuto"},
        {"Color", "-16777211"},
        {"DropDownRows", "7"},
        {"Expanded", BooleanText(true)},
        {"FieldName", TextValue(column.FieldName)},
    };
    for (const auto& f : kFont) a.emplace_back(QString("Font") + f[0], f[1]);
    a.emplace_back("ImeMode", "imDontCare");
    a.emplace_back("ImeName", "");
    // PickList: a section of its own (see WriteGridColumns).
    a.emplace_back("PopupMenu", "(null)");
    a.emplace_back("ReadOnly", BooleanText(false));
    a.emplace_back("TitleAlignment", "taLeftJustify");
    a.emplace_back("TitleCaption", TextValue(column.Title));
    a.emplace_back("TitleColor", "-16777201");
    for (const auto& f : kFont) a.emplace_back(QString("TitleFont") + f[0], f[1]);
    a.emplace_back("Width", IntegerText(column.Width));
    a.emplace_back("Visible", BooleanText(column.Visible));
    return a;
}

// A count read from the file is not trusted to size the list beyond this.
constexpr int kMaxColumns = 256;

QString Item(int n, const char* attribute) { return QString("Item%1_%2").arg(n).arg(attribute); }

}  // namespace

bool WriteGridColumns(const QString& section, const QString& key,
                      const QList<TGridColumn>& columns, TProfileBatch& batch) {
    const auto write = [&batch](const QString& s, const QString& k, const QString& v) {
        return batch.Write(s.toStdString(), k.toStdString(), v.toStdString());
    };
    const QString own = section + "." + key;
    if (!write(section, key + ".Count", IntegerText(int(columns.size())))) return false;
    batch.Erase(own.toStdString());
    for (int n = 0; n < columns.size(); ++n) {
        for (const auto& [attribute, value] : Attributes(columns[n])) {
            if (!write(own, QString("Item%1_%2").arg(n).arg(attribute), value)) return false;
        }
        batch.Erase((own + "." + Item(n, "PickList")).toStdString());
    }
    return true;
}

QList<TGridColumn> ReadGridColumns(const QString& section, const QString& key,
                                   const QList<TGridColumn>& current, const QString& fileName) {
    const QString own = section + "." + key;
    const int count = ReadInteger(
        ReadProfile(section, key + ".Count", IntegerText(int(current.size())), fileName));
    QList<TGridColumn> columns = current;
    if (count != current.size()) columns = QList<TGridColumn>(std::clamp(count, 0, kMaxColumns));
    for (int n = 0; n < columns.size(); ++n) {
        TGridColumn& c = columns[n];
        c.FieldName = ReadProfile(own, Item(n, "FieldName"), c.FieldName, fileName).trimmed();
        c.Title = ReadProfile(own, Item(n, "TitleCaption"), c.Title, fileName).trimmed();
        c.Width = ReadInteger(ReadProfile(own, Item(n, "Width"), IntegerText(c.Width), fileName));
        c.Visible = ReadBoolean(
            ReadProfile(own, Item(n, "Visible"), BooleanText(c.Visible), fileName), c.Visible);
    }
    return columns;
}

}  // namespace veltra
