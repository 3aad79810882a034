// The optimizer's fast paths against the plain formulas: the bond and angle
// terms worked out side by side over flat arrays, and the repulsion term
// from a close-pair list kept across iterations, must give the very same
// forces, bit for bit, as the formulas evaluated one pair at a time and a
// full pair search in every iteration.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/random.hpp"
#include "smiles/template.hpp"
#include "vsepr/optimizer.hpp"
#include "vsepr/rules.hpp"
#include "vsepr/terms.hpp"

using namespace zelt;
using namespace zelt::vsepr;

namespace {

MoleculeTemplate from_smiles(const std::string& s) {
    auto r = parse_smiles_with_hydrogens(s);
    EXPECT_TRUE(r.ok()) << s;
    return r.ok() ? std::move(r).value() : MoleculeTemplate{};
}

// Bitwise equality of two force lists (NaN equal to the same NaN).
::testing::AssertionResult same_bits(const std::vector<Vec3>& a, const std::vector<Vec3>& b) {
    if (a.size() != b.size()) return ::testing::AssertionFailure() << "sizes " << a.size() << " " << b.size();
    for (std::size_t k = 0; k < a.size(); ++k)
        if (std::memcmp(a[k].data(), b[k].data(), sizeof(Vec3)) != 0)
            return ::testing::AssertionFailure() << "atom " << k << ": (" << a[k][0] << ", " << a[k][1] << ", "
                                                 << a[k][2] << ") against (" << b[k][0] << ", " << b[k][1] << ", "
                                                 << b[k][2] << ")";
    return ::testing::AssertionSuccess();
}

double norm(const Vec3& v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }
Vec3 sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }

// Unit vectors are d times 1 / r.
void push(Vec3& f, Vec3& g, const Vec3& d, double r, double k) {
    const double inv = 1.0 / r;
    const Vec3 u{d[0] * inv, d[1] * inv, d[2] * inv};
    for (int a = 0; a < 3; ++a) {
        f[a] += u[a] * k;
        g[a] -= u[a] * k;
    }
}

// The bond term as written: bond-list order, one bond at a time.
void reference_bonds(std::span<const Atom> atoms, std::span<const Bond> bonds, std::span<const Vec3> p,
                     std::vector<Vec3>& f) {
    for (const auto& b : bonds) {
        if (b.i >= atoms.size() || b.j >= atoms.size()) continue;
        const Vec3 d = sub(p[b.i], p[b.j]);
        const double r = norm(d);
        const double l = ideal_bond_length(atoms[b.i].element, atoms[b.j].element, b.order);
        if (r > 0.001) push(f[b.i], f[b.j], d, r, (l - r) * 1.2);
    }
}

// The angle term as written: centres in atom order, neighbour pairs in list order.
void reference_angles(const Model& m, std::span<const Vec3> p, std::vector<Vec3>& f) {
    for (std::size_t c = 0; c < m.atom_count(); ++c) {
        const auto nb = m.neighbours.of(c);
        if (nb.size() < 2) continue;
        const double cos0 = std::cos(ideal_angle(m.geometry[c]));
        for (std::size_t x = 0; x < nb.size(); ++x)
            for (std::size_t y = x + 1; y < nb.size(); ++y) {
                const std::size_t a = nb[x].atom, b = nb[y].atom;
                const Vec3 d = sub(p[a], p[b]);
                const double r = norm(d);
                if (r <= 0.001) continue;
                const double la = norm(sub(p[a], p[c])), lb = norm(sub(p[b], p[c]));
                const double target = std::sqrt(std::fmax(la * la + lb * lb - 2.0 * la * lb * cos0, 0.0));
                push(f[a], f[b], d, r, (target - r) * 0.2);
            }
    }
}

Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec3 unit(const Vec3& v) {
    const double n = norm(v);
    const double inv = 1.0 / n;
    return n == 0.0 ? Vec3{1.0, 0.0, 0.0} : Vec3{v[0] * inv, v[1] * inv, v[2] * inv};
}

