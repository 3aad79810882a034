#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "forcefield/derived.hpp"
#include "forcefield/exclusions.hpp"
#include "forcefield/interactions.hpp"
#include "forcefield/angle_block.hpp"
#include "forcefield/params.hpp"
#include "forcefield/torsion_block.hpp"

using namespace zelt::forcefield;

namespace {

const UffParams& row(const char* label) { return *find_uff_params(label); }

// Central finite-difference gradient of f with respect to point k of `pts`.
template <std::size_t N>
Vec3 numeric_gradient(const std::function<double(const std::array<Vec3, N>&)>& f, std::array<Vec3, N> pts,
                      std::size_t k, double h = 1e-6) {
    Vec3 g{};
    for (int c = 0; c < 3; ++c) {
        auto plus = pts, minus = pts;
        plus[k][c] += h;
        minus[k][c] -= h;
        g[c] = (f(plus) - f(minus)) / (2 * h);
    }
    return g;
}

void expect_vec_near(const Vec3& a, const Vec3& b, double tol, const std::string& what) {
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(a[c], b[c], tol) << what << " component " << c;
}

Vec3 random_point(std::mt19937_64& rng, double spread) {
    std::uniform_real_distribution<double> u(-spread, spread);
    return {u(rng), u(rng), u(rng)};
}

}  // namespace

TEST(DerivedConstants, BondOrderShortensTheRestLength) {
    const auto& c = row("C_R");
    const double single = bond_constants(c, c, 1.0).r0;
    const double aromatic = bond_constants(c, c, 1.5).r0;
    EXPECT_NEAR(single - aromatic, 0.1332 * 1.458 * std::log(1.5), 1e-12);
    EXPECT_DOUBLE_EQ(single, 1.458);  // equal electronegativities: no correction
    EXPECT_DOUBLE_EQ(bond_constants(c, c, 0.0).r0, single);
    EXPECT_DOUBLE_EQ(bond_constants(c, c, 0.5).r0, single);
    // C–O single bond: electronegativity correction.
    const auto& o = row("O_3");
    const auto& ch = row("C_3");
    const double r_en =
        ch.r1 * o.r1 * std::pow(std::sqrt(ch.chi) - std::sqrt(o.chi), 2) / (ch.chi * ch.r1 + o.chi * o.r1);
    const auto co = bond_constants(ch, o, 1.0);
    EXPECT_DOUBLE_EQ(co.r0, ch.r1 + o.r1 - r_en);
    EXPECT_DOUBLE_EQ(co.k, 664.12 * ch.z1 * o.z1 / std::pow(co.r0, 3));
}

TEST(DerivedConstants, TorsionPeriodicityAndBarrier) {
    const auto& c3 = row("C_3");
    const auto single = torsion_constants(c3, c3, 1.0f);
    EXPECT_EQ(single.periodicity, 3);
    EXPECT_DOUBLE_EQ(single.barrier, 10.595);
    EXPECT_DOUBLE_EQ(single.phase, -1.0);
    const auto dbl = torsion_constants(c3, c3, 2.0f);
    EXPECT_EQ(dbl.periodicity, 2);
    EXPECT_DOUBLE_EQ(dbl.barrier, 10.595 * (1 + 4.18));
    EXPECT_EQ(torsion_constants(c3, c3, 1.2f).periodicity, 3);  // not above 1.2 in single precision
    EXPECT_DOUBLE_EQ(torsion_constants(row("C_R"), row("C_R"), 1.5f).barrier, 0.0);
    const auto pc = pair_constants(c3, row("H_"), 0.5);
    EXPECT_DOUBLE_EQ(pc.x, std::sqrt(3.851 * 2.886));
    EXPECT_DOUBLE_EQ(pc.d, 0.5 * std::sqrt(0.105 * 0.044));
}

