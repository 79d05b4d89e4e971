// Randomized differential test of filter bitmaps: random tables (field types,
// indexes of every key order, with and without primary index, with and
// without locale, deleted slots) and random filter texts. The records the
// cursor shows with a filter active, answered from the indexes where the
// filter allows, must be exactly the live records the filter accepts when
// each is read and evaluated, except for the one documented difference: a
// record whose field is null, under < > <= >= of that field against a
// constant, answered by an index led by that field.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <random>
#include <set>

#include "engine/filter_eval.h"
#include "engine/session.h"
#include "engine/value_text.h"
#include "platform/db_error.h"
#include "test_util.h"

using namespace veltra;
using veltra_test::TTestDir;

namespace {

struct TField {
    std::string Name;
    uint8_t Type;
    uint8_t Size = 0;
    uint8_t Decimals = 0;
};

class TRandomTable {
  public:
    TRandomTable(std::mt19937& rng, const std::string& path, bool primary, bool locale)
        : m_Rng(rng) {
        m_Fields = {{"S", ftString, uint8_t(2 + Pick(5))},
                    {"T", ftString, 10},
                    {"I", ftSmallInt},
                    {"N", ftInteger},
                    {"W", ftWord},
                    {"F", ftFloat},
                    {"B", ftBCD, 0, uint8_t(Pick(5))},
                    {"D", ftDate},
                    {"Tm", ftTime},
                    {"DT", ftDateTime},
                    {"L", ftBoolean}};
        m_Alphabet = locale ? "abAB*'\xE4\xC4" : "abAB*'z";
        TTableDef def;
        def.Fields.push_back({"ID", ftInteger, kSubTypeAutoInc});
        for (const TField& f : m_Fields)
            def.Fields.push_back({f.Name, f.Type, 0, f.Size, f.Decimals});
        if (primary) def.Indexes.push_back({.Primary = true, .Fields = {"ID"}});
        int n = 0;
        for (const TField& f : m_Fields) {
            if (Pick(2)) continue;
            TIndexDef ix{.Name = "X" + std::to_string(++n), .Fields = {f.Name}};
            if (Pick(2)) ix.Fields.push_back(m_Fields[Pick(m_Fields.size())].Name);
            if (ix.Fields.size() == 2 && ix.Fields[1] == ix.Fields[0]) ix.Fields.pop_back();
            ix.Descending = Pick(4) == 0;
            ix.FieldDescending = {Pick(3) == 0};
            ix.CaseInsensitive = f.Type == ftString && Pick(2);
            ix.Compression = TCompression(Pick(4));
            def.Indexes.push_back(ix);
            m_Leading.insert(f.Name);
        }
        if (locale) def.LanguageID = 0x0407;  // German
        CreateTable(path, def);
        Table.SetFileName(path);
        Table.SetExclusive(true);
        Table.OpenTable();
        if (!primary) m_Leading.clear();  // nothing is answered from an index
    }

    void Fill(int records, int deletions) {
        std::vector<uint8_t> buffer(size_t(Table.RecordSize()));
        for (int r = 0; r < records; ++r) {
            Table.InitRecord(buffer.data());
            for (const TField& f : m_Fields) {
                if (Pick(5) == 0) continue;  // null
                std::vector<uint8_t> v = StoredValue(f, RandomText(f));
                Table.SetFieldValue(Table.FieldNumber(f.Name), buffer.data(), v.data(), v.size());
            }
            Table.InsertRecord(buffer.data(), false);
        }
        for (int d = 0; d < deletions && Table.RecordCount() > 0; ++d) {
            Table.GotoRecordNumber(1 + int64_t(Pick(size_t(Table.RecordCount()))));
            ASSERT_EQ(Table.GetCurrentRecord(buffer.data(), false), 0);
            Table.DeleteRecord(false);
        }
    }

    // A filter text and the fields it compares by < > <= >= with a constant.
    std::string RandomFilter(std::set<std::string>& relational, int depth = 0) {
        int kind = depth >= 3 ? 0 : int(Pick(7));
        switch (kind) {
            case 4:
                return RandomFilter(relational, depth + 1) + " AND " +
                       RandomFilter(relational, depth + 1);
            case 5:
                return RandomFilter(relational, depth + 1) + " or " +
                       RandomFilter(relational, depth + 1);
            case 6:
                return (Pick(2) ? "NOT (" : "(") + RandomFilter(relational, depth + 1) + ")";
            default:
                return RandomComparison(relational);
        }
    }

