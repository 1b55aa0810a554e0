// CStringGenerator: loads a macro-expanded template, counts its versions and
// produces them by number (series order) or at random, each auto-corrected.
//
//   SyntaxStringGenerator::CStringGenerator engine;
//   LoadResult load = engine.LoadTemplate(u"{a|b} [<, >x|y]");
//   if (load.Ok()) {
//       std::u16string v = engine.GenerateVersion(0, AutoCorrectionOptions{});
//   }
//
// A parallel run draws tickets in run order on one thread and builds them on
// several, each with its own workspace:
//
//   VersionTicket ticket;
//   engine.DrawRandomTicket(ticket);            // drawing thread
//   CVersionWorkspace workspace;                // one per building thread
//   engine.BuildVersion(ticket, options, workspace, out);
//
// Thread safety: one engine is used by one thread at a time (the run's worker),
// except that BuildVersion, being const, may run on several threads at once
// while no other member is called.
#pragma once

#include "postprocess/autocorrect.h"

#include <gmpxx.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

class CRandom15;

namespace SyntaxStringGenerator {

class CTemplateTree;
class CDrawnNumbers;
class CExactCounts;
class CGenerationScratch;
class CFreeChoiceWalk;
struct CFreeChoiceScratch;
struct CFreeVersionAhead;

// The longest template text LoadTemplate takes, in code units: its prepared
// text may grow to 16 times the template plus 16 Mi code units, and every
// position in it must fit an int. A longer text loads no tree.
constexpr std::size_t kMaxTemplateLength = (std::size_t{INT32_MAX} - 2 - (std::size_t{1} << 24)) / 16;

// What decides one version: its number, or, for a free choice in every group,
// the number of its random stream. The same ticket always builds the same text.
struct VersionTicket {
    double number = 0;
    uint64_t stream = 0;
    bool freeChoice = false;
};

// The buffers and the random generator of one building thread.
class CVersionWorkspace {
public:
    CVersionWorkspace();
    ~CVersionWorkspace();
    CVersionWorkspace(const CVersionWorkspace&) = delete;
    CVersionWorkspace& operator=(const CVersionWorkspace&) = delete;

private:
    friend class CStringGenerator;
    std::unique_ptr<CGenerationScratch> scratch_;
    std::unique_ptr<CFreeChoiceScratch> freeChoiceScratch_;
    std::unique_ptr<CRandom15> random_;
    std::u16string text_;  // a version on its way to UTF-8
    std::unique_ptr<CFreeVersionAhead> ahead_;
};

// A template that fails CheckSyntax gets that check's kind and position. A
// template that passes but whose prepared text (default separators written
// out) fails the check, e.g. ‘[<x><y|b]’, gets the kind of that second check
// and its position minus one (the prepared text's own opening "{"), so a load
// never fails silently. kPreparedTextTooLarge carries the position of the "[".
struct LoadResult {
    int errorPosition = -1;     // -1 when the template is correct
    int errorKind = 0;          // SyntaxErrorKind
    double versionCount = -1;   // the root's count, -1 when no tree was built
    bool stopped = false;       // the stop flag ended the load; nothing else is meaningful
    bool Ok() const { return errorKind == 0 && versionCount > -1; }
};

class CStringGenerator {
public:
    CStringGenerator();
    ~CStringGenerator();
    CStringGenerator(const CStringGenerator&) = delete;
    CStringGenerator& operator=(const CStringGenerator&) = delete;

    // stop, when given, is polled about every million characters; once it
    // reads true the load ends with stopped set and no tree. The overload
    // that takes the text over frees it as soon as the prepared copy is made,
    // which lowers the load's peak memory by the text's size.
    LoadResult LoadTemplate(std::u16string_view text, const std::atomic<bool>* stop = nullptr);
    LoadResult LoadTemplate(std::u16string&& text, const std::atomic<bool>* stop = nullptr);
    LoadResult LoadTemplate(const char16_t* text) { return LoadTemplate(std::u16string_view(text)); }
    double GetVersionCount() const;  // -1 without a tree

    // Version number index in series order, auto-corrected. Out stays empty
    // without a tree. A negative index counts as 0, and an index at or above
    // the count gives version 0 again. Reusing out avoids any allocation per
    // version.
    std::u16string GenerateVersion(int64_t index, const AutoCorrectionOptions& options);
    void GenerateVersionInto(int64_t index, const AutoCorrectionOptions& options, std::u16string& out);

    // The exact number of versions, however large (no cap); 0 without a tree.
    // Counted on first use after a load.
    mpz_class GetExactVersionCount();
    // Version number index in series order for any index from 0 to the exact
    // count minus one: below 2^53 exactly the version GenerateVersionInto
    // gives, from there on read with exact arithmetic. False (out empty)
    // without a tree or for an index outside that range.
    bool GenerateExactVersionInto(const mpz_class& index, const AutoCorrectionOptions& options,
                                  std::u16string& out);

