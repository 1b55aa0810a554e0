// Auto-correction of any text under any combination of the eight rules (the
// first byte holds the rules, one bit each).
#include "postprocess/autocorrect.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    CFuzzInput in(data, size);
    const AutoCorrectionOptions rules = AutoCorrectionOptions::FromBytes(in.Bits8());
    const std::u16string original = in.RestAsText();
    std::u16string text = original;
    AutoCorrect(text, rules);
    if (!rules.AnyOn()) FUZZ_CHECK(text == original);
    // A lone surrogate stays as it is, and a pair is cased as a whole, so no
    // correction leaves a surrogate without its partner that was not one before.
    auto loneSurrogates = [](const std::u16string& s) {
        std::size_t lone = 0;
        for (std::size_t i = 0; i < s.size(); ++i) {
            const bool high = s[i] >= 0xD800 && s[i] <= 0xDBFF;
            const bool low = s[i] >= 0xDC00 && s[i] <= 0xDFFF;
            if (high && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
                ++i;
            } else if (high || low) {
                ++lone;
            }
        }
        return lone;
    };
    FUZZ_CHECK(loneSurrogates(text) <= loneSurrogates(original));
    return 0;
}
