// The row store against a plain vector of rows: appends (also of rows packed
// in one buffer, from UTF-16 and UTF-8, handed over in parts), texts kept one
// byte per character beside UTF-16 ones, removals, reorders
// (also prepared on another thread with changes in between), the packing of
// the texts after a large removal (also on a helper while rows arrive),
// snapshots that outlive every change, and snapshots taken by readers while
// the owner changes the rows; the narrowing copy of every kind the processor
// runs, from UTF-16 and from UTF-8.
#include "files/row_store.h"
#include "narrow_text.h"
#include "text/text_encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

struct RefRow {
    int64_t number;
    uint32_t textId;
};
using Reference = std::vector<RefRow>;

// Texts of varied lengths, so that chunks fill unevenly, and widths: ASCII,
// Latin-1 letters (kept one byte each) and letters beyond U+00FF (kept as
// UTF-16, on even offsets after odd-length narrow ones). Every 4999th text is
// longer than a quarter chunk and gets a chunk of its own.
std::u16string Text(uint32_t id) {
    std::u16string text = u"v" + std::u16string(1 + id % 23, static_cast<char16_t>(u'a' + id % 26));
    for (uint32_t n = id; n > 0; n /= 10) text += static_cast<char16_t>(u'0' + n % 10);
    if (id % 3 == 1) text += u"\u00e9\u00ff";
    if (id % 7 == 2) text += u"\u0416";
    if (id % 4999 == 0) text += std::u16string(300000, id % 2 == 0 ? u'L' : u'\u0141');
    return text;
}

// Packed rows come in one buffer and have consecutive numbers.
void Append(CRowStore& store, Reference& ref, std::size_t count, uint32_t& nextId, bool packed = false) {
    std::vector<std::u16string> texts;
    std::vector<CStoredRow> rows;
    const int64_t firstPacked = static_cast<int64_t>(nextId) * 3 + 1;
    for (std::size_t i = 0; i < count; ++i) {
        const int64_t number = packed ? firstPacked + static_cast<int64_t>(i) : static_cast<int64_t>(nextId) * 3 + 1;
        ref.push_back({number, nextId});
        texts.push_back(Text(nextId++));
    }
    if (packed) {
        // As a run's sink does: written into one buffer, every other text
        // from UTF-8, handed over in two parts.
        std::vector<std::string> utf8;
        std::size_t bytes = 0;
        for (const std::u16string& text : texts) {
            utf8.push_back(ToNarrow(text));
            bytes += CRowStore::MaxTextBytes(utf8.back().size());
        }
        std::shared_ptr<char[]> buffer = CRowStore::NewTextBuffer(bytes);
        std::size_t used = 0;
        std::vector<CStoredText> stored;
        std::u16string scratch;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            stored.push_back(i % 2 == 0 ? CRowStore::WriteText(buffer.get(), used, texts[i])
                                        : CRowStore::WriteUtf8Text(buffer.get(), used, utf8[i], scratch));
        }
        const std::size_t half = stored.size() / 2;
        store.AppendPacked(buffer, std::span(stored).first(half), firstPacked);
        store.AppendPacked(std::move(buffer), std::span(stored).subspan(half), firstPacked + static_cast<int64_t>(half));
        return;
    }
    for (std::size_t i = 0; i < count; ++i) rows.push_back({ref[ref.size() - count + i].number, texts[i]});
    store.Append(rows);
}

// Some rows of the reference, ascending, with a repeat and an index past the end.
std::vector<std::size_t> SomeRows(const Reference& ref, std::mt19937& random) {
    std::vector<std::size_t> rows;
    for (std::size_t i = 0; i < ref.size(); ++i) {
        if (random() % 3 == 0) rows.push_back(i);
    }
    if (!rows.empty()) rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(rows.size() / 2), rows[rows.size() / 2]);
    rows.push_back(ref.size() + 5);
    return rows;
}

