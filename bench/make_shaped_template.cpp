// Writes a throughput test template to stdout: "medium" (~5 KB, ~150 groups)
// or "large" (~50 KB, ~950 groups), optionally with another seed.
//
//   phrasemill-make-template medium > medium.txt
//   phrasemill-cli generate --seed 1 -n 100000 -o out.txt medium.txt
#include "shaped_template.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2 || (std::strcmp(argv[1], "medium") != 0 && std::strcmp(argv[1], "large") != 0)) {
        std::fputs("usage: phrasemill-make-template medium|large [seed]\n", stderr);
        return 2;
    }
    const TemplateShape shape = std::strcmp(argv[1], "medium") == 0 ? kMediumShape : kLargeShape;
    const uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    const std::string text = ShapedTemplate(shape, seed);
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() ? 0 : 2;
}