// The torsion term as written: bonds of order 1.5 or more between trigonal
// centres in bond-list order, then each neighbour a of j and d of k.
void reference_torsions(const Model& m, std::span<const Bond> bonds, std::span<const Vec3> p,
                        std::vector<Vec3>& f) {
    for (const auto& bond : bonds) {
        const std::size_t j = bond.i, k = bond.j;
        if (!(static_cast<float>(bond.order) >= 1.5f) || m.geometry[j] != Geometry::TrigonalPlanar ||
            m.geometry[k] != Geometry::TrigonalPlanar)
            continue;
        for (const auto& na : m.neighbours.of(j)) {
            if (na.atom == k) continue;
            for (const auto& nd : m.neighbours.of(k)) {
                if (nd.atom == j) continue;
                const std::size_t a = na.atom, d = nd.atom;
                const Vec3 b1 = sub(p[j], p[a]), b2 = sub(p[k], p[j]), b3 = sub(p[d], p[k]);
                Vec3 nA = cross(b1, b2), nB = cross(b2, b3);
                if (dot(nA, nA) < 1e-6 || dot(nB, nB) < 1e-6) continue;
                nA = unit(nA);
                nB = unit(nB);
                const double mag = 0.05 * dot(cross(nA, nB), unit(b2));
                for (int c = 0; c < 3; ++c) {
                    f[a][c] += nA[c] * -mag;
                    f[j][c] += nA[c] * mag;
                    f[d][c] += nB[c] * mag;
                    f[k][c] += nB[c] * -mag;
                }
            }
        }
    }
}

std::vector<Vec3> positions(const MoleculeTemplate& m, std::mt19937_64& rng, double spread) {
    std::uniform_real_distribution<double> u(-spread, spread);
    std::vector<Vec3> p;
    for (const auto& a : m.atoms) p.push_back({a.position[0] + u(rng), a.position[1] + u(rng), a.position[2] + u(rng)});
    return p;
}

}  // namespace

TEST(VseprWorkspace, BondAngleAndTorsionTermsMatchTheFormulas) {
    std::mt19937_64 rng(3);
    std::size_t twisted = 0;  // rounds in which the torsion term acts
    // Centres with two to six neighbours, pair counts that leave every
    // remainder of the four- and two-wide steps, and one ring.
    const std::vector<std::string> cases{"O", "CO", "CC(=O)O", "FS(F)(F)(F)(F)F", "CC(C)(C)C(Cl)(Br)I", "c1ccccc1C#N",
                                         "OCC1OC(O)C(O)C(O)C1O", "C=CC=C", "c1ccc2ccccc2c1C=O"};
    for (const auto& smiles : cases) {
        const auto mol = from_smiles(smiles);
        const Model m = Model::build(mol.atoms, mol.bonds);
        Workspace w;
        for (int round = 0; round < 4; ++round) {
            auto p = positions(mol, rng, 1.0);
            if (round == 2 && p.size() > 2) p[1] = p[0];  // a zero-length bond: skipped
            if (round == 3) p.back()[1] = std::nan("");   // a NaN position spreads as the formulas spread it
            std::vector<Vec3> expected(p.size(), Vec3{0.0, 0.0, 0.0}), got = expected, fresh = expected;
            reference_bonds(mol.atoms, mol.bonds, p, expected);
            apply_bond_constraints(m, p, got, w);
            apply_bond_constraints(m, p, fresh);
            EXPECT_TRUE(same_bits(got, expected)) << smiles << " bonds, round " << round;
            EXPECT_TRUE(same_bits(fresh, expected)) << smiles << " bonds, round " << round;

            std::fill(expected.begin(), expected.end(), Vec3{0.0, 0.0, 0.0});
            std::fill(got.begin(), got.end(), Vec3{0.0, 0.0, 0.0});
            reference_angles(m, p, expected);
            apply_angle_constraints(m, p, got, w);
            EXPECT_TRUE(same_bits(got, expected)) << smiles << " angles, round " << round;

            if (round == 2 && p.size() > 3) p[2] = p[1];  // a normal of zero length: skipped
            std::fill(expected.begin(), expected.end(), Vec3{0.0, 0.0, 0.0});
            std::fill(got.begin(), got.end(), Vec3{0.0, 0.0, 0.0});
            reference_torsions(m, mol.bonds, p, expected);
            twisted += std::any_of(expected.begin(), expected.end(), [](const Vec3& v) { return v[0] != 0.0; });
            apply_torsion_constraints(m, p, got, w);
            EXPECT_TRUE(same_bits(got, expected)) << smiles << " torsions, round " << round;
        }
    }
    EXPECT_GE(twisted, 6u);
}

