#include "postprocess/result_jobs.h"

#include "text/messages.h"
#include "similarity_index.h"

#include <chrono>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

bool StillRunning(const JobControl& control) {
    return control.running == nullptr || control.running->load(std::memory_order_relaxed);
}

void Begin(const JobControl& control, JobKind kind, int64_t total) {
    if (control.beginJob) control.beginJob(kind, total);
}

void End(const JobControl& control) {
    if (control.endJob) control.endJob();
}

void Step(const JobControl& control, int64_t processed) {
    if (control.step) control.step(processed);
}

// The scan shared by both delete jobs; isRepeat(i, text) decides one row and
// remembers it when it is not a repeat.
template <typename RepeatTest>
DeleteOutcome ScanForRepeats(const CResultRows& rows, const JobControl& control, RepeatTest&& isRepeat) {
    DeleteOutcome outcome;
    const std::size_t n = rows.RowCount();
    if (n <= 1) return outcome;
    outcome.ran = true;

    Begin(control, kJobSearching, static_cast<int64_t>(n));
    std::u16string scratch;
    for (std::size_t i = 0; i < n; ++i) {
        if (!StillRunning(control)) {
            outcome.complete = false;
            break;
        }
        if (isRepeat(i, rows.RowText(i, scratch))) outcome.rowsToDelete.push_back(i);
        ++outcome.processed;
        Step(control, outcome.processed);
    }
    End(control);

    // The removal is the owner's single operation on rowsToDelete, which it
    // applies right after this returns; the phase is still announced so the
    // status shows "Deleting..." like any other job.
    const auto d = static_cast<int64_t>(outcome.rowsToDelete.size());
    outcome.deleted = d;
    if (d > 0) {
        Begin(control, kJobDeleting, d);
        Step(control, d);
        End(control);
    }
    return outcome;
}

uint64_t SplitMix64(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// A uniform draw from 0 .. bound-1 without modulo bias (Lemire's method).
uint64_t UniformBelow(std::mt19937_64& engine, uint64_t bound) {
    unsigned __int128 product = static_cast<unsigned __int128>(engine()) * bound;
    auto low = static_cast<uint64_t>(product);
    if (low < bound) {
        const uint64_t threshold = (0 - bound) % bound;
        while (low < threshold) {
            product = static_cast<unsigned __int128>(engine()) * bound;
            low = static_cast<uint64_t>(product);
        }
    }
    return static_cast<uint64_t>(product >> 64);
}

}  // namespace

std::u16string DeleteOutcome::Message() const {
    if (!ran) return {};
    if (complete) return FormatMessage(kIdsAllProcessedDeleted, {deleted});
    return FormatMessage(kIdsProcessedDeleted, {processed, deleted});
}

std::u16string ShuffleOutcome::Message() const {
    if (!ran) return {};
    if (complete) return std::u16string(MessageText(kIdsAllShuffled));
    return FormatMessage(kIdsShuffled, {processed});
}

DeleteOutcome DeleteIdenticalExact(const CResultRows& rows, const JobControl& control) {
    // The compact form of ExactKey: the same keys, without a string per row.
    CExactKeySet keys;
    return ScanForRepeats(rows, control, [&](std::size_t, std::u16string_view text) {
        return !keys.Insert(ExactKeyOf(text));
    });
}

DeleteOutcome DeleteIdenticalShingles(const CResultRows& rows, int shingleLength, int allowedPercent,
                                      const JobControl& control) {
    ShingleStore store;
    return ScanForRepeats(rows, control, [&](std::size_t i, std::u16string_view text) {
        return !store.TestAndRemember(static_cast<int64_t>(i), LowerCaseNarrow(text), shingleLength,
                                      allowedPercent);
    });
}

ShuffleOutcome ShuffleResults(std::size_t rowCount, uint64_t seed, const JobControl& control) {
    ShuffleOutcome outcome;
    if (rowCount <= 1) return outcome;
    if (rowCount > UINT32_MAX) throw std::length_error("ShuffleResults: more rows than a 32-bit order holds");
    outcome.ran = true;

    // The seed is spread over the generator's whole state so that nearby seeds
    // (clock ticks, small test seeds) give unrelated sequences.
    uint64_t mix = seed;
    std::seed_seq sequence{
        static_cast<uint32_t>(SplitMix64(mix)), static_cast<uint32_t>(SplitMix64(mix)),
        static_cast<uint32_t>(SplitMix64(mix)), static_cast<uint32_t>(SplitMix64(mix)),
        static_cast<uint32_t>(SplitMix64(mix)), static_cast<uint32_t>(SplitMix64(mix)),
        static_cast<uint32_t>(SplitMix64(mix)), static_cast<uint32_t>(SplitMix64(mix))};
    std::mt19937_64 engine(sequence);

    outcome.order.resize(rowCount);
    for (std::size_t i = 0; i < rowCount; ++i) outcome.order[i] = static_cast<uint32_t>(i);

    // Forward Fisher-Yates: step i settles position i with a uniform pick from
    // the rows not placed yet, so a Stop leaves a valid permutation whose first
    // `processed` positions are already uniformly shuffled.
    Begin(control, kJobShuffling, static_cast<int64_t>(rowCount));
    for (std::size_t i = 0; i < rowCount; ++i) {
        if (!StillRunning(control)) {
            outcome.complete = false;
            break;
        }
        const std::size_t j = i + UniformBelow(engine, rowCount - i);
        std::swap(outcome.order[i], outcome.order[j]);
        ++outcome.processed;
        Step(control, outcome.processed);
    }
    End(control);
    return outcome;
}

uint64_t NewShuffleSeed() {
    std::random_device device;
    uint64_t seed = (static_cast<uint64_t>(device()) << 32) ^ device();
    seed ^= static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    return seed;
}
