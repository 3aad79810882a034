#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "core/elements.hpp"
#include "core/geometry.hpp"
#include "core/records.hpp"

using namespace zelt;

namespace {

Atom atom_at(const char* element, Vec3 p, std::uint64_t index = 0) {
    Atom a;
    a.residue_name = "RES";
    a.element = element;
    a.index = index;
    a.position = p;
    return a;
}

System cube_with(double edge, std::initializer_list<Vec3> positions) {
    System s = System::from_cell(cubic_cell(edge));
    std::uint64_t k = 0;
    for (const auto& p : positions) s.atoms.push_back(atom_at("C", p, k++));
    return s;
}

void expect_vec_near(const Vec3& got, const Vec3& want, double tol = 1e-12) {
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[c], want[c], tol) << "component " << c;
}

}  // namespace

TEST(MinimumImage, FractionalHalvesRoundAwayFromZero) {
    const System s = System::from_cell(cubic_cell(10.0));
    struct Case {
        Vec3 d, want;
    };
    const Case cases[] = {
        {{6, 0, 0}, {-4, 0, 0}},   {{5, 0, 0}, {-5, 0, 0}},  {{-5, 0, 0}, {5, 0, 0}},
        {{15, 0, 0}, {-5, 0, 0}},  {{-25, 0, 0}, {5, 0, 0}}, {{4, -6, 14}, {4, 4, 4}},
        {{0, 0, 0}, {0, 0, 0}},
    };
    for (const auto& c : cases) expect_vec_near(minimum_image(s, c.d), c.want);
}

TEST(MinimumImage, RoundingHelperAgreesWithStdRound) {
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> values = {0.0, -0.0, 0.5, -0.5, 1.5, -1.5, 2.5, -2.5, 0.49999999999999994, -0.49999999999999994,
                                  4503599627370495.5, -4503599627370495.5, 4503599627370497.0, 1e300, -1e300, inf, -inf,
                                  std::nextafter(0.5, 1.0), std::nextafter(2.5, 0.0), 5e-324};
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> wide(-1e6, 1e6);
    for (int k = 0; k < 10000; ++k) values.push_back(wide(rng));
    for (int k = -40; k <= 40; ++k) values.push_back(k * 0.25);
    for (const double v : values) {
        const double got = geometry_detail::round_half_away(v);
        EXPECT_EQ(got, std::round(v)) << v;
        EXPECT_EQ(std::signbit(got), std::signbit(std::round(v))) << v;
    }
    EXPECT_TRUE(std::isnan(geometry_detail::round_half_away(std::nan(""))));
}

TEST(Wrap, CubicCellAndTriclinicFractions) {
    System s = cube_with(10.0, {{-1, 10, 25}, {3, -0.0, 9.999}});
    wrap(s);
    expect_vec_near(s.atoms[0].position, {9, 0, 5});
    expect_vec_near(s.atoms[1].position, {3, 0, 9.999});

    Mat3 tri = {{{10, 0, 0}, {3, 9, 0}, {-2, 1.5, 11}}};
    System t = System::from_cell(tri);
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> u(-40, 40);
    for (int k = 0; k < 200; ++k) t.atoms.push_back(atom_at("O", {u(rng), u(rng), u(rng)}));
    const System before = t;
    wrap(t);
    for (std::size_t k = 0; k < t.atoms.size(); ++k) {
        const Vec3& p = t.atoms[k].position;
        for (int c = 0; c < 3; ++c) {
            const double f = p[0] * t.inv_cell[0][c] + p[1] * t.inv_cell[1][c] + p[2] * t.inv_cell[2][c];
            EXPECT_GE(f, -1e-12);
            EXPECT_LT(f, 1.0 + 1e-12);
        }
        // Moved by whole lattice vectors only: the minimum image of the move is 0.
        const Vec3 moved = {p[0] - before.atoms[k].position[0], p[1] - before.atoms[k].position[1],
                            p[2] - before.atoms[k].position[2]};
        expect_vec_near(minimum_image(t, moved), {0, 0, 0}, 1e-9);
    }
}

