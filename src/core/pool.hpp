// Worker pools: the process-wide pool, private pools of a given size, and the
// one mechanism every parallel loop of the system uses to split an index range
// into contiguous chunks (ordered results, private partial accumulators).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/partitioner.h>
#include <oneapi/tbb/task_arena.h>

namespace zelt::pool {

// The environment variable that sets the process-wide pool's thread count.
inline constexpr const char* thread_count_variable = "ZELT_NUM_THREADS";

// The whole text must be an unsigned decimal integer that fits in 64 bits,
// optionally preceded by a single "+". Anything else gives nothing.
std::optional<std::uint64_t> parse_thread_count(std::string_view text);

// Module import: when the variable is unset (or not valid UTF-8) the
// process-wide pool is built now with exactly 4 threads; otherwise nothing
// happens and the pool is built on first use.
void init_at_import();

// Builds the process-wide pool once per process: with `count`, or else with
// the variable's value (4 when unset or unreadable); 0 means one thread per
// processor. Later calls, and calls after the pool exists, change nothing.
void init_parallelism(std::optional<std::uint64_t> count = std::nullopt);

// The process-wide pool, built on first use by `init_parallelism()`.
tbb::task_arena& global_arena();

// Threads of the process-wide pool (builds it if needed).
std::size_t global_thread_count();

// Threads available to a loop started on the calling thread: those of the
// pool the thread is working in, else those of the process-wide pool.
std::size_t current_thread_count();

// Number of threads that `count` = 0 stands for: one per processor.
std::size_t processor_count();

// Lets oneTBB run at least `threads` threads at once in one arena (by default
// it runs one fewer worker than there are processors in total).
void allow_parallelism(std::size_t threads);

namespace detail {
extern thread_local int inside_pool;  // > 0 while this thread runs pool work
bool on_worker_thread();

struct InsideGuard {
    InsideGuard() { ++inside_pool; }
    ~InsideGuard() { --inside_pool; }
    InsideGuard(const InsideGuard&) = delete;
    InsideGuard& operator=(const InsideGuard&) = delete;
};
}  // namespace detail

// A pool of exactly `threads` threads (the calling thread takes part while it
// waits), for callers that ask for their own thread count.
class PrivatePool {
public:
    explicit PrivatePool(std::size_t threads);
    std::size_t thread_count() const { return threads_; }

    template <class F>
    void run(F&& f) {
        arena_.execute([&] {
            detail::InsideGuard g;
            f();
        });
    }

private:
    std::size_t threads_;
    tbb::task_arena arena_;
};

// Runs `f` where parallel loops go: directly when this thread already works
// for a pool (loops then stay in that pool), else inside the process-wide pool.
template <class F>
void run(F&& f) {
    if (detail::inside_pool > 0 || detail::on_worker_thread()) {
        f();
        return;
    }
    global_arena().execute([&] {
        detail::InsideGuard g;
        f();
    });
}

// Splits [0, n) into `chunks` contiguous pieces of near-equal size.
struct Chunking {
    std::size_t n;
    std::size_t chunks;
    std::size_t begin(std::size_t c) const { return n * c / chunks; }
    std::size_t end(std::size_t c) const { return n * (c + 1) / chunks; }
};

// Default chunk count: a few pieces per thread so that stealing can even out
// uneven work, never more pieces than items.
inline std::size_t default_chunks(std::size_t n) {
    return std::max<std::size_t>(1, std::min(n, 4 * current_thread_count()));
}

// Calls body(chunk, begin, end) for contiguous pieces of [0, n) on the
// current pool. Pieces are disjoint and cover the range in order.
template <class Body>
void for_chunks(std::size_t n, std::size_t chunks, Body&& body) {
    if (n == 0) return;
    chunks = std::clamp<std::size_t>(chunks, 1, n);
    const Chunking split{n, chunks};
    if (chunks == 1) {
        body(std::size_t{0}, std::size_t{0}, n);
        return;
    }
    run([&] {
        tbb::parallel_for(
            tbb::blocked_range<std::size_t>(0, chunks, 1),
            [&](const tbb::blocked_range<std::size_t>& r) {
                for (std::size_t c = r.begin(); c != r.end(); ++c) body(c, split.begin(c), split.end(c));
            },
            tbb::simple_partitioner());
    });
}

// Calls body(begin, end) for contiguous pieces of [0, n).
template <class Body>
void for_range(std::size_t n, Body&& body) {
    for_chunks(n, default_chunks(n), [&](std::size_t, std::size_t b, std::size_t e) { body(b, e); });
}

// Ordered map: out[i] = f(i), computed in parallel.
template <class T, class F>
std::vector<T> map(std::size_t n, F&& f) {
    std::vector<T> out(n);
    for_range(n, [&](std::size_t b, std::size_t e) {
        for (std::size_t i = b; i != e; ++i) out[i] = f(i);
    });
    return out;
}

// Reduction with private accumulators: each piece starts from a copy of
// `identity`, body(begin, end, acc) adds its items into acc, and the partial
// results are combined left to right in range order, so the result depends
// only on the chunk count, not on scheduling.
template <class T, class Body, class Combine>
T reduce(std::size_t n, std::size_t chunks, const T& identity, Body&& body, Combine&& combine) {
    if (n == 0) return identity;
    chunks = std::clamp<std::size_t>(chunks, 1, n);
    std::vector<T> partial(chunks, identity);
    for_chunks(n, chunks, [&](std::size_t c, std::size_t b, std::size_t e) { body(b, e, partial[c]); });
    T acc = std::move(partial[0]);
    for (std::size_t c = 1; c < chunks; ++c) acc = combine(std::move(acc), std::move(partial[c]));
    return acc;
}

template <class T, class Body, class Combine>
T reduce(std::size_t n, const T& identity, Body&& body, Combine&& combine) {
    return reduce(n, default_chunks(n), identity, std::forward<Body>(body), std::forward<Combine>(combine));
}

}  // namespace zelt::pool
