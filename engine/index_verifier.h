// A structural check of the B+-trees of an index file, used by tests after
// every batch of changes and by the command-line tool's verify command.
//
// For one index: page kinds and levels (all leaves at one depth), non-empty
// pages within capacity and packed size, sibling links in both directions on
// every level, keys strictly ascending in index order within and across
// pages, every separator equal to its child's first key, every subtree count
// equal to the leaf entries below it, and the free list free of cycles and
// disjoint from the tree. For the whole file: free lists and trees disjoint
// across indexes, every index holding one entry per active record, and the
// deleted-records index agreeing with the header's record count.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace veltra {

class TIndexFile;

struct TIndexReport {
    std::vector<std::string> Problems;
    int64_t Entries = 0;  // leaf entries of the index (for a file: of all indexes)
    int Depth = 0;
    std::vector<int32_t> TreePages;
    std::vector<int32_t> FreePages;

    bool Ok() const { return Problems.empty(); }
    std::string Text() const;
};

// Called for every leaf entry the walk meets, in tree order: the slot, the
// entry's key (the slot's key size) and its record number as stored.
using TIndexEntryVisitor = std::function<void(int slot, const uint8_t* key, int32_t recordNo)>;

class TIndexVerifier {
public:
    // Checks one slot (0..31). Reads pages through the index file's cache, so
    // it sees changes not yet flushed. Corruption that stops the walk is
    // reported as a problem, not raised; a page that cannot be read is
    // reported with its offset and the walk goes on with its siblings. The
    // caller that wants the visitor called once per entry holds a read phase
    // (or the table takes no locks), so the walk never starts over.
    static TIndexReport Verify(TIndexFile& index, int slot, const TIndexEntryVisitor& visitor = {});
    // Checks every index in use and the checks across them.
    static TIndexReport VerifyAll(TIndexFile& index, const TIndexEntryVisitor& visitor = {});

private:
    struct TWalk;
    static int64_t WalkPage(TWalk& w, int32_t offset, int depth, std::vector<uint8_t>* firstKey);
    static void CheckSiblings(TWalk& w);
    static void CheckFreeList(TWalk& w);
};

}  // namespace veltra
