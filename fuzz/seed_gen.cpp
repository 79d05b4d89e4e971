// Writes the seed corpora of the fuzz targets: tables built the way the tests
// build them, framed as fuzz_table inputs, and the filter texts of a text
// file (one a line) as fuzz_filter inputs, as text and compiled, and small
// RTF documents of the forms rich-text editors write as fuzz_rtf inputs.
//
// Usage: veltra-fuzz-seeds TABLE_SEED_DIR FILTER_SEED_DIR FILTER_TEXTS [RTF_SEED_DIR]
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/data_file.h"
#include "engine/filter_parser.h"
#include "engine/session.h"
#include "engine/table_builder.h"
#include "fuzz_input.h"
#include "platform/db_error.h"
#include "platform/rtf/rtf.h"
#include "tests/test_util.h"

using namespace veltra;
using namespace veltra_fuzz;

namespace {

void WriteSeed(const std::filesystem::path& file, const std::vector<uint8_t>& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Frames the three files of the table at `path` with each of the options.
void WriteTableSeeds(const std::string& path, const std::filesystem::path& dir, const std::string& name,
                     std::initializer_list<uint8_t> options) {
    TTableInput input;
    const std::string names[3] = {path, veltra_test::IndexPathOf(path), veltra_test::BlobPathOf(path)};
    for (int f = 0; f < 3; ++f)
        if (std::filesystem::exists(names[f])) input.Files[f] = veltra_test::ReadFileBytes(names[f]);
    for (uint8_t o : options) {
        input.Options = o;
        WriteSeed(dir / (name + "-" + std::to_string(o)), EncodeTableInput(input));
    }
}

// Inserts `count` records with titles, dates and every third one a BLOB,
// then deletes every `deleteEvery`-th (0: none).
void Fill(const std::string& path, int count, int deleteEvery, const std::string& title) {
    TDataFile t;
    t.SetFileName(path);
    t.SetExclusive(true);
    t.OpenTable();
    std::vector<uint8_t> buffer(size_t(t.RecordSize()));
    for (int i = 1; i <= count; ++i) {
        t.InitRecord(buffer.data());
        const std::string text = title + " " + std::to_string(i * 7919 % 1000);
        t.SetFieldValue(t.FieldNumber(veltra_test::kTitleField), buffer.data(),
                        reinterpret_cast<const uint8_t*>(text.data()), text.size());
        uint8_t day[4];
        PutI32(day, EncodeDayNumber(2026, 1 + i % 12, 1 + i % 28));
        t.SetFieldValue(t.FieldNumber(veltra_test::kDateField), buffer.data(), day, 4);
        if (i % 3 == 0)
            veltra_test::PutBlobText(t, buffer.data(), veltra_test::kNotesField,
                                     std::string(size_t(50 + i * 37 % 900), char('a' + i % 26)));
        t.InsertRecord(buffer.data(), false);
    }
    if (deleteEvery > 0) {
        for (int i = count; i >= 1; --i) {
            if (i % deleteEvery) continue;
            t.SelectIndexByName("");
            t.GotoRecordNumber(i);
            if (t.GetCurrentRecord(buffer.data(), true) == 0) t.DeleteRecord(false);
        }
    }
    t.CloseTable();
}

// RTF as a rich edit control, word processors and this program write it,
// and as the change history splices it.
void WriteRtfSeeds(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir);
    const std::string seeds[] = {
        "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}{\\f1\\fnil\\fcharset2 "
        "Symbol;}}\r\n{\\colortbl ;\\red255\\green0\\blue0;}\r\n\\viewkind4\\uc1\\pard\\f0\\fs20 plain "
        "\\b bold\\b0  \\cf1\\i red\\cf0\\i0\\par\r\n\\pard{\\pntext\\f1\\'B7\\tab}{\\*\\pn\\pnlvlblt\\pnf1"
        "\\pnindent0{\\pntxtb\\'B7}}\\fi-720\\li720\\qc item\\par\r\n}\r\n",
        "{\\rtf1\\ansi\\ansicpg1251{\\fonttbl{\\f0\\fcharset204 Times;}{\\f1\\fcharset134 SimSun;}}\\f0 \\'cf\\'f0"
        "\\f1\\'d6\\'d0\\uc1\\u20320?\\uc2\\u22909\\'ba\\'c3\\u-10179?\\u-8694?{\\upr{a}{\\*\\ud{b}}}\\par}",
        "{\\rtf1{\\*\\generator x;}{\\info{\\title t}}{\\header h}{\\pict\\bin4 {}}\\}{\\field{\\*\\fldinst "
        "HYPERLINK \"u\"}{\\fldrslt link}}a\\cell b\\cell\\row\\v hidden\\v0\\ls1{\\listtext 1.\\tab}x\\par}",
    };
    int n = 0;
    for (const std::string& seed : seeds)
        WriteSeed(dir / ("rtf-" + std::to_string(++n)), std::vector<uint8_t>(seed.begin(), seed.end()));
    veltra::TRtfDocument document = veltra::ReadRtf(seeds[0]);
    std::string description = veltra::WriteRtf(document);
    WriteSeed(dir / "written", std::vector<uint8_t>(description.begin(), description.end()));
    description.resize(description.size() - veltra::kRtfClosing.size());
    description += "\\par \\par Change History\\par\r\n12/10/2026 at 9:41:07 AM ann submitted ticket\\par\r\n\\par }";
    WriteSeed(dir / "spliced", std::vector<uint8_t>(description.begin(), description.end()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s TABLE_SEED_DIR FILTER_SEED_DIR FILTER_TEXTS [RTF_SEED_DIR]\n", argv[0]);
        return 2;
    }
    try {
        EngineStartup();
        const std::filesystem::path tableDir = argv[1], filterDir = argv[2];
        std::filesystem::create_directories(tableDir);
        std::filesystem::create_directories(filterDir);
        const std::string work = ScratchFolder();

        // The tests' small table: empty, a few records, many records with
        // deletions (a deeper tree, free slots, free BLOB blocks).
        CreateTable(work + "/empty.dat", veltra_test::SmallTableDef());
        WriteTableSeeds(work + "/empty.dat", tableDir, "empty", {0});
        CreateTable(work + "/small.dat", veltra_test::SmallTableDef());
        Fill(work + "/small.dat", 6, 4, "Ticket");
        WriteTableSeeds(work + "/small.dat", tableDir, "small",
                        {0, kOpenExclusive | kOpenReadOnly, kOpenStrict, kOpenWrite, kOpenExclusive | kOpenWrite});
        // Long titles make the title index three levels deep with few records.
        TTableDef compressed = veltra_test::SmallTableDef();
        compressed.Fields[0].Size = 250;
        compressed.Indexes.push_back({.Name = "ByDate", .Fields = {veltra_test::kDateField, veltra_test::kTitleField},
                                      .Descending = true, .CaseInsensitive = true,
                                      .Compression = TCompression::Leading});
        compressed.BlobBlockSize = 128;
        CreateTable(work + "/many.dat", compressed);
        Fill(work + "/many.dat", 40, 5, "A somewhat longer ticket title");
        WriteTableSeeds(work + "/many.dat", tableDir, "many", {0, kOpenExclusive | kOpenWrite});
        // Without a primary index: natural order only.
        TTableDef natural = veltra_test::SmallTableDef();
        natural.Indexes.erase(natural.Indexes.begin());
        CreateTable(work + "/natural.dat", natural);
        Fill(work + "/natural.dat", 5, 2, "Plain");
        WriteTableSeeds(work + "/natural.dat", tableDir, "natural", {0, kOpenWrite});
        // The filter tables: every field type, nine indexes.
        for (bool indexed : {false, true}) {
            const std::string path = work + (indexed ? "/findexed.dat" : "/fplain.dat");
            CreateFilterTable(path, indexed);
            WriteTableSeeds(path, tableDir, indexed ? "filter-indexed" : "filter-plain", {kOpenExclusive});
        }

        // Filter texts, each as text with a few option sets, and compiled.
        std::ifstream texts(argv[3]);
        TDataFile table;
        table.SetFileName(work + "/findexed.dat");
        table.SetExclusive(true);
        table.OpenTable();
        std::string line;
        int n = 0;
        while (std::getline(texts, line)) {
            if (line.empty() || line[0] == '#') continue;
            ++n;
            const uint8_t flags[] = {0, kFilterIndexedTable, uint8_t(kFilterIndexedTable | (n % 3 + 1))};
            for (uint8_t f : flags) {
                std::vector<uint8_t> seed{f};
                seed.insert(seed.end(), line.begin(), line.end());
                WriteSeed(filterDir / ("text-" + std::to_string(n) + "-" + std::to_string(f)), seed);
            }
            try {
                const TTableFieldSource fields(table);
                TExprParser parser(fields, 0, line);
                std::vector<uint8_t> seed{uint8_t(kFilterIndexedTable | kFilterCompiled)};
                seed.insert(seed.end(), parser.FilterData().begin(), parser.FilterData().end());
                WriteSeed(filterDir / ("compiled-" + std::to_string(n)), seed);
            } catch (const EDatabaseError&) {
            } catch (const EConvertError&) {
            }
        }
        table.CloseTable();
        if (argc == 5) WriteRtfSeeds(argv[4]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "seed generation failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