    // A random version, auto-corrected: DrawRandomTicket, then BuildVersion.
    // Returns false (out empty) without a tree or once every number is drawn.
    bool GenerateRandomVersion(const AutoCorrectionOptions& options, std::u16string& out);
    std::u16string GenerateRandomVersion(const AutoCorrectionOptions& options);

    // The ticket of the next random version. With at most 10^10 versions it
    // carries a distinct number from DrawVersionNumber (the first one after a
    // load is number 0); above 10^10 every group chooses freely from a random
    // stream of its own, numbered 0, 1, 2, ... since the last load or seeding,
    // so version k of a seed is the same text whichever thread builds it and
    // the supply never runs out. False without a tree or once every number is
    // drawn.
    bool DrawRandomTicket(VersionTicket& ticket);
    // Whether DrawRandomTicket hands out streams, which costs nothing, rather
    // than distinct numbers, which cost a look-up each.
    bool DrawsStreams() const;
    static VersionTicket SeriesTicket(int64_t index);  // a negative index counts as 0

    // The version of a ticket, auto-corrected, into out (cleared first; empty
    // without a tree). A number at or above the count gives version 0 again.
    void BuildVersion(const VersionTicket& ticket, const AutoCorrectionOptions& options, CVersionWorkspace& workspace,
                      std::u16string& out) const;
    // The same version appended to out, whose text so far stays as it is;
    // it is written and corrected where it lies.
    void AppendVersion(const VersionTicket& ticket, const AutoCorrectionOptions& options,
                       CVersionWorkspace& workspace, std::u16string& out) const;
    // The same version as UTF-8 appended to out: the bytes EncodeUtf8 gives
    // for its text. A version of a template whose prepared text has at most
    // 1 Mi code units is written, and corrected, as UTF-8 directly. next,
    // when given, is the ticket the caller asks for next with this
    // workspace: a free-choice version followed by the next stream is built
    // together with that one, which the next call then takes from the
    // workspace. Any other ticket next builds as usual.
    void AppendVersionUtf8(const VersionTicket& ticket, const AutoCorrectionOptions& options,
                           CVersionWorkspace& workspace, std::string& out,
                           const VersionTicket* next = nullptr) const;

    // A version number not drawn since the last load: 0 first, then
    // floor(count * r / 2^30) for a 30-bit r made of two 15-bit draws,
    // redrawn while taken. At most min(count, 2^30) numbers are reachable (one
    // per r when the count exceeds 2^30); once all are drawn the result is -1,
    // and -2 without a positive count. While at least half the reachable
    // numbers are free the draw is that rejection sample (at most 64 tries,
    // then the next free number upwards); past that, one 30-bit draw picks the
    // free number of that rank, uniformly among the free ones, so a draw costs
    // O(log count) however full the set is. Drawn numbers take one bit each
    // (a hash set of 32-bit values while few are drawn).
    // Above 10^10 versions nothing is recorded: the result is a plain
    // floor(count * r / 2^30) and never -1.
    double DrawVersionNumber();
    // Room for count more distinct draws, made now: the set of drawn numbers
    // otherwise grows by rehashing while drawing, and on a run with several
    // threads every other thread would wait for that. Draws stay the same.
    void ReserveDraws(uint64_t count);

    void SeedRandom(uint32_t seed);

private:
    LoadResult Load(std::u16string_view text, std::u16string* owner, const std::atomic<bool>* stop);
    // Appends the version of a ticket, uncorrected.
    void Walk(const VersionTicket& ticket, CVersionWorkspace& workspace, std::u16string& out) const;
    // Appends the free-choice version of a stream as UTF-8, uncorrected; needs
    // the compiled walk's UTF-8 pieces. With nextFollows the next stream's
    // version is built with it and kept in the workspace.
    void WalkFreeUtf8(uint64_t stream, bool nextFollows, CVersionWorkspace& workspace, std::string& out) const;

    std::unique_ptr<CDrawnNumbers> usedNumbers_;
    double versionCount_ = 0;
    std::u16string templateText_;
    std::unique_ptr<CTemplateTree> root_;
    std::unique_ptr<CFreeChoiceWalk> freeChoice_;  // the compiled walk, for templates of moderate size
    std::unique_ptr<CExactCounts> exact_;
    std::unique_ptr<CVersionWorkspace> workspace_;
    std::unique_ptr<CRandom15> random_;
    uint32_t seed_ = 1;
    uint64_t loadSerial_ = 0;  // of the last load, unique among all engines
    // The drawing thread writes this for every ticket while building threads
    // read the fields above for every version: on a cache line of its own,
    // the two would otherwise take that line from each other's cache.
    alignas(64) uint64_t nextStream_ = 0;
};

}  // namespace SyntaxStringGenerator

// The current time in seconds, as the runs seed their generator by default.
uint32_t SeedFromClock();
