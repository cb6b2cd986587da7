#include "hand_evaluator/read_file.hpp"

#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tavrix {
namespace {

const char* error_kind(int code) {
    switch (code) {
        case ENOENT: return "NotFound";
        case EACCES:
        case EPERM: return "PermissionDenied";
        case ENOTDIR: return "NotADirectory";
        case EISDIR: return "IsADirectory";
        case ELOOP: return "FilesystemLoop";
        case ENAMETOOLONG: return "InvalidFilename";
        case ENOMEM: return "OutOfMemory";
        case EINTR: return "Interrupted";
        case EINVAL: return "InvalidInput";
        case EAGAIN: return "WouldBlock";
        case EBUSY: return "ResourceBusy";
        case EEXIST: return "AlreadyExists";
        case EFBIG: return "FileTooLarge";
        case ENOSPC: return "StorageFull";
        case EROFS: return "ReadOnlyFilesystem";
        case ESPIPE: return "NotSeekable";
        case ESTALE: return "StaleNetworkFileHandle";
        case ETIMEDOUT: return "TimedOut";
        case ETXTBSY: return "ExecutableFileBusy";
        case ENOSYS: return "Unsupported";
        default: return "Uncategorized";
    }
}

// strerror_r comes in a GNU flavour (returns the text) and a POSIX one (fills buf).
[[maybe_unused]] const char* strerror_text(char* result, const char*) { return result; }
[[maybe_unused]] const char* strerror_text(int result, const char* buffer) {
    return result == 0 ? buffer : "Unknown error";
}

std::string system_text(int code) {
    char buffer[256] = {};
    return strerror_text(strerror_r(code, buffer, sizeof buffer), buffer);
}

// The file's size minus the current position; 0 when either cannot be had.
std::size_t capacity_hint(int fd) {
    std::uint64_t size = 0;
    struct statx status {};
    if (statx(fd, "", AT_EMPTY_PATH, STATX_SIZE, &status) == 0) {
        size = status.stx_size;
    } else {
        struct stat fallback {};
        if (fstat(fd, &fallback) != 0) return 0;
        size = static_cast<std::uint64_t>(fallback.st_size);
    }
    const off_t position = lseek(fd, 0, SEEK_CUR);
    if (position < 0) return 0;
    const auto consumed = static_cast<std::uint64_t>(position);
    return size > consumed ? static_cast<std::size_t>(size - consumed) : 0;
}

// Grows `buffer` to `capacity` bytes; false when the memory cannot be had.
bool grow(ByteBuffer& buffer, std::size_t& capacity, std::size_t wanted) {
    void* grown = std::realloc(buffer.data.get(), wanted);
    if (grown == nullptr) return false;
    (void)buffer.data.release();
    buffer.data.reset(static_cast<unsigned char*>(grown));
    capacity = wanted;
    return true;
}

// read() that retries on EINTR; -1 with errno set on any other failure.
ssize_t read_some(int fd, void* into, std::size_t bytes) {
    for (;;) {
        const ssize_t n = ::read(fd, into, bytes);
        if (n >= 0 || errno != EINTR) return n;
    }
}

}  // namespace

std::string IoError::render() const {
    switch (form) {
        case Form::Os:
            return "Os { code: " + std::to_string(code) + ", kind: " + error_kind(code) + ", message: \"" +
                   system_text(code) + "\" }";
        case Form::UnexpectedEof:
            return "Custom { kind: UnexpectedEof, error: \"" + message + "\" }";
        case Form::OutOfMemory:
            break;
    }
    return "Kind(OutOfMemory)";
}

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
}

std::variant<int, IoError> open_for_reading(const char* path) {
    for (;;) {
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd >= 0) return fd;
        if (errno != EINTR) return IoError{IoError::Form::Os, errno, {}};
    }
}

std::variant<ByteBuffer, IoError> read_file(int fd, std::size_t element_size) {
    const IoError out_of_memory{IoError::Form::OutOfMemory, 0, {}};
    ByteBuffer buffer;
    std::size_t capacity = 0;
    if (const std::size_t hint = capacity_hint(fd); hint > 0 && !grow(buffer, capacity, hint)) return out_of_memory;

    for (;;) {
        if (buffer.size == capacity) {
            // Full (usually exactly the file's size): probe for the end before growing.
            unsigned char probe[32];
            const ssize_t n = read_some(fd, probe, sizeof probe);
            if (n < 0) return IoError{IoError::Form::Os, errno, {}};
            if (n == 0) break;
            if (!grow(buffer, capacity, capacity * 2 + sizeof probe)) return out_of_memory;
            memcpy(buffer.data.get() + buffer.size, probe, static_cast<std::size_t>(n));
            buffer.size += static_cast<std::size_t>(n);
            continue;
        }
        const ssize_t n = read_some(fd, buffer.data.get() + buffer.size, capacity - buffer.size);
        if (n < 0) return IoError{IoError::Form::Os, errno, {}};
        if (n == 0) break;
        buffer.size += static_cast<std::size_t>(n);
    }

    if (buffer.size % element_size != 0)
        return IoError{IoError::Form::UnexpectedEof, 0,
                       "read_file() returned a number of bytes (" + std::to_string(buffer.size) +
                           ") which is not a multiple of size (" + std::to_string(element_size) + ")"};
    return buffer;
}

}  // namespace tavrix
