// Whole files in and out: what a test sets up for the code under test to
// read, and what it checks the code wrote.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

// The bytes of the file at path (std::string or std::vector<uint8_t>);
// empty when there is no such file.
template <class Bytes = std::string>
Bytes ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces the file at path with bytes, making its folder when missing. A
// setup that cannot be written fails the test rather than testing nothing.
inline void WriteBytes(const std::filesystem::path& path, std::string_view bytes) {
  if (path.has_parent_path()) {
    std::error_code ignored;
    std::filesystem::create_directories(path.parent_path(), ignored);
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) ADD_FAILURE() << "cannot write " << path;
}
inline void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  WriteBytes(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// Makes each entry below folder, in the order given: a name ending in "/"
// a folder, any other an empty file.
inline void MakeTree(const std::string& folder, const std::vector<std::string>& entries) {
  for (const std::string& entry : entries) {
    if (!entry.empty() && entry.back() == '/')
      std::filesystem::create_directories(folder + "/" + entry);
    else
      WriteBytes(folder + "/" + entry, "");
  }
}
