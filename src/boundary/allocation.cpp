// The module's own allocations never fail softly: running out of memory in the
// middle of an operation aborts at once, naming the size, instead of unwinding
// through half-built state. (Table loading allocates with malloc directly, so
// that it can report a failed reservation as an I/O error instead.)
//
// These replace operator new/delete for this shared object only: the export map
// keeps them local.
#include <unistd.h>

#include <cstdlib>
#include <new>
#include <string>

namespace {

[[noreturn]] void allocation_failed(std::size_t bytes) noexcept {
    char text[64];
    const int n = __builtin_snprintf(text, sizeof text, "memory allocation of %zu bytes failed\n", bytes);
    if (n > 0) (void)!::write(2, text, static_cast<std::size_t>(n));
    std::abort();
}

void* allocate(std::size_t bytes) noexcept {
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    if (p == nullptr) allocation_failed(bytes);
    return p;
}

}  // namespace

void* operator new(std::size_t bytes) { return allocate(bytes); }
void* operator new[](std::size_t bytes) { return allocate(bytes); }
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return allocate(bytes); }
void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return allocate(bytes); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
