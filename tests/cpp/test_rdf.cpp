#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>

#include "core/pool.hpp"
#include "core/rdf.hpp"

#include "trajectory_fixture.hpp"

using namespace zelt;

namespace {

using testing_support::Traj;

std::vector<double> flat(const Mat3& h) {
    std::vector<double> out;
    for (const auto& row : h) out.insert(out.end(), row.begin(), row.end());
    return out;
}

// Uniform random atoms in the cell (fractional coordinates in [lo, hi)), the
// same cell in every frame.
Traj random_traj(const Mat3& h, std::size_t frames, std::size_t atoms, std::uint64_t seed, double lo = 0.0,
                 double hi = 1.0) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(lo, hi);
    Traj t;
    t.frames = frames;
    t.atoms = atoms;
    for (std::size_t f = 0; f < frames; ++f) {
        const auto c = flat(h);
        t.cells.insert(t.cells.end(), c.begin(), c.end());
        for (std::size_t i = 0; i < atoms; ++i) {
            const double s[3] = {u(rng), u(rng), u(rng)};
            for (int k = 0; k < 3; ++k) t.positions.push_back(s[0] * h[0][k] + s[1] * h[1][k] + s[2] * h[2][k]);
        }
    }
    return t;
}

Traj two_atoms(const Mat3& h, const Vec3& p, const Vec3& q) {
    Traj t;
    t.frames = 1;
    t.atoms = 2;
    t.cells = flat(h);
    t.positions = {p[0], p[1], p[2], q[0], q[1], q[2]};
    return t;
}

std::vector<std::uint64_t> iota(std::size_t n, std::uint64_t from = 0) {
    std::vector<std::uint64_t> v(n);
    std::iota(v.begin(), v.end(), from);
    return v;
}

Mat3 box(double x, double y, double z) { return {{{x, 0, 0}, {0, y, 0}, {0, 0, z}}}; }

std::uint64_t total(const std::vector<std::uint64_t>& h) { return std::accumulate(h.begin(), h.end(), 0ull); }

}  // namespace

TEST(Rdf, EmptyGroupsAndZeroBins) {
    const Traj t = random_traj(box(20, 20, 20), 2, 10, 1);
    const auto all = iota(10);
    const std::vector<std::uint64_t> none;
    for (const auto& [a, b] : {std::pair{all, none}, std::pair{none, all}, std::pair{none, none}}) {
        const auto res = compute_rdf_core(t.view(), a, b, 10.0, 4);
        EXPECT_EQ(res.r, (std::vector<double>{1.25, 3.75, 6.25, 8.75}));
        EXPECT_EQ(res.g, std::vector<double>(4, 0.0));
    }
    const auto res = compute_rdf_core(t.view(), all, all, 10.0, 0);
    EXPECT_TRUE(res.r.empty());
    EXPECT_TRUE(res.g.empty());
}

TEST(Rdf, NoFramesGivesZeros) {
    const auto res = compute_rdf_core(TrajectoryView{}, iota(3), iota(3), 5.0, 5);
    EXPECT_EQ(res.r.size(), 5u);
    EXPECT_EQ(res.g, std::vector<double>(5, 0.0));
}

TEST(Rdf, NormalisationOfOnePair) {
    // Two atoms 1.5 Å apart in frames of 1000 and 2000 Å³: the ideal count
    // uses the average volume 1500 Å³ and counts both ordered pairs.
    Traj t = two_atoms(box(10, 10, 10), {1, 1, 1}, {2.5, 1, 1});
    const auto second = flat(box(10, 10, 20));
    t.cells.insert(t.cells.end(), second.begin(), second.end());
    t.positions.insert(t.positions.end(), {1, 1, 1, 2.5, 1, 1});
    t.frames = 2;
    const auto res = compute_rdf_core(t.view(), iota(2), iota(2), 5.0, 10);
    const double shell = 4.1887902047863905 * (2.0 * 2.0 * 2.0 - 1.5 * 1.5 * 1.5);
    const double ideal = (2.0 / 1500.0) * shell * 2.0 * 2.0;
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_DOUBLE_EQ(res.r[i], 0.25 + 0.5 * static_cast<double>(i));
        EXPECT_DOUBLE_EQ(res.g[i], i == 3 ? 4.0 / ideal : 0.0) << i;
    }
}

