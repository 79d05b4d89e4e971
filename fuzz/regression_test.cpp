// Every input kept under fuzz/regressions/<target>/ (hex text, see
// fuzz_input.h) runs through its target's entry function. Each was once a
// crash, hang, out-of-bounds access or unbounded allocation; the entry
// functions abort on any outcome other than success or an engine error, so a
// fault that returns fails this test (and its sanitizer build).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_input.h"

namespace {

std::vector<std::filesystem::path> RegressionFiles(const std::string& target) {
    std::vector<std::filesystem::path> files;
    const std::filesystem::path dir = std::filesystem::path(VELTRA_FUZZ_REGRESSIONS) / target;
    if (std::filesystem::is_directory(dir))
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            if (entry.is_regular_file() && entry.path().extension() == ".hex") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

void RunAll(const std::string& target, const std::function<void(const uint8_t*, size_t)>& run) {
    for (const auto& file : RegressionFiles(target)) {
        SCOPED_TRACE(file.filename().string());
        std::ifstream in(file);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::vector<uint8_t> bytes = veltra_fuzz::FromHexText(text);
        ASSERT_FALSE(bytes.empty()) << "no hex digits";
        run(bytes.data(), bytes.size());
    }
}

TEST(FuzzRegressions, HexTextRoundTrip) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 300; ++i) bytes.push_back(uint8_t(i * 37));
    EXPECT_EQ(veltra_fuzz::FromHexText(veltra_fuzz::ToHexText(bytes)), bytes);
    EXPECT_EQ(veltra_fuzz::FromHexText("0A ff\n1b # x"), (std::vector<uint8_t>{0x0a, 0xff, 0x1b}));
}

// A table input keeps each frame, clips a frame longer than the input, and a
// file without frame is missing.
TEST(FuzzRegressions, TableFraming) {
    veltra_fuzz::TTableInput input;
    input.Options = 5;
    input.Files[0] = std::vector<uint8_t>{1, 2, 3};
    input.Files[1] = std::vector<uint8_t>{};
    std::vector<uint8_t> bytes = veltra_fuzz::EncodeTableInput(input);
    veltra_fuzz::TTableInput back = veltra_fuzz::DecodeTableInput(bytes.data(), bytes.size());
    EXPECT_EQ(back.Options, 5);
    EXPECT_EQ(back.Files[0], input.Files[0]);
    EXPECT_EQ(back.Files[1], input.Files[1]);
    EXPECT_FALSE(back.Files[2].has_value());
    const std::vector<uint8_t> clipped{0, 9, 0, 0, 0, 7, 8};
    back = veltra_fuzz::DecodeTableInput(clipped.data(), clipped.size());
    EXPECT_EQ(back.Files[0], (std::vector<uint8_t>{7, 8}));
    EXPECT_FALSE(back.Files[1].has_value());
}

TEST(FuzzRegressions, TableInputs) { RunAll("fuzz_table", veltra_fuzz::RunTableInput); }

TEST(FuzzRegressions, FilterInputs) { RunAll("fuzz_filter", veltra_fuzz::RunFilterInput); }

TEST(FuzzRegressions, RtfInputs) { RunAll("fuzz_rtf", veltra_fuzz::RunRtfInput); }

}  // namespace
