#include "postprocess/result_jobs.h"

#include "text/text_encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <numeric>
#include <set>
#include <string>
#include <vector>

namespace {

class CVectorRows : public CResultRows {
public:
    explicit CVectorRows(std::vector<std::u16string> texts) : texts_(std::move(texts)) {}
    std::size_t RowCount() const override { return texts_.size(); }
    std::u16string_view RowText(std::size_t row, std::u16string&) const override { return texts_[row]; }

private:
    std::vector<std::u16string> texts_;
};

CVectorRows Rows(std::initializer_list<const char*> texts) {
    std::vector<std::u16string> rows;
    for (const char* text : texts) rows.push_back(U16(text));
    return CVectorRows(std::move(rows));
}

// Records what a job shows, as the progress display would see it.
struct Recorder {
    std::atomic<bool> running{true};
    std::vector<std::string> events;
    int64_t stopAfter = -1;  // clear the running flag once this many rows are done

    JobControl Control() {
        return JobControl{&running,
                          [this](int kind, int64_t total) {
                              events.push_back("begin " + std::to_string(kind) + " " + std::to_string(total));
                          },
                          [this] { events.push_back("end"); },
                          [this](int64_t processed) {
                              events.push_back("step " + std::to_string(processed));
                              if (processed == stopAfter) running = false;
                          }};
    }
    std::vector<std::string> Phases() const {
        std::vector<std::string> phases;
        for (const auto& e : events)
            if (!e.starts_with("step")) phases.push_back(e);
        return phases;
    }
};

bool IsPermutation(const std::vector<uint32_t>& order) {
    std::vector<uint32_t> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t i = 0; i < sorted.size(); ++i)
        if (sorted[i] != i) return false;
    return true;
}

}  // namespace

TEST(DeleteIdenticalExact, LaterRepeatsGoAndTheMessageCountsThem) {
    auto rows = Rows({"A", "B", "A", "C", "B"});
    Recorder recorder;
    DeleteOutcome out = DeleteIdenticalExact(rows, recorder.Control());
    EXPECT_TRUE(out.ran);
    EXPECT_TRUE(out.complete);
    EXPECT_EQ(out.processed, 5);
    EXPECT_EQ(out.rowsToDelete, (std::vector<std::size_t>{2, 4}));
    EXPECT_EQ(out.Message(), u"All strings has been processed. 2 strings has been deleted.");
    // The owner hands the list on before it shows the message.
    std::vector<std::size_t> handedOn = std::move(out.rowsToDelete);
    EXPECT_EQ(out.Message(), u"All strings has been processed. 2 strings has been deleted.");
    EXPECT_EQ(recorder.events,
              (std::vector<std::string>{"begin 2 5", "step 1", "step 2", "step 3", "step 4", "step 5", "end",
                                        "begin 3 2", "step 2", "end"}));
}

TEST(DeleteIdenticalExact, CaseSpacesAndLineBreaksAllCount) {
    auto rows = Rows({"Cat", "cat", "cat ", "a\r\nb", "a\nb", "кот", "Кот", "кот"});
    Recorder recorder;
    DeleteOutcome out = DeleteIdenticalExact(rows, recorder.Control());
    EXPECT_EQ(out.rowsToDelete, (std::vector<std::size_t>{7}));
}

TEST(DeleteIdenticalExact, NoRepeatsMeansNoDeletingPhase) {
    auto rows = Rows({"Cat", "cat"});
    Recorder recorder;
    DeleteOutcome out = DeleteIdenticalExact(rows, recorder.Control());
    EXPECT_TRUE(out.rowsToDelete.empty());
    EXPECT_EQ(out.Message(), u"All strings has been processed. 0 strings has been deleted.");
    EXPECT_EQ(recorder.Phases(), (std::vector<std::string>{"begin 2 2", "end"}));
}