TEST(Rdf, CellListAndDirectGiveTheSameHistogram) {
    struct Case {
        double edge;
        std::array<std::size_t, 3> cells;
    };
    for (const Case c : {Case{30.0, {3, 3, 3}}, Case{15.0, {1, 1, 1}}, Case{25.0, {2, 2, 2}}}) {
        const Mat3 h = box(c.edge, c.edge, c.edge);
        ASSERT_EQ(choose_rdf_method(h, 10.0), RdfMethod::cell_list);
        ASSERT_EQ(rdf_cell_counts(h, 10.0, 300), c.cells);
        // Some atoms lie outside the box; the groups overlap and A repeats atoms.
        const Traj t = random_traj(h, 3, 400, 7, -0.3, 1.3);
        const auto a = iota(250);
        auto b = iota(300, 100);
        b.push_back(5);
        std::vector<std::uint64_t> a_rep = a;
        a_rep.insert(a_rep.end(), {3, 3, 399});
        for (const auto& group_a : {a, a_rep}) {
            const auto cell_list = rdf_histogram(t.view(), group_a, b, 10.0, 100);
            const auto direct = rdf_histogram(t.view(), group_a, b, 10.0, 100, RdfMethod::direct);
            EXPECT_GT(total(cell_list), 10000u);
            EXPECT_EQ(cell_list, direct) << "edge " << c.edge;
        }
        // The same list on both sides (measured once per unordered pair)
        // against the same atoms in another order on one side (every
        // ordered pair measured): the same ordered pairs, the same counts.
        const std::vector<std::uint64_t> reversed(a_rep.rbegin(), a_rep.rend());
        const auto same = rdf_histogram(t.view(), a_rep, a_rep, 10.0, 100);
        EXPECT_EQ(same, rdf_histogram(t.view(), a_rep, reversed, 10.0, 100)) << "edge " << c.edge;
        EXPECT_EQ(same, rdf_histogram(t.view(), a_rep, a_rep, 10.0, 100, RdfMethod::direct));
        EXPECT_EQ(same, rdf_histogram(t.view(), a_rep, reversed, 10.0, 100, RdfMethod::direct));
    }
}

TEST(Rdf, EveryOrderedPairOnceInOneCellPerAxis) {
    // A 15 Å box with r_max 10: one cell, visited once; each pair once with
    // its nearest image (6 Å here, not also the 9 Å image).
    const Traj t = two_atoms(box(15, 15, 15), {1, 1, 1}, {10, 1, 1});
    const auto h = rdf_histogram(t.view(), iota(2), iota(2), 10.0, 10);
    EXPECT_EQ(h[6], 2u);
    EXPECT_EQ(total(h), 2u);
}

TEST(Rdf, MethodChoice) {
    Mat3 skew = box(30, 30, 30);
    skew[1][0] = 1e-5;
    EXPECT_EQ(choose_rdf_method(skew, 10.0), RdfMethod::direct);
    skew[1][0] = 1e-7;
    EXPECT_EQ(choose_rdf_method(skew, 10.0), RdfMethod::cell_list);
    skew[1][0] = 0;
    skew[2][1] = -1e-5;
    EXPECT_EQ(choose_rdf_method(skew, 10.0), RdfMethod::direct);
    EXPECT_EQ(choose_rdf_method(box(30, 30, 9.99), 10.0), RdfMethod::direct);
    EXPECT_EQ(choose_rdf_method(box(10, 10, 10), 10.0), RdfMethod::cell_list);
    EXPECT_EQ(choose_rdf_method(box(10, 10, 10), 0.0), RdfMethod::direct);
    EXPECT_EQ(choose_rdf_method(box(10, 10, 10), -1.0), RdfMethod::direct);
    EXPECT_EQ(choose_rdf_method(box(10, 10, 10), std::nan("")), RdfMethod::direct);
}

TEST(Rdf, SkewedCellUsesTheNearestImage) {
    // 1e-5 off the diagonal: the direct method. Two atoms 29 Å apart along x
    // in a 30 Å box are 1.5 Å apart through the boundary.
    Mat3 h = box(30, 30, 30);
    h[1][0] = 1e-5;
    const Traj t = two_atoms(h, {0.5, 5, 5}, {29.0, 5, 5});
    const auto hist = rdf_histogram(t.view(), iota(2), iota(2), 10.0, 10);
    EXPECT_EQ(hist[1], 2u);
    EXPECT_EQ(total(hist), 2u);
    // A box narrower than r_max along z: only the single nearest image
    // (1.5 Å), not the 4.5 Å one.
    const Traj narrow = two_atoms(box(30, 30, 6), {5, 5, 0.5}, {5, 5, 5.0});
    const auto n = rdf_histogram(narrow.view(), iota(1), iota(1, 1), 10.0, 10);
    EXPECT_EQ(n[1], 1u);
    EXPECT_EQ(total(n), 1u);
}

