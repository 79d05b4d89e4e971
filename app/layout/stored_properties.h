// The stored properties of the windows whose layout is kept, as data: per
// window section (the window's class name) the components and properties
// whose values are written, in the order in which they are written and read.
// A property named component.property is kept under the key
// component_property; the component is the window's child with that object
// name (a widget or an action).
//
// Value forms (text in the settings file):
//   Integer  decimal, with a minus sign when negative; a text that does not
//            read as a number reads as 0
//   Boolean  "True" or "False"; read without regard to case, other texts are
//            passed over
//   Text     the text with leading and trailing blanks removed, written even
//            when empty; a text that begins and ends with a double quote, or
//            with a single quote, is written inside an extra pair of double
//            quotes because the profile reader removes one pair
//   Columns  a grid's columns: "<key>.Count" in the window section and a
//            section of their own (grid_columns.h)
#pragma once

#include <QList>
#include <QString>

namespace veltra {

enum class TPropertyKind { Integer, Boolean, Text, Columns };

struct TStoredProperty {
    const char* Component;
    const char* Property;
    TPropertyKind Kind;
    QString Key() const { return QString("%1_%2").arg(Component, Property); }
};

// The stored properties of the window section `section` ("Tmainform",
// "Teditform"); empty for any other window, which then keeps only its
// placement.
const QList<TStoredProperty>& StoredProperties(const QString& section);

// Value texts.
QString IntegerText(int value);
int ReadInteger(const QString& text);
QString BooleanText(bool value);
// "True" / "False" without regard to case; `current` for any other text.
bool ReadBoolean(const QString& text, bool current);
// The text as written: trimmed, quoted when the profile reader would strip
// its enclosing quotes.
QString TextValue(const QString& text);

}  // namespace veltra
