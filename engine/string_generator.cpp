#include "engine/string_generator.h"

#include "engine/syntax_check.h"
#include "exact_counts.h"
#include "free_choice_walk.h"
#include "random15.h"
#include "template_tree.h"

#include "text/text_encoding.h"

#include <bit>
#include <cmath>
#include <ctime>
#include <vector>

namespace SyntaxStringGenerator {

namespace {

constexpr double kTwoTo30 = 1073741824.0;
constexpr double kDistinctLimit = 1e10;
// Version numbers below this are exact doubles, so the double walk reads them.
constexpr int64_t kExactDoubles = int64_t{1} << 53;
// Prepared texts up to this many code units get the compiled walk, unless
// CFreeChoiceWalk::Build finds that compiling would pass its budget per code
// unit (the densest templates). Its steps and pools take about as much again
// as the tree, so longer texts, where the walk's gain per byte of output is
// small anyway, generate from the tree alone and keep the load's memory low.
constexpr size_t kFreeChoiceWalkLimit = size_t{1} << 20;

std::atomic<uint64_t> gLoadSerial{0};

}  // namespace

// The free-choice version of the stream after the one a workspace built last,
// built along with it: the walk of two versions in turn takes little more
// time than one, since each fills the other's waits for the entries it
// reads. It is kept while workspace's streams go up one by one, so a thread
// whose streams come in another order builds each one alone.
struct CFreeVersionAhead {
    CFreeChoiceScratch scratch;
    std::string bytes;
    // Whether bytes hold the uncorrected version of this stream, of this
    // load and seed, built together with the one before it.
    bool ready = false;
    uint64_t loadSerial = 0;
    uint32_t seed = 0;
    uint64_t stream = 0;
};

// The numbers 0 .. universe-1 already drawn. A hash set of 32-bit values while
// few are drawn; a bitmap with a Fenwick tree of per-block counts once the hash
// set would outgrow the bitmap, which also finds the k-th free number.
class CDrawnNumbers {
public:
    explicit CDrawnNumbers(uint64_t universe) : universe_(universe) {
        if (universe_ <= kBlockBits * 64) MakeDense();
    }

    uint64_t Universe() const { return universe_; }
    uint64_t Size() const { return size_; }

    bool Contains(uint64_t v) const {
        if (dense_) return (bits_[v >> 6] >> (v & 63)) & 1;
        if (slots_.empty()) return false;
        for (size_t i = Hash(v);; i = (i + 1) & mask_) {
            if (slots_[i] == 0) return false;
            if (slots_[i] == v + 1) return true;
        }
    }

    void Insert(uint64_t v) {
        ++size_;
        if (dense_) {
            SetBit(v);
            return;
        }
        if (size_ * 64 >= universe_) {
            MakeDense();
            SetBit(v);
            return;
        }
        if (2 * size_ > slots_.size()) Rehash(std::max<size_t>(64, slots_.size() * 2));
        Place(v);
    }

    // Room in the hash set for count more numbers; past the count at which
    // the set turns into bits anyway, no more than up to there.
    void Reserve(uint64_t count) {
        if (dense_) return;
        const uint64_t expected = std::min(size_ + count, universe_ / 64);
        const auto capacity = static_cast<size_t>(std::bit_ceil(std::max<uint64_t>(64, 2 * expected)));
        if (capacity > slots_.size()) Rehash(capacity);
    }

    // The free number of rank k (0-based, in increasing order); needs k < universe - size.
    uint64_t SelectFree(uint64_t k) {
        if (!dense_) MakeDense();
        size_t pos = 0;
        for (size_t step = std::bit_floor(blocks_); step > 0; step >>= 1) {
            if (pos + step > blocks_) continue;
            const uint64_t free = step * kBlockBits - tree_[pos + step];
            if (free <= k) {
                k -= free;
                pos += step;
            }
        }
        for (size_t w = pos * kBlockWords;; ++w) {
            const uint64_t freeBits = ~bits_[w];
            const auto free = static_cast<uint64_t>(std::popcount(freeBits));
            if (k < free) {
                uint64_t x = freeBits;
                for (uint64_t i = 0; i < k; ++i) x &= x - 1;
                return w * 64 + static_cast<uint64_t>(std::countr_zero(x));
            }
            k -= free;
        }
    }

private:
    static constexpr size_t kBlockWords = 8;
    static constexpr size_t kBlockBits = kBlockWords * 64;

    size_t Hash(uint64_t v) const { return static_cast<size_t>((v * 0x9E3779B97F4A7C15ull) >> 20) & mask_; }

