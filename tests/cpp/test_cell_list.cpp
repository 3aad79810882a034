#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "forcefield/cell.hpp"
#include "forcefield/pair_grid.hpp"
#include "forcefield/spatial.hpp"
#include "forcefield_fixtures.hpp"

using namespace zelt::forcefield;

TEST(UnitCell, MinimumImage) {
    const auto box = UnitCell::new_orthorhombic({10, 10, 10});
    EXPECT_DOUBLE_EQ(box.distance_vector({0.5, 0, 0}, {9.5, 0, 0})[0], 1.0);
    EXPECT_DOUBLE_EQ(box.distance_vector({5, 0, 0}, {0, 0, 0})[0], 5.0);
    EXPECT_DOUBLE_EQ(box.distance_vector({0, 0, 0}, {5, 0, 0})[0], -5.0);

    // Triclinic: half a lattice vector rounds away from zero.
    const auto tri = UnitCell::new_triclinic(Matrix3{{10, 0, 0, 5, 10, 0, 0, 0, 10}});
    const Vec3 half = tri.distance_vector({5, 0, 0}, {0, 0, 0});
    EXPECT_NEAR(half[0], -5.0, 1e-12);
    EXPECT_NEAR(half[1], 0.0, 1e-12);
    // A whole number of lattice vectors vanishes; b = (5, 10, 0) is a lattice vector.
    const Vec3 d = tri.distance_vector({12.3, 20.1, -9.8}, {0, 0, 0});
    const Vec3 expect{2.3, 0.1, 0.2};
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(d[k], expect[k], 1e-9) << k;

    // Inverse of the cell: H · H⁻¹ = I.
    const Matrix3 h{{9, 1, 0.5, 2, 11, -1, 0.3, 0.7, 12}};
    const auto cell = UnitCell::new_triclinic(h);
    for (int c = 0; c < 3; ++c) {
        const Vec3 col = h * cell.h_inv.column(c);
        for (int r = 0; r < 3; ++r) EXPECT_NEAR(col[r], r == c ? 1.0 : 0.0, 1e-14);
    }
    EXPECT_EQ(UnitCell::non_periodic().distance_vector({100, 0, 0}, {0, 0, 0})[0], 100.0);
}

TEST(CellList, CountsAndRegion) {
    const std::vector<Vec3> none;
    const auto b30 = CellList::build(none, UnitCell::new_triclinic(fixtures::cubic(30)), 6.0);
    EXPECT_EQ(b30.nx, 6u);
    EXPECT_EQ(b30.ny, 6u);
    EXPECT_EQ(b30.nz, 6u);
    EXPECT_DOUBLE_EQ(b30.cell_size[0], 5.0);
    const auto b50 = CellList::build(none, UnitCell::new_triclinic(fixtures::cubic(50)), 6.0);
    EXPECT_EQ(b50.nx, 10u);
    // Triclinic: the region spans all eight corners (x from 0 to 15).
    const auto tri = CellList::build(none, UnitCell::new_triclinic(Matrix3{{10, 0, 0, 5, 10, 0, 0, 0, 10}}), 6.0);
    EXPECT_DOUBLE_EQ(tri.origin[0], 0.0);
    EXPECT_DOUBLE_EQ(tri.cell_size[0] * double(tri.nx), 15.0);
    // A negative cutoff: one cell per axis, every atom a candidate of every other.
    std::vector<Vec3> pts{{1, 1, 1}, {20, 3, 4}, {29, 29, 29}};
    const auto neg = CellList::build(pts, UnitCell::new_triclinic(fixtures::cubic(30)), -6.0);
    EXPECT_EQ(neg.nx * neg.ny * neg.nz, 1u);
    EXPECT_EQ(get_cell_neighbors(neg, pts[0]).size(), 3u);
    // All atoms in a plane: one cell of edge 0 on that axis.
    const std::vector<Vec3> flat{{0, 0, 0}, {10, 5, 0}, {3, 9, 0}};
    const auto plane = CellList::build(flat, UnitCell::non_periodic(), 2.0);
    EXPECT_EQ(plane.nz, 1u);
    EXPECT_EQ(plane.cell_size[2], 0.0);
    std::size_t binned = 0;
    for (const auto& c : plane.cells) binned += c.size();
    EXPECT_EQ(binned, 3u);
}

