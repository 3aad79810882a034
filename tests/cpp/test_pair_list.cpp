#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "forcefield/forces.hpp"
#include "forcefield/interactions.hpp"
#include "forcefield/pair_list.hpp"
#include "forcefield_fixtures.hpp"

using namespace zelt::forcefield;
using fixtures::Molecule;

namespace {

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

std::vector<Vec3> forces(const System& s) {
    std::vector<Vec3> out;
    for (const Atom& a : s.atoms()) out.push_back(a.force);
    return out;
}

// The non-bonded energy and forces pair by pair, with the exclusion rule.
std::pair<double, std::vector<Vec3>> all_pairs_vdw(const System& s, double cutoff) {
    const auto atoms = s.atoms();
    const auto& t = s.topology();
    std::vector<Vec3> f(atoms.size(), Vec3{0, 0, 0});
    double e = 0.0;
    for (std::size_t i = 0; i < atoms.size(); ++i)
        for (std::size_t j = i + 1; j < atoms.size(); ++j) {
            const auto ex = get_exclusion_scale(i, j, t.neighbours);
            if (ex.excluded) continue;
            const Vec3 d = atoms[i].position - atoms[j].position;
            if (const auto term = calculate_lj(d, t.rows[i], t.rows[j], cutoff * cutoff, ex.scale)) {
                e += term->energy;
                f[i] += term->force;
                f[j] -= term->force;
            }
        }
    return {e, f};
}

}  // namespace

// The blocked kernel gives lj_factor's numbers bit for bit in every regime:
// inside the 0.4 x floor, in the plain well, in the switching shell, with
// the force clamped, and for block lengths that leave a scalar tail.
TEST(ListedPairs, KernelMatchesThePairTermBitForBit) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (const double cutoff : {6.0, 2.5, 12.0, std::numeric_limits<double>::infinity()}) {
        for (const std::size_t n : {0u, 1u, 3u, 4u, 5u, 7u, 64u, 1001u}) {
            std::vector<double> r2(n), x(n), d(n), e(n), w(n), e_ref(n), w_ref(n);
            const double reach = std::isfinite(cutoff) ? cutoff : 20.0;
            for (std::size_t k = 0; k < n; ++k) {
                x[k] = 2.0 + 2.5 * u(rng);
                d[k] = (k % 7 == 0 ? 50.0 : 0.3) * u(rng);  // deep wells clamp at short range
                double r;
                switch (k % 4) {
                    case 0: r = 0.4 * x[k] * u(rng); break;             // below the floor
                    case 1: r = 0.88 * reach + 0.12 * reach * u(rng); break;  // switching shell
                    default: r = reach * u(rng); break;
                }
                r2[k] = std::max(r * r, 1.1e-6);
                if (!(r2[k] < cutoff * cutoff)) r2[k] = 0.99 * cutoff * cutoff;
            }
            detail::lj_block_scalar(n, r2.data(), x.data(), d.data(), cutoff, e_ref.data(), w_ref.data());
            detail::lj_block(n, r2.data(), x.data(), d.data(), cutoff, e.data(), w.data());
            for (std::size_t k = 0; k < n; ++k) {
                const PairFactor p = lj_factor(PairConstants{x[k], d[k]}, r2[k], cutoff);
                ASSERT_TRUE(same_bits(e_ref[k], p.energy) && same_bits(w_ref[k], p.factor)) << k;
                ASSERT_TRUE(same_bits(e[k], p.energy)) << "cutoff " << cutoff << " n " << n << " pair " << k;
                ASSERT_TRUE(same_bits(w[k], p.factor)) << "cutoff " << cutoff << " n " << n << " pair " << k;
            }
        }
    }
}