TEST(BondTerm, RestLengthAndClamp) {
    const auto& c = row("C_3");
    const auto k = bond_constants(c, c, 1.0);
    const auto at_rest = calculate_bond(1.0, &c, &c, {k.r0, 0, 0});
    ASSERT_TRUE(at_rest);
    EXPECT_NEAR(at_rest->energy, 0.0, 1e-15);
    expect_vec_near(at_rest->force, {0, 0, 0}, 1e-12, "rest");
    const auto stretched = calculate_bond(1.0, &c, &c, {0, k.r0 + 1.0, 0});
    EXPECT_NEAR(stretched->energy, k.k / 2, 1e-9);
    EXPECT_NEAR(stretched->force[1], -std::min(k.k, 1000.0), 1e-9);
    // A stiff short bond: the force magnitude stops at 1000, the energy does not.
    const auto far = calculate_bond(1.0, &c, &c, {0, 0, k.r0 + 5.0});
    EXPECT_DOUBLE_EQ(far->force[2], -1000.0);
    EXPECT_NEAR(far->energy, k.k / 2 * 25, 1e-9);
    EXPECT_FALSE(calculate_bond(1.0, &c, &c, {1e-7, 0, 0}));
    EXPECT_FALSE(calculate_bond(1.0, &c, nullptr, {1, 0, 0}));
}

TEST(AngleTerm, NaturalAndStraight) {
    const auto& h = row("H_");
    const auto& c = row("C_R");
    const auto k = angle_constants(h, c, h);
    const double t0 = k.theta0;
    const auto at_rest = calculate_angle(&h, &c, &h, {1, 0, 0}, {std::cos(t0), std::sin(t0), 0});
    ASSERT_TRUE(at_rest);
    EXPECT_NEAR(at_rest->energy, 0.0, 1e-20);
    for (const auto& f : at_rest->forces) expect_vec_near(f, {0, 0, 0}, 1e-6, "rest");
    const auto straight = calculate_angle(&h, &c, &h, {1.1, 0, 0}, {-0.9, 0, 0});
    ASSERT_TRUE(straight);
    EXPECT_NEAR(straight->energy, k.k / 2 * std::pow(M_PI / 3, 2), 1e-9);
    // Zero up to rounding, which the floor of 1e-6 on sin θ magnifies.
    for (const auto& f : straight->forces) expect_vec_near(f, {0, 0, 0}, 1e-6, "straight");
    EXPECT_FALSE(calculate_angle(&h, &c, &h, {0, 0, 0}, {1, 0, 0}));
}

// The block kernel gives angle_term's numbers bit for bit: random arms, a
// straight and a folded angle (the cosine clamped, the sine floored), a
// vanishing arm (no term), and block lengths with a scalar tail.
TEST(AngleTerm, BlockMatchesTermBitForBit) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(-1.6, 1.6);
    const auto bits = [](double x) {
        std::uint64_t b;
        std::memcpy(&b, &x, sizeof b);
        return b;
    };
    for (const std::size_t n : {1u, 3u, 8u, 31u, 32u}) {
        detail::AngleBlock block;
        std::vector<std::array<Vec3, 2>> arms(n);
        for (std::size_t k = 0; k < n; ++k) {
            Vec3 a{u(rng), u(rng), u(rng)}, b{u(rng), u(rng), u(rng)};
            if (k % 7 == 2) b = -1.3 * a;             // straight
            if (k % 7 == 4) b = 0.8 * a;              // folded
            if (k % 7 == 6) a = {1e-7, 0.0, 0.0};     // vanishing arm
            arms[k] = {a, b};
            for (int x = 0; x < 3; ++x) {
                block.a[x][k] = a[x];
                block.b[x][k] = b[x];
            }
            block.theta0[k] = 1.5 + 0.1 * static_cast<double>(k % 5);
            block.k[k] = 50.0 + static_cast<double>(k);
        }
        detail::compute_angle_block(block, n);
        for (std::size_t k = 0; k < n; ++k) {
            const auto term = angle_term(AngleConstants{block.theta0[k], block.k[k]}, arms[k][0], arms[k][1]);
            ASSERT_EQ(block.present[k], term.has_value()) << "n " << n << " angle " << k;
            if (!term) continue;
            ASSERT_EQ(bits(block.energy[k]), bits(term->energy)) << "n " << n << " angle " << k;
            for (int atom = 0; atom < 3; ++atom)
                for (int x = 0; x < 3; ++x)
                    ASSERT_EQ(bits(block.force[atom][x][k]), bits(term->forces[atom][x]))
                        << "n " << n << " angle " << k << " atom " << atom << " axis " << x;
        }
    }
}