    void Place(uint64_t v) {
        size_t i = Hash(v);
        while (slots_[i] != 0) i = (i + 1) & mask_;
        slots_[i] = static_cast<uint32_t>(v + 1);
    }

    void Rehash(size_t capacity) {
        std::vector<uint32_t> old;
        old.swap(slots_);
        slots_.assign(capacity, 0);
        mask_ = capacity - 1;
        for (uint32_t s : old) {
            if (s != 0) Place(s - 1);
        }
    }

    void MakeDense() {
        blocks_ = static_cast<size_t>((universe_ + kBlockBits - 1) / kBlockBits);
        bits_.assign(blocks_ * kBlockWords, 0);
        tree_.assign(blocks_ + 1, 0);
        // Bits past the universe count as drawn, so they are never selected.
        for (uint64_t v = universe_; v < blocks_ * kBlockBits; ++v) bits_[v >> 6] |= uint64_t{1} << (v & 63);
        for (uint32_t s : slots_) {
            if (s != 0) bits_[(s - 1) >> 6] |= uint64_t{1} << ((s - 1) & 63);
        }
        std::vector<uint32_t>().swap(slots_);
        for (size_t b = 0; b < blocks_; ++b) {
            uint32_t c = 0;
            for (size_t w = 0; w < kBlockWords; ++w) c += static_cast<uint32_t>(std::popcount(bits_[b * kBlockWords + w]));
            tree_[b + 1] += c;
            const size_t parent = (b + 1) + ((b + 1) & (~(b + 1) + 1));
            if (parent <= blocks_) tree_[parent] += tree_[b + 1];
        }
        dense_ = true;
    }

    void SetBit(uint64_t v) {
        bits_[v >> 6] |= uint64_t{1} << (v & 63);
        for (size_t i = static_cast<size_t>(v / kBlockBits) + 1; i <= blocks_; i += i & (~i + 1)) ++tree_[i];
    }

