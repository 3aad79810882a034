#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "forcefield/forces.hpp"
#include "forcefield/interactions.hpp"
#include "forcefield_fixtures.hpp"

using namespace zelt::forcefield;
using fixtures::Molecule;

namespace {

EnergyTerms serial(System& s, double cutoff = 6.0) { return compute_forces_serial(s, cutoff); }

std::vector<Vec3> forces(const System& s) {
    std::vector<Vec3> out;
    for (const Atom& a : s.atoms()) out.push_back(a.force);
    return out;
}

void expect_forces_near(const std::vector<Vec3>& a, const std::vector<Vec3>& b, double tol) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        for (int k = 0; k < 3; ++k) ASSERT_NEAR(a[i][k], b[i][k], tol) << "atom " << i << " component " << k;
}

void expect_energies_near(const EnergyTerms& a, const EnergyTerms& b, double rel) {
    const auto tol = [&](double x) { return rel * std::max(1.0, std::abs(x)); };
    EXPECT_NEAR(a.bond, b.bond, tol(a.bond));
    EXPECT_NEAR(a.angle, b.angle, tol(a.angle));
    EXPECT_NEAR(a.torsion, b.torsion, tol(a.torsion));
    EXPECT_NEAR(a.vdw, b.vdw, tol(a.vdw));
    EXPECT_NEAR(a.total, b.total, tol(a.total));
}

// Minus the central finite-difference gradient of the total energy.
std::vector<Vec3> numeric_forces(System& s, double cutoff, double h = 1e-6) {
    std::vector<Vec3> out(s.atoms().size());
    for (std::size_t i = 0; i < out.size(); ++i)
        for (int k = 0; k < 3; ++k) {
            const double x = s.atoms()[i].position[k];
            s.atoms()[i].position[k] = x + h;
            const double ep = serial(s, cutoff).total;
            s.atoms()[i].position[k] = x - h;
            const double em = serial(s, cutoff).total;
            s.atoms()[i].position[k] = x;
            out[i][k] = -(ep - em) / (2 * h);
        }
    serial(s, cutoff);
    return out;
}

// The non-bonded energy and forces from every pair of atoms, with the
// minimum-image vector of the cell and the exclusion rule.
std::pair<double, std::vector<Vec3>> all_pairs_vdw(const System& s, double cutoff) {
    const auto atoms = s.atoms();
    const auto& t = s.topology();
    std::vector<Vec3> f(atoms.size(), Vec3{0, 0, 0});
    double e = 0.0;
    for (std::size_t i = 0; i < atoms.size(); ++i)
        for (std::size_t j = i + 1; j < atoms.size(); ++j) {
            const auto ex = get_exclusion_scale(i, j, t.neighbours);
            if (ex.excluded) continue;
            const Vec3 d = s.cell().distance_vector(atoms[i].position, atoms[j].position);
            if (const auto term = calculate_lj(d, t.rows[i], t.rows[j], cutoff * cutoff, ex.scale)) {
                e += term->energy;
                f[i] += term->force;
                f[j] -= term->force;
            }
        }
    return {e, f};
}

// Atoms without bonds everywhere in the cell (positions unwrapped by up to a
// third of a cell), mixed elements.
Molecule random_gas(std::mt19937_64& rng, std::size_t n, const Matrix3& h) {
    std::uniform_real_distribution<double> u(-0.3, 1.3);
    const std::uint64_t elements[] = {6, 8, 1, 7, 17};
    Molecule m;
    for (std::size_t k = 0; k < n; ++k) m.add(elements[k % 5], h * Vec3{u(rng), u(rng), u(rng)});
    return m;
}

}  // namespace