TEST(TorsionTerm, EclipsedAndAnti) {
    const auto& c = row("C_3");
    // i–j–k–l with φ = 0 (eclipsed) and φ = π (anti).
    const Vec3 b2{1.5, 0, 0};
    const auto eclipsed = calculate_torsion({0.5, -1, 0}, b2, {0.5, 1, 0}, &c, &c, 1.0f);
    ASSERT_TRUE(eclipsed);
    EXPECT_NEAR(eclipsed->energy, 10.595, 1e-12);
    const auto anti = calculate_torsion({0.5, -1, 0}, b2, {0.5, -1, 0}, &c, &c, 1.0f);
    EXPECT_NEAR(anti->energy, 0.0, 1e-12);
    const auto aromatic = calculate_torsion({0.5, -1, 0}, b2, {0.5, 0.3, 0.8}, &row("C_R"), &row("C_R"), 1.5f);
    ASSERT_TRUE(aromatic);
    EXPECT_EQ(aromatic->energy, 0.0);
    EXPECT_FALSE(calculate_torsion({1, 0, 0}, b2, {0.5, 1, 0}, &c, &c, 1.0f));  // collinear first arm
}

// The multiple-angle formulas against the trigonometric functions of n·φ,
// over the whole circle and for points off the unit circle (the torsion
// term passes unnormalised ones), and for periodicities that take the
// fallback.
TEST(TorsionTerm, MultipleAngleMatchesTrigonometry) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> angle(-M_PI, M_PI), radius(0.5, 2.0);
    std::vector<std::array<double, 2>> points{{1, 0}, {-1, 0}, {0, 1}, {0, -1}, {-1, 1e-17}, {-1, -1e-17}};
    for (int i = 0; i < 2000; ++i) {
        const double phi = angle(rng), r = radius(rng);
        points.push_back({r * std::cos(phi), r * std::sin(phi)});
    }
    for (const int n : {0, 1, 2, 3, 4, 6})
        for (const auto& [x, y] : points) {
            const double phi = std::atan2(y, x);
            const auto [c, s] = cos_sin_multiple(x, y, n);
            EXPECT_NEAR(c, std::cos(n * phi), 4e-15) << "n=" << n << " x=" << x << " y=" << y;
            EXPECT_NEAR(s, std::sin(n * phi), 4e-15) << "n=" << n << " x=" << x << " y=" << y;
        }
}