TEST(DeleteIdenticalExact, StopOnlyDeletesRepeatsAmongTheScannedRows) {
    auto rows = Rows({"A", "B", "A", "A", "B"});
    Recorder recorder;
    recorder.stopAfter = 3;
    DeleteOutcome out = DeleteIdenticalExact(rows, recorder.Control());
    EXPECT_FALSE(out.complete);
    EXPECT_EQ(out.processed, 3);
    EXPECT_EQ(out.rowsToDelete, (std::vector<std::size_t>{2}));
    EXPECT_EQ(out.Message(), u"3 strings has been processed. 1 strings has been deleted.");
    EXPECT_EQ(recorder.Phases(), (std::vector<std::string>{"begin 2 5", "end", "begin 3 1", "end"}));
}

TEST(DeleteIdenticalExact, StoppedBeforeTheFirstRow) {
    auto rows = Rows({"A", "A"});
    Recorder recorder;
    recorder.running = false;
    DeleteOutcome out = DeleteIdenticalExact(rows, recorder.Control());
    EXPECT_TRUE(out.ran);
    EXPECT_EQ(out.processed, 0);
    EXPECT_TRUE(out.rowsToDelete.empty());
    EXPECT_EQ(out.Message(), u"0 strings has been processed. 0 strings has been deleted.");
}

TEST(ResultSetJobs, NoneOrOneRowDoesNothingAndSaysNothing) {
    for (auto rows : {Rows({}), Rows({"only"})}) {
        Recorder recorder;
        DeleteOutcome exact = DeleteIdenticalExact(rows, recorder.Control());
        DeleteOutcome shingles = DeleteIdenticalShingles(rows, 7, 20, recorder.Control());
        ShuffleOutcome shuffled = ShuffleResults(rows.RowCount(), 1, recorder.Control());
        for (const DeleteOutcome* out : {&exact, &shingles}) {
            EXPECT_FALSE(out->ran);
            EXPECT_TRUE(out->rowsToDelete.empty());
            EXPECT_TRUE(out->Message().empty());
        }
        EXPECT_FALSE(shuffled.ran);
        EXPECT_TRUE(shuffled.Message().empty());
        EXPECT_TRUE(recorder.events.empty());
    }
}

TEST(DeleteIdenticalShingles, ThresholdIsStrictlyAboveThePercent) {
    auto rows = Rows({"red green white", "red green blue black"});
    DeleteOutcome strict = DeleteIdenticalShingles(rows, 2, 20, {});
    EXPECT_EQ(strict.rowsToDelete, (std::vector<std::size_t>{1}));  // 1 of 3 shingles: 33
    DeleteOutcome lenient = DeleteIdenticalShingles(rows, 2, 40, {});
    EXPECT_TRUE(lenient.rowsToDelete.empty());
    EXPECT_EQ(lenient.Message(), u"All strings has been processed. 0 strings has been deleted.");
}

TEST(DeleteIdenticalShingles, CaseAndPunctuationDoNotCountButRowsMarkedForDeletionAreNotCompared) {
    // "c d e f" shares 1 of 3 with the first row and goes; "e f g h" would
    // share 1 of 3 with it but nothing with the kept row, so it stays.
    auto rows = Rows({"Hello, World!", "hello world", "a b c d", "c d e f", "e f g h"});
    Recorder recorder;
    DeleteOutcome out = DeleteIdenticalShingles(rows, 2, 20, recorder.Control());
    EXPECT_EQ(out.rowsToDelete, (std::vector<std::size_t>{1, 3}));
    EXPECT_EQ(recorder.Phases(), (std::vector<std::string>{"begin 2 5", "end", "begin 3 2", "end"}));
}

TEST(DeleteIdenticalShingles, StopReportsTheScannedCount) {
    auto rows = Rows({"one two", "one two", "three four", "one two", "three four"});
    Recorder recorder;
    recorder.stopAfter = 3;
    DeleteOutcome out = DeleteIdenticalShingles(rows, 7, 20, recorder.Control());
    EXPECT_EQ(out.rowsToDelete, (std::vector<std::size_t>{1}));
    EXPECT_EQ(out.Message(), u"3 strings has been processed. 1 strings has been deleted.");
}

