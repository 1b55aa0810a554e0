// MD5 digests through libcrypto, for the similarity keys and shingle
// identities.
//
//   Md5Digest d = Md5("hello world");
//   std::string hex = Md5Hex("hello world");   // "5eb63bbbe01eeed093cb22bb8f5acdc3"
//
// Thread safety: callable from any thread (one digest context per thread).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

using Md5Digest = std::array<uint8_t, 16>;
Md5Digest Md5(std::string_view bytes);
std::string Md5Hex(std::string_view bytes);  // 32 lower-case hex digits