TEST(VseprWorkspace, CloseListGivesTheForcesOfAFullSearch) {
    // Clouds dense enough for many pairs within 1.2 Å, moved by small steps
    // (the list stands) and large ones (it is made again), in all three
    // enumeration orders; the 160-atom clouds take the grid's order, the
    // last one also a sparse grid (a few atoms 10^6 Å away).
    std::mt19937_64 rng(17);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (const std::size_t n : {60u, 160u}) {
        for (const bool spread : {false, true}) {
            Atom carbon;
            carbon.element = "C";
            const std::vector<Atom> atoms(n, carbon);
            std::vector<Bond> bonds;
            std::vector<Vec3> p(n);
            for (std::size_t k = 0; k < n; ++k) {
                p[k] = {u(rng) * 7.0, u(rng) * 7.0, u(rng) * 7.0};
                if (spread && k % 40 == 39) p[k][0] += 1e6;
                if (k > 0 && k % 4 != 0) bonds.push_back({k - 1, k, 1.0});
            }
            const Model m = Model::build(atoms, bonds);
            for (const PairSearch search : {PairSearch::Automatic, PairSearch::AllPairs, PairSearch::Grid}) {
                Workspace w;
                RepulsionScratch scratch;
                std::size_t acting = 0;
                for (int step = 0; step < 30; ++step) {
                    const double scale = step % 7 == 6 ? 0.6 : 0.02;
                    for (auto& x : p)
                        for (int a = 0; a < 3; ++a) x[a] += (u(rng) - 0.5) * scale;
                    std::vector<Vec3> expected(n, Vec3{0.0, 0.0, 0.0}), got = expected;
                    apply_repulsion_constraints(m, p, expected, scratch, search);
                    apply_repulsion_constraints(m, p, got, w, search);
                    acting += scratch.pairs.size();
                    ASSERT_TRUE(same_bits(got, expected)) << n << " atoms, step " << step;
                }
                EXPECT_GT(acting, 100u);
            }
        }
    }
}

TEST(VseprWorkspace, OptimizerEqualsTheTermsAppliedOneByOne) {
    // The optimizer's run against the same loop over the terms with a full
    // pair search each iteration: all pairs at 66 atoms, the grid at 122.
    thread_rng().seed(23);
    const std::vector<std::string> cases{"*CC(c1ccccc1)CC(c1ccccc1)CC(c1ccccc1)CC(c1ccccc1)*",
                                         "CCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCC"};
    for (const auto& smiles : cases) {
        const auto mol = from_smiles(smiles);
        const VseprOptimizer opt{400, 0.15};
        auto atoms = mol.atoms;
        opt.optimize(atoms, mol.bonds);

        const Model m = Model::build(mol.atoms, mol.bonds);
        std::vector<Vec3> p = working_coordinates(mol.atoms), f(p.size());
        RepulsionScratch scratch;
        for (std::uint64_t it = 0; it < opt.iterations; ++it) {
            std::fill(f.begin(), f.end(), Vec3{0.0, 0.0, 0.0});
            const double decay = std::exp(-3.0 * static_cast<double>(it) / static_cast<double>(opt.iterations));
            apply_bond_constraints(m, p, f);
            apply_angle_constraints(m, p, f);
            apply_planarity_constraints(m, p, f);
            apply_torsion_constraints(m, p, f);
            apply_repulsion_constraints(m, p, f, scratch);
            for (std::size_t k = 0; k < p.size(); ++k)
                for (int a = 0; a < 3; ++a) p[k][a] += opt.step * decay * f[k][a];
        }
        std::vector<Vec3> got;
        for (const auto& a : atoms) got.push_back(a.position);
        EXPECT_TRUE(same_bits(got, p)) << smiles;
    }
}