// Nine rows in ten: enough dead text that the store packs what is left.
std::vector<std::size_t> MostRows(const Reference& ref) {
    std::vector<std::size_t> rows;
    for (std::size_t i = 0; i < ref.size(); ++i) {
        if (i % 10 != 3) rows.push_back(i);
    }
    return rows;
}

void Remove(Reference& ref, const std::vector<std::size_t>& ascendingRows) {
    Reference kept;
    for (std::size_t i = 0; i < ref.size(); ++i) {
        if (!std::binary_search(ascendingRows.begin(), ascendingRows.end(), i)) kept.push_back(ref[i]);
    }
    ref = std::move(kept);
}

// A permutation of the first n rows.
std::vector<uint32_t> SomeOrder(std::size_t n, std::mt19937& random) {
    std::vector<uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::shuffle(order.begin(), order.end(), random);
    return order;
}

void Reorder(Reference& ref, const std::vector<uint32_t>& order) {
    const Reference old = ref;
    for (std::size_t i = 0; i < order.size(); ++i) ref[i].textId = old[order[i]].textId;
}

void ExpectSame(const CRowStore& store, const Reference& ref) {
    ASSERT_EQ(store.RowCount(), ref.size());
    for (std::size_t i = 0; i < ref.size(); ++i) {
        const std::u16string text = Text(ref[i].textId);
        ASSERT_EQ(store.RowNumber(i), ref[i].number) << "row " << i;
        ASSERT_TRUE(store.RowText(i) == text) << "row " << i;
        const std::optional<CRowView> row = store.Row(i);
        ASSERT_TRUE(row && row->number == ref[i].number && row->text == text) << "row " << i;
    }
    EXPECT_TRUE(store.RowText(ref.size()).empty());
    EXPECT_EQ(store.RowNumber(ref.size()), 0);
    EXPECT_FALSE(store.Row(ref.size()).has_value());
}

bool SnapshotMatches(const CRowSnapshot& snapshot, const Reference& ref) {
    if (snapshot.Size() != ref.size()) return false;
    for (std::size_t i = 0; i < ref.size(); ++i) {
        if (snapshot.Text(i) != Text(ref[i].textId) || snapshot.Number(i) != ref[i].number) return false;
    }
    return snapshot.Text(ref.size()).empty() && snapshot.Number(ref.size()) == 0;
}

TEST(RowStore, FollowsAPlainVectorThroughEveryChange) {
    std::mt19937 random(7);
    CRowStore store;
    Reference ref;
    uint32_t nextId = 0;
    std::vector<std::pair<CRowSnapshot, Reference>> snapshots;
    // Enough rows for several blocks of 16384, so every change crosses block borders.
    for (int round = 0; round < 12; ++round) {
        Append(store, ref, 9000 + random() % 9000, nextId, round % 3 == 1);
        ExpectSame(store, ref);
        snapshots.emplace_back(store.SnapshotAll(), ref);

        const std::vector<std::size_t> gone = SomeRows(ref, random);
        store.RemoveRows(gone);
        Remove(ref, gone);
        ExpectSame(store, ref);

        // Spans: ascending, one reaching past the end.
        const std::size_t a = random() % ref.size();
        const std::size_t b = a + random() % (ref.size() - a);
        const std::vector<std::pair<std::size_t, std::size_t>> spans = {{0, a / 2}, {a, b}, {b + 1, ref.size() + 9}};
        Reference spanned;
        for (auto [first, last] : spans) {
            for (std::size_t i = first; i < std::min(last, ref.size()); ++i) spanned.push_back(ref[i]);
        }
        snapshots.emplace_back(store.Snapshot(spans), spanned);

        const std::vector<uint32_t> order = SomeOrder(ref.size() - random() % 100, random);
        ASSERT_TRUE(store.Reorder(order));
        Reorder(ref, order);
        ExpectSame(store, ref);

        std::vector<uint32_t> notPermutation = SomeOrder(std::min<std::size_t>(ref.size(), 50), random);
        notPermutation[0] = notPermutation[1];
        EXPECT_FALSE(store.Reorder(notPermutation));
        EXPECT_FALSE(store.Reorder(SomeOrder(ref.size() + 1, random)));
        ExpectSame(store, ref);

        if (round % 5 == 4) {
            store.Clear();
            ref.clear();
            ExpectSame(store, ref);
        }
    }
    EXPECT_GT(store.ApproximateBytes(), std::size_t{0});
    store.Clear();
    for (const auto& [snapshot, expected] : snapshots) EXPECT_TRUE(SnapshotMatches(snapshot, expected));
}

