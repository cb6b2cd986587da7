// Tests of the pure C++ core that Python cannot reach: the once-guard under
// real thread races (the interpreter lock serialises every Python caller) and
// read_file on inputs such as pipes, whose size gives no capacity hint.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "check.hpp"
#include "hand_evaluator/panic.hpp"
#include "hand_evaluator/once.hpp"
#include "hand_evaluator/read_file.hpp"

namespace {

using test_support::failed;
using test_support::passed;

using namespace tavrix;
using namespace std::chrono_literals;

std::atomic<int> initialiser_runs{0};

void slow_initialiser() {
    ++initialiser_runs;
    std::this_thread::sleep_for(100ms);
}

void failing_initialiser() {
    ++initialiser_runs;
    std::this_thread::sleep_for(100ms);
    throw Panic("load failed");
}

// Starts `threads` callers at once; returns each caller's outcome ("ok" or the panic message).
std::vector<std::string> race(OnceGuard& guard, void (*initialiser)(), int threads) {
    std::vector<std::string> outcomes(threads);
    std::vector<std::thread> callers;
    std::atomic<bool> go{false};
    for (int i = 0; i < threads; ++i) {
        callers.emplace_back([&, i] {
            while (!go) std::this_thread::yield();
            try {
                guard.call(initialiser);
                outcomes[i] = "ok";
            } catch (const Panic& p) {
                outcomes[i] = p.message();
            }
        });
    }
    go = true;
    for (auto& caller : callers) caller.join();
    return outcomes;
}

void test_once_guard_runs_once_and_waiters_see_completion() {
    OnceGuard guard;
    initialiser_runs = 0;
    const auto outcomes = race(guard, slow_initialiser, 8);
    CHECK(initialiser_runs == 1);
    for (const auto& outcome : outcomes) CHECK(outcome == "ok");
    CHECK(guard.is_complete());
    guard.call(slow_initialiser);
    CHECK(initialiser_runs == 1);
}

void test_once_guard_stays_poisoned() {
    OnceGuard guard;
    initialiser_runs = 0;
    const auto outcomes = race(guard, failing_initialiser, 8);
    CHECK(initialiser_runs == 1);
    int causes = 0, poisoned = 0;
    for (const auto& outcome : outcomes) {
        causes += outcome == "load failed";
        poisoned += outcome == "Once instance has previously been poisoned";
    }
    CHECK(causes == 1 && poisoned == 7);
    CHECK(!guard.is_complete());
    try {
        guard.call(slow_initialiser);
        CHECK(!"a poisoned guard ran again");
    } catch (const Panic& p) {
        CHECK(p.message() == "Once instance has previously been poisoned");
    }
    CHECK(initialiser_runs == 1);
}

std::variant<ByteBuffer, IoError> read_through_pipe(const std::string& bytes, std::size_t element_size) {
    int ends[2];
    if (pipe(ends) != 0) return IoError{IoError::Form::Os, errno, {}};
    std::thread writer([&] {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = write(ends[1], bytes.data() + done, bytes.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        close(ends[1]);
    });
    auto result = read_file(ends[0], element_size);
    writer.join();
    close(ends[0]);
    return result;
}

void test_read_file_grows_past_a_missing_hint() {
    std::string bytes(300000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    auto result = read_through_pipe(bytes, 4);
    auto* buffer = std::get_if<ByteBuffer>(&result);
    CHECK(buffer != nullptr && buffer->size == bytes.size() &&
          std::memcmp(buffer->data.get(), bytes.data(), bytes.size()) == 0);
}

void test_read_file_size_check() {
    auto result = read_through_pipe("abcde", 2);
    auto* error = std::get_if<IoError>(&result);
    CHECK(error != nullptr && error->render() ==
                                  "Custom { kind: UnexpectedEof, error: \"read_file() returned a number of bytes (5) "
                                  "which is not a multiple of size (2)\" }");
    auto empty = read_through_pipe("", 4);
    CHECK(std::get_if<ByteBuffer>(&empty) != nullptr && std::get<ByteBuffer>(empty).size == 0);
}

void test_read_file_skips_what_was_already_read() {
    char path[] = "/tmp/tavrix-core-test-XXXXXX";
    const int fd = mkstemp(path);
    CHECK(fd >= 0 && write(fd, "0123456789", 10) == 10);
    lseek(fd, 4, SEEK_SET);
    auto result = read_file(fd, 2);
    auto* buffer = std::get_if<ByteBuffer>(&result);
    CHECK(buffer != nullptr && buffer->size == 6 && std::memcmp(buffer->data.get(), "456789", 6) == 0);
    close(fd);
    unlink(path);
}

void test_io_error_renderings() {
    CHECK((IoError{IoError::Form::Os, ENOENT, {}}.render() ==
           "Os { code: 2, kind: NotFound, message: \"No such file or directory\" }"));
    CHECK((IoError{IoError::Form::Os, EACCES, {}}.render() ==
           "Os { code: 13, kind: PermissionDenied, message: \"Permission denied\" }"));
    CHECK((IoError{IoError::Form::Os, ENOTDIR, {}}.render() ==
           "Os { code: 20, kind: NotADirectory, message: \"Not a directory\" }"));
    CHECK((IoError{IoError::Form::OutOfMemory, 0, {}}.render() == "Kind(OutOfMemory)"));
    auto opened = open_for_reading("/nonexistent/dir/file");
    CHECK(std::holds_alternative<IoError>(opened) && std::get<IoError>(opened).code == ENOENT);
}

}  // namespace

int main() {
    test_once_guard_runs_once_and_waiters_see_completion();
    test_once_guard_stays_poisoned();
    test_read_file_grows_past_a_missing_hint();
    test_read_file_size_check();
    test_read_file_skips_what_was_already_read();
    test_io_error_renderings();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
