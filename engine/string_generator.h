// CStringGenerator: loads a macro-expanded template, counts its versions and
// produces them by number (series order) or at random, each auto-corrected.
//
//   SyntaxStringGenerator::CStringGenerator engine;
//   LoadResult load = engine.LoadTemplate(u"{a|b} [<, >x|y]");
//   if (load.errorKind == 0 && load.versionCount > -1) {
//       std::u16string v = engine.GenerateVersion(0, AutoCorrectionOptions{});
//   }
//
// Thread safety: one engine is used by one thread at a time (the run's worker).
#pragma once

#include "postprocess/autocorrect.h"
#include "engine/random15.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace SyntaxStringGenerator {

class CBracketNode;
class CDrawnNumbers;

struct LoadResult {
    int errorPosition = -1;     // -1 when the template is correct
    int errorKind = 0;          // SyntaxErrorKind
    double versionCount = -1;   // the root's count, -1 when no tree was built
};

class CStringGenerator {
public:
    CStringGenerator();
    ~CStringGenerator();
    CStringGenerator(const CStringGenerator&) = delete;
    CStringGenerator& operator=(const CStringGenerator&) = delete;

    LoadResult LoadTemplate(std::u16string_view text);
    double GetVersionCount() const;  // -1 without a tree

    // Version number index in series order, auto-corrected.
    std::u16string GenerateVersion(int64_t index, const AutoCorrectionOptions& options);
    void GenerateVersionInto(int64_t index, const AutoCorrectionOptions& options, std::u16string& out);

    // A random version, auto-corrected. Returns false (out empty) when no
    // further distinct version number can be drawn.
    bool GenerateRandomVersion(const AutoCorrectionOptions& options, std::u16string& out);
    std::u16string GenerateRandomVersion(const AutoCorrectionOptions& options);

    // Distinct version numbers while the count is at most 10^10; -1 once every
    // reachable number has been drawn, -2 without a positive count.
    double DrawVersionNumber();

    void SeedRandom(uint32_t seed) { random_.Seed(seed); }
    CRandom15& Random() { return random_; }

private:
    std::unique_ptr<CDrawnNumbers> usedNumbers_;
    double versionCount_ = 0;
    std::u16string templateText_;
    std::unique_ptr<CBracketNode> root_;
    CRandom15 random_;
};

}  // namespace SyntaxStringGenerator