    // Whether a record's mismatch is the documented one.
    bool DocumentedDifference(const uint8_t* record, const std::set<std::string>& relational) {
        for (const std::string& name : relational) {
            if (!m_Leading.count(name)) continue;
            TFieldDescriptor d = Table.FieldDescriptorByName(name);
            if (record[d.Offset()] == 0) return true;
        }
        return false;
    }

    size_t Pick(size_t n) { return size_t(m_Rng() % n); }

    TDataFile Table;

  private:
    std::string RandomComparison(std::set<std::string>& relational) {
        static const char* ops[] = {"=", "<>", "<", ">", "<=", ">="};
        const TField& f = m_Fields[Pick(m_Fields.size())];
        const std::string name = Pick(3) ? "[" + f.Name + "]" : f.Name;
        switch (Pick(8)) {
            case 0:
                return name + (Pick(2) ? " = null" : " <> NULL");
            case 1:
                return name + " " + ops[Pick(6)] + " [" + m_Fields[Pick(m_Fields.size())].Name +
                       "]";
            case 2:
                if (f.Type == ftBoolean) return Pick(2) ? name : "not " + name;
                [[fallthrough]];
            default: {
                int op = int(Pick(6));
                if (op >= 2) relational.insert(f.Name);
                std::string constant = Constant(f, op < 2);
                // The constant on the left: the operator turns around.
                static const char* turned[] = {"=", "<>", ">", "<", ">=", "<="};
                if (Pick(3) == 0) return constant + " " + turned[op] + " " + name;
                return name + " " + ops[op] + " " + constant;
            }
        }
    }

