#include "table_files.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace tavrix::generator {
namespace {

template <typename T>
std::vector<std::uint8_t> to_little_endian(const std::vector<T>& values) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(values.size() * sizeof(T));
    for (T value : values)
        for (std::size_t i = 0; i < sizeof(T); ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    return bytes;
}

[[noreturn]] void fail(const std::string& what, const std::filesystem::path& path, int error) {
    throw std::runtime_error(what + " " + path.string() + ": " + std::strerror(error));
}

// Writes and fsyncs the whole file, so a rename after it publishes complete
// contents even if the machine goes down.
void write_synced(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) fail("cannot create", path, errno);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            ::close(fd);
            fail("cannot write", path, error);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        fail("cannot sync", path, error);
    }
    if (::close(fd) != 0) fail("cannot close", path, errno);
}

}  // namespace

std::vector<std::uint8_t> little_endian_bytes(const std::vector<std::uint16_t>& values) { return to_little_endian(values); }
std::vector<std::uint8_t> little_endian_bytes(const std::vector<std::uint32_t>& values) { return to_little_endian(values); }

void ensure_directory(const std::filesystem::path& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) throw std::runtime_error("cannot create directory " + directory.string() + ": " + error.message());
    if (!std::filesystem::is_directory(directory))
        throw std::runtime_error(directory.string() + " is not a directory");
}

void write_files_atomically(const std::filesystem::path& directory, const std::vector<TableFile>& files) {
    ensure_directory(directory);
    std::error_code error;

    // The pid keeps two concurrent runs from writing the same temporary file.
    const std::string suffix = ".tmp." + std::to_string(::getpid());
    std::vector<std::filesystem::path> temporaries;
    try {
        for (const TableFile& file : files) {
            temporaries.push_back(directory / (file.name + suffix));
            write_synced(temporaries.back(), file.bytes);
        }
        for (std::size_t i = 0; i < files.size(); ++i) {
            std::filesystem::rename(temporaries[i], directory / files[i].name, error);
            if (error)
                throw std::runtime_error("cannot rename " + temporaries[i].string() + ": " + error.message());
        }
    } catch (...) {
        for (const auto& path : temporaries) std::filesystem::remove(path, error);
        throw;
    }
}

}  // namespace tavrix::generator
