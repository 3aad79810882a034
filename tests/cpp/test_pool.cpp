#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <numeric>
#include <set>
#include <thread>

#include "core/pool.hpp"

using namespace zelt;

namespace {
template <class Run>
std::size_t distinct_threads(std::size_t pieces, Run&& run) {
    std::mutex m;
    std::set<std::thread::id> ids;
    run(pieces, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::lock_guard lock(m);
        ids.insert(std::this_thread::get_id());
    });
    return ids.size();
}
}  // namespace

// Runs first: it builds the process-wide pool that the later tests use.
TEST(Pool, ProcessWidePoolRunsItsThreadCount) {
    pool::init_parallelism(3);
    EXPECT_EQ(pool::global_thread_count(), 3u);
    pool::init_parallelism(7);  // already built: unchanged
    EXPECT_EQ(pool::global_thread_count(), 3u);
    const auto n = distinct_threads(24, [](std::size_t pieces, auto&& f) {
        pool::for_chunks(pieces, pieces, [&](std::size_t, std::size_t, std::size_t) { f(); });
    });
    EXPECT_EQ(n, 3u);
}

TEST(Pool, ThreadCountText) {
    struct Case {
        const char* text;
        std::optional<std::uint64_t> value;
    };
    const Case cases[] = {{"2", 2},          {"+8", 8},           {"0", 0},
                          {"8 ", std::nullopt}, {"-1", std::nullopt}, {"eight", std::nullopt},
                          {"", std::nullopt},   {"+", std::nullopt},  {"-", std::nullopt},
                          {"++1", std::nullopt}, {"18446744073709551616", std::nullopt}};
    for (const auto& c : cases) EXPECT_EQ(pool::parse_thread_count(c.text), c.value) << c.text;
}

TEST(Pool, ChunksAreContiguousOrderedAndComplete) {
    for (std::size_t n : {0u, 1u, 7u, 1000u}) {
        std::vector<int> seen(n, 0);
        std::vector<std::pair<std::size_t, std::size_t>> ranges(5);
        pool::for_chunks(n, 5, [&](std::size_t c, std::size_t b, std::size_t e) {
            ranges[c] = {b, e};
            for (std::size_t i = b; i < e; ++i) ++seen[i];
        });
        for (int v : seen) EXPECT_EQ(v, 1);
        if (n >= 5)
            for (std::size_t c = 1; c < 5; ++c) EXPECT_EQ(ranges[c].first, ranges[c - 1].second);
    }
}

TEST(Pool, MapKeepsIndexOrderAndReduceCombinesInOrder) {
    const auto sq = pool::map<std::size_t>(10000, [](std::size_t i) { return i * i; });
    for (std::size_t i = 0; i < sq.size(); ++i) ASSERT_EQ(sq[i], i * i);

    // Concatenation is not commutative: the result shows the combination order.
    const auto order = pool::reduce(
        100, 7, std::vector<std::size_t>{},
        [](std::size_t b, std::size_t e, std::vector<std::size_t>& acc) {
            for (std::size_t i = b; i < e; ++i) acc.push_back(i);
        },
        [](std::vector<std::size_t> a, std::vector<std::size_t> b) {
            a.insert(a.end(), b.begin(), b.end());
            return a;
        });
    std::vector<std::size_t> expected(100);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
}

TEST(Pool, PrivatePoolRunsExactlyItsThreadsAndNestedLoopsStayInIt) {
    pool::PrivatePool priv(5);
    std::size_t seen_count = 0;
    const auto n = distinct_threads(40, [&](std::size_t pieces, auto&& f) {
        priv.run([&] {
            seen_count = pool::current_thread_count();
            pool::for_chunks(pieces, pieces, [&](std::size_t, std::size_t, std::size_t) { f(); });
        });
    });
    EXPECT_EQ(seen_count, 5u);
    EXPECT_EQ(n, 5u);
}
