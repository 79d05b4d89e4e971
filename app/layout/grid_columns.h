// A grid's columns in the settings file. The window section holds
// "<key>.Count", the number of columns; the section "<window>.<key>" (erased
// before writing) holds every attribute of every column n under
// "Item<n>_<attribute>", n counted from 0 in the order the columns are shown:
//
//   Alignment, ButtonStyle, Color, DropDownRows, Expanded, FieldName,
//   FontCharset, FontColor, FontHeight, FontName, FontPitch, FontSize,
//   FontStyle, ImeMode, ImeName, PickList, PopupMenu, ReadOnly,
//   TitleAlignment, TitleCaption, TitleColor, TitleFontCharset,
//   TitleFontColor, TitleFontHeight, TitleFontName, TitleFontPitch,
//   TitleFontSize, TitleFontStyle, Width, Visible
//
// PickList is a list of strings with a section of its own,
// "<window>.<key>.Item<n>_PickList", erased before writing and left empty
// (the program's columns have no pick lists), so it has no key in the
// columns section. The program's grid carries FieldName, TitleCaption, Width
// and Visible; every other attribute is written with the grid's fixed
// default and passed over when read.
#pragma once

#include <QList>
#include <QString>

#include "platform/profile/profile.h"
#include "platform/qt/controls/db_grid.h"

namespace veltra {

// Queues in `batch` the writes of `columns` under `key` ("DBGrid1_Columns")
// of window section `section`: the count key, then the columns section (and
// each column's PickList section) erased and written anew. False when a
// name or value cannot be stored; the batch's Commit writes the file.
bool WriteGridColumns(const QString& section, const QString& key,
                      const QList<TGridColumn>& columns, TProfileBatch& batch);

// The columns read from `fileName`: the count (default: current's), a fresh
// list of that many columns (at most 256) when it differs from current's, then each
// column's FieldName, TitleCaption, Width and Visible with the column's
// value as default.
QList<TGridColumn> ReadGridColumns(const QString& section, const QString& key,
                                   const QList<TGridColumn>& current, const QString& fileName);

}  // namespace veltra