TEST(ForceEvaluation, EthaneTerms) {
    System s = fixtures::ethane().system();
    const auto& t = s.topology();
    EXPECT_EQ(t.bonds.size(), 7u);
    EXPECT_EQ(t.angles.size(), 12u);
    EXPECT_EQ(t.planar.size(), 0u);
    ASSERT_EQ(t.torsions.size(), 9u);
    for (const auto& x : t.torsions) {
        EXPECT_EQ(s.atoms()[x.i].atomic_number, 1u);
        EXPECT_EQ(s.atoms()[x.l].atomic_number, 1u);
        EXPECT_EQ(x.c.periodicity, 3);
        EXPECT_DOUBLE_EQ(x.c.barrier, 10.595);
    }
    // Non-bonded terms only between hydrogens of different carbons, at half strength.
    const EnergyTerms e = serial(s);
    double expected = 0.0;
    for (std::size_t i = 2; i < 5; ++i)
        for (std::size_t j = 5; j < 8; ++j) {
            const Vec3 d = s.atoms()[i].position - s.atoms()[j].position;
            expected += calculate_lj(d, find_uff_params("H_"), find_uff_params("H_"), 36.0, 0.5)->energy;
        }
    EXPECT_NEAR(e.vdw, expected, 1e-14);
    EXPECT_NE(e.vdw, 0.0);
    // Staggered: the torsions sit near their minimum; eclipsing raises them.
    const double staggered = e.torsion;
    for (std::size_t k = 5; k < 8; ++k) {
        auto& p = s.atoms()[k].position;
        const double a = std::atan2(p[2], p[1]) - M_PI / 3;
        p = {p[0], 1.03 * std::cos(a), 1.03 * std::sin(a)};
    }
    EXPECT_GT(serial(s).torsion, staggered + 9.0);
    EXPECT_DOUBLE_EQ(e.total, e.bond + e.angle + e.torsion + e.vdw);
}

TEST(ForceEvaluation, SmallSystems) {
    Molecule pair;
    pair.add(6, {0, 0, 0});
    pair.add(6, {1.7, 0, 0});
    pair.bond(0, 1);
    System bonded = pair.system();
    const EnergyTerms eb = serial(bonded);
    EXPECT_GT(eb.bond, 0.0);
    EXPECT_EQ(eb.angle, 0.0);
    EXPECT_EQ(eb.torsion, 0.0);
    EXPECT_EQ(eb.vdw, 0.0);
    pair.bonds.clear();
    System free = pair.system();
    const EnergyTerms ef = serial(free);
    EXPECT_EQ(ef.bond, 0.0);
    EXPECT_NE(ef.vdw, 0.0);
    EXPECT_NEAR(free.atoms()[0].force[0], -free.atoms()[1].force[0], 1e-15);
    // No atoms at all.
    System empty = Molecule{}.system(UnitCell::new_triclinic(fixtures::cubic(10)));
    EXPECT_EQ(serial(empty).total, 0.0);
    EXPECT_EQ(compute_forces_parallel(empty, 6.0).total, 0.0);
}

TEST(ForceEvaluation, FormaldehydePlanarity) {
    Molecule m;
    m.add(6, {0, 0, 0});
    m.add(8, {1.21, 0, 0});
    m.bond(0, 1, 2.0f);
    m.bond(0, m.add(1, {-0.55, 0.94, 0}));
    m.bond(0, m.add(1, {-0.55, -0.94, 0}));
    System s = m.system();
    ASSERT_EQ(s.topology().planar.size(), 1u);
    EXPECT_EQ(s.topology().planar[0].c, 0u);
    const double flat = serial(s).torsion;
    EXPECT_NEAR(flat, 0.0, 1e-20);
    s.atoms()[0].position[2] = 0.15;  // pyramidalise the carbon
    const double h = 0.15;  // the neighbours stay in z = 0
    EXPECT_NEAR(serial(s).torsion, flat + 20 * h * h, 1e-12);
}

// Analytic forces of whole systems equal minus the finite-difference gradient
// of their energy (no planar centres here, whose neighbour forces are an
// approximation by design).
TEST(ForceEvaluation, WholeSystemGradients) {
    std::mt19937_64 rng(21);
    std::normal_distribution<double> g(0.0, 0.08);
    // Distorted ethane, free.
    {
        Molecule m = fixtures::ethane();
        for (auto& a : m.atoms)
            for (double& x : a.position) x += g(rng);
        System s = m.system();
        serial(s);
        expect_forces_near(forces(s), numeric_forces(s, 6.0), 1e-5);
    }
    // Water molecules across the faces of a small periodic box, and methanol
    // (a torsion about C–O) in a skewed cell.
    {
        Molecule m = fixtures::water_box(2, 7.0, 4);
        System s = m.system(UnitCell::new_triclinic(fixtures::cubic(7.0)));
        serial(s, 3.3);
        expect_forces_near(forces(s), numeric_forces(s, 3.3), 1e-5);
    }
    {
        Molecule m;
        const auto c = m.add(6, {0, 0, 0});
        const auto o = m.add(8, {1.43, 0.05, -0.02});
        m.bond(c, o);
        m.bond(o, m.add(1, {1.75, 0.9, 0.1}));
        for (int k = 0; k < 3; ++k) {
            const double a = 2 * M_PI * k / 3 + 0.2;
            m.bond(c, m.add(1, {-0.36 + g(rng), 1.03 * std::cos(a), 1.03 * std::sin(a)}));
        }
        Molecule two = m;
        for (const auto& a : m.atoms) two.add(a.atomic_number, a.position + Vec3{3.1, 2.2, 2.9});
        for (const auto& b : m.bonds) two.bond(b.i + 6, b.j + 6);
        System s = two.system(UnitCell::new_triclinic(Matrix3{{9, 0, 0, 2.5, 8.5, 0, -1.5, 1.0, 8.0}}));
        const EnergyTerms e = serial(s, 4.0);
        EXPECT_NE(e.torsion, 0.0);
        EXPECT_NE(e.vdw, 0.0);
        expect_forces_near(forces(s), numeric_forces(s, 4.0), 1e-5);
    }
}