TEST(Unwrap, PlacesEachAtomNextToTheAtomItWasReachedFrom) {
    // Two atoms across the x face: the second moves, the first stays.
    System pair = cube_with(10.0, {{0.5, 1, 1}, {9.5, 1, 1}});
    pair.bonds = {{0, 1, 1.0}};
    ASSERT_TRUE(unwrap(pair).ok());
    expect_vec_near(pair.atoms[0].position, {0.5, 1, 1});
    expect_vec_near(pair.atoms[1].position, {-0.5, 1, 1});

    // Chain 0-1-2 drifting through the cell: atom 2 follows the new place of
    // atom 1 (13), not its stored one (which would leave it at 3).
    System chain = cube_with(10.0, {{9, 0, 0}, {1, 0, 0}, {3, 0, 0}, {7, 7, 7}});
    chain.bonds = {{1, 2, 1.0}, {0, 1, 1.0}};
    ASSERT_TRUE(unwrap(chain).ok());
    expect_vec_near(chain.atoms[0].position, {9, 0, 0});
    expect_vec_near(chain.atoms[1].position, {11, 0, 0});
    expect_vec_near(chain.atoms[2].position, {13, 0, 0});
    expect_vec_near(chain.atoms[3].position, {7, 7, 7});  // no bonds: not moved

    // A second fragment is rooted at its lowest index, here atom 1.
    System two = cube_with(10.0, {{5, 5, 5}, {1, 1, 1}, {9, 9, 9}});
    two.bonds = {{2, 1, 1.0}};
    ASSERT_TRUE(unwrap(two).ok());
    expect_vec_near(two.atoms[1].position, {1, 1, 1});
    expect_vec_near(two.atoms[2].position, {-1, -1, -1});
}

TEST(Unwrap, RefusesBondsToMissingAtomsBeforeMovingAnything) {
    System s = cube_with(10.0, {{0.5, 0, 0}, {9.5, 0, 0}});
    s.bonds = {{0, 1, 1.0}, {1, 7, 1.0}};
    const System before = s;
    const auto r = unwrap(s);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message, "Bond index 7 is out of bounds for system with 2 atoms");
    EXPECT_EQ(s.atoms, before.atoms);
}

TEST(Stack, OffsetsAtomsBondsAndGrowsTheCell) {
    System s = cube_with(10.0, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
    s.atoms[1].charge = -0.25;
    s.atoms[2].residue_id = 4;
    s.bonds = {{0, 1, 1.0}, {1, 2, 2.0}};
    const System original = s;

    for (const bool with_itself : {true, false}) {
        System t = original;
        const System other = original;
        ASSERT_TRUE(stack(t, with_itself ? t : other, 2).ok());
        ASSERT_EQ(t.atoms.size(), 6u);
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(t.atoms[k], original.atoms[k]);
            Atom want = original.atoms[k];
            want.index = 3 + k;
            want.position[2] += 10.0;
            EXPECT_EQ(t.atoms[3 + k], want);
        }
        const std::vector<Bond> bonds = {{0, 1, 1.0}, {1, 2, 2.0}, {3, 4, 1.0}, {4, 5, 2.0}};
        EXPECT_EQ(t.bonds, bonds);
        EXPECT_EQ(t.cell[2][2], 20.0);
        EXPECT_EQ(t.cell[0][0], 10.0);
        EXPECT_EQ(t.inv_cell[2][2], 1.0 / 20.0);
    }

    // Only diagonal entries take part; the other system's own cell size grows it.
    Mat3 tri = {{{10, 0, 0}, {2, 8, 0}, {1, 1, 6}}};
    System a = System::from_cell(tri);
    a.atoms.push_back(atom_at("C", {0, 0, 0}));
    System b = System::from_cell(cubic_cell(4.0));
    b.atoms.push_back(atom_at("H", {1, 1, 1}, 0));
    ASSERT_TRUE(stack(a, b, 1).ok());
    expect_vec_near(a.atoms[1].position, {1, 9, 1});
    EXPECT_EQ(a.cell[1][1], 12.0);
    EXPECT_EQ(a.cell[1][0], 2.0);
    EXPECT_EQ(a.cell[2][0], 1.0);
    EXPECT_EQ(a.inv_cell, invert_cell(a.cell));
}

TEST(Stack, InvalidAxisChangesNothing) {
    System s = cube_with(10.0, {{1, 2, 3}});
    const System before = s;
    const auto r = stack(s, before, 3);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message, "Invalid axis");
    EXPECT_EQ(s.atoms, before.atoms);
    EXPECT_EQ(s.cell, before.cell);
}

