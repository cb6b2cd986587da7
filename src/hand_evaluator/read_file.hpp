// Reading a whole table file into one buffer, and the I/O errors that can stop it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <variant>

namespace tavrix {

struct FreeDeleter {
    void operator()(void* p) const noexcept { std::free(p); }
};

// A heap array read straight from a little-endian file: the host is
// little-endian, so the bytes are the elements without any conversion.
template <typename Element>
struct TableArray {
    std::unique_ptr<Element[], FreeDeleter> data;
    std::size_t size = 0;
};

struct IoError {
    enum class Form { Os, UnexpectedEof, OutOfMemory };
    Form form;
    int code = 0;          // errno, for Form::Os
    std::string message;   // for Form::UnexpectedEof

    // Os { code: 2, kind: NotFound, message: "No such file or directory" },
    // Custom { kind: UnexpectedEof, error: "..." } or Kind(OutOfMemory).
    std::string render() const;
};

// An open file descriptor, closed when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();
    int get() const noexcept { return fd_; }

private:
    int fd_;
};

// Opens read-only and close-on-exec, retrying on EINTR.
std::variant<int, IoError> open_for_reading(const char* path);

// Reads the rest of `fd` as elements of `element_size` bytes (2 or 4).
struct ByteBuffer {
    std::unique_ptr<unsigned char[], FreeDeleter> data;
    std::size_t size = 0;
};
std::variant<ByteBuffer, IoError> read_file(int fd, std::size_t element_size);

}  // namespace tavrix
