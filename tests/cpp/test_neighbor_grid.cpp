#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "core/distance_kernel.hpp"
#include "core/geometry.hpp"
#include "core/neighbor_grid.hpp"
#include "core/pool.hpp"

using namespace zelt;

namespace {

// `n` atoms at random fractional coordinates in [lo, hi) of `cell` (outside
// [0, 1) they stand for unwrapped positions).
System random_system(const Mat3& cell, std::size_t n, std::uint64_t seed, double lo = 0.0, double hi = 1.0) {
    System s = System::from_cell(cell);
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(lo, hi);
    for (std::size_t k = 0; k < n; ++k) {
        const double f[3] = {u(rng), u(rng), u(rng)};
        Atom a;
        a.element = "C";
        a.index = k;
        for (int c = 0; c < 3; ++c) a.position[c] = f[0] * cell[0][c] + f[1] * cell[1][c] + f[2] * cell[2][c];
        s.atoms.push_back(a);
    }
    return s;
}

// Same pairs, same order and the same distances to the last bit.
void expect_identical(const std::vector<Neighbor>& got, const std::vector<Neighbor>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t k = 0; k < got.size(); ++k) {
        ASSERT_EQ(got[k].i, want[k].i) << "entry " << k;
        ASSERT_EQ(got[k].j, want[k].j) << "entry " << k;
        ASSERT_EQ(std::bit_cast<std::uint64_t>(got[k].distance), std::bit_cast<std::uint64_t>(want[k].distance))
            << "entry " << k;
    }
}

// Returns the number of pairs found.
std::size_t expect_grid_matches_all_pairs(const System& s, double cutoff) {
    EXPECT_TRUE(neighbor_grid::plan(s, cutoff).has_value()) << "the grid should apply at cutoff " << cutoff;
    const auto grid = neighbor_grid::search(s, cutoff);
    EXPECT_TRUE(grid.has_value());
    const auto reference = neighbor_grid::all_pairs(s, cutoff);
    if (grid) expect_identical(*grid, reference);
    expect_identical(get_neighbor_list(s, cutoff), reference);
    return reference.size();
}

const Mat3 orthorhombic = {{{21, 0, 0}, {0, 24.5, 0}, {0, 0, 27}}};
const Mat3 mildly_triclinic = {{{22, 0, 0}, {4, 21, 0}, {-3, 5, 24}}};
// Strongly skewed (b nearly along a) and not aligned with the axes at all.
const Mat3 skewed = {{{75, 0, 0}, {65, 22.5, 0}, {-35, 30, 50}}};
const Mat3 rotated = {{{18.2, 6.1, -3.3}, {-5.0, 19.4, 2.2}, {4.4, -2.7, 21.9}}};

}  // namespace

TEST(NeighborGrid, RandomCellsGiveTheAllPairsList) {
    struct Case {
        const char* name;
        const Mat3* cell;
        double lo, hi;
    };
    const Case cases[] = {
        {"orthorhombic", &orthorhombic, 0.0, 1.0},
        {"orthorhombic unwrapped", &orthorhombic, -2.0, 3.0},
        {"mildly triclinic", &mildly_triclinic, 0.0, 1.0},
        {"mildly triclinic unwrapped", &mildly_triclinic, -1.5, 2.5},
        {"skewed", &skewed, -1.0, 2.0},
        {"rotated", &rotated, 0.0, 1.0},
    };
    std::uint64_t seed = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const System s = random_system(*c.cell, 1200, seed++, c.lo, c.hi);
        for (const double cutoff : {1.7, 3.0, 5.5}) {
            SCOPED_TRACE(cutoff);
            EXPECT_GT(expect_grid_matches_all_pairs(s, cutoff), 0u);
        }
        // A negative cutoff compares through its square, like the all-pairs test.
        expect_grid_matches_all_pairs(s, -3.0);
    }
}