TEST(RowStore, PreparedReorderAppliesToTheRowsAsTheyAreThen) {
    std::mt19937 random(11);
    CRowStore store;
    Reference ref;
    uint32_t nextId = 0;
    Append(store, ref, 40000, nextId);
    // Prepared on another thread: rows arrive meanwhile (the order covers the
    // old ones), rows go meanwhile (the order is applied afresh), or rows go so
    // that the order no longer fits (nothing changes).
    for (int change = 0; change < 3; ++change) {
        const std::size_t n = change == 2 ? ref.size() : ref.size() - 1000;
        const std::vector<uint32_t> order = SomeOrder(n, random);
        std::shared_ptr<CPreparedReorder> prepared;
        std::thread worker([&] { prepared = store.PrepareReorder(order); });
        if (change == 0) Append(store, ref, 20000, nextId);
        worker.join();
        EXPECT_EQ(prepared->Size(), n);
        if (change == 1) {
            std::vector<std::size_t> gone = {0, 17000, 33000};
            store.RemoveRows(gone);
            Remove(ref, gone);
        }
        if (change == 2) {
            store.RemoveRows({5});
            Remove(ref, {5});
            EXPECT_FALSE(store.ApplyReorder(*prepared));
        } else {
            EXPECT_TRUE(store.ApplyReorder(*prepared));
            Reorder(ref, order);
        }
        ExpectSame(store, ref);
    }
}

TEST(RowStore, LargeRemovalGivesTheDeadTextBack) {
    std::mt19937 random(5);
    CRowStore store;
    Reference ref;
    uint32_t nextId = 0;
    Append(store, ref, 300000, nextId);
    const std::size_t heldBefore = store.ApproximateBytes();
    auto before = std::make_unique<CRowSnapshot>(store.SnapshotAll());
    const Reference beforeRef = ref;
    std::shared_ptr<CPreparedReorder> prepared;
    std::vector<uint32_t> order = SomeOrder(20000, random);
    std::thread worker([&] { prepared = store.PrepareReorder(order); });
    worker.join();

    // A removal that leaves most of the text alive keeps the chunks, and so
    // does a large one while a snapshot holds them.
    std::vector<std::size_t> gone = {1, 2, 3, 299999};
    store.RemoveRows(gone);
    Remove(ref, gone);
    EXPECT_EQ(store.ApproximateBytes(), heldBefore);
    gone = MostRows(ref);
    store.RemoveRows(gone);
    Remove(ref, gone);
    ExpectSame(store, ref);
    EXPECT_GT(store.ApproximateBytes(), heldBefore / 2);  // the row blocks shrink, the texts stay
    EXPECT_TRUE(SnapshotMatches(*before, beforeRef));

    // Once the snapshot is gone, the next removal packs the texts.
    before.reset();
    gone = {0, 7};
    store.RemoveRows(gone);
    Remove(ref, gone);
    ExpectSame(store, ref);
    std::size_t liveBytes = 0;
    for (const RefRow& row : ref) liveBytes += Text(row.textId).size() * sizeof(char16_t);
    const std::size_t rowBytes = (ref.size() / 16384 + 1) * 16384 * 21;
    const std::size_t oneChunk = std::size_t{2} << 20;
    EXPECT_LE(store.ApproximateBytes(), liveBytes + rowBytes + oneChunk + 4096);
    EXPECT_LT(store.ApproximateBytes() * 5, heldBefore);

    // A reorder prepared before is applied to the rows as they are now.
    ASSERT_TRUE(store.ApplyReorder(*prepared));
    Reorder(ref, order);
    ExpectSame(store, ref);

    // The packed store goes on taking rows, and packs again, also texts that
    // came in one buffer.
    Append(store, ref, 100000, nextId);
    Append(store, ref, 100000, nextId, true);
    ExpectSame(store, ref);
    const std::size_t heldFull = store.ApproximateBytes();
    gone = MostRows(ref);
    store.RemoveRows(gone);
    Remove(ref, gone);
    ExpectSame(store, ref);
    EXPECT_LT(store.ApproximateBytes() * 5, heldFull);
}

