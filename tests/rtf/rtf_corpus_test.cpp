// Real-world RTF from many programs, read from the shared corpus folder
// beside the source tree. Every file must read; where the corpus holds the
// text a separate stripping program shows, the visible words must be the
// same. That program writes hyperlink targets as ("URL") and ends table
// cells with '|', and its blanks and line breaks differ from ours, so the
// comparison is over runs of letters and digits with those removed.
#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/rtf/rtf.h"

namespace veltra {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Decodes one UTF-8 character (invalid bytes count as one non-letter).
char32_t NextCharacter(const std::string& s, size_t& i) {
    const unsigned char lead = static_cast<unsigned char>(s[i]);
    const int extra = lead < 0x80             ? 0
                      : (lead & 0xE0) == 0xC0 ? 1
                      : (lead & 0xF0) == 0xE0 ? 2
                      : (lead & 0xF8) == 0xF0 ? 3
                                              : -1;
    if (extra < 0 || s.size() - i <= size_t(extra)) {
        ++i;
        return 0xFFFD;
    }
    char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k)
        c = (c << 6) | (static_cast<unsigned char>(s[i + size_t(k)]) & 0x3F);
    i += size_t(extra) + 1;
    return c;
}

// The runs of letters and digits of a text, after removing ("...") and '|'.
std::vector<std::string> Words(std::string text) {
    for (size_t open; (open = text.find("(\"")) != std::string::npos;) {
        const size_t close = text.find("\")", open + 2);
        if (close == std::string::npos) break;
        text.erase(open, close + 2 - open);
    }
    std::replace(text.begin(), text.end(), '|', ' ');
    std::vector<std::string> words;
    std::string word;
    for (size_t i = 0; i < text.size();) {
        const size_t start = i;
        const char32_t c = NextCharacter(text, i);
        if (u_isalnum(UChar32(c))) {
            word.append(text, start, i - start);
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    if (!word.empty()) words.push_back(word);
    return words;
}

std::string Around(const std::vector<std::string>& words, size_t at) {
    std::string s;
    for (size_t i = at >= 5 ? at - 5 : 0; i < std::min(words.size(), at + 6); ++i)
        s += words[i] + " ";
    return s;
}

TEST(RtfCorpus, EveryFileReadsWithTheExpectedWords) {
    const fs::path corpus = VELTRA_RTF_CORPUS;
    if (!fs::is_directory(corpus / "rtf"))
        GTEST_SKIP() << "the RTF corpus is not at " << corpus.string()
                     << " (it lives only in the shared folder)";
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(corpus / "rtf"))
        if (entry.path().extension() == ".rtf") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        const std::string text = RtfPlainText(ReadAll(file));
        const fs::path expectedFile = corpus / "text" / (file.stem().string() + ".txt");
        if (!fs::exists(expectedFile)) continue;
        const std::vector<std::string> got = Words(text);
        const std::vector<std::string> expected = Words(ReadAll(expectedFile));
        const auto [g, e] = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
        if (g != got.end() || e != expected.end()) {
            const size_t at = size_t(g - got.begin());
            ADD_FAILURE() << "words differ at word " << at << " of " << got.size() << " (expected "
                          << expected.size() << ")\n  read:     " << Around(got, at)
                          << "\n  expected: " << Around(expected, at);
        }
    }
}

}  // namespace
}  // namespace veltra
