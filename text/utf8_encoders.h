// The UTF-16 -> UTF-8 encoders behind EncodeUtf8, and the counters behind
// Utf16Length, one by one. EncodeUtf8 (and Utf16Length) picks
// one when the program starts (by how the program was built and what the
// processor can do), so a machine runs only that one through it; the tests
// run each encoder this processor can run on the same texts.
//
//   for (EUtf8Encoder encoder : {EUtf8Encoder::kWords, EUtf8Encoder::kSse2, EUtf8Encoder::kCompressing})
//       if (Utf8EncoderRuns(encoder)) bytes.resize(EncodeUtf8With(encoder, text, bytes.data()));
//
// Every encoder writes the same bytes as EncodeUtf8, into room for
// MaxUtf8Bytes(text.size()) bytes.
// Thread safety: pure functions, callable from any thread.
#pragma once

#include <cstddef>
#include <string_view>

enum class EUtf8Encoder {
    kWords,        // four units per 64-bit word; the encoder of processors without SSE2
    kSse2,         // sixteen ASCII units per step
    kCompressing,  // AVX-512: also blocks of two-byte characters
};

// Whether this build holds the encoder and this processor can run it.
bool Utf8EncoderRuns(EUtf8Encoder encoder);
// Only for an encoder that runs here.
std::size_t EncodeUtf8With(EUtf8Encoder encoder, std::u16string_view text, char* out);

// The counters behind Utf16Length.
enum class EUtf16Counter {
    kSteps,  // sixteen bytes a step with SSE2, else byte by byte
    kMasks,  // AVX-512: sixty-four bytes a step
};

bool Utf16CounterRuns(EUtf16Counter counter);
// Only for a counter that runs here; every counter gives Utf16Length's count.
std::size_t Utf16LengthWith(EUtf16Counter counter, std::string_view utf8);