// Waits (without a time limit of its own) until the helper says it is done.
void AwaitPacked(const std::atomic<int>& ready, int count) {
    while (ready.load() < count) std::this_thread::yield();
}

TEST(RowStore, PackingOnAHelperKeepsRowsThatArriveAndViewsThatAreHeld) {
    CRowStore store;
    std::atomic<int> ready{0};
    store.SetPackedNotifier([&] { ready.fetch_add(1); });
    Reference ref;
    uint32_t nextId = 0;
    Append(store, ref, 250000, nextId);
    Append(store, ref, 60000, nextId, true);
    // Rows up to the first one in a fresh chunk (the store grows by a whole
    // chunk), then more: the chunk being filled holds those rows alone.
    for (std::size_t held = store.ApproximateBytes();;) {
        Append(store, ref, 1, nextId);
        if (store.ApproximateBytes() - held >= (std::size_t{2} << 20)) break;
        held = store.ApproximateBytes();
    }
    const std::size_t firstInChunk = ref.size() - 1;
    Append(store, ref, 1000, nextId);
    const std::size_t heldFull = store.ApproximateBytes();

    // While the helper packs, rows arrive of both kinds (into the chunk that
    // was being filled, whose own rows all go) and a view is held.
    std::vector<std::size_t> gone = MostRows(ref);
    for (std::size_t i = firstInChunk; i < ref.size(); ++i) gone.push_back(i);
    std::sort(gone.begin(), gone.end());
    gone.erase(std::unique(gone.begin(), gone.end()), gone.end());
    store.RemoveRows(gone);
    Remove(ref, gone);
    ASSERT_TRUE(store.IsPacking());
    store.HoldPacking();
    const CStoredText held = store.RowText(5);
    Append(store, ref, 30000, nextId);
    Append(store, ref, 30000, nextId, true);
    ExpectSame(store, ref);
    AwaitPacked(ready, 1);
    EXPECT_FALSE(store.AdoptPacked());  // held
    EXPECT_TRUE(held == Text(ref[5].textId));
    store.ReleasePacking();
    EXPECT_FALSE(store.IsPacking());
    ExpectSame(store, ref);
    EXPECT_LT(store.ApproximateBytes() * 3, heldFull);

    // A snapshot taken while packing reads the same after the swap.
    Append(store, ref, 200000, nextId, true);
    gone = MostRows(ref);
    store.RemoveRows(gone);
    Remove(ref, gone);
    ASSERT_TRUE(store.IsPacking());
    const CRowSnapshot during = store.SnapshotAll();
    const Reference duringRef = ref;
    while (!store.AdoptPacked()) std::this_thread::yield();
    ExpectSame(store, ref);
    EXPECT_TRUE(SnapshotMatches(during, duringRef));

    // A reorder while packing voids the copy, and packing starts again.
    Append(store, ref, 200000, nextId, true);
    gone = MostRows(ref);
    store.RemoveRows(gone);
    Remove(ref, gone);
    ASSERT_TRUE(store.IsPacking());
    std::mt19937 random(9);
    const std::vector<uint32_t> order = SomeOrder(ref.size(), random);
    ASSERT_TRUE(store.Reorder(order));
    Reorder(ref, order);
    ASSERT_TRUE(store.IsPacking());
    while (!store.AdoptPacked()) std::this_thread::yield();
    ExpectSame(store, ref);

    // A clear while packing drops it; what a snapshot holds stays readable.
    Append(store, ref, 200000, nextId);
    gone = MostRows(ref);
    store.RemoveRows(gone);
    Remove(ref, gone);
    ASSERT_TRUE(store.IsPacking());
    const CRowSnapshot beforeClear = store.SnapshotAll();
    const Reference beforeClearRef = ref;
    store.Clear();
    ref.clear();
    EXPECT_FALSE(store.IsPacking());
    EXPECT_FALSE(store.AdoptPacked());
    ExpectSame(store, ref);
    EXPECT_TRUE(SnapshotMatches(beforeClear, beforeClearRef));
}

