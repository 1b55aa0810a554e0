// Templates of a given shape for throughput measurements: prose with choice
// groups of three or four alternatives, some alternatives holding groups of
// their own (three levels deep at most), a few words with non-ASCII letters,
// line breaks and "<br>" tags, and the slips the auto-correction rules fix
// (a space before a comma, two full stops, a lower-case sentence start, no
// space after a mark).
//
//   std::string text = ShapedTemplate(kMediumShape);   // ~5 KB, ~150 groups
//   std::string text = ShapedTemplate(kLargeShape);    // ~50 KB, ~950 groups
//
// The same shape always gives the same text (a fixed pseudo-random sequence),
// so runs on different builds can be compared byte for byte.
// Thread safety: pure function.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct TemplateShape {
    int groups;               // choice groups in all, nested ones included
    std::size_t targetBytes;  // length of the template, roughly
};

inline constexpr TemplateShape kMediumShape{150, 5 * 1024};
inline constexpr TemplateShape kLargeShape{950, 50 * 1024};

namespace shaped_template_detail {

class CSequence {
public:
    explicit CSequence(uint64_t seed) : state_(seed) {}
    uint32_t Next(uint32_t below) {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>((state_ >> 33) % below);
    }

private:
    uint64_t state_;
};

inline const std::vector<std::string>& Words() {
    static const std::vector<std::string> words = {
        "quiet",  "bright",   "garden", "river",   "morning", "window", "coffee", "market", "street",  "village",
        "light",  "evening",  "table",  "friends", "walk",    "summer", "corner", "old",    "harbour", "view",
        "small",  "warm",     "fresh",  "local",   "kitchen", "open",   "near",   "simple", "room",    "terrace",
        "café",   "naïve",    "façade", "über",    "piñata",  "größe",  "crème",  "jalapeño"};
    return words;
}

inline std::string Phrase(CSequence& rng, int minWords, int maxWords) {
    const auto& words = Words();
    const int count = minWords + static_cast<int>(rng.Next(static_cast<uint32_t>(maxWords - minWords + 1)));
    std::string phrase;
    for (int i = 0; i < count; ++i) {
        if (i) phrase += ' ';
        phrase += words[rng.Next(static_cast<uint32_t>(words.size()))];
    }
    return phrase;
}

// One group of three or four alternatives; an alternative may hold a nested
// group while depth < 3 and groups are left to spend.
inline std::string Group(CSequence& rng, int depth, int& groupsLeft) {
    --groupsLeft;
    const int alternatives = 3 + static_cast<int>(rng.Next(2));
    std::string group = "{";
    for (int a = 0; a < alternatives; ++a) {
        if (a) group += '|';
        group += Phrase(rng, 1, rng.Next(3) == 0 ? 2 : 1);
        if (depth < 3 && groupsLeft > 0 && rng.Next(4) == 0) {
            group += ' ';
            group += Group(rng, depth + 1, groupsLeft);
        }
    }
    group += '}';
    return group;
}

inline std::string Filler(CSequence& rng, std::size_t bytes) {
    std::string filler;
    while (filler.size() < bytes) {
        if (!filler.empty()) filler += ' ';
        filler += Phrase(rng, 1, 1);
    }
    return filler;
}

}  // namespace shaped_template_detail

inline std::string ShapedTemplate(const TemplateShape& shape, uint64_t seed = 1) {
    using namespace shaped_template_detail;
    CSequence rng(seed);
    std::vector<std::string> groups;
    std::size_t groupBytes = 0;
    int left = shape.groups;
    while (left > 0) {
        groups.push_back(Group(rng, 1, left));
        groupBytes += groups.back().size();
    }
    const std::size_t fillerBytes = shape.targetBytes > groupBytes ? shape.targetBytes - groupBytes : 0;
    const std::size_t perGap = std::max<std::size_t>(fillerBytes / groups.size(), 4);

    static const char* const kEndings[] = {". ", ". ", ". ", ".. ", "! ", "? ", ".", " , ", ", ", ",", "; "};
    std::string text;
    bool sentenceStart = true;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        std::string filler = Filler(rng, perGap);
        if (sentenceStart && rng.Next(3) != 0 && filler[0] >= 'a' && filler[0] <= 'z')
            filler[0] = static_cast<char>(filler[0] - 'a' + 'A');
        text += filler;
        text += ' ';
        text += groups[g];
        const char* ending = kEndings[rng.Next(sizeof kEndings / sizeof kEndings[0])];
        text += ending;
        sentenceStart = ending[0] != ',' && ending[1] != ',' && ending[0] != ';';
        if (sentenceStart && rng.Next(8) == 0) text += rng.Next(2) ? "\n\n" : "<br>";
    }
    return text;
}
