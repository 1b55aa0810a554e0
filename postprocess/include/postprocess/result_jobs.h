// The jobs that rewrite a finished result set: Delete Identical (exact or
// shingles) and Shuffle. They read the rows through CResultRows and return what
// to change, so the owner applies a whole deletion or permutation in one step.
//
//   JobControl control{&running, [&](int kind, int64_t total) { ... },
//                      [&] { ... }, [&](int64_t done) { ... }};
//   DeleteOutcome out = DeleteIdenticalExact(rows, control);
//   model.RemoveRows(out.rowsToDelete);          // ascending indices
//   ShowMessage(out.Message());
//
// A delete job scans under "Searching..." (one step per row, the running flag
// checked before each row) and then announces "Deleting..." (range d, one step
// of d) just before it returns; the owner removes rowsToDelete right after, in
// one operation. With 0 or 1 rows nothing runs: no job, ran == false and an
// empty message.
//
// Thread safety: runs on the worker; the rows must not change while it runs.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class CResultRows {
public:
    virtual ~CResultRows() = default;
    virtual std::size_t RowCount() const = 0;
    // Row row's text; a store that does not keep it as UTF-16 widens it into
    // scratch, so the view lasts until scratch changes or the rows do.
    virtual std::u16string_view RowText(std::size_t row, std::u16string& scratch) const = 0;
};

// Job kinds shown in the fourth status pane.
enum JobKind : int { kJobGenerating = 0, kJobShuffling = 1, kJobSearching = 2, kJobDeleting = 3 };

struct JobControl {
    const std::atomic<bool>* running = nullptr;         // cleared by Stop
    std::function<void(int kind, int64_t total)> beginJob;  // progress range 0 .. total
    std::function<void()> endJob;
    std::function<void(int64_t processed)> step;          // once per row
};

struct DeleteOutcome {
    int64_t processed = 0;
    bool complete = true;                 // every row was scanned
    bool ran = false;                     // false for 0 or 1 rows: no message
    int64_t deleted = 0;                  // rowsToDelete.size(), kept for the message
    std::vector<std::size_t> rowsToDelete;  // ascending; may be moved out before Message()
    std::u16string Message() const;  // empty when !ran
};

struct ShuffleOutcome {
    int64_t processed = 0;
    bool complete = true;
    bool ran = false;
    // order[i] = the row whose length and text now stand at i; a permutation
    // also after a Stop (the swaps done so far).
    std::vector<uint32_t> order;
    std::u16string Message() const;  // empty when !ran
};

DeleteOutcome DeleteIdenticalExact(const CResultRows& rows, const JobControl& control);
DeleteOutcome DeleteIdenticalShingles(const CResultRows& rows, int shingleLength, int allowedPercent,
                                      const JobControl& control);
// Uniform Fisher-Yates shuffle from a 64-bit generator seeded with seed; the
// same seed and row count give the same order. rowCount must fit in 32 bits.
ShuffleOutcome ShuffleResults(std::size_t rowCount, uint64_t seed, const JobControl& control);

// A fresh seed from the system's entropy source and the clock, for shuffles
// that need not be repeatable.
uint64_t NewShuffleSeed();
