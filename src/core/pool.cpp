#include "core/pool.hpp"

#include "core/text.hpp"

#include <cstdlib>
#include <mutex>
#include <thread>

#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/info.h>

namespace zelt::pool {
namespace detail {
thread_local int inside_pool = 0;

bool on_worker_thread() {
    // Worker threads hold slots above the one reserved for the thread that
    // entered the arena.
    return tbb::this_task_arena::current_thread_index() > 0;
}
}  // namespace detail

namespace {

std::mutex control_mutex;
std::unique_ptr<tbb::global_control> control;
std::size_t control_limit = 0;

std::once_flag global_once;
std::unique_ptr<tbb::task_arena> global;
std::size_t global_threads = 0;

std::size_t count_from_environment() {
    const char* v = std::getenv(thread_count_variable);
    if (!v) return 4;
    const auto parsed = parse_thread_count(v);
    return parsed ? static_cast<std::size_t>(*parsed) : 4;
}

void build_global(std::size_t threads) {
    std::call_once(global_once, [threads] {
        std::size_t n = threads == 0 ? processor_count() : threads;
        allow_parallelism(n);
        global_threads = n;
        global = std::make_unique<tbb::task_arena>(static_cast<int>(n));
        global->initialize();
    });
}

}  // namespace

std::optional<std::uint64_t> parse_thread_count(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char ch : text) {
        if (ch < '0' || ch > '9') return std::nullopt;
        const std::uint64_t digit = static_cast<std::uint64_t>(ch - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::size_t processor_count() {
    const int n = tbb::info::default_concurrency();
    return n > 0 ? static_cast<std::size_t>(n) : std::max(1u, std::thread::hardware_concurrency());
}

void allow_parallelism(std::size_t threads) {
    std::lock_guard lock(control_mutex);
    if (threads <= control_limit) return;
    // The active limit is the smallest of all live controls, so a larger one
    // replaces the old control rather than joining it.
    control.reset();
    control = std::make_unique<tbb::global_control>(tbb::global_control::max_allowed_parallelism, threads);
    control_limit = threads;
}

void init_at_import() {
    const char* v = std::getenv(thread_count_variable);
    if (v == nullptr || !text::is_valid_utf8(v)) build_global(4);
}

void init_parallelism(std::optional<std::uint64_t> count) {
    const std::size_t n = count ? static_cast<std::size_t>(*count) : count_from_environment();
    build_global(n);
}

tbb::task_arena& global_arena() {
    init_parallelism();
    return *global;
}

std::size_t global_thread_count() {
    init_parallelism();
    return global_threads;
}

std::size_t current_thread_count() {
    if (detail::inside_pool > 0 || detail::on_worker_thread())
        return static_cast<std::size_t>(tbb::this_task_arena::max_concurrency());
    return global_thread_count();
}

PrivatePool::PrivatePool(std::size_t threads) : threads_(std::max<std::size_t>(1, threads)), arena_(static_cast<int>(threads_)) {
    allow_parallelism(threads_);
    arena_.initialize();
}

}  // namespace zelt::pool