TEST(Rdf, DistancesAtTheUpperEdgeAreNotCounted) {
    // Exact distances along x in a large box (cell list, exact arithmetic):
    // r_max itself is out, and so is the largest double below 3.3, whose bin
    // index rounds to n_bins.
    const double below = std::nextafter(3.3, 0.0);
    ASSERT_GE(std::floor(below / (3.3 / 3)), 3.0);
    for (const double d : {3.3, below}) {
        const Traj t = two_atoms(box(20, 20, 20), {0, 0, 0}, {d, 0, 0});
        EXPECT_EQ(total(rdf_histogram(t.view(), iota(2), iota(2), 3.3, 3)), 0u) << d;
    }
    const Traj t = two_atoms(box(20, 20, 20), {0, 0, 0}, {3.29, 0, 0});
    EXPECT_EQ(rdf_histogram(t.view(), iota(2), iota(2), 3.3, 3), (std::vector<std::uint64_t>{0, 0, 2}));
}

TEST(Rdf, TinyCutoffKeepsTheCellCountBounded) {
    const Mat3 h = box(30, 30, 30);
    const auto n = rdf_cell_counts(h, 1e-9, 2);
    EXPECT_LE(n[0] * n[1] * n[2], 27u);
    EXPECT_GE(std::min({n[0], n[1], n[2]}), 1u);
    const auto big = rdf_cell_counts(box(30, 30, 1e12), 1e-3, 100);
    EXPECT_LE(big[0] * big[1] * big[2], 200u);
    // Cells stay at least r_max wide: the histogram is the direct one.
    const Traj t = two_atoms(h, {1, 1, 1}, {1 + 4e-10, 1, 1});
    const auto cell_list = rdf_histogram(t.view(), iota(2), iota(2), 1e-9, 10);
    EXPECT_EQ(total(cell_list), 2u);
    EXPECT_EQ(cell_list, rdf_histogram(t.view(), iota(2), iota(2), 1e-9, 10, RdfMethod::direct));
    const Traj many = random_traj(h, 1, 500, 3);
    const auto a = rdf_histogram(many.view(), iota(500), iota(500), 0.6, 6);
    EXPECT_EQ(a, rdf_histogram(many.view(), iota(500), iota(500), 0.6, 6, RdfMethod::direct));
}

TEST(Rdf, IdealGasTendsToNMinusOneOverN) {
    // The same 20 atoms on both sides: g tends to (n - 1) / n = 0.95.
    const std::size_t n = 20;
    const Traj t = random_traj(box(20, 20, 20), 1500, n, 11);
    const auto res = compute_rdf_core(t.view(), iota(n), iota(n), 10.0, 10);
    double mean = 0.0;
    for (std::size_t i = 5; i < 10; ++i) mean += res.g[i] / 5.0;
    EXPECT_NEAR(mean, 0.95, 0.01);
    // Disjoint halves of an ideal gas tend to 1.
    const auto half = compute_rdf_core(t.view(), iota(10), iota(10, 10), 10.0, 10);
    double m2 = 0.0;
    for (std::size_t i = 5; i < 10; ++i) m2 += half.g[i] / 5.0;
    EXPECT_NEAR(m2, 1.0, 0.015);
}

TEST(Rdf, HistogramDoesNotDependOnTheThreadCount) {
    const Traj t = random_traj(box(31, 31, 31), 5, 600, 5);
    Mat3 skew = box(31, 31, 31);
    skew[2][0] = 3.0;
    const Traj skewed = random_traj(skew, 5, 600, 6);
    for (const Traj* traj : {&t, &skewed})
        for (const auto& b : {iota(300), iota(600)}) {
            const auto reference = rdf_histogram(traj->view(), iota(600), b, 10.0, 50);
            for (const std::size_t threads : {1u, 2u, 3u}) {
                pool::PrivatePool p(threads);
                std::vector<std::uint64_t> got;
                p.run([&] { got = rdf_histogram(traj->view(), iota(600), b, 10.0, 50); });
                EXPECT_EQ(got, reference) << threads;
            }
            // A single frame is cut into slices: same counts as one thread.
            TrajectoryView one = traj->view();
            one.n_frames = 1;
            pool::PrivatePool serial(1);
            std::vector<std::uint64_t> serial_hist;
            serial.run([&] { serial_hist = rdf_histogram(one, iota(600), b, 10.0, 50); });
            EXPECT_EQ(rdf_histogram(one, iota(600), b, 10.0, 50), serial_hist);
        }
}