// The block kernel gives torsion_term's numbers bit for bit: random chains
// (some with an arm nearly or exactly along the central bond, where the
// term does not apply), every periodicity the kernel handles lane-wise and
// one it hands back to torsion_term, and block lengths with a scalar tail.
TEST(TorsionTerm, BlockMatchesTermBitForBit) {
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> u(-1.6, 1.6);
    const auto bits = [](double x) {
        std::uint64_t b;
        std::memcpy(&b, &x, sizeof b);
        return b;
    };
    const double periodicities[] = {3, 2, 1, 6, 4};
    for (const std::size_t n : {1u, 2u, 5u, 31u, 32u}) {
        detail::TorsionBlock block;
        std::vector<std::array<Vec3, 3>> chains(n);
        for (std::size_t k = 0; k < n; ++k) {
            Vec3 b1{u(rng), u(rng), u(rng)}, b2{u(rng), u(rng), u(rng)}, b3{u(rng), u(rng), u(rng)};
            if (k % 9 == 4) b1 = 0.7 * b2;                            // collinear: no term
            if (k % 9 == 7) b3 = 1.3 * b2 + Vec3{1e-6, 0.0, 0.0};  // nearly collinear
            chains[k] = {b1, b2, b3};
            for (int a = 0; a < 3; ++a) {
                block.b1[a][k] = b1[a];
                block.b2[a][k] = b2[a];
                block.b3[a][k] = b3[a];
            }
            block.periodicity[k] = periodicities[k % 5];
            block.barrier[k] = 0.5 + k;
            block.phase[k] = k % 2 ? 1.0 : -1.0;
        }
        detail::compute_torsion_block(block, n);
        for (std::size_t k = 0; k < n; ++k) {
            const TorsionConstants c{static_cast<int>(block.periodicity[k]), block.barrier[k], block.phase[k]};
            const auto term = torsion_term(c, chains[k][0], chains[k][1], chains[k][2]);
            ASSERT_EQ(block.present[k], term.has_value()) << "n " << n << " torsion " << k;
            if (!term) continue;
            ASSERT_EQ(bits(block.energy[k]), bits(term->energy)) << "n " << n << " torsion " << k;
            for (int atom = 0; atom < 4; ++atom)
                for (int a = 0; a < 3; ++a)
                    ASSERT_EQ(bits(block.force[atom][a][k]), bits(term->forces[atom][a]))
                        << "n " << n << " torsion " << k << " atom " << atom << " axis " << a;
        }
    }
}

TEST(PlanarityTerm, OutOfPlaneCentre) {
    // Neighbours in the plane z = 0; the centre at height 0.2 above it.
    const Vec3 c{0, 0, 0.2}, f{1, 0, 0}, s{-0.5, 0.86, 0}, t{-0.5, -0.86, 0};
    const auto term = calculate_planarity("C_R", 3, f - c, s - f, t - f);
    ASSERT_TRUE(term);
    EXPECT_NEAR(term->energy, 20 * 0.04, 1e-12);
    // The centre's force pushes it back towards the plane, and is the exact
    // negative gradient with respect to the centre.
    EXPECT_NEAR(term->centre_force[2], -40 * 0.2, 1e-12);
    const std::function<double(const std::array<Vec3, 1>&)> energy = [&](const std::array<Vec3, 1>& p) {
        return calculate_planarity("C_R", 3, f - p[0], s - f, t - f)->energy;
    };
    expect_vec_near(-numeric_gradient<1>(energy, {c}, 0), term->centre_force, 1e-6, "centre");
    expect_vec_near(term->neighbour_force, -0.333333 * term->centre_force, 1e-15, "neighbour");
    // Planar: nothing; other labels or other neighbour counts: no term.
    EXPECT_NEAR(calculate_planarity("N_2", 3, f - Vec3{0, 0, 0}, s - f, t - f)->energy, 0.0, 1e-30);
    EXPECT_FALSE(calculate_planarity("C_3", 3, f - c, s - f, t - f));
    EXPECT_FALSE(calculate_planarity("C_R", 4, f - c, s - f, t - f));
    EXPECT_FALSE(calculate_planarity("C_R", 3, f - c, s - f, 2.0 * (s - f)));  // collinear neighbours
}

TEST(LennardJones, FloorCutoffAndSwitch) {
    const auto& c = row("C_3");
    const double cut2 = 36.0;
    // 0.1 Å apart acts as 0.4 · 3.851 = 1.5404 Å apart.
    const auto close = calculate_lj({0.1, 0, 0}, &c, &c, cut2, 1.0);
    const auto floor = calculate_lj({1.5404, 0, 0}, &c, &c, cut2, 1.0);
    EXPECT_DOUBLE_EQ(close->energy, floor->energy);
    EXPECT_DOUBLE_EQ(close->force[0], 500.0);  // clamped
    EXPECT_FALSE(calculate_lj({6.0, 0, 0}, &c, &c, cut2, 1.0));
    EXPECT_FALSE(calculate_lj({0, 0, 1e-4}, &c, &c, cut2, 1.0));
    EXPECT_NEAR(calculate_lj({5.9999999, 0, 0}, &c, &c, cut2, 1.0)->energy, 0.0, 1e-12);
    // At the well bottom inside r_on: E = -D, F = 0.
    const auto well = calculate_lj({0, 3.851, 0}, &c, &c, cut2, 0.5);
    EXPECT_NEAR(well->energy, -0.5 * 0.105, 1e-12);
    EXPECT_NEAR(well->force[1], 0.0, 1e-12);
    // Between 0.9 · cutoff and the cutoff the energy falls monotonically to zero.
    double last = calculate_lj({5.4, 0, 0}, &c, &c, cut2, 1.0)->energy;
    for (double r = 5.45; r < 6.0; r += 0.05) {
        const double e = calculate_lj({r, 0, 0}, &c, &c, cut2, 1.0)->energy;
        EXPECT_GT(e, last);
        EXPECT_LT(e, 0.0);
        last = e;
    }
}