TEST(RowStore, ReadersSeeWholeStatesWhileTheOwnerChangesRows) {
    CRowStore store;
    // history[k] is the k-th state; the owner records a state before it makes
    // the change, so a snapshot taken while history had h states shows one of
    // states h - 2 .. (the count read after the snapshot) - 1.
    std::vector<std::shared_ptr<const Reference>> history = {std::make_shared<Reference>()};
    std::mutex historyMutex;
    std::atomic<bool> done{false};
    std::atomic<int> mismatches{0};
    std::atomic<int> checked{0};

    const auto reader = [&] {
        std::vector<std::pair<CRowSnapshot, std::shared_ptr<const Reference>>> kept;
        while (!done.load()) {
            std::size_t before;
            {
                std::lock_guard lock(historyMutex);
                before = history.size();
            }
            CRowSnapshot snapshot = store.SnapshotAll();
            std::vector<std::shared_ptr<const Reference>> candidates;
            {
                std::lock_guard lock(historyMutex);
                for (std::size_t k = before >= 2 ? before - 2 : 0; k < history.size(); ++k)
                    candidates.push_back(history[k]);
            }
            const auto match = std::find_if(candidates.begin(), candidates.end(),
                                            [&](const auto& state) { return SnapshotMatches(snapshot, *state); });
            if (match == candidates.end()) {
                mismatches.fetch_add(1);
            } else if (kept.size() < 8) {
                kept.emplace_back(std::move(snapshot), *match);
            }
            checked.fetch_add(1);
        }
        // What the readers kept still reads the same after all the changes.
        for (const auto& [snapshot, state] : kept) {
            if (!SnapshotMatches(snapshot, *state)) mismatches.fetch_add(1);
        }
    };
    std::thread first(reader);
    std::thread second(reader);

    std::mt19937 random(3);
    Reference ref;
    uint32_t nextId = 0;
    for (int step = 0; step < 40; ++step) {
        Reference next = ref;
        const int kind = step % 4;
        std::vector<std::size_t> gone;
        std::vector<uint32_t> order;
        std::vector<CStoredRow> rows;
        std::vector<std::u16string> texts;
        if (kind == 0 || kind == 3 || next.empty()) {
            for (int i = 0; i < 9000; ++i) {
                next.push_back({static_cast<int64_t>(nextId) + 1, nextId});
                texts.push_back(Text(nextId++));
            }
            for (std::size_t i = 0; i < texts.size(); ++i) rows.push_back({next[ref.size() + i].number, texts[i]});
        } else if (kind == 1) {
            // Late on the removals are large, and the store packs its texts while the readers read.
            gone = step > 20 ? MostRows(next) : SomeRows(next, random);
            Remove(next, gone);
        } else {
            order = SomeOrder(next.size(), random);
            Reorder(next, order);
        }
        {
            std::lock_guard lock(historyMutex);
            history.push_back(std::make_shared<Reference>(next));
        }
        if (!rows.empty()) {
            store.Append(rows);
        } else if (!gone.empty()) {
            store.RemoveRows(gone);
        } else {
            ASSERT_TRUE(store.Reorder(order));
        }
        ref = std::move(next);
        std::this_thread::yield();
    }
    while (checked.load() < 20) std::this_thread::yield();
    done.store(true);
    first.join();
    second.join();
    EXPECT_EQ(mismatches.load(), 0);
    ExpectSame(store, ref);
}