TEST(NeighborGrid, LatticeWithDistancesExactlyAtTheCutoff) {
    // Atoms on the integer points of a 12 Å cube, faces included: many pairs
    // sit exactly at the cutoff, many atoms exactly on bin boundaries.
    System s = System::from_cell(cubic_cell(12.0));
    for (int x = 0; x < 12; ++x)
        for (int y = 0; y < 12; ++y)
            for (int z = 0; z < 12; ++z) {
                Atom a;
                a.element = "C";
                a.position = {double(x), double(y), double(z)};
                s.atoms.push_back(a);
            }
    for (const double cutoff : {1.0, 1.0000001, std::sqrt(2.0), 2.0, 3.0, 3.9})
        expect_grid_matches_all_pairs(s, cutoff);
    // Strict cutoff: no pair at exactly 1 Å.
    const auto one = get_neighbor_list(s, 1.0);
    EXPECT_TRUE(one.empty());
    EXPECT_EQ(get_neighbor_list(s, 1.0000001).size(), 3u * 12 * 12 * 12);
}

TEST(NeighborGrid, FallsBackWhereTheGridCannotBeComplete) {
    // Cutoffs above a third of the thinnest height, and a cell so skewed
    // that one height is small: no grid, the all-pairs list is returned.
    const Mat3 needle = {{{30, 0, 0}, {29, 2.5, 0}, {0, 0, 30}}};
    struct Case {
        Mat3 cell;
        double cutoff;
    };
    const Case cases[] = {{cubic_cell(10.0), 3.4}, {cubic_cell(10.0), 12.0}, {needle, 1.5}, {orthorhombic, 1e300}};
    std::uint64_t seed = 40;
    for (const auto& c : cases) {
        const System s = random_system(c.cell, 300, seed++);
        EXPECT_FALSE(neighbor_grid::plan(s, c.cutoff).has_value());
        EXPECT_FALSE(neighbor_grid::search(s, c.cutoff).has_value());
        const auto reference = neighbor_grid::all_pairs(s, c.cutoff);
        EXPECT_FALSE(reference.empty());
        expect_identical(get_neighbor_list(s, c.cutoff), reference);
    }

    // A singular cell or a non-finite position: no grid either.
    System flat = random_system(cubic_cell(10.0), 50, 9);
    Mat3 singular = cubic_cell(10.0);
    singular[2] = {0, 0, 0};
    flat.set_cell(singular);
    EXPECT_FALSE(neighbor_grid::plan(flat, 2.0).has_value());
    System with_nan = random_system(cubic_cell(10.0), 50, 10);
    with_nan.atoms[7].position[1] = std::nan("");
    EXPECT_FALSE(neighbor_grid::plan(with_nan, 2.0).has_value());
    expect_identical(get_neighbor_list(with_nan, 2.0), neighbor_grid::all_pairs(with_nan, 2.0));
}

TEST(NeighborGrid, AllPairsListIsTheDefinition) {
    // The definition written out with the scalar minimum image: every pair
    // i < j in order, kept when the squared image length is below cutoff².
    const System s = random_system(skewed, 500, 77, -1.0, 2.0);
    const double cutoff = 9.0;
    std::vector<Neighbor> want;
    const std::size_t n = s.atoms.size();
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) {
            const Vec3& a = s.atoms[i].position;
            const Vec3& b = s.atoms[j].position;
            const Vec3 d = minimum_image(s, {a[0] - b[0], a[1] - b[1], a[2] - b[2]});
            const double d2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
            if (d2 < cutoff * cutoff) want.push_back({i, j, std::sqrt(d2)});
        }
    EXPECT_FALSE(neighbor_grid::plan(s, cutoff).has_value());
    expect_identical(neighbor_grid::all_pairs(s, cutoff), want);
    expect_identical(get_neighbor_list(s, cutoff), want);

    // The distance matrix holds the same values.
    const auto matrix = get_all_distances(s, true);
    for (const auto& p : want) EXPECT_EQ(matrix[p.i * n + p.j], p.distance);
}

