// The road of a run: the template check, the load, then versions in series
// order (first, middle and last numbers) and in random order with the input's
// auto-correction rules and seed.
#include "engine/string_generator.h"
#include "engine/template_check.h"
#include "text/text_encoding.h"
#include "fuzz_input.h"

#include <cmath>

using SyntaxStringGenerator::CStringGenerator;
using SyntaxStringGenerator::LoadResult;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    CFuzzInput in(data, size);
    const AutoCorrectionOptions rules = AutoCorrectionOptions::FromBytes(in.Bits8());
    const uint8_t seed = in.Byte();
    const TemplateCheckResult check = CheckTemplateText(NormalizeLineBreaks(in.RestAsText()));
    if (!check.passed) return 0;

    CStringGenerator engine;
    const LoadResult load = engine.LoadTemplate(check.templateText);
    if (load.errorKind != kSyntaxOk) {
        FUZZ_CHECK(load.errorPosition >= 0);
        FUZZ_CHECK(load.versionCount == -1 && engine.GetVersionCount() == -1);
        return 0;
    }
    const double count = load.versionCount;
    FUZZ_CHECK(count >= 1 && count <= 1.7e300 && count == std::floor(count));
    FUZZ_CHECK(engine.GetVersionCount() == count);

    std::u16string version;
    const int64_t last = count < 9e18 ? static_cast<int64_t>(count) - 1 : INT64_MAX;
    for (const int64_t i : {int64_t{0}, int64_t{1}, last / 2, last - 1, last}) {
        engine.GenerateVersionInto(i, rules, version);
    }

    // At most 10^10 versions: every number is drawn once, then the supply ends.
    engine.SeedRandom(seed);
    constexpr int kDraws = 24;
    int drawn = 0;
    for (int d = 0; d < kDraws; ++d) {
        if (!engine.GenerateRandomVersion(rules, version)) {
            FUZZ_CHECK(version.empty());
            break;
        }
        ++drawn;
    }
    if (count < kDraws) FUZZ_CHECK(drawn == static_cast<int>(count));
    else FUZZ_CHECK(drawn == kDraws);
    return 0;
}