// Every narrowing copy this processor runs agrees with the plain one: the
// same answer and, for narrow texts, the same bytes and nothing written past
// them; at every length around the vector steps, with the one unit that is
// too wide (U+0100, a surrogate, U+FFFF) at every place, and U+00FF, the
// widest that fits.
TEST(NarrowText, EveryKindAgreesWithThePlainCopy) {
    const char16_t tooWide[] = {0x0100, 0xD83D, 0xDE00, 0xFFFF, 0x7F41};
    std::mt19937 rng(5);
    for (std::size_t length = 0; length <= 100; ++length) {
        for (std::size_t wideAt = 0; wideAt <= length; ++wideAt) {
            std::u16string text(length, u'\0');
            for (char16_t& unit : text) unit = rng() % 4 == 0 ? char16_t{0xFF} : static_cast<char16_t>(rng() % 0x100);
            if (wideAt < length) text[wideAt] = tooWide[rng() % std::size(tooWide)];
            const bool narrow = wideAt == length;
            for (NarrowerKind kind : {NarrowerKind::kPortable, NarrowerKind::kAvx2, NarrowerKind::kAvx512}) {
                if (!NarrowerRuns(kind)) continue;
                std::string target(length + 8, '#');
                ASSERT_EQ(NarrowText(kind, target.data(), text), narrow)
                    << "kind " << int(kind) << " length " << length << " at " << wideAt;
                if (!narrow) continue;
                for (std::size_t i = 0; i < length; ++i)
                    ASSERT_EQ(static_cast<unsigned char>(target[i]), text[i]) << "kind " << int(kind) << " at " << i;
                ASSERT_EQ(target.substr(length), std::string(8, '#')) << "kind " << int(kind);
            }
        }
    }
}

// UTF-8 made narrow: every kind agrees with decoding the bytes and keeping
// the result when each unit is below U+0100, and writes nothing past the room
// it was given. Two-byte letters fall on every place around the 16- and
// 64-byte steps, and so does one piece that is not narrow: a wider letter,
// a lone continuation, an overlong form, a lead cut off by the end.
TEST(NarrowText, Utf8KindsAgreeWithDecoding) {
    const std::string notNarrow[] = {"\xD0\x96", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\x80", "\xC0\xA9", "\xC3"};
    std::mt19937 rng(9);
    for (std::size_t length = 0; length <= 140; ++length) {
        // badAt == length: a lead cut off by the end; beyond: all narrow.
        for (std::size_t badAt = 0; badAt <= length + 1; ++badAt) {
            std::string bytes;
            while (bytes.size() + (badAt == length) < length) {
                if (bytes.size() == badAt) bytes += notNarrow[rng() % std::size(notNarrow)];
                if (rng() % 5 == 0) {
                    const auto letter = static_cast<unsigned char>(0x80 + rng() % 0x80);
                    bytes += static_cast<char>(0xC0 | (letter >> 6));
                    bytes += static_cast<char>(0x80 | (letter & 0x3F));
                } else {
                    bytes += static_cast<char>(rng() % 0x80);
                }
            }
            if (badAt == length) bytes += '\xC3';
            std::u16string decoded;
            const bool narrow = DecodeUtf8(bytes, decoded) &&
                                std::all_of(decoded.begin(), decoded.end(), [](char16_t c) { return c < 0x100; });
            for (NarrowerKind kind : {NarrowerKind::kPortable, NarrowerKind::kAvx512}) {
                if (!Utf8NarrowerRuns(kind)) continue;
                std::string target(bytes.size() + 8, '#');
                const std::size_t written = NarrowUtf8(kind, target.data(), bytes);
                ASSERT_EQ(target.substr(bytes.size()), std::string(8, '#')) << "kind " << int(kind);
                if (!narrow) {
                    ASSERT_EQ(written, kNotNarrow) << "kind " << int(kind) << " length " << length << " at " << badAt;
                    continue;
                }
                ASSERT_EQ(written, decoded.size()) << "kind " << int(kind) << " length " << length;
                for (std::size_t i = 0; i < written; ++i)
                    ASSERT_EQ(static_cast<unsigned char>(target[i]), decoded[i]) << "kind " << int(kind) << " at " << i;
            }
        }
    }
}


}  // namespace
