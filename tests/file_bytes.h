// Whole files as byte strings, for tests that prepare inputs and check what a
// program wrote.
//
//   WriteFileBytes(dir / "t.txt", "{a|b}");
//   EXPECT_EQ(ReadFileBytes(dir / "out.txt"), "a");
//
// Thread safety: plain functions over the file system.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

inline void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}
