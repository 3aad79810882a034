#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "core/msd.hpp"
#include "core/pool.hpp"

#include "trajectory_fixture.hpp"

using namespace zelt;

namespace {

using testing_support::Traj;

// One atom per entry of `paths` (x, y, z per frame), the same cell in every frame.
Traj make(const std::vector<std::vector<Vec3>>& paths, const Mat3& cell) {
    Traj t;
    t.atoms = paths.size();
    t.frames = paths.empty() ? 0 : paths[0].size();
    for (std::size_t f = 0; f < t.frames; ++f) {
        for (const auto& row : cell) t.cells.insert(t.cells.end(), row.begin(), row.end());
        for (const auto& path : paths) t.positions.insert(t.positions.end(), path[f].begin(), path[f].end());
    }
    return t;
}

Mat3 box(double x, double y, double z) { return {{{x, 0, 0}, {0, y, 0}, {0, 0, z}}}; }

// +1 Å per frame along x from x = 0, wrapped into [0, 10).
std::vector<Vec3> walker(std::size_t frames) {
    std::vector<Vec3> p;
    for (std::size_t f = 0; f < frames; ++f) p.push_back({std::fmod(static_cast<double>(f), 10.0), 5.0, 5.0});
    return p;
}

const std::vector<std::uint64_t> first{0};

}  // namespace

TEST(Msd, WrappedWalkerGivesTauSquared) {
    // 15 frames cross the boundary once; 35 frames cross the same face three
    // times, which needs more than one box length against the previous value.
    for (const std::size_t frames : {15u, 35u}) {
        const Traj t = make({walker(frames)}, box(10, 10, 10));
        const auto u = unwrap_group(t.view(), first);
        for (std::size_t f = 0; f < frames; ++f) EXPECT_EQ(u[3 * f], static_cast<double>(f));
        const auto res = compute_msd_core(t.view(), first, 0, 1.0);
        ASSERT_EQ(res.x.size(), frames);
        for (std::size_t tau = 0; tau < frames; ++tau) {
            EXPECT_EQ(res.x[tau], static_cast<double>(tau * tau)) << tau;
            EXPECT_EQ(res.y[tau], 0.0);
            EXPECT_EQ(res.z[tau], 0.0);
            EXPECT_EQ(res.total[tau], static_cast<double>(tau * tau));
            EXPECT_EQ(res.time[tau], static_cast<double>(tau));
        }
    }
}

TEST(Msd, UnwrappingRule) {
    // Against the previous unwrapped value, with the previous frame's box:
    // exactly half a box stays, more than half moves, big jumps move by as
    // many boxes as needed, a left-handed axis has the same period, and a
    // zero or non-finite box length moves nothing.
    struct Case {
        double from, to, length, expected;
    };
    const Case cases[] = {
        {0.0, 5.0, 10.0, 5.0},   {5.0, 0.0, 10.0, 0.0},    {0.0, 5.5, 10.0, -4.5},  {9.5, 0.5, 10.0, 10.5},
        {25.0, 6.0, 10.0, 26.0}, {-31.0, 9.0, 10.0, -31.0}, {0.0, 16.0, 10.0, -4.0}, {0.0, 15.0, 10.0, 5.0},
        {9.5, 0.5, -10.0, 10.5}, {0.0, 9.0, 0.0, 9.0},     {0.0, 9.0, std::nan(""), 9.0},
        {0.0, 9.0, INFINITY, 9.0},
    };
    for (const auto& c : cases) {
        Traj t = make({{{c.from, 0, 0}, {c.to, 0, 0}}}, box(c.length, 10, 10));
        t.cells[9] = 123.0;  // the second frame's cell is not used
        EXPECT_EQ(unwrap_group(t.view(), first)[3], c.expected) << c.from << " -> " << c.to << " in " << c.length;
    }
}

TEST(Msd, LagLimitsAndTimes) {
    std::vector<Vec3> path;
    for (int f = 0; f < 100; ++f) path.push_back({0.01 * f * f, 0.0, 0.0});
    const Traj t = make({path}, box(1000, 1000, 1000));
    struct Case {
        std::uint64_t max_lag;
        std::size_t lags;
    };
    for (const auto c : {Case{0, 100}, Case{10, 11}, Case{99, 100}, Case{500, 100}, Case{1, 2}}) {
        const auto res = compute_msd_core(t.view(), first, c.max_lag, 0.5);
        EXPECT_EQ(res.time.size(), c.lags);
        EXPECT_EQ(res.total.size(), c.lags);
        EXPECT_EQ(res.x.size(), c.lags);
        for (std::size_t i = 0; i < c.lags; ++i) EXPECT_EQ(res.time[i], 0.5 * static_cast<double>(i));
    }
    // The last lag has a single origin: frame 99 against frame 0.
    const auto res = compute_msd_core(t.view(), first, 0, 1.0);
    EXPECT_DOUBLE_EQ(res.x[99], std::pow(0.01 * 99 * 99, 2));
}

