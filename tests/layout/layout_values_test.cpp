// Value texts of the settings file: integers, booleans, quoted texts, and
// the stored-property lists of the two windows.
#include <gtest/gtest.h>

#include "app/layout/stored_properties.h"

namespace veltra {
namespace {

TEST(LayoutValues, TextsAreTrimmedAndQuotedWhenTheReaderWouldStripTheirQuotes) {
    const std::pair<QString, QString> cases[] = {
        {"plain", "plain"},
        {"  blanks  ", "blanks"},
        {"'single'", "\"'single'\""},
        {"\"double\"", "\"\"double\"\""},
        {"'mixed\"", "'mixed\""},
        {"it's", "it's"},
        {"", ""},
    };
    for (const auto& [text, written] : cases) EXPECT_EQ(TextValue(text), written) << text.toStdString();
}

TEST(LayoutValues, IntegersAndBooleansRead) {
    EXPECT_EQ(IntegerText(-11), "-11");
    EXPECT_EQ(ReadInteger(" 42 "), 42);
    EXPECT_EQ(ReadInteger("-7"), -7);
    EXPECT_EQ(ReadInteger("12px"), 0);
    EXPECT_EQ(ReadInteger(""), 0);
    EXPECT_EQ(BooleanText(true), "True");
    EXPECT_EQ(BooleanText(false), "False");
    EXPECT_TRUE(ReadBoolean("TRUE", false));
    EXPECT_FALSE(ReadBoolean("false", true));
    EXPECT_TRUE(ReadBoolean("maybe", true));
    EXPECT_FALSE(ReadBoolean("1", false));
}

TEST(LayoutValues, TheWindowsStoreTheirPropertiesInTheirOrder) {
    QStringList main, edit;
    for (const TStoredProperty& p : StoredProperties("Tmainform")) main << p.Key();
    for (const TStoredProperty& p : StoredProperties("Teditform")) edit << p.Key();
    EXPECT_EQ(main, (QStringList{"Splitter1_Left", "Splitter1_Top", "Splitter2_Top",
                                 "Splitter2_Left", "Panel2_Width", "DBRichEdit1_Height",
                                 "DBRichEdit1_Width", "DBGrid1_Height", "DBGrid1_Width",
                                 "DBGrid1_Columns", "Labelindex_Caption", "Preview1_Checked",
                                 "PrintChangeHistory1_Checked"}));
    EXPECT_EQ(edit, (QStringList{"Splitter1_Top", "Panel1_Top", "Panel1_Height", "Panel4_Height",
                                 "Panel4_Top"}));
    EXPECT_TRUE(StoredProperties("Tsearchform").isEmpty());
}

}  // namespace
}  // namespace veltra