TEST(Distances, MatrixWithAndWithoutMinimumImage) {
    const double nan = std::nan("");
    System s = cube_with(10.0, {{0.5, 0, 0}, {9.5, 0, 0}, {0.5, 3, 4}, {nan, 0, 0}});
    const auto plain = get_all_distances(s, false);
    const auto mic = get_all_distances(s, true);
    ASSERT_EQ(plain.size(), 16u);
    for (std::size_t i = 0; i < 4; ++i) {
        // Exact zeros on the diagonal, even for an atom at NaN.
        EXPECT_EQ(plain[i * 4 + i], 0.0);
        EXPECT_EQ(mic[i * 4 + i], 0.0);
    }
    EXPECT_EQ(plain[0 * 4 + 1], 9.0);
    EXPECT_NEAR(mic[0 * 4 + 1], 1.0, 1e-12);
    EXPECT_EQ(plain[0 * 4 + 2], 5.0);
    EXPECT_NEAR(mic[1 * 4 + 2], std::sqrt(1.0 + 9.0 + 16.0), 1e-12);
    EXPECT_TRUE(std::isnan(plain[3 * 4 + 0]));

    // Written straight into a buffer the caller owns: the same values.
    std::vector<double> buffer(16, -1.0);
    get_all_distances(s, true, buffer);
    for (std::size_t k = 0; k < 16; ++k)
        if (!std::isnan(mic[k])) {
            EXPECT_EQ(buffer[k], mic[k]);
        }

    EXPECT_TRUE(get_all_distances(System::from_cell(cubic_cell(10.0)), true).empty());
}

TEST(NeighborList, CutoffIsStrictAndPairsAreOrdered) {
    System s = cube_with(10.0, {{1, 1, 1}, {3, 1, 1}, {1, 1, 9.5}, {1, 2.5, 1}});
    // Pairs: 0-1 at exactly 2, 0-2 at 1.5 through the face, 0-3 at 1.5, the rest above 2.1.
    const auto at_two = get_neighbor_list(s, 2.0);
    const std::vector<Neighbor> want_two = {{0, 2, 1.5}, {0, 3, 1.5}};
    ASSERT_EQ(at_two.size(), want_two.size());
    for (std::size_t k = 0; k < want_two.size(); ++k) {
        EXPECT_EQ(at_two[k].i, want_two[k].i);
        EXPECT_EQ(at_two[k].j, want_two[k].j);
        EXPECT_NEAR(at_two[k].distance, want_two[k].distance, 1e-12);
    }
    const auto wider = get_neighbor_list(s, 2.0 + 1e-9);
    ASSERT_EQ(wider.size(), 3u);
    EXPECT_EQ(wider[0].j, 1u);
    EXPECT_EQ(wider[0].distance, 2.0);

    EXPECT_TRUE(get_neighbor_list(s, 0.0).empty());
    EXPECT_TRUE(get_neighbor_list(s, std::nan("")).empty());
    EXPECT_TRUE(get_neighbor_list(System::from_cell(cubic_cell(10.0)), 3.0).empty());
}

TEST(Angles, RightAngleNaNAndIndexBounds) {
    System s = cube_with(10.0, {{1, 0, 0}, {0, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {9.5, 0, 0}});
    const std::vector<AngleIndices> triples = {{0, 1, 2}, {1, 1, 2}, {0, 1, 3}, {0, 1, 0}};
    const auto r = get_angles(s, triples, false);
    ASSERT_TRUE(r.ok());
    ASSERT_EQ(r->size(), 4u);
    EXPECT_NEAR((*r)[0], 90.0, 1e-12);
    EXPECT_TRUE(std::isnan((*r)[1]));
    EXPECT_NEAR((*r)[2], 180.0, 1e-12);
    EXPECT_EQ((*r)[3], 0.0);

    // Through the face at x = 10: atom 4 sits at -0.5 seen from atom 1.
    const std::vector<AngleIndices> across = {{4, 1, 0}};
    EXPECT_NEAR(get_angles(s, across, true).value()[0], 180.0, 1e-12);
    EXPECT_NEAR(get_angles(s, across, false).value()[0], 0.0, 1e-6);

    EXPECT_TRUE(get_angles(s, {}, false).value().empty());
    const std::vector<AngleIndices> bad = {{0, 1, 2}, {0, 5, 2}};
    const auto e = get_angles(s, bad, false);
    ASSERT_FALSE(e.ok());
    EXPECT_EQ(e.error().message, "Index 5 is out of bounds for system with 5 atoms");
}

TEST(Dihedrals, SignConventionAndIndexBounds) {
    struct Case {
        Vec3 l;
        double want;
    };
    const Case cases[] = {{{1, 1, 0}, 0.0}, {{-1, 1, 0}, 180.0}, {{0, 1, 1}, 90.0}, {{0, 1, -1}, -90.0},
                          {{1, 1, 1}, 45.0}};
    for (const auto& c : cases) {
        System s = cube_with(10.0, {{1, 0, 0}, {0, 0, 0}, {0, 1, 0}, c.l});
        const std::vector<DihedralIndices> quad = {{0, 1, 2, 3}};
        for (const bool mic : {false, true}) {
            const auto r = get_dihedrals(s, quad, mic);
            ASSERT_TRUE(r.ok());
            EXPECT_NEAR(r.value()[0], c.want, 1e-12) << c.l[0] << " " << c.l[1] << " " << c.l[2];
        }
    }
    // Shifting atom l by a lattice vector changes nothing with the minimum image.
    System s = cube_with(10.0, {{1, 0, 0}, {0, 0, 0}, {0, 1, 0}, {0, 11, 1}});
    const std::vector<DihedralIndices> quad = {{0, 1, 2, 3}};
    EXPECT_NEAR(get_dihedrals(s, quad, true).value()[0], 90.0, 1e-12);

    const std::vector<DihedralIndices> bad = {{0, 1, 2, 4}};
    const auto e = get_dihedrals(s, bad, true);
    ASSERT_FALSE(e.ok());
    EXPECT_EQ(e.error().message, "Index 4 is out of bounds for system with 4 atoms");
}

TEST(Angles, ManyResultsKeepInputOrder) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> u(0, 10);
    System s = System::from_cell(cubic_cell(10.0));
    for (int k = 0; k < 50; ++k) s.atoms.push_back(atom_at("C", {u(rng), u(rng), u(rng)}));
    std::vector<AngleIndices> triples;
    std::uniform_int_distribution<std::uint64_t> pick(0, 49);
    for (int k = 0; k < 5000; ++k) triples.push_back({pick(rng), pick(rng), pick(rng)});
    const auto all = get_angles(s, triples, true).value();
    ASSERT_EQ(all.size(), triples.size());
    for (std::size_t k = 0; k < triples.size(); k += 97) {
        const std::vector<AngleIndices> one = {triples[k]};
        const double single = get_angles(s, one, true).value()[0];
        if (std::isnan(single))
            EXPECT_TRUE(std::isnan(all[k]));
        else
            EXPECT_EQ(all[k], single);
    }
}