TEST(Msd, OneFrameAndEmptyGroupAndNoFrames) {
    const Traj one = make({{{1, 2, 3}}}, box(10, 10, 10));
    const auto single = compute_msd_core(one.view(), first, 0, 1.0);
    EXPECT_EQ(single.time, std::vector<double>{0.0});
    EXPECT_EQ(single.total, std::vector<double>{0.0});
    EXPECT_EQ(single.x, std::vector<double>{0.0});

    const Traj t = make({walker(6)}, box(10, 10, 10));
    const auto empty = compute_msd_core(t.view(), {}, 0, 2.0);
    EXPECT_EQ(empty.time, (std::vector<double>{0, 2, 4, 6, 8, 10}));
    EXPECT_EQ(empty.total, std::vector<double>(6, 0.0));
    EXPECT_EQ(empty.y, std::vector<double>(6, 0.0));

    EXPECT_TRUE(compute_msd_core(TrajectoryView{}, first, 0, 1.0).time.empty());
}

TEST(Msd, AveragesOverOriginsAndRepeatedEntries) {
    // Atom 0 steps 0, 1, 3 along y; atom 1 stays. Lag 1: origins (0→1, 1→2)
    // give 1 and 4; lag 2: one origin, 9. Atom 0 twice in the group counts twice.
    const Traj t = make({{{0, 0, 0}, {0, 1, 0}, {0, 3, 0}}, {{4, 4, 4}, {4, 4, 4}, {4, 4, 4}}}, box(50, 50, 50));
    const auto res = compute_msd_core(t.view(), std::vector<std::uint64_t>{0, 0, 1}, 0, 1.0);
    EXPECT_DOUBLE_EQ(res.y[1], (1.0 + 4.0 + 1.0 + 4.0) / 6.0);
    EXPECT_DOUBLE_EQ(res.y[2], (9.0 + 9.0) / 3.0);
    EXPECT_EQ(res.x[1], 0.0);
    EXPECT_DOUBLE_EQ(res.total[2], res.y[2]);
}

TEST(Msd, ResultDoesNotDependOnTheThreadCount) {
    std::mt19937_64 rng(3);
    std::normal_distribution<double> step(0.0, 0.7);
    std::vector<std::vector<Vec3>> paths(40);
    for (auto& p : paths) {
        Vec3 r{5, 5, 5};
        for (int f = 0; f < 120; ++f) {
            p.push_back({std::fmod(r[0] + 100, 10.0), std::fmod(r[1] + 100, 10.0), std::fmod(r[2] + 100, 10.0)});
            for (auto& c : r) c += step(rng);
        }
    }
    const Traj t = make(paths, box(10, 10, 10));
    std::vector<std::uint64_t> group(40);
    for (std::size_t i = 0; i < 40; ++i) group[i] = i;
    const auto reference = compute_msd_core(t.view(), group, 0, 1.0);
    for (const std::size_t threads : {1u, 3u}) {
        pool::PrivatePool p(threads);
        MsdResult got;
        p.run([&] { got = compute_msd_core(t.view(), group, 0, 1.0); });
        EXPECT_EQ(got.total, reference.total);
        EXPECT_EQ(got.x, reference.x);
    }
    // Diffusion: about 3 · 0.49 Å² per frame of lag at short lags.
    EXPECT_NEAR(reference.total[1], 3 * 0.49, 0.15);
    EXPECT_NEAR(reference.total[10] / 10.0, 3 * 0.49, 0.4);
}

TEST(Msd, SumsInOriginOrderThenGroupOrder) {
    // Every lag, bit for bit, as a plain loop over origins then group
    // entries gives it (lag blocks and the tail of lags included).
    std::mt19937_64 rng(9);
    std::uniform_real_distribution<double> u(0.0, 4.0);
    std::vector<std::vector<Vec3>> paths(7);
    for (auto& p : paths)
        for (int f = 0; f < 23; ++f) p.push_back({u(rng), u(rng), u(rng)});
    const Traj t = make(paths, box(100, 100, 100));  // no unwrapping
    const std::vector<std::uint64_t> group{3, 0, 6, 6, 1};
    const auto res = compute_msd_core(t.view(), group, 0, 1.0);
    for (std::size_t lag = 1; lag < 23; ++lag) {
        double sum[3] = {0, 0, 0};
        for (std::size_t i = 0; i + lag < 23; ++i)
            for (const auto k : group)
                for (int c = 0; c < 3; ++c) {
                    const double d = paths[k][i + lag][c] - paths[k][i][c];
                    sum[c] += d * d;
                }
        const double count = static_cast<double>((23 - lag) * group.size());
        EXPECT_EQ(res.x[lag], sum[0] / count) << lag;
        EXPECT_EQ(res.y[lag], sum[1] / count) << lag;
        EXPECT_EQ(res.z[lag], sum[2] / count) << lag;
    }
    // max_lag cuts the blocks short: the same values up to it.
    const auto cut = compute_msd_core(t.view(), group, 6, 1.0);
    for (std::size_t lag = 0; lag <= 6; ++lag) EXPECT_EQ(cut.total[lag], res.total[lag]);
}
