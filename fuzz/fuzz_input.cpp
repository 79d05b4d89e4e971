// Framing of table inputs, hex texts and the scratch folder.
#include "fuzz_input.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace veltra_fuzz {

namespace {

constexpr const char* kFileNames[3] = {"t.dat", "t.idx", "t.blb"};

uint32_t GetLength(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Removes the scratch folder when the process ends normally.
struct TScratch {
    std::string Path;
    ~TScratch() {
        std::error_code ec;
        if (!Path.empty()) std::filesystem::remove_all(Path, ec);
    }
};

}  // namespace

TTableInput DecodeTableInput(const uint8_t* data, size_t size) {
    TTableInput input;
    if (size == 0) return input;
    input.Options = data[0];
    size_t pos = 1;
    for (auto& file : input.Files) {
        if (size - pos < 4) break;
        size_t length = GetLength(data + pos);
        pos += 4;
        if (length > size - pos) length = size - pos;
        file.emplace(data + pos, data + pos + length);
        pos += length;
    }
    return input;
}

std::vector<uint8_t> EncodeTableInput(const TTableInput& input) {
    std::vector<uint8_t> out{input.Options};
    for (const auto& file : input.Files) {
        if (!file) break;
        const uint32_t n = uint32_t(file->size());
        for (int shift = 0; shift < 32; shift += 8) out.push_back(uint8_t(n >> shift));
        out.insert(out.end(), file->begin(), file->end());
    }
    return out;
}

std::string WriteTableFiles(const TTableInput& input, const std::string& folder) {
    for (int f = 0; f < 3; ++f) {
        const std::string path = folder + "/" + kFileNames[f];
        std::error_code ec;
        std::filesystem::remove(path, ec);
        if (!input.Files[f]) continue;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(input.Files[f]->data()), std::streamsize(input.Files[f]->size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            abort();
        }
    }
    return folder + "/" + kFileNames[0];
}

std::string ToHexText(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
        if (i % 32 == 31 || i + 1 == bytes.size()) text += '\n';
    }
    return text;
}

std::vector<uint8_t> FromHexText(const std::string& text) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (v < 0) continue;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(uint8_t(high << 4 | v));
            high = -1;
        }
    }
    return bytes;
}

const std::string& ScratchFolder() {
    static TScratch scratch = [] {
        std::filesystem::path base = std::filesystem::exists("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                                          : std::filesystem::temp_directory_path();
        std::string tmpl = (base / "veltra-fuzz-XXXXXX").string();
        if (mkdtemp(tmpl.data()) == nullptr) {
            std::perror("mkdtemp");
            abort();
        }
        return TScratch{tmpl};
    }();
    return scratch.Path;
}

}  // namespace veltra_fuzz
