// Leaf compression against a byte-at-a-time reference: the prefix each entry
// shares with the one before and the zero run it drops must be the longest
// the format allows, for every mode, key size and record-ID suffix, and the
// page must read back to the same keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

#include "engine/byte_order.h"
#include "engine/index_page.h"

using namespace veltra;

namespace {

struct TReference {
    int P = 0, T = 0;
};

TReference ReferenceCompress(const TPageFormat& f, const uint8_t* prev, const uint8_t* key) {
    const int k = f.KeySize;
    const int end = k - (f.RecordIdSuffix ? 4 : 0);
    TReference r;
    if ((f.Compression == 1 || f.Compression == 3) && prev) {
        while (r.P < k && prev[r.P] == key[r.P]) ++r.P;
        if (f.Compression == 3) r.P = std::min(r.P, 255);
    }
    if (f.Compression == 2 || f.Compression == 3) {
        const bool allowed = f.Compression == 2 || !f.RecordIdSuffix || k - r.P >= 5;
        if (allowed && r.P < end) {
            int t = 0;
            while (end - 1 - t >= r.P && key[end - 1 - t] == 0) ++t;
            r.T = f.Compression == 3 ? std::min(t, 255) : t;
        }
    }
    return r;
}

// Sorted keys with long shared prefixes and zero runs of every length, so
// that both ends cross eight-byte boundaries in every way.
std::vector<std::vector<uint8_t>> MakeKeys(std::mt19937& rng, int k, int n) {
    std::vector<std::vector<uint8_t>> keys;
    std::vector<uint8_t> base(static_cast<size_t>(k), 0);
    for (auto& b : base) b = uint8_t(rng() % 3 == 0 ? 0 : rng() % 256);
    for (int i = 0; i < n; ++i) {
        std::vector<uint8_t> key = base;
        const int keep = int(rng() % size_t(k + 1));
        for (int j = keep; j < k; ++j) key[size_t(j)] = uint8_t(rng() % 4 == 0 ? 0 : rng() % 256);
        const int zeros = int(rng() % size_t(k + 1));
        std::fill(key.end() - zeros, key.end(), 0);
        keys.push_back(key);
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

TEST(IndexPageTest, LeafCompressionMatchesTheByteAtATimeReference) {
    std::mt19937 rng(2024);
    for (int mode : {1, 2, 3}) {
        for (bool suffix : {false, true}) {
            for (int k : {5, 6, 8, 9, 12, 16, 17, 24, 33, 64, 300, 600}) {
                const TPageFormat format{k, uint8_t(mode), suffix};
                const int n = std::min(40, kPageSpace / (k + 6));
                for (int round = 0; round < 8; ++round) {
                    const auto keys = MakeKeys(rng, k, n);
                    TPage page(1, 4096, format);
                    page.Kind = pkRootLeaf;
                    for (int i = 0; i < n; ++i) page.Insert(i, keys[size_t(i)].data(), i + 1);
                    std::array<uint8_t, kPageSize> image{};
                    page.Encode(image.data());

                    // Walk the stored entries by the format's rules.
                    const uint8_t* at = image.data() + kPageHeaderSize;
                    int packed = 0;
                    for (int i = 0; i < n; ++i) {
                        const TReference want =
                            ReferenceCompress(format, i ? keys[size_t(i - 1)].data() : nullptr, keys[size_t(i)].data());
                        int p = 0, t = 0;
                        if (mode == 1) p = GetU16(at);
                        if (mode == 2) t = GetU16(at);
                        if (mode == 3) p = at[0], t = at[1];
                        ASSERT_EQ(p, want.P) << "mode " << mode << " k " << k << " entry " << i;
                        ASSERT_EQ(t, want.T) << "mode " << mode << " k " << k << " entry " << i;
                        const int size = k - p - t + 6;
                        packed += size;
                        at += size;
                    }
                    EXPECT_EQ(GetI16(image.data() + 11), packed);

                    TPage back(1, 4096, format);
                    ASSERT_TRUE(back.Decode(image.data()));
                    ASSERT_EQ(back.Count(), n);
                    for (int i = 0; i < n; ++i) {
                        ASSERT_TRUE(std::equal(keys[size_t(i)].begin(), keys[size_t(i)].end(), back.Key(i)));
                        EXPECT_EQ(back.Link(i), i + 1);
                    }
                }
            }
        }
    }
}

}  // namespace