// A small system without periodicity keeps the well of every member pair,
// zero depth for the excluded ones, and the listed evaluation (with and
// without vector instructions) equals the grid's (the parallel path always
// takes the grid) for cutoffs that take in all, some or none of the pairs.
// Ethane has 1-4 pairs at half depth; the water box molecules lying
// partly outside one another's cutoff.
TEST(ListedPairs, SmallOpenSystemsListTheirPairs) {
    for (const Molecule& mol : {fixtures::ethane(), fixtures::water_box(3, 9.0, 11), fixtures::water_box(4, 16.0, 5)}) {
        System s = mol.system();
        const auto& t = s.topology();
        ASSERT_TRUE(t.pairs_listed);
        const std::size_t n = s.atoms().size();
        ASSERT_EQ(t.lj_members.size(), n);
        ASSERT_EQ(t.listed_row.size(), n + 1);
        ASSERT_EQ(t.listed_row.back(), n * (n - 1) / 2);
        std::size_t k = 0;
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = i + 1; j < n; ++j, ++k) {
                ASSERT_EQ(t.listed_row[i] + (j - i - 1), k);
                const auto ex = get_exclusion_scale(i, j, t.neighbours);
                const auto c = pair_constants(*t.rows[i], *t.rows[j], ex.excluded ? 0.0 : ex.scale);
                EXPECT_EQ(t.listed_x[k], c.x);
                EXPECT_EQ(t.listed_d[k], c.d) << i << " " << j;
            }

        for (const double cutoff : {6.0, 3.0, 0.0, 1e6}) {
            const EnergyTerms grid = compute_forces_parallel(s, cutoff);
            const auto fg = forces(s);
            const EnergyTerms listed = compute_forces_serial(s, cutoff);
            const auto fl = forces(s);
            EXPECT_NEAR(listed.vdw, grid.vdw, 1e-12 * std::max(1.0, std::abs(grid.vdw))) << cutoff;
            EXPECT_NEAR(listed.total, grid.total, 1e-12 * std::max(1.0, std::abs(grid.total))) << cutoff;
            for (std::size_t a = 0; a < n; ++a)
                for (int x = 0; x < 3; ++x) ASSERT_NEAR(fl[a][x], fg[a][x], 1e-9) << "cutoff " << cutoff << " atom " << a;
            // The vector and the plain path alone, on the non-bonded forces.
            for (const bool vector : {true, false}) {
                std::vector<double> f(3 * n, 0.0), scratch;
                const double e = detail::listed_pair_range(s, cutoff, f.data(), scratch, vector);
                EXPECT_NEAR(e, grid.vdw, 1e-12 * std::max(1.0, std::abs(grid.vdw))) << cutoff << " " << vector;
                const auto [e_all, f_all] = all_pairs_vdw(s, cutoff);
                EXPECT_NEAR(e, e_all, 1e-12 * std::max(1.0, std::abs(e_all)));
                for (std::size_t a = 0; a < n; ++a)
                    for (int x = 0; x < 3; ++x) ASSERT_NEAR(f[3 * a + x], f_all[a][x], 1e-9) << cutoff << " " << vector;
            }
            if (cutoff == 0.0) {
                EXPECT_EQ(listed.vdw, 0.0);
            }
            if (cutoff == 6.0) {
                EXPECT_NE(listed.vdw, 0.0);
            }
        }
    }
}

TEST(ListedPairs, PeriodicAndLargerSystemsUseTheGrid) {
    Molecule w = fixtures::water_box(3, 9.0, 12);
    EXPECT_FALSE(w.system(UnitCell::new_triclinic(fixtures::cubic(9.0))).topology().pairs_listed);
    // 86 waters: 258 atoms, two more than are listed.
    Molecule big = fixtures::water_box(5, 15.0, 13);
    big.atoms.resize(258);
    big.bonds.resize(172);
    EXPECT_FALSE(big.system().topology().pairs_listed);
    big.atoms.resize(255);
    big.bonds.resize(170);
    System listed = big.system();
    EXPECT_TRUE(listed.topology().pairs_listed);
}