// For random geometries away from the clamps, every term's forces equal minus
// the finite-difference gradient of its energy.
TEST(Gradients, TermsMatchFiniteDifferences) {
    std::mt19937_64 rng(7);
    const auto& c3 = row("C_3");
    const auto& n3 = row("N_3");
    const auto& h = row("H_");
    int checked_bond = 0, checked_angle = 0, checked_torsion = 0, checked_lj = 0;
    for (int trial = 0; trial < 200; ++trial) {
        // Bond: lengths 0.9 .. 2.5 keep the force below the clamp.
        {
            const std::function<double(const std::array<Vec3, 2>&)> e = [&](const std::array<Vec3, 2>& p) {
                return calculate_bond(1.0, &c3, &n3, p[0] - p[1])->energy;
            };
            std::array<Vec3, 2> p{random_point(rng, 2), random_point(rng, 2)};
            const double r = norm(p[0] - p[1]);
            const auto t = calculate_bond(1.0, &c3, &n3, p[0] - p[1]);
            if (r > 0.9 && std::abs(t->force[0]) < 999 && norm(t->force) < 999) {
                expect_vec_near(t->force, -numeric_gradient<2>(e, p, 0), 1e-5, "bond i");
                expect_vec_near(-t->force, -numeric_gradient<2>(e, p, 1), 1e-5, "bond j");
                ++checked_bond;
            }
        }
        // Angle a–c–b away from 0 and π.
        {
            const std::function<double(const std::array<Vec3, 3>&)> e = [&](const std::array<Vec3, 3>& p) {
                return calculate_angle(&h, &c3, &n3, p[0] - p[1], p[2] - p[1])->energy;
            };
            std::array<Vec3, 3> p{random_point(rng, 1.5), random_point(rng, 1.5), random_point(rng, 1.5)};
            const Vec3 a = p[0] - p[1], b = p[2] - p[1];
            const double cs = dot(a, b) / (norm(a) * norm(b));
            if (norm(a) > 0.5 && norm(b) > 0.5 && std::abs(cs) < 0.99) {
                const auto t = calculate_angle(&h, &c3, &n3, a, b);
                for (std::size_t k = 0; k < 3; ++k)
                    expect_vec_near(t->forces[k], -numeric_gradient<3>(e, p, k), 1e-4, "angle " + std::to_string(k));
                ++checked_angle;
            }
        }
        // Torsion i–j–k–l, single (n = 3) and double (n = 2) central bonds.
        for (const float order : {1.0f, 2.0f}) {
            const std::function<double(const std::array<Vec3, 4>&)> e = [&](const std::array<Vec3, 4>& p) {
                return calculate_torsion(p[1] - p[0], p[2] - p[1], p[3] - p[2], &c3, &c3, order)->energy;
            };
            std::array<Vec3, 4> p{random_point(rng, 1.5), random_point(rng, 1.5), random_point(rng, 1.5),
                                  random_point(rng, 1.5)};
            const Vec3 b1 = p[1] - p[0], b2 = p[2] - p[1], b3 = p[3] - p[2];
            if (norm2(cross(b1, b2)) > 0.1 && norm2(cross(b2, b3)) > 0.1 && norm(b2) > 0.5) {
                const auto t = calculate_torsion(b1, b2, b3, &c3, &c3, order);
                for (std::size_t k = 0; k < 4; ++k)
                    expect_vec_near(t->forces[k], -numeric_gradient<4>(e, p, k), 1e-4,
                                    "torsion " + std::to_string(k));
                ++checked_torsion;
            }
        }
        // Switched LJ, in the switching zone and inside it, above the floor.
        {
            const std::function<double(const std::array<Vec3, 2>&)> e = [&](const std::array<Vec3, 2>& p) {
                return calculate_lj(p[0] - p[1], &c3, &h, 36.0, 0.5)->energy;
            };
            std::array<Vec3, 2> p{random_point(rng, 3.5), random_point(rng, 3.5)};
            const double r = norm(p[0] - p[1]);
            if (r > 2.6 && r < 5.99) {
                const auto t = calculate_lj(p[0] - p[1], &c3, &h, 36.0, 0.5);
                expect_vec_near(t->force, -numeric_gradient<2>(e, p, 0), 1e-6, "lj i");
                expect_vec_near(-t->force, -numeric_gradient<2>(e, p, 1), 1e-6, "lj j");
                ++checked_lj;
            }
        }
    }
    EXPECT_GT(checked_bond, 20);
    EXPECT_GT(checked_angle, 20);
    EXPECT_GT(checked_torsion, 20);
    EXPECT_GT(checked_lj, 20);
}