TEST(CellList, BinningAndQueries) {
    // 30 Å box, cutoff 6: 6 cells of 5 Å per axis.
    const std::vector<Vec3> pts{{-2, 1, 1}, {1, 1, 1}, {-6, 1, 1}, {-12, 1, 1}, {29, 29, 29}, {45, 1, 1}};
    const auto list = CellList::build(pts, UnitCell::new_triclinic(fixtures::cubic(30)), 6.0);
    // Positions outside the region land in the nearest edge cell.
    const auto& first = list.cells[0];
    EXPECT_EQ(first, (std::vector<std::uint64_t>{0, 1, 2, 3}));
    EXPECT_EQ(list.cells[(5 * 6 + 0) * 6 + 0], (std::vector<std::uint64_t>{5}));
    // Queries: inside (-edge, 0) truncates to index 0; below -2 · edge finds nothing.
    const auto q = get_cell_neighbors(list, {-2, 1, 1});
    EXPECT_EQ(q, (std::vector<std::uint64_t>{0, 1, 2, 3}));
    EXPECT_TRUE(get_cell_neighbors(list, {-10.5, 1, 1}).empty());
    EXPECT_EQ(get_cell_neighbors(list, {-6, 1, 1}), (std::vector<std::uint64_t>{0, 1, 2, 3}));
    // A corner cell sees 8 cells and no wrap: the atom at (29, 29, 29) is not
    // among the neighbours of (1, 1, 1) although it is 3.5 Å away periodically.
    const auto corner = get_cell_neighbors(list, {1, 1, 1});
    EXPECT_EQ(std::count(corner.begin(), corner.end(), 4u), 0);
}

TEST(CellList, CellCountIsCapped) {
    // Atoms a million ångström apart ask for no more than the cap per axis.
    const std::vector<Vec3> pts{{0, 0, 0}, {1e6, 1e6, 1e6}, {1e6, 0, 5}};
    const auto list = CellList::build(pts, UnitCell::non_periodic(), 6.0);
    EXPECT_EQ(list.nx, max_cells_per_axis);
    EXPECT_EQ(list.ny, max_cells_per_axis);
    EXPECT_EQ(list.nz, max_cells_per_axis);
    // A zero cutoff saturates and is capped too.
    const auto zero = CellList::build(pts, UnitCell::non_periodic(), 0.0);
    EXPECT_EQ(zero.nx, max_cells_per_axis);
}

namespace {

using PairSet = std::set<std::pair<std::uint32_t, std::uint32_t>>;

// Pairs reached by the grid, checking that none is reached twice.
PairSet grid_pairs(const PairGrid& g, const std::vector<Atom>& atoms, const UnitCell& cell, double cutoff) {
    PairSet out;
    for (std::size_t s = 0; s < g.size(); ++s)
        g.for_each_later_range(s, [&](std::size_t b, std::size_t e) {
            for (std::size_t t = b; t < e; ++t) {
                const auto i = g.atom()[s], j = g.atom()[t];
                const double r = norm(cell.distance_vector(atoms[i].position, atoms[j].position));
                if (r < cutoff) {
                    EXPECT_TRUE(out.insert({std::min(i, j), std::max(i, j)}).second) << i << "-" << j;
                }
            }
        });
    return out;
}

PairSet all_pairs(const std::vector<Atom>& atoms, const UnitCell& cell, double cutoff) {
    PairSet out;
    for (std::uint32_t i = 0; i < atoms.size(); ++i)
        for (std::uint32_t j = i + 1; j < atoms.size(); ++j)
            if (norm(cell.distance_vector(atoms[i].position, atoms[j].position)) < cutoff) out.insert({i, j});
    return out;
}

std::vector<Atom> random_atoms(std::mt19937_64& rng, std::size_t n, const Matrix3& h, double spill) {
    std::uniform_real_distribution<double> u(-spill, 1.0 + spill);
    std::vector<Atom> atoms;
    for (std::size_t k = 0; k < n; ++k) atoms.push_back(Atom::make(6, h * Vec3{u(rng), u(rng), u(rng)}));
    return atoms;
}

std::vector<std::uint32_t> everyone(std::size_t n) {
    std::vector<std::uint32_t> m(n);
    for (std::size_t k = 0; k < n; ++k) m[k] = static_cast<std::uint32_t>(k);
    return m;
}

}  // namespace