TEST(NeighborGrid, PackedKernelGivesTheScalarValues) {
    // Displacements whose fractional coordinates are halves, near halves,
    // huge, zero or not finite, in a skewed and a cubic cell.
    const double inf = std::numeric_limits<double>::infinity();
    for (const Mat3& cell : {skewed, cubic_cell(10.0)}) {
        const System s = System::from_cell(cell);
        std::vector<Vec3> points;
        std::mt19937_64 rng(3);
        std::uniform_real_distribution<double> u(-200, 200);
        for (int k = 0; k < 2000; ++k) points.push_back({u(rng), u(rng), u(rng)});
        for (const double v : {5.0, -5.0, 15.0, 4.999999999999999, 0.0, -0.0, 1e17, -3e300, inf, -inf, std::nan("")})
            points.push_back({v, 0.5 * v, -v});
        std::vector<double> x, y, z;
        for (const auto& q : points) {
            x.push_back(q[0]);
            y.push_back(q[1]);
            z.push_back(q[2]);
        }
        for (const Vec3 origin : {Vec3{0, 0, 0}, Vec3{1.25, -7.5, 3.0}}) {
            // The build the processor picks, and the baseline build.
            std::vector<double> packed(points.size()), baseline(points.size());
            minimum_image_distances_sq(s.cell, s.inv_cell, origin, x.data(), y.data(), z.data(), points.size(),
                                       packed.data());
            distance_kernel_detail::minimum_image_distances_sq_baseline(s.cell, s.inv_cell, origin, x.data(),
                                                                        y.data(), z.data(), points.size(),
                                                                        baseline.data());
            std::vector<double> roots = packed, roots_baseline = packed;
            sqrt_in_place(roots.data(), roots.size());
            distance_kernel_detail::sqrt_in_place_baseline(roots_baseline.data(), roots_baseline.size());
            for (std::size_t k = 0; k < points.size(); ++k) {
                const double scalar = minimum_image_distance_sq(s.cell, s.inv_cell, origin, points[k]);
                EXPECT_EQ(std::bit_cast<std::uint64_t>(packed[k]), std::bit_cast<std::uint64_t>(scalar)) << "point " << k;
                EXPECT_EQ(std::bit_cast<std::uint64_t>(baseline[k]), std::bit_cast<std::uint64_t>(scalar)) << "point " << k;
                EXPECT_EQ(std::bit_cast<std::uint64_t>(roots[k]), std::bit_cast<std::uint64_t>(std::sqrt(scalar)));
                EXPECT_EQ(std::bit_cast<std::uint64_t>(roots_baseline[k]), std::bit_cast<std::uint64_t>(std::sqrt(scalar)));
            }
        }
    }
}

TEST(NeighborGrid, FewAtomsInALargeCellKeepTheBinCountSmall) {
    const System s = random_system(cubic_cell(1000.0), 40, 5);
    const auto layout = neighbor_grid::plan(s, 0.5);
    ASSERT_TRUE(layout.has_value());
    EXPECT_LE(layout->bins[0] * layout->bins[1] * layout->bins[2], 64u);
    expect_identical(*neighbor_grid::search(s, 300.0), neighbor_grid::all_pairs(s, 300.0));
}

TEST(NeighborGrid, ResultsDoNotDependOnTheThreadCount) {
    const System s = random_system(mildly_triclinic, 3000, 21, -0.5, 1.5);
    std::vector<Neighbor> one, three;
    std::vector<double> angles_one, angles_three;
    std::vector<AngleIndices> triples;
    for (std::uint64_t k = 0; k + 2 < 3000; k += 7) triples.push_back({k, k + 1, k + 2});
    pool::PrivatePool(1).run([&] {
        one = get_neighbor_list(s, 4.0);
        angles_one = get_angles(s, triples, true).value();
    });
    pool::PrivatePool(3).run([&] {
        three = get_neighbor_list(s, 4.0);
        angles_three = get_angles(s, triples, true).value();
    });
    EXPECT_GT(one.size(), 1000u);
    expect_identical(three, one);
    EXPECT_EQ(angles_three, angles_one);
}