TEST(MassAndVolume, DensityCentreOfMassAndEmptySystems) {
    System one = cube_with(10.0, {{1, 2, 3}});
    EXPECT_EQ(get_volume(one), 1000.0);
    EXPECT_DOUBLE_EQ(get_density(one), 12.011 / (1000.0 * 0.602214076));
    EXPECT_DOUBLE_EQ(get_total_mass(one), 12.011);

    // A left-handed triclinic cell: the volume is the absolute determinant.
    Mat3 tri = {{{0, 10, 0}, {9, 2, 0}, {1, 1, 8}}};
    EXPECT_DOUBLE_EQ(get_volume(System::from_cell(tri)), 720.0);

    System water = System::from_cell(cubic_cell(10.0));
    water.atoms = {atom_at("O", {0, 0, 0}), atom_at("h", {1, 0, 0}), atom_at("H", {0, 1, 0}), atom_at("Xx", {50, 50, 50})};
    const double m = 15.999 + 2 * 1.008;
    EXPECT_DOUBLE_EQ(get_total_mass(water), m);
    expect_vec_near(get_center_of_mass(water), {1.008 / m, 1.008 / m, 0.0});

    System unknown = cube_with(10.0, {});
    unknown.atoms = {atom_at("Xx", {1, 2, 3}), atom_at("R", {4, 5, 6})};
    EXPECT_EQ(get_total_mass(unknown), 0.0);
    EXPECT_EQ(get_center_of_mass(unknown), (Vec3{0, 0, 0}));

    System empty = System::from_cell(cubic_cell(10.0));
    EXPECT_EQ(get_total_mass(empty), 0.0);
    EXPECT_TRUE(std::signbit(get_total_mass(empty)));
    EXPECT_EQ(get_density(empty), 0.0);
    EXPECT_EQ(get_center_of_mass(empty), (Vec3{0, 0, 0}));

    Mat3 flat = cubic_cell(10.0);
    flat[2][2] = 0.0;
    System degenerate = System::from_cell(flat);
    degenerate.atoms.push_back(atom_at("C", {0, 0, 0}));
    EXPECT_EQ(get_density(degenerate), 0.0);
}

TEST(MassAndVolume, LargeSumsMatchASerialSum) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(0, 30);
    const char* elements[] = {"C", "H", "O", "N", "Cl", "Xx"};
    System s = System::from_cell(cubic_cell(30.0));
    double mass = 0.0, mx = 0.0;
    for (int k = 0; k < 20000; ++k) {
        Atom a = atom_at(elements[k % 6], {u(rng), u(rng), u(rng)});
        s.atoms.push_back(a);
    }
    for (const auto& a : s.atoms) {
        const double am = atomic_mass(a.element);
        mass += am;
        mx += am * a.position[0];
    }
    EXPECT_NEAR(get_total_mass(s), mass, 1e-9 * mass);
    EXPECT_NEAR(get_center_of_mass(s)[0], mx / mass, 1e-9);
}