// Every pair within the cutoff is reached once, across periodic faces
// included, for cubic, skewed and small cells and for unwrapped positions.
TEST(PairGrid, ReachesEveryPairWithinTheCutoff) {
    std::mt19937_64 rng(11);
    const std::vector<Matrix3> cells{fixtures::cubic(30),
                                     fixtures::cubic(13),
                                     fixtures::cubic(7),
                                     Matrix3{{25, 0, 0, 8, 22, 0, -5, 6, 20}},
                                     Matrix3{{18, 2, 0, 9, 16, 1, 4, -3, 15}},
                                     Matrix3{{40, 0, 0, 0, 12, 0, 0, 0, 9}}};
    for (const auto& h : cells) {
        const UnitCell cell = UnitCell::new_triclinic(h);
        for (const double cutoff : {6.0, 4.0, 2.5}) {
            const auto atoms = random_atoms(rng, 400, h, 0.3);
            PairGrid g;
            g.build(atoms, everyone(atoms.size()), cell, cutoff);
            const auto want = all_pairs(atoms, cell, cutoff);
            EXPECT_GT(want.size(), 0u);
            EXPECT_EQ(grid_pairs(g, atoms, cell, cutoff), want) << "cutoff " << cutoff << " cell " << h.m[0];
        }
    }
    // Without periodicity: the bounding box of the positions.
    const auto atoms = random_atoms(rng, 500, fixtures::cubic(35), 0.0);
    PairGrid g;
    g.build(atoms, everyone(atoms.size()), UnitCell::non_periodic(), 6.0);
    EXPECT_EQ(grid_pairs(g, atoms, UnitCell::non_periodic(), 6.0), all_pairs(atoms, UnitCell::non_periodic(), 6.0));
}

TEST(PairGrid, OnlyMembersAreBinned) {
    std::mt19937_64 rng(5);
    const auto atoms = random_atoms(rng, 50, fixtures::cubic(10), 0.0);
    std::vector<std::uint32_t> members{1, 4, 9, 30};
    PairGrid g;
    g.build(atoms, members, UnitCell::new_triclinic(fixtures::cubic(10)), 6.0);
    std::vector<std::uint32_t> seen(g.atom().begin(), g.atom().end());
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, members);
}

// Widely spread atoms: the number of cells stays bounded and the pairs found
// stay those within the cutoff.
TEST(PairGrid, CellCountIsCappedWithoutLosingPairs) {
    std::mt19937_64 rng(2);
    std::vector<Atom> atoms;
    std::uniform_real_distribution<double> u(0, 8);
    // Two tight clusters a million ångström apart, plus stragglers.
    for (int k = 0; k < 100; ++k) atoms.push_back(Atom::make(6, {u(rng), u(rng), u(rng)}));
    for (int k = 0; k < 100; ++k) atoms.push_back(Atom::make(6, {1e6 + u(rng), 1e6 + u(rng), -1e6 + u(rng)}));
    atoms.push_back(Atom::make(6, {5e5, 3, 2}));
    atoms.push_back(Atom::make(6, {5e5 + 2, 4, 1}));
    PairGrid g;
    g.build(atoms, everyone(atoms.size()), UnitCell::non_periodic(), 6.0);
    EXPECT_LE(g.cell_count(), std::max<std::uint64_t>(PairGrid::min_total_cap, PairGrid::cells_per_atom * atoms.size()));
    for (const auto n : g.counts()) EXPECT_LE(n, PairGrid::max_per_axis);
    const auto want = all_pairs(atoms, UnitCell::non_periodic(), 6.0);
    EXPECT_TRUE(want.count({200, 201}));
    EXPECT_EQ(grid_pairs(g, atoms, UnitCell::non_periodic(), 6.0), want);
    // A huge periodic cell is capped the same way.
    PairGrid p;
    const auto big = UnitCell::new_triclinic(fixtures::cubic(1e6));
    p.build(atoms, everyone(atoms.size()), big, 6.0);
    EXPECT_LE(p.cell_count(), std::max<std::uint64_t>(PairGrid::min_total_cap, PairGrid::cells_per_atom * atoms.size()));
    EXPECT_EQ(grid_pairs(p, atoms, big, 6.0), all_pairs(atoms, big, 6.0));
}

TEST(PairGrid, DegenerateInput) {
    std::vector<Atom> atoms{Atom::make(6, {1, 1, 1}), Atom::make(6, {1, 1, 1}), Atom::make(6, {2, 1, 1})};
    PairGrid g;
    // No atoms, one point, a zero or non-finite cutoff: a single cell, no crash.
    g.build(atoms, {}, UnitCell::non_periodic(), 6.0);
    EXPECT_EQ(g.size(), 0u);
    for (const double cutoff : {0.0, -6.0, std::nan(""), double(INFINITY)}) {
        g.build(atoms, everyone(3), UnitCell::non_periodic(), cutoff);
        EXPECT_EQ(g.size(), 3u);
    }
    // A non-finite position still gets binned.
    atoms[2].position = {std::nan(""), 0, 0};
    g.build(atoms, everyone(3), UnitCell::new_triclinic(fixtures::cubic(10)), 6.0);
    EXPECT_EQ(g.size(), 3u);
    g.build(atoms, everyone(3), UnitCell::non_periodic(), 6.0);
    EXPECT_EQ(g.size(), 3u);
}