    std::string Constant(const TField& f, bool equality) {
        if (f.Type == ftString) {
            std::string text = Pick(10) == 0 ? std::string() : RandomText(f);
            if (Pick(6) == 0) text += "ab";  // may be longer than the field holds
            if (equality && Pick(3) == 0) text += "*";
            std::string quoted = "'";
            for (char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
            return quoted + "'";
        }
        if (f.Type == ftBoolean)
            return Pick(2) ? (Pick(2) ? "True" : "FALSE") : "'" + RandomText(f) + "'";
        std::string text = RandomText(f);
        return f.Type == ftDate || f.Type == ftTime || f.Type == ftDateTime ? "'" + text + "'"
                                                                            : text;
    }

    // A value of the field's small domain, as text in US formats.
    std::string RandomText(const TField& f) {
        char buf[64];
        switch (f.Type) {
            case ftString: {
                std::string s;
                size_t n = 1 + Pick(std::min<size_t>(3, f.Size));
                for (size_t i = 0; i < n; ++i) s += m_Alphabet[Pick(m_Alphabet.size())];
                return s;
            }
            case ftSmallInt:
            case ftInteger:
                return std::to_string(int(Pick(7)) - 3);
            case ftWord:
                return std::to_string(Pick(7));
            case ftFloat: {
                static const char* values[] = {"-1.5", "-0.5", "0", "0.5", "1", "2.25", "1E3"};
                return values[Pick(7)];
            }
            case ftBCD: {
                const double unit = f.Decimals == 0 ? 1 : f.Decimals == 1 ? 0.5 : 0.25;
                std::snprintf(buf, sizeof buf, "%.2f", (double(Pick(9)) - 4) * unit);
                return Pick(8) == 0 ? "0.3" : buf;
            }
            case ftDate:
                std::snprintf(buf, sizeof buf, "3/%d/2002", int(10 + Pick(5)));
                return buf;
            case ftTime: {
                int k = int(Pick(6));
                std::snprintf(buf, sizeof buf, "%d:%02d:00", k / 2, k % 2 * 30);
                return buf;
            }
            case ftDateTime: {
                int k = int(Pick(9));
                std::snprintf(buf, sizeof buf, "3/%d/2002 %d:00", 10 + k / 3, k % 3);
                return buf;
            }
            default:
                return Pick(2) ? "true" : "false";
        }
    }

    std::vector<uint8_t> StoredValue(const TField& f, const std::string& text) {
        const TFormatSettings& fs = UsFormatSettings();
        std::vector<uint8_t> v(8, 0);
        switch (f.Type) {
            case ftString:
                return std::vector<uint8_t>(text.begin(), text.end());
            case ftSmallInt:
                PutI16(v.data(), int16_t(std::stoi(text)));
                v.resize(2);
                break;
            case ftWord:
                PutU16(v.data(), uint16_t(std::stoi(text)));
                v.resize(2);
                break;
            case ftInteger:
                PutI32(v.data(), std::stoi(text));
                v.resize(4);
                break;
            case ftBoolean:
                PutU16(v.data(), TextToBoolean(text) ? 1 : 0);
                v.resize(2);
                break;
            case ftFloat:
                PutF64(v.data(), TextToFloat(text, fs));
                break;
            case ftBCD: {
                int64_t packed = 0;
                PackBcd(TextToCurrency(text, fs), f.Decimals, packed);
                PutI64(v.data(), packed);
                break;
            }
            case ftDate:
                PutI32(v.data(), TextToDate(text, fs));
                v.resize(4);
                break;
            case ftTime:
                PutI32(v.data(), TextToTime(text, fs));
                v.resize(4);
                break;
            default: {
                int32_t day = 0, ms = 0;
                TextToDateTime(text, fs, day, ms);
                PutF64(v.data(), double(day) * 86400000.0 + ms);
            }
        }
        return v;
    }

    std::mt19937& m_Rng;
    std::vector<TField> m_Fields;
    std::string m_Alphabet;
    std::set<std::string> m_Leading;  // fields that lead an index of a table with primary index
};

TEST(FilterDifferentialTest, IndexAnswersEqualRecordAnswersExceptNullsUnderRelationalOperators) {
    EngineStartup();
    TTestDir dir;
    std::mt19937 rng(424242);
    int answeredByIndex = 0, documented = 0;
    for (int round = 0; round < 24; ++round) {
        const bool primary = round % 4 != 3;
        const bool locale = round % 4 == 1;
        SCOPED_TRACE("round " + std::to_string(round));
        TRandomTable t(rng, dir / ("t" + std::to_string(round) + ".dat"), primary, locale);
        t.Fill(150, 25);

        // The live records, by ID.
        std::map<int32_t, std::vector<uint8_t>> records;
        for (int32_t r = 1; r < t.Table.NextRecordNo(); ++r) {
            TFetchResult f = t.Table.FetchRecord(r);
            if (!f.Record->IsDeleted()) records[f.Record->RecordID()] = f.Record->Buffer;
            f.Record->Unpin();
        }

        for (int i = 0; i < 80; ++i) {
            std::set<std::string> relational;
            const std::string text = t.RandomFilter(relational);
            const TFilterOptionSet options = TFilterOptionSet(t.Pick(4));
            SCOPED_TRACE(text + " / options " + std::to_string(options));
            std::unique_ptr<TExpressionFilter> filter;
            try {
                filter = CreateExpressionFilter(t.Table, text, options);
            } catch (const std::exception& e) {
                ADD_FAILURE() << e.what();
                continue;
            }
            if (filter->Grade() < 2) ++answeredByIndex;
            if (!primary) {
                EXPECT_EQ(filter->Grade(), 2);
            }

            std::set<int32_t> matching;
            for (const auto& [id, image] : records)
                if (filter->Matches(image.data())) matching.insert(id);

            TFilterHandle h = t.Table.AddFilter(filter->Clone(), nullptr);
            ASSERT_EQ(t.Table.ActivateFilter(h), 0);
            std::set<int32_t> visible;
            std::vector<uint8_t> buffer(size_t(t.Table.RecordSize()));
            t.Table.FirstRecord();
            while (t.Table.NextRecord(buffer.data()) == 0) visible.insert(GetI32(&buffer[5]));
            ASSERT_EQ(t.Table.RemoveFilter(h), 0);

            for (const auto& [id, image] : records) {
                if (matching.count(id) == visible.count(id)) continue;
                ++documented;
                EXPECT_TRUE(t.DocumentedDifference(image.data(), relational))
                    << "record " << id << (matching.count(id) ? " passes" : " fails")
                    << " when read";
            }
            for (int32_t id : visible)
                EXPECT_TRUE(records.count(id)) << "deleted record " << id << " shown";
        }
    }
    // Both answers were really exercised.
    EXPECT_GT(answeredByIndex, 200);
    EXPECT_GT(documented, 0);
}

}  // namespace