TEST(ShuffleResults, EveryTextKeepsItsLengthAndTheOrderIsAPermutation) {
    const std::vector<std::u16string> texts{u"a", u"bb", u"ccc", u"dddd", u"eeeee"};
    Recorder recorder;
    ShuffleOutcome out = ShuffleResults(texts.size(), 42, recorder.Control());
    ASSERT_EQ(out.order.size(), texts.size());
    EXPECT_TRUE(IsPermutation(out.order));
    EXPECT_TRUE(out.complete);
    EXPECT_EQ(out.processed, 5);
    EXPECT_EQ(out.Message(), u"All strings has been shuffled.");
    EXPECT_EQ(recorder.Phases(), (std::vector<std::string>{"begin 1 5", "end"}));

    // Applying the order the way the list does: length and text move together.
    std::vector<std::pair<std::size_t, std::u16string>> shown;
    for (uint32_t from : out.order) shown.emplace_back(texts[from].size(), texts[from]);
    for (const auto& [length, text] : shown) EXPECT_EQ(length, text.size());
}

TEST(ShuffleResults, SameSeedSameOrderOtherSeedsDiffer) {
    EXPECT_EQ(ShuffleResults(1000, 7, {}).order, ShuffleResults(1000, 7, {}).order);
    EXPECT_NE(ShuffleResults(1000, 7, {}).order, ShuffleResults(1000, 8, {}).order);
    EXPECT_NE(NewShuffleSeed(), NewShuffleSeed());
}

TEST(ShuffleResults, StopKeepsTheSwapsDoneSoFar) {
    Recorder recorder;
    recorder.stopAfter = 3;
    ShuffleOutcome stopped = ShuffleResults(10, 99, recorder.Control());
    EXPECT_FALSE(stopped.complete);
    EXPECT_EQ(stopped.processed, 3);
    EXPECT_EQ(stopped.Message(), u"3 strings has been shuffled.");
    EXPECT_TRUE(IsPermutation(stopped.order));
    // The positions settled before the Stop are those a full shuffle with the
    // same seed settles first.
    ShuffleOutcome full = ShuffleResults(10, 99, {});
    EXPECT_TRUE(std::equal(stopped.order.begin(), stopped.order.begin() + 3, full.order.begin()));
}

TEST(ShuffleResults, AllPermutationsOfFourRowsAreEquallyLikely) {
    constexpr int kRuns = 24000;
    std::map<std::vector<uint32_t>, int> seen;
    for (int seed = 0; seed < kRuns; ++seed) ++seen[ShuffleResults(4, seed, {}).order];
    ASSERT_EQ(seen.size(), 24u);
    const double expected = kRuns / 24.0;
    double chiSquare = 0;
    for (const auto& [order, count] : seen) chiSquare += (count - expected) * (count - expected) / expected;
    // 23 degrees of freedom: 49.7 is the 0.1 % point; the bound leaves room.
    EXPECT_LT(chiSquare, 80.0);
}

TEST(ShuffleResults, ALongListIsNotLimitedToFifteenBitPartners) {
    // A 15-bit draw scaled to the list reaches only 32,768 positions; in a
    // uniform shuffle the first row comes from anywhere, so about two thirds
    // of the time from a position such a draw can never name.
    constexpr std::size_t n = 100000;
    std::set<std::size_t> reachable;
    for (int r = 0; r <= 32767; ++r)
        reachable.insert(std::min<std::size_t>(static_cast<std::size_t>(r / 32767.0 * n), n - 1));
    int elsewhere = 0;
    for (int seed = 0; seed < 300; ++seed)
        if (!reachable.contains(ShuffleResults(n, seed, {}).order[0])) ++elsewhere;
    EXPECT_GT(elsewhere, 150);
}
