#pragma once

#include <filesystem>
#include <string>

// The SHA-256 of a whole file as 64 lower-case hexadecimal digits. The file is read through a
// memory map a window at a time, so hashing a large model keeps little of it resident.
namespace FileDigest {

// Throws FileError when the file cannot be opened, mapped or read.
std::string sha256(const std::filesystem::path& file);
// The same for a file open for reading.
std::string sha256(int fd, const std::filesystem::path& nameForErrors);

} // namespace FileDigest
