// How controls present a field: its title, its width in characters, its
// alignment, its text in the current record and in any row image of a table.
// The field's own display properties decide; the row-image form follows
// TField::DisplayText for a record that is not the dataset's current one.
#pragma once

#include <QString>
#include <Qt>
#include <cstdint>
#include <vector>

namespace veltra {

class TField;
class TVeltraTable;

// The column title of a field (its display label).
QString FieldDisplayLabel(const TField& field);
// The number of characters a column of this field shows by default.
int FieldDisplayWidth(const TField& field);
// The field's text in the active record, as a grid cell shows it (BLOB
// fields as a marker of their kind, never their content).
QString FieldDisplayText(const TField& field);
// The field's alignment in a cell.
Qt::Alignment FieldAlignment(const TField& field);
// The same for the record image `image` of `table` (as TRowReader reads it),
// without touching the table's current record.
QString RowFieldText(TVeltraTable& table, const TField& field, const std::vector<uint8_t>& image);

}  // namespace veltra
