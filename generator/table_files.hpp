// Writing table files so that a failed run never leaves a truncated one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tavrix::generator {

struct TableFile {
    std::string name;
    std::vector<std::uint8_t> bytes;
};

std::vector<std::uint8_t> little_endian_bytes(const std::vector<std::uint16_t>& values);
std::vector<std::uint8_t> little_endian_bytes(const std::vector<std::uint32_t>& values);

// Creates `directory` (and its parents) if missing; throws std::runtime_error
// if that fails or the path is not a directory.
void ensure_directory(const std::filesystem::path& directory);

// Creates `directory` if needed, writes every file under a temporary name
// in it, and renames them into place only once all were written and synced.
// Throws std::runtime_error (leaving no temporary files) on failure.
void write_files_atomically(const std::filesystem::path& directory, const std::vector<TableFile>& files);

}  // namespace tavrix::generator
