// The similarity test over a sequence of versions (one per line of the
// input; the first two bytes choose the shingle length and the percentage).
// The shingle store must answer the same whether a shingle's holders are kept
// as lists or, from the second holder on, as bitmaps; an exact key is a
// repeat the second time it is offered.
#include "similarity_index.h"
#include "fuzz_input.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    CFuzzInput in(data, size);
    const int shingleLength = in.Byte() % 12;  // 0 counts as 1
    const int allowedPercent = in.Byte() % 110;
    const std::u16string all = in.RestAsText();

    ShingleStore lists;
    ShingleStore bitmaps(2);
    CExactKeySet exact;
    int64_t index = 0;
    std::size_t from = 0;
    while (from <= all.size()) {
        std::size_t end = all.find(u'\n', from);
        if (end == std::u16string::npos) end = all.size();
        const std::u16string_view version(all.data() + from, end - from);
        from = end + 1;

        const std::string lower = LowerCaseNarrow(version);
        const bool newInLists = lists.TestAndRemember(index, lower, shingleLength, allowedPercent);
        const bool newInBitmaps = bitmaps.TestAndRemember(index, lower, shingleLength, allowedPercent);
        FUZZ_CHECK(newInLists == newInBitmaps);
        FUZZ_CHECK(lists.Size() == bitmaps.Size());

        const ExactKeyDigest key = ExactKeyOf(version);
        const bool known = exact.Contains(key);
        FUZZ_CHECK(exact.Insert(key) == !known);
        FUZZ_CHECK(exact.Contains(key) && !exact.Insert(key));
        FUZZ_CHECK(ExactKeyText(key) == ExactKey(version));
        ++index;
    }
    return 0;
}