namespace {
NeighbourLists lists_of(std::size_t n, const std::vector<std::pair<int, int>>& edges) {
    std::vector<Bond> bonds;
    for (auto [a, b] : edges) bonds.push_back({std::uint64_t(a), std::uint64_t(b), 1.0f});
    return NeighbourLists(n, bonds);
}
}  // namespace

TEST(Exclusions, RingsAndChains) {
    // Four-membered ring: every pair is 1-2 or 1-3.
    const auto square = lists_of(4, {{0, 1}, {1, 2}, {2, 3}, {3, 0}});
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j) EXPECT_TRUE(get_exclusion_scale(i, j, square).excluded) << i << j;
    // Six-membered ring: the para pair is 1-4, scaled by one half.
    const auto hexagon = lists_of(6, {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 0}});
    const auto para = get_exclusion_scale(0, 3, hexagon);
    EXPECT_FALSE(para.excluded);
    EXPECT_EQ(para.scale, 0.5);
    // A chain 0-1-2-3-4: 1-5 pairs are full strength; an atom without bonds too.
    const auto chain = lists_of(6, {{0, 1}, {1, 2}, {2, 3}, {3, 4}});
    EXPECT_EQ(get_exclusion_scale(0, 4, chain).scale, 1.0);
    EXPECT_EQ(get_exclusion_scale(0, 3, chain).scale, 0.5);
    EXPECT_TRUE(get_exclusion_scale(0, 2, chain).excluded);
    EXPECT_FALSE(get_exclusion_scale(4, 5, chain).excluded);
    EXPECT_EQ(get_exclusion_scale(5, 0, chain).scale, 1.0);
}

// The per-system table gives the rule's answer for every pair of random graphs.
TEST(Exclusions, TableAgreesWithTheRule) {
    std::mt19937_64 rng(3);
    for (int trial = 0; trial < 30; ++trial) {
        const std::size_t n = 5 + trial % 20;
        std::uniform_int_distribution<std::size_t> pick(0, n - 1);
        std::vector<std::pair<int, int>> edges;
        for (std::size_t e = 0; e < n + trial % 7; ++e) edges.emplace_back(int(pick(rng)), int(pick(rng)));
        const auto lists = lists_of(n, edges);
        const ExclusionTable table(lists);
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = i + 1; j < n; ++j) {
                const auto rule = get_exclusion_scale(i, j, lists);
                const double expected = rule.excluded ? 0.0 : rule.scale;
                EXPECT_EQ(table.scale(i, j), expected) << trial << ": " << i << "-" << j;
            }
    }
}