    uint64_t universe_;
    uint64_t size_ = 0;
    bool dense_ = false;
    std::vector<uint32_t> slots_;  // value + 1, 0 for an empty slot
    size_t mask_ = 0;
    std::vector<uint64_t> bits_;
    std::vector<uint32_t> tree_;  // Fenwick tree over the drawn counts of 512-number blocks
    size_t blocks_ = 0;
};

CVersionWorkspace::CVersionWorkspace()
    : scratch_(std::make_unique<CGenerationScratch>()),
      freeChoiceScratch_(std::make_unique<CFreeChoiceScratch>()),
      random_(std::make_unique<CRandom15>()),
      ahead_(std::make_unique<CFreeVersionAhead>()) {}

CVersionWorkspace::~CVersionWorkspace() = default;

CStringGenerator::CStringGenerator()
    : workspace_(std::make_unique<CVersionWorkspace>()), random_(std::make_unique<CRandom15>()) {}

CStringGenerator::~CStringGenerator() = default;

LoadResult CStringGenerator::LoadTemplate(std::u16string_view text, const std::atomic<bool>* stop) {
    return Load(text, nullptr, stop);
}

LoadResult CStringGenerator::LoadTemplate(std::u16string&& text, const std::atomic<bool>* stop) {
    std::u16string owned = std::move(text);
    return Load(owned, &owned, stop);
}

LoadResult CStringGenerator::Load(std::u16string_view text, std::u16string* owner, const std::atomic<bool>* stop) {
    versionCount_ = 0;
    nextStream_ = 0;
    loadSerial_ = ++gLoadSerial;
    usedNumbers_.reset();
    templateText_.clear();
    exact_.reset();
    freeChoice_.reset();
    root_.reset();
    const auto stopped = [&] {
        templateText_.clear();
        root_.reset();
        LoadResult result;
        result.stopped = true;
        return result;
    };

    if (text.size() > kMaxTemplateLength) return {-1, 0, -1};
    const SyntaxResult check = CheckSyntax(text, stop);
    if (stop && stop->load()) return stopped();
    if (!check.Ok()) return {check.position, check.kind, -1};

    // The outer braces take no part in the preparation, so they are written
    // around the prepared template instead of being copied in first.
    templateText_.push_back(u'{');
    const SyntaxResult prepared =
        DistributeSeparators(text, templateText_, MaxPreparedLength(text.size()), stop);
    if (stop && stop->load()) return stopped();
    if (!prepared.Ok()) {
        templateText_.clear();
        return {prepared.position + 1, prepared.kind, -1};
    }
    templateText_.push_back(u'}');
    // The source is no longer needed: a caller that handed it over gets its
    // memory back before the tree is built.
    if (owner) std::u16string().swap(*owner);
    const SyntaxResult second = CheckSyntax(templateText_, stop);
    if (stop && stop->load()) return stopped();
    if (!second.Ok()) return {std::max(1, second.position - 1), second.kind, -1};

    root_ = BuildTemplateTree(0, templateText_, static_cast<int>(templateText_.size()) - 1, stop);
    if (stop && stop->load()) return stopped();
    if (!root_) return {-1, 0, -1};
    versionCount_ = root_->GetCount();
    if (versionCount_ >= 1 && versionCount_ <= kDistinctLimit) {
        usedNumbers_ = std::make_unique<CDrawnNumbers>(
            versionCount_ <= kTwoTo30 ? static_cast<uint64_t>(versionCount_) : static_cast<uint64_t>(kTwoTo30));
    }
    if (templateText_.size() <= kFreeChoiceWalkLimit) {
        freeChoice_ = CFreeChoiceWalk::Build(templateText_);
    }
    return {-1, 0, versionCount_};
}

void CStringGenerator::SeedRandom(uint32_t seed) {
    random_->Seed(seed);
    seed_ = seed;
    nextStream_ = 0;
}

double CStringGenerator::GetVersionCount() const { return root_ ? root_->GetCount() : -1; }

VersionTicket CStringGenerator::SeriesTicket(int64_t index) {
    return {static_cast<double>(std::max<int64_t>(0, index)), 0, false};
}

bool CStringGenerator::DrawsStreams() const { return root_ && versionCount_ > kDistinctLimit; }

bool CStringGenerator::DrawRandomTicket(VersionTicket& ticket) {
    if (!root_) return false;
    if (DrawsStreams()) {
        ticket = {-1, nextStream_++, true};
        return true;
    }
    const double x = DrawVersionNumber();
    if (x < 0) return false;
    ticket = {x, 0, false};
    return true;
}

void CStringGenerator::BuildVersion(const VersionTicket& ticket, const AutoCorrectionOptions& options,
                                    CVersionWorkspace& workspace, std::u16string& out) const {
    out.clear();
    if (!root_) return;
    Walk(ticket, workspace, out);
    if (options.AnyOn()) AutoCorrect(out, options);
}

void CStringGenerator::Walk(const VersionTicket& ticket, CVersionWorkspace& workspace, std::u16string& out) const {
    if (!ticket.freeChoice) {
        if (freeChoice_) {
            freeChoice_->GenerateNumber(ticket.number, out, *workspace.freeChoiceScratch_);
        } else {
            root_->Generate(ticket.number, out, templateText_, false, *workspace.random_, workspace.scratch_.get());
        }
        return;
    }
    workspace.random_->SeedStream(seed_, ticket.stream);
    if (freeChoice_) {
        freeChoice_->Generate(out, *workspace.random_, *workspace.freeChoiceScratch_);
    } else {
        root_->Generate(-1.0, out, templateText_, true, *workspace.random_, workspace.scratch_.get());
    }
}

void CStringGenerator::AppendVersion(const VersionTicket& ticket, const AutoCorrectionOptions& options,
                                     CVersionWorkspace& workspace, std::u16string& out) const {
    if (!root_) return;
    const std::size_t begin = out.size();
    Walk(ticket, workspace, out);
    if (options.AnyOn()) AutoCorrectTail(out, begin, options);
}

void CStringGenerator::AppendVersionUtf8(const VersionTicket& ticket, const AutoCorrectionOptions& options,
                                         CVersionWorkspace& workspace, std::string& out,
                                         const VersionTicket* next) const {
    if (!root_) return;
    if (freeChoice_ && freeChoice_->HasUtf8()) {
        const std::size_t begin = out.size();
        if (ticket.freeChoice) {
            const bool nextFollows = next && next->freeChoice && next->stream == ticket.stream + 1;
            WalkFreeUtf8(ticket.stream, nextFollows, workspace, out);
        } else {
            freeChoice_->GenerateNumberUtf8(ticket.number, out, *workspace.freeChoiceScratch_);
        }
        if (options.AnyOn()) AutoCorrectUtf8Tail(out, begin, options);
        return;
    }
    std::u16string& text = workspace.text_;
    text.clear();
    AppendVersion(ticket, options, workspace, text);
    const std::size_t at = out.size();
    out.resize(at + MaxUtf8Bytes(text.size()));
    out.resize(at + EncodeUtf8(text, out.data() + at));
}

void CStringGenerator::WalkFreeUtf8(uint64_t stream, bool nextFollows, CVersionWorkspace& workspace,
                                    std::string& out) const {
    CFreeVersionAhead& ahead = *workspace.ahead_;
    const bool built = ahead.ready && ahead.loadSerial == loadSerial_ && ahead.seed == seed_ && ahead.stream == stream;
    ahead.ready = false;
    if (built) {
        out += ahead.bytes;
        return;
    }
    CRandom15& random = *workspace.random_;
    random.SeedStream(seed_, stream);
    if (!nextFollows) {
        freeChoice_->GenerateUtf8(out, random, *workspace.freeChoiceScratch_);
        return;
    }
    CRandom15 next;
    next.SeedStream(seed_, stream + 1);
    ahead.bytes.clear();
    freeChoice_->GenerateUtf8Pair(out, random, *workspace.freeChoiceScratch_, ahead.bytes, next, ahead.scratch);
    ahead.ready = true;
    ahead.loadSerial = loadSerial_;
    ahead.seed = seed_;
    ahead.stream = stream + 1;
}

mpz_class CStringGenerator::GetExactVersionCount() {
    if (!root_) return 0;
    if (!exact_) exact_ = std::make_unique<CExactCounts>(templateText_);
    return exact_->Count();
}

bool CStringGenerator::GenerateExactVersionInto(const mpz_class& index, const AutoCorrectionOptions& options,
                                                std::u16string& out) {
    out.clear();
    if (!root_ || index < 0 || index >= GetExactVersionCount()) return false;
    if (index < kExactDoubles) {
        GenerateVersionInto(index.get_si(), options, out);
        return true;
    }
    exact_->Generate(index, out);
    if (options.AnyOn()) AutoCorrect(out, options);
    return true;
}

void CStringGenerator::GenerateVersionInto(int64_t index, const AutoCorrectionOptions& options,
                                           std::u16string& out) {
    BuildVersion(SeriesTicket(index), options, *workspace_, out);
}

std::u16string CStringGenerator::GenerateVersion(int64_t index, const AutoCorrectionOptions& options) {
    std::u16string out;
    GenerateVersionInto(index, options, out);
    return out;
}

bool CStringGenerator::GenerateRandomVersion(const AutoCorrectionOptions& options, std::u16string& out) {
    out.clear();
    VersionTicket ticket;
    if (!DrawRandomTicket(ticket)) return false;
    BuildVersion(ticket, options, *workspace_, out);
    return true;
}

std::u16string CStringGenerator::GenerateRandomVersion(const AutoCorrectionOptions& options) {
    std::u16string out;
    GenerateRandomVersion(options, out);
    return out;
}

void CStringGenerator::ReserveDraws(uint64_t count) {
    if (usedNumbers_) usedNumbers_->Reserve(count);
}

double CStringGenerator::DrawVersionNumber() {
    if (versionCount_ < 1) return -2;
    const auto draw30 = [this] {
        const int high = random_->Next();
        return static_cast<double>(high) * 32768.0 + random_->Next();
    };
    if (!usedNumbers_) return std::floor(versionCount_ * draw30() / kTwoTo30);

    CDrawnNumbers& used = *usedNumbers_;
    const uint64_t universe = used.Universe();
    // Above 2^30 versions a drawn r stands for its number; at or below, the
    // number itself is recorded.
    const bool bySlot = versionCount_ > kTwoTo30;
    const auto toSlot = [&](double r) {
        return bySlot ? static_cast<uint64_t>(r) : static_cast<uint64_t>(std::floor(versionCount_ * r / kTwoTo30));
    };
    if (used.Size() == universe) return -1;
    uint64_t slot = 0;
    if (used.Size() == 0) {
        slot = 0;
    } else if (2 * (universe - used.Size()) >= universe) {
        bool found = false;
        for (int attempt = 0; attempt < 64 && !found; ++attempt) {
            slot = toSlot(draw30());
            found = !used.Contains(slot);
        }
        while (!found) {
            slot = slot + 1 == universe ? 0 : slot + 1;
            found = !used.Contains(slot);
        }
    } else {
        const uint64_t free = universe - used.Size();
        slot = used.SelectFree(static_cast<uint64_t>(std::floor(static_cast<double>(free) * draw30() / kTwoTo30)));
    }
    used.Insert(slot);
    return bySlot ? std::floor(versionCount_ * static_cast<double>(slot) / kTwoTo30) : static_cast<double>(slot);
}

}  // namespace SyntaxStringGenerator

uint32_t SeedFromClock() { return static_cast<uint32_t>(std::time(nullptr)); }