// The non-bonded energy of random periodic boxes equals the all-pairs
// minimum-image sum: no pair across a periodic face is lost.
TEST(ForceEvaluation, PeriodicNonBondedMatchesAllPairs) {
    std::mt19937_64 rng(17);
    const std::vector<Matrix3> cells{fixtures::cubic(15), fixtures::cubic(9.5), Matrix3{{14, 0, 0, 4, 13, 0, -3, 2, 12}},
                                     Matrix3{{20, 1, 0, 3, 8, 0.5, 0, -2, 11}}};
    for (const auto& h : cells) {
        for (const double cutoff : {6.0, 4.5}) {
            System s = random_gas(rng, 150, h).system(UnitCell::new_triclinic(h));
            const auto [e_ref, f_ref] = all_pairs_vdw(s, cutoff);
            const EnergyTerms es = serial(s, cutoff);
            EXPECT_NEAR(es.vdw, e_ref, 1e-9 * std::max(1.0, std::abs(e_ref))) << h.m[0] << " " << cutoff;
            expect_forces_near(forces(s), f_ref, 1e-9);
            const EnergyTerms ep = compute_forces_parallel(s, cutoff);
            EXPECT_NEAR(ep.vdw, e_ref, 1e-9 * std::max(1.0, std::abs(e_ref)));
            expect_forces_near(forces(s), f_ref, 1e-9);
        }
    }
    // Bonded water in a box, molecules crossing the faces.
    Molecule w = fixtures::water_box(4, 12.4, 8);
    System s = w.system(UnitCell::new_triclinic(fixtures::cubic(12.4)));
    const auto [e_ref, f_ref] = all_pairs_vdw(s, 6.0);
    EXPECT_NEAR(serial(s).vdw, e_ref, 1e-9);
    // The engine's own bonded forces come on top: compare the pair part only.
    std::vector<Vec3> pair_part = forces(s);
    System bonded_only = w.system(UnitCell::new_triclinic(fixtures::cubic(12.4)));
    compute_forces_serial(bonded_only, 1e-300);  // no pair within a vanishing cutoff
    for (std::size_t i = 0; i < pair_part.size(); ++i) pair_part[i] -= bonded_only.atoms()[i].force;
    expect_forces_near(pair_part, f_ref, 1e-9);
}

TEST(ForceEvaluation, ChlorineTakesPartInTheForceField) {
    Molecule m;
    const auto c = m.add(6, {0, 0, 0});
    const auto cl = m.add(17, {2.2, 0, 0});  // stretched C–Cl
    m.bond(c, cl);
    for (int k = 0; k < 3; ++k) {
        const double a = 2 * M_PI * k / 3;
        m.bond(c, m.add(1, {-0.36, 1.03 * std::cos(a), 1.03 * std::sin(a)}));
    }
    System s = m.system();
    const EnergyTerms e = serial(s);
    EXPECT_GT(e.bond, 1.0);
    EXPECT_LT(s.atoms()[cl].force[0], -10.0);  // pulled back towards the carbon
}

