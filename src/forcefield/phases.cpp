#include "forcefield/phases.hpp"

#include <algorithm>
#include <cmath>

#include "forcefield/angle_block.hpp"
#include "forcefield/interactions.hpp"
#include "forcefield/torsion_block.hpp"

namespace zelt::forcefield::detail {

namespace {

inline void add(double* f, std::size_t atom, const Vec3& v) {
    f[3 * atom] += v[0];
    f[3 * atom + 1] += v[1];
    f[3 * atom + 2] += v[2];
}

// Difference vector r_p - r_q; without periodicity the plain difference
// (which is what the cell's rule gives then), without the call.
inline Vec3 dv(const System& s, std::size_t p, std::size_t q) {
    const auto atoms = s.atoms();
    if (!s.cell().periodic()) return atoms[p].position - atoms[q].position;
    return s.cell().distance_vector(atoms[p].position, atoms[q].position);
}

}  // namespace

double bond_range(const System& s, std::size_t begin, std::size_t end, double* f) {
    const auto& terms = s.topology().bonds;
    double energy = 0.0;
    for (std::size_t t = begin; t < end; ++t) {
        const auto& b = terms[t];
        if (const auto term = bond_term(b.c, dv(s, b.i, b.j))) {
            add(f, b.i, term->force);
            add(f, b.j, -term->force);
            energy += term->energy;
        }
    }
    return energy;
}

double angle_range(const System& s, std::size_t begin, std::size_t end, double* f) {
    const auto& terms = s.topology().angles;
    AngleBlock b;
    double energy = 0.0;
    for (std::size_t first = begin; first < end; first += AngleBlock::capacity) {
        const std::size_t count = std::min(AngleBlock::capacity, end - first);
        for (std::size_t k = 0; k < count; ++k) {
            const auto& x = terms[first + k];
            const Vec3 arm_a = dv(s, x.a, x.c), arm_b = dv(s, x.b, x.c);
            for (int a = 0; a < 3; ++a) {
                b.a[a][k] = arm_a[a];
                b.b[a][k] = arm_b[a];
            }
            b.theta0[k] = x.k.theta0;
            b.k[k] = x.k.k;
        }
        compute_angle_block(b, count);
        for (std::size_t k = 0; k < count; ++k) {
            if (!b.present[k]) continue;
            const auto& x = terms[first + k];
            const std::uint32_t atoms[3] = {x.a, x.c, x.b};
            for (int atom = 0; atom < 3; ++atom)
                add(f, atoms[atom], {b.force[atom][0][k], b.force[atom][1][k], b.force[atom][2][k]});
            energy += b.energy[k];
        }
    }
    return energy;
}

double torsion_range(const System& s, std::size_t begin, std::size_t end, double* f) {
    const auto& terms = s.topology().torsions;
    TorsionBlock b;
    double energy = 0.0;
    for (std::size_t first = begin; first < end; first += TorsionBlock::capacity) {
        const std::size_t count = std::min(TorsionBlock::capacity, end - first);
        for (std::size_t k = 0; k < count; ++k) {
            const auto& x = terms[first + k];
            const Vec3 b1 = dv(s, x.j, x.i), b2 = dv(s, x.k, x.j), b3 = dv(s, x.l, x.k);
            for (int a = 0; a < 3; ++a) {
                b.b1[a][k] = b1[a];
                b.b2[a][k] = b2[a];
                b.b3[a][k] = b3[a];
            }
            b.periodicity[k] = x.c.periodicity;
            b.barrier[k] = x.c.barrier;
            b.phase[k] = x.c.phase;
        }
        compute_torsion_block(b, count);
        for (std::size_t k = 0; k < count; ++k) {
            if (!b.present[k]) continue;
            const auto& x = terms[first + k];
            const std::uint32_t atoms[4] = {x.i, x.j, x.k, x.l};
            for (int atom = 0; atom < 4; ++atom)
                add(f, atoms[atom], {b.force[atom][0][k], b.force[atom][1][k], b.force[atom][2][k]});
            energy += b.energy[k];
        }
    }
    return energy;
}

double planarity_range(const System& s, std::size_t begin, std::size_t end, double* f) {
    const auto& terms = s.topology().planar;
    double energy = 0.0;
    for (std::size_t t = begin; t < end; ++t) {
        const auto& p = terms[t];
        if (const auto term = planarity_term(dv(s, p.first, p.c), dv(s, p.second, p.first), dv(s, p.third, p.first))) {
            add(f, p.c, term->centre_force);
            add(f, p.first, term->neighbour_force);
            add(f, p.second, term->neighbour_force);
            add(f, p.third, term->neighbour_force);
            energy += term->energy;
        }
    }
    return energy;
}

namespace {

enum class Geometry { open, periodic_diagonal, periodic_general, orthorhombic };

// The pair loop, specialised on how difference vectors are formed: plain
// Cartesian differences; fractional differences reduced to the nearest image
// and turned Cartesian through a diagonal or a general cell matrix; or, for
// the orthorhombic box, the box's own rule recomputed for the pairs found.
// Candidates are taken in blocks: a first, branch-free loop forms the
// difference vectors and squared distances of a block (so that it can be
// vectorised), a second handles the pairs within the cutoff.
constexpr std::size_t block = 64;

template <Geometry G>
double pair_loop(const System& s, const PairGrid& grid, double cutoff, std::size_t begin, std::size_t end, double* f) {
    const Topology& t = s.topology();
    const auto slot_atom = grid.atom();
    const double* cx = grid.coord(0).data();
    const double* cy = grid.coord(1).data();
    const double* cz = grid.coord(2).data();
    const std::uint32_t* types = t.lj_type.data();
    const double* pair_x = t.pair_x.data();
    const double* pair_d = t.pair_d.data();
    const std::size_t nt = t.type_count;
    const double rc = std::fabs(cutoff);
    const double rc2 = cutoff * cutoff;
    const auto& hm = s.cell().h.m;
    const double h0 = hm[0], h1 = hm[1], h2 = hm[2], h3 = hm[3], h4 = hm[4], h5 = hm[5], h6 = hm[6], h7 = hm[7],
                 h8 = hm[8];
    const auto atoms = s.atoms();

    alignas(64) double bx[block], by[block], bz[block], br2[block];
    double energy = 0.0;
    for (std::size_t si = begin; si < end; ++si) {
        const std::uint32_t ai = slot_atom[si];
        const double xi = cx[si], yi = cy[si], zi = cz[si];
        const std::size_t row = static_cast<std::size_t>(types[ai]) * nt;
        const auto excl = t.exclusions.row(ai);
        double fx = 0.0, fy = 0.0, fz = 0.0;
        grid.for_each_later_range(si, [&](std::size_t jb, std::size_t je) {
            for (std::size_t first = jb; first < je; first += block) {
                const std::size_t count = std::min(block, je - first);
                const double* xj = cx + first;
                const double* yj = cy + first;
                const double* zj = cz + first;
                for (std::size_t k = 0; k < count; ++k) {
                    double dx, dy, dz;
                    if constexpr (G == Geometry::open) {
                        dx = xi - xj[k];
                        dy = yi - yj[k];
                        dz = zi - zj[k];
                    } else {
                        double ux = xi - xj[k], uy = yi - yj[k], uz = zi - zj[k];
                        // Both coordinates lie in [0, 1): the nearest integer
                        // is -1, 0 or 1, halves going away from zero.
                        ux -= (ux >= 0.5 ? 1.0 : 0.0) - (ux <= -0.5 ? 1.0 : 0.0);
                        uy -= (uy >= 0.5 ? 1.0 : 0.0) - (uy <= -0.5 ? 1.0 : 0.0);
                        uz -= (uz >= 0.5 ? 1.0 : 0.0) - (uz <= -0.5 ? 1.0 : 0.0);
                        if constexpr (G == Geometry::periodic_diagonal) {
                            dx = h0 * ux;
                            dy = h4 * uy;
                            dz = h8 * uz;
                        } else {
                            dx = h0 * ux + h3 * uy + h6 * uz;
                            dy = h1 * ux + h4 * uy + h7 * uz;
                            dz = h2 * ux + h5 * uy + h8 * uz;
                        }
                    }
                    bx[k] = dx;
                    by[k] = dy;
                    bz[k] = dz;
                    br2[k] = dx * dx + dy * dy + dz * dz;
                }
                for (std::size_t k = 0; k < count; ++k) {
                    double r2 = br2[k];
                    if (!(r2 < rc2 && r2 > 1e-6)) continue;
                    const std::size_t sj = first + k;
                    const std::uint32_t aj = slot_atom[sj];
                    Vec3 d{bx[k], by[k], bz[k]};
                    if constexpr (G == Geometry::orthorhombic) {
                        d = s.cell().distance_vector(atoms[ai].position, atoms[aj].position);
                        r2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
                    }
                    double scale = 1.0;
                    for (const auto& e : excl)
                        if (e.partner == aj) {
                            scale = e.scale;
                            break;
                        }
                    if (scale == 0.0) continue;
                    const std::size_t pk = row + types[aj];
                    const auto term = lj_term(PairConstants{pair_x[pk], scale * pair_d[pk]}, d, r2, rc2, rc);
                    if (!term) continue;
                    fx += term->force[0];
                    fy += term->force[1];
                    fz += term->force[2];
                    f[3 * sj] -= term->force[0];
                    f[3 * sj + 1] -= term->force[1];
                    f[3 * sj + 2] -= term->force[2];
                    energy += term->energy;
                }
            }
        });
        f[3 * si] += fx;
        f[3 * si + 1] += fy;
        f[3 * si + 2] += fz;
    }
    return energy;
}

}  // namespace

double non_bonded_range(const System& s, const PairGrid& grid, double cutoff, std::size_t begin, std::size_t end,
                        double* f) {
    const UnitCell& cell = s.cell();
    if (std::holds_alternative<NonPeriodic>(cell.cell_type))
        return pair_loop<Geometry::open>(s, grid, cutoff, begin, end, f);
    if (std::holds_alternative<Orthorhombic>(cell.cell_type))
        return pair_loop<Geometry::orthorhombic>(s, grid, cutoff, begin, end, f);
    const auto& h = cell.h.m;
    const bool diagonal = h[1] == 0 && h[2] == 0 && h[3] == 0 && h[5] == 0 && h[6] == 0 && h[7] == 0;
    return diagonal ? pair_loop<Geometry::periodic_diagonal>(s, grid, cutoff, begin, end, f)
                    : pair_loop<Geometry::periodic_general>(s, grid, cutoff, begin, end, f);
}

void add_slot_forces(System& s, const PairGrid& grid, const double* slot_f) {
    auto atoms = s.atoms();
    const auto slot_atom = grid.atom();
    for (std::size_t sl = 0; sl < slot_atom.size(); ++sl) {
        Vec3& force = atoms[slot_atom[sl]].force;
        force[0] += slot_f[3 * sl];
        force[1] += slot_f[3 * sl + 1];
        force[2] += slot_f[3 * sl + 2];
    }
}

void add_to_atoms(System& s, const double* f) {
    auto atoms = s.atoms();
    for (std::size_t a = 0; a < atoms.size(); ++a) {
        atoms[a].force[0] += f[3 * a];
        atoms[a].force[1] += f[3 * a + 1];
        atoms[a].force[2] += f[3 * a + 2];
    }
}

}  // namespace zelt::forcefield::detail
