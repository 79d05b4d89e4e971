// VerifyTable's index part: every tree is walked once by TIndexVerifier, which
// checks its structure and hands over its leaf entries; the entries are then
// sorted by record number and compared, during the single physical pass over
// the records, with the keys the engine builds from each record.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "data_file.h"
#include "index_file.h"
#include "index_verifier.h"
#include "table_verifier_internal.h"

namespace veltra::verify {

namespace {

std::string Str(int64_t v) { return std::to_string(v); }

// Rewrites a TIndexVerifier line ("slot 2 page 4096: ...", "slot 2: ...",
// "slot 2 holds ...") with the index's name, and notes which trees the walk
// could not take as sound.
std::string Translate(TRun& run, const std::string& line) {
    if (line.rfind("slot ", 0) != 0) return "index file: " + line;
    char* end = nullptr;
    const long slot = std::strtol(line.c_str() + 5, &end, 10);
    if (end == line.c_str() + 5 || slot < 0 || slot >= kIndexSlotCount) return "index file: " + line;
    std::string rest(end);
    if (!rest.empty() && rest[0] == ':') rest.erase(0, 1);
    if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    // A count that disagrees with the header does not make the walk unsound.
    if (rest.rfind("holds ", 0) != 0) run.TreeDamaged[size_t(slot)] = true;
    return IndexLabel(run.Table, int(slot)) + ": " + rest;
}

}  // namespace

void WalkIndexes(TRun& run) {
    TIndexFile& index = run.Table.IndexFile();
    run.KeySlots.clear();
    if (index.HasPrimaryIndex()) run.KeySlots.push_back(0);
    for (int s = 1; s <= index.IndexCount() && s < kDeletedIndexSlot; ++s) run.KeySlots.push_back(s);
    run.KeySlots.push_back(kDeletedIndexSlot);

    TIndexReport structure = TIndexVerifier::VerifyAll(index, [&](int slot, const uint8_t* key, int32_t record) {
        if (slot < 0 || slot >= kIndexSlotCount) return;
        run.Entries[size_t(slot)].push_back({record, KeyHash(key, index.Layout(slot).KeySize)});
    });
    for (const std::string& line : structure.Problems) run.Problem(Translate(run, line));
    // Pages that no tree and no free list holds are lost to every index;
    // counted only when every tree was walked whole.
    if (structure.Ok()) {
        const int64_t pages = std::max<int64_t>(0, (int64_t(index.EndOffset()) - kIndexBlockSize) / kIndexBlockSize);
        std::vector<bool> held(size_t(pages), false);
        for (const auto* list : {&structure.TreePages, &structure.FreePages})
            for (int32_t o : *list)
                if (o >= kIndexBlockSize && (o / kIndexBlockSize) - 1 < pages) held[size_t(o / kIndexBlockSize - 1)] = true;
        const auto lost = std::count(held.begin(), held.end(), false);
        if (lost > 0) {
            const auto first = std::find(held.begin(), held.end(), false) - held.begin();
            run.Problem("index file: " + Str(lost) + (lost == 1 ? " page belongs" : " pages belong") +
                        " to no index and no free list (the first is page " + Str((first + 1) * kIndexBlockSize) + ")");
        }
    }

    for (int slot : run.KeySlots) {
        auto& entries = run.Entries[size_t(slot)];
        std::stable_sort(entries.begin(), entries.end(),
                         [](const TIndexEntry& a, const TIndexEntry& b) { return a.Record < b.Record; });
        for (const TIndexEntry& e : entries)
            if (e.Record < 1 || e.Record > run.Slots)
                run.Problem(IndexLabel(run.Table, slot) + ": an entry points at slot " + Str(e.Record) +
                            ", not a slot of the data file (1.." + Str(run.Slots) + ")");
        // The record pass starts at the first entry of slot 1.
        run.NextEntry[size_t(slot)] = size_t(
            std::lower_bound(entries.begin(), entries.end(), 1,
                             [](const TIndexEntry& e, int32_t r) { return e.Record < r; }) -
            entries.begin());
    }
    run.IndexesWalked = true;
}

void MatchRecordKeys(TRun& run, int32_t record, const uint8_t* image) {
    TDataFile& t = run.Table;
    TIndexFile& index = t.IndexFile();
    const bool active = image[0] == 0;
    const bool primary = index.HasPrimaryIndex();
    uint8_t key[kKeyBufferSize];
    for (int slot : run.KeySlots) {
        const auto& entries = run.Entries[size_t(slot)];
        size_t& i = run.NextEntry[size_t(slot)];
        size_t first = i;
        while (i < entries.size() && entries[i].Record == record) ++i;
        const size_t found = i - first;
        const bool deletedIndex = slot == kDeletedIndexSlot;
        // The deleted-records index holds every slot of a table with a
        // primary index (status and record ID), other indexes the active
        // records; a table without primary index keeps slot 31 empty.
        const bool expected = deletedIndex ? primary : active;
        const std::string label = IndexLabel(t, slot);
        if (!expected) {
            if (found == 0) continue;
            if (deletedIndex)
                run.Problem(label + ": an entry points at slot " + Str(record) +
                            " although the table has no primary index");
            else
                run.Problem(label + ": an entry points at deleted slot " + Str(record));
            continue;
        }
        const int keySize = index.Layout(slot).KeySize;
        if (keySize < 1 || keySize > kKeyBufferSize) continue;  // the header check refused such a slot
        t.BuildKey(slot, image, key);
        const uint64_t hash = KeyHash(key, keySize);
        size_t matching = 0;
        for (size_t j = first; j < i; ++j) {
            if (entries[j].KeyHash == hash) ++matching;
            else
                run.Problem(label + ": an entry for " + run.RecordLabel(record) +
                            " holds a key that is not the record's key" +
                            (deletedIndex ? " (status " + Str(image[0]) + ")" : std::string()));
        }
        if (matching > 1) {
            run.Problem(label + ": the key of " + run.RecordLabel(record) + " is present " + Str(int64_t(matching)) +
                        " times");
        } else if (matching == 0) {
            if (run.TreeDamaged[size_t(slot)]) {
                if (run.Missing[size_t(slot)]++ == 0) run.FirstMissing[size_t(slot)] = record;
            } else if (deletedIndex) {
                run.Problem(label + ": slot " + Str(record) + " (status " + Str(image[0]) + ", ID " +
                            Str(run.Id[size_t(record)]) + ") has no entry with its status and record ID");
            } else {
                run.Problem(label + ": " + run.RecordLabel(record) + " is missing (no entry holds its key)");
            }
        }
    }
}

void FinishIndexChecks(TRun& run) {
    if (!run.IndexesWalked) return;
    for (int slot : run.KeySlots) {
        if (run.Missing[size_t(slot)] == 0) continue;
        const int64_t missing = run.Missing[size_t(slot)];
        run.Problem(IndexLabel(run.Table, slot) + ": " + Str(missing) + (missing == 1 ? " record has" : " records have") +
                    " no entry (the first is " + run.RecordLabel(run.FirstMissing[size_t(slot)]) +
                    "); the tree is damaged, see above");
    }
    if (!run.RecordsComplete()) return;
    const int32_t counted = run.Table.IndexFile().RecordCount();
    if (counted != run.Report.ActiveRecords)
        run.Problem("index file: the header counts " + Str(counted) + " active records, the data file holds " +
                    Str(run.Report.ActiveRecords));
}

}  // namespace veltra::verify