// Serial and parallel evaluation of a 3,000-atom periodic box agree within
// rounding, on every path the thread count selects.
TEST(ForceEvaluation, ParallelEqualsSerial) {
    Molecule w = fixtures::water_box(10, 31.0, 1);
    ASSERT_EQ(w.atoms.size(), 3000u);
    System s = w.system(UnitCell::new_triclinic(fixtures::cubic(31.0)));
    const EnergyTerms es = serial(s);
    const auto fs = forces(s);
    EXPECT_NE(es.vdw, 0.0);
    const EnergyTerms ep = compute_forces_parallel(s, 6.0);
    expect_energies_near(ep, es, 1e-12);
    expect_forces_near(forces(s), fs, 1e-9);
    for (const std::uint64_t n : {0u, 1u, 2u, 3u}) {
        auto r = compute_forces_with_threads(s, n, 6.0);
        ASSERT_TRUE(r.ok());
        expect_energies_near(*r, es, 1e-12);
        expect_forces_near(forces(s), fs, 1e-9);
    }
    // And in a skewed cell.
    System t = w.system(UnitCell::new_triclinic(Matrix3{{31, 0, 0, 6, 30, 0, -4, 3, 32}}));
    const EnergyTerms ts = serial(t);
    const auto tf = forces(t);
    auto tr = compute_forces_with_threads(t, 3, 6.0);
    expect_energies_near(*tr, ts, 1e-12);
    expect_forces_near(forces(t), tf, 1e-9);
}

TEST(ForceEvaluation, PathChoice) {
    // 333 water molecules: 999 atoms run serially with the automatic setting;
    // one more atom makes it parallel.
    Molecule w = fixtures::water_box(7, 22.0, 3);
    w.atoms.resize(999);
    w.bonds.resize(666);
    const UnitCell cell = UnitCell::new_triclinic(fixtures::cubic(22.0));
    {
        System s = w.system(cell);
        auto ev = ForceEvaluator::create(0);
        ev->evaluate(s, 6.0);
        EXPECT_TRUE(ev->slots_seen().empty());
    }
    w.add(18, {11, 11, 11});
    {
        System s = w.system(cell);
        auto ev = ForceEvaluator::create(0);
        ev->evaluate(s, 6.0);
        EXPECT_FALSE(ev->slots_seen().empty());
        EXPECT_EQ(std::size_t(ev->pool_size_seen()), zelt::pool::global_thread_count());
        EXPECT_EQ(ev->private_pool(), nullptr);
        auto one = ForceEvaluator::create(1);
        one->evaluate(s, 6.0);
        EXPECT_TRUE(one->slots_seen().empty());
    }
    // Two threads even for three atoms: a private pool of two.
    Molecule tiny;
    tiny.add(8, {0, 0, 0});
    tiny.bond(0, tiny.add(1, {0.96, 0, 0}));
    tiny.bond(0, tiny.add(1, {-0.24, 0.93, 0}));
    System s = tiny.system();
    auto two = ForceEvaluator::create(2);
    ASSERT_TRUE(two.ok());
    ASSERT_NE(two->private_pool(), nullptr);
    EXPECT_EQ(two->private_pool()->thread_count(), 2u);
    two->evaluate(s, 6.0);
    EXPECT_FALSE(two->slots_seen().empty());
    EXPECT_EQ(two->pool_size_seen(), 2);
    // A pool beyond the limit cannot be built: an error, no evaluation.
    EXPECT_FALSE(ForceEvaluator::create(max_private_threads + 1).ok());
    EXPECT_FALSE(compute_forces_with_threads(s, std::uint64_t(1) << 40, 6.0).ok());
}

// A private pool is built once per evaluator, runs exactly its thread count
// at once, and every evaluation runs in it. (Which operating-system threads
// fill the pool's slots may change between loops, so the slots are checked.)
TEST(ForceEvaluation, PrivatePoolReusedAcrossEvaluations) {
    Molecule w = fixtures::water_box(10, 31.0, 5);
    System s = w.system(UnitCell::new_triclinic(fixtures::cubic(31.0)));
    auto ev = ForceEvaluator::create(3);
    ASSERT_TRUE(ev.ok());
    zelt::pool::PrivatePool* p = ev->private_pool();
    ASSERT_NE(p, nullptr);
    for (int k = 0; k < 8; ++k) {
        ev->evaluate(s, 6.0);
        EXPECT_EQ(ev->private_pool(), p);
    }
    std::mutex m;
    std::set<std::thread::id> pool_threads;
    p->run([&] {
        zelt::pool::for_chunks(24, 24, [&](std::size_t, std::size_t, std::size_t) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            std::lock_guard lock(m);
            pool_threads.insert(std::this_thread::get_id());
        });
    });
    EXPECT_EQ(pool_threads.size(), 3u);
    EXPECT_EQ(ev->pool_size_seen(), 3);
    EXPECT_FALSE(ev->slots_seen().empty());
    for (const int slot : ev->slots_seen()) {
        EXPECT_GE(slot, 0);
        EXPECT_LT(slot, 3);
    }
}
