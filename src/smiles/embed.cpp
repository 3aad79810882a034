#include "smiles/embed.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "build/relax.hpp"
#include "smiles/template.hpp"
#include "vsepr/optimizer.hpp"
#include "vsepr/rules.hpp"
#include "vsepr/terms.hpp"

namespace zelt {
namespace {

// A start from a nearly straight line, with every hydrogen set off along
// +y, -y, +z or -z from its atom, can fold a cage or a fused ring system with
// hydrogens caught inside a ring or a centre turned inside out. The
// minimisation then stalls in a strained shape (bonds stretched by tenths of
// an ångström, atoms pressed together) from which no number of steps
// recovers it. Such a result is recognised, and the embedding starts again
// from fresh random coordinates, from then on shaping the heavy-atom
// skeleton first and setting the hydrogens on its outside.
//
// The centres at risk are tetrahedral atoms inside the skeleton (two or more
// heavy neighbours): their four bonds start out in one plane. Over a corpus
// of small molecules a plain start folds about one time in eight, a
// skeleton-first start about one time in thirty; with several such centres
// (saturated rings, cages, sugars, long chains) the plain start folds in a
// fifth to nearly all of the runs. Molecules with `skeleton_first_centres`
// or more of them are therefore embedded skeleton first from the first
// attempt on; the others, where the plain start almost never folds and costs
// less, start plain.
//
// Before a new start, a result whose fold has a hydrogen caught between the
// other substituents of its centre (see free_caught_hydrogens) is repaired
// and minimised once more; that halves the new starts over the corpus.
//
// Attempts: up to 10, fewer for large molecules (about 5000 atom-attempts,
// never fewer than 2).
constexpr std::size_t max_attempts = 10;
constexpr std::size_t atom_attempt_budget = 5000;
constexpr std::size_t skeleton_first_centres = 4;

constexpr double bond_tolerance = 0.1;         // Å from the force field's rest length, at rest
constexpr double moving_bond_tolerance = 0.3;  // Å, while the minimisation is still moving
constexpr double angle_tolerance = 0.63;       // rad (36°) from the force field's natural angle
constexpr double min_contact = 1.0;            // Å between atoms neither bonded nor sharing a neighbour

// Bonds a little stretched mean a stalled fold only once the minimisation
// has come to rest; a large molecule may still be moving after its 500
// steps, and a new start would not change that. Bonds far off are faults
// either way.
constexpr double settled_force = 1.0;  // kcal/mol/Å, largest atom force at rest

Vec3 minus(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double length(const Vec3& a) { return std::sqrt(a[0] * a[0] + a[1] * a[1] + a[2] * a[2]); }
Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

struct Quality {
    double bond_strain = 0.0;   // largest |length - rest length| over the force field's bonds, in tolerances
    double angle_strain = 0.0;  // largest |angle - natural angle|, three-membered rings aside
    bool crowded = false;       // two atoms neither bonded nor sharing a neighbour closer than 1 Å

    bool acceptable() const {
        return bond_strain <= 1.0 && angle_strain <= angle_tolerance && !crowded;
    }
    // Fewer faults first, then the smaller strain.
    int faults() const {
        return (bond_strain > 1.0) + (angle_strain > angle_tolerance) + crowded;
    }
    bool better_than(const Quality& o) const {
        if (faults() != o.faults()) return faults() < o.faults();
        return bond_strain + angle_strain / angle_tolerance < o.bond_strain + o.angle_strain / angle_tolerance;
    }
};

Quality assess(const MoleculeTemplate& mol, const forcefield::System& engine) {
    Quality q;
    const auto atoms = engine.atoms();
    for (const auto& b : engine.topology().bonds) {
        const Vec3& p = atoms[b.i].position;
        const Vec3& r = atoms[b.j].position;
        const double d = std::sqrt((p[0] - r[0]) * (p[0] - r[0]) + (p[1] - r[1]) * (p[1] - r[1]) +
                                   (p[2] - r[2]) * (p[2] - r[2]));
        const double strain = std::abs(d - b.c.r0);
        if (!(strain <= q.bond_strain)) q.bond_strain = strain;  // NaN counts as worst
    }
    double largest_force = 0.0;
    for (const auto& a : atoms) {
        const double f = length(a.force);
        if (!(f <= largest_force)) largest_force = f;
    }
    // In units of the tolerance that applies.
    q.bond_strain /= largest_force > settled_force ? moving_bond_tolerance : bond_tolerance;
    // Angles: a centre whose four bonds started out in one plane (an sp3 atom
    // in a chain, its two hydrogens set off along +y and -y) can stay caught
    // with two substituents folded together, which the bond lengths do not
    // show. Angles closing a three-membered ring are rightly far from natural.
    const auto& nl = engine.topology().neighbours;
    for (const auto& t : engine.topology().angles) {
        bool ring3 = false;
        for (const auto k : nl[t.a])
            if (k == t.b) ring3 = true;
        if (ring3) continue;
        const Vec3& c = atoms[t.c].position;
        const Vec3 u = minus(atoms[t.a].position, c), v = minus(atoms[t.b].position, c);
        const double cosine = (u[0] * v[0] + u[1] * v[1] + u[2] * v[2]) / (length(u) * length(v));
        const double theta = std::acos(std::fmax(-1.0, std::fmin(1.0, cosine)));
        const double strain = std::abs(theta - t.k.theta0);
        if (!(strain <= q.angle_strain)) q.angle_strain = strain;
    }
    // Close contacts: the repulsion search of the embedding finds every
    // non-excluded pair between 0.01 and 1.2 Å.
    const vsepr::Model model = vsepr::Model::build(mol.atoms, mol.bonds);
    std::vector<Vec3> p(mol.atoms.size());
    for (std::size_t k = 0; k < p.size(); ++k) p[k] = mol.atoms[k].position;
    vsepr::RepulsionScratch scratch;
    std::vector<vsepr::AtomPair> pairs;
    vsepr::find_repulsion_pairs(model, p, vsepr::PairSearch::Automatic, scratch, pairs);
    for (const auto& [i, j] : pairs) {
        const double dx = p[i][0] - p[j][0], dy = p[i][1] - p[j][1], dz = p[i][2] - p[j][2];
        if (dx * dx + dy * dy + dz * dz < min_contact * min_contact) {
            q.crowded = true;
            break;
        }
    }
    return q;
}

// Tetrahedral heavy atoms (steric number 4) with two or more heavy neighbours.
std::size_t skeleton_centres(const MoleculeTemplate& mol) {
    const std::size_t n = mol.atoms.size();
    std::vector<std::size_t> heavy_neighbours(n, 0);
    for (const auto& b : mol.bonds) {
        if (b.i >= n || b.j >= n) continue;
        if (mol.atoms[b.j].element != "H") ++heavy_neighbours[b.i];
        if (mol.atoms[b.i].element != "H") ++heavy_neighbours[b.j];
    }
    const auto steric = vsepr::steric_numbers(mol.atoms, mol.bonds);
    std::size_t centres = 0;
    for (std::size_t k = 0; k < n; ++k)
        if (mol.atoms[k].element != "H" && heavy_neighbours[k] >= 2 &&
            vsepr::geometry_from_steric_number(steric[k]) == vsepr::Geometry::Tetrahedral)
            ++centres;
    return centres;
}

// VSEPR on the heavy atoms alone, then every hydrogen 1.09 Å from its atom,
// pointing away from the atom's heavy neighbours (spread on a cone when an
// atom carries several), then VSEPR on the whole molecule.
void embed_skeleton_first(MoleculeTemplate& mol, const VseprOptimizer& vsepr) {
    const std::size_t n = mol.atoms.size();
    constexpr std::size_t none = static_cast<std::size_t>(-1);
    std::vector<char> hydrogen(n);
    for (std::size_t k = 0; k < n; ++k) hydrogen[k] = mol.atoms[k].element == "H";

    std::vector<std::size_t> slot(n, none);
    std::vector<Atom> skeleton;
    for (std::size_t k = 0; k < n; ++k)
        if (!hydrogen[k]) {
            slot[k] = skeleton.size();
            skeleton.push_back(mol.atoms[k]);
        }
    std::vector<Bond> skeleton_bonds;
    std::vector<std::vector<std::size_t>> heavy_nb(n), hydrogens(n);
    for (const auto& b : mol.bonds) {
        if (b.i >= n || b.j >= n) continue;
        if (!hydrogen[b.i] && !hydrogen[b.j]) {
            skeleton_bonds.push_back({slot[b.i], slot[b.j], b.order});
            heavy_nb[b.i].push_back(b.j);
            heavy_nb[b.j].push_back(b.i);
        } else if (hydrogen[b.j] && !hydrogen[b.i]) {
            hydrogens[b.i].push_back(b.j);
        } else if (hydrogen[b.i] && !hydrogen[b.j]) {
            hydrogens[b.j].push_back(b.i);
        }
    }
    vsepr.optimize(skeleton, skeleton_bonds);
    for (std::size_t k = 0; k < n; ++k)
        if (!hydrogen[k]) mol.atoms[k].position = skeleton[slot[k]].position;

    constexpr double pi = 3.14159265358979323846;
    constexpr double h_distance = 1.09;
    for (std::size_t k = 0; k < n; ++k) {
        const auto& hs = hydrogens[k];
        if (hs.empty()) continue;
        const Vec3 centre = mol.atoms[k].position;
        Vec3 away{0.0, 0.0, 0.0};
        for (const std::size_t j : heavy_nb[k]) {
            const Vec3 d = minus(centre, mol.atoms[j].position);
            const double l = length(d);
            if (l > 1e-9)
                for (int a = 0; a < 3; ++a) away[a] += d[a] / l;
        }
        const double la = length(away);
        const Vec3 axis = la > 1e-6 ? Vec3{away[0] / la, away[1] / la, away[2] / la} : Vec3{1.0, 0.0, 0.0};
        const Vec3 helper = std::abs(axis[0]) < 0.9 ? Vec3{1.0, 0.0, 0.0} : Vec3{0.0, 1.0, 0.0};
        Vec3 e1 = cross(axis, helper);
        const double l1 = length(e1);
        for (double& c : e1) c /= l1;
        const Vec3 e2 = cross(axis, e1);
        // Two hydrogens on an atom with two heavy neighbours go above and
        // below the plane of the three; otherwise the hydrogens sit on a cone
        // about the axis (tetrahedral opening when there is no heavy neighbour).
        Vec3 plane_normal{0.0, 0.0, 0.0};
        if (hs.size() == 2 && heavy_nb[k].size() >= 2) {
            plane_normal = cross(minus(mol.atoms[heavy_nb[k][0]].position, centre),
                                 minus(mol.atoms[heavy_nb[k][1]].position, centre));
            const double lp = length(plane_normal);
            if (lp > 1e-9)
                for (double& c : plane_normal) c /= lp;
            else
                plane_normal = {0.0, 0.0, 0.0};
        }
        const bool bare = heavy_nb[k].empty();
        const double opening = hs.size() == 1 ? 0.0 : bare ? 1.9106332362490186 : 1.2;
        for (std::size_t j = 0; j < hs.size(); ++j) {
            Vec3 dir;
            if (length(plane_normal) > 0.0) {
                const double side = j == 0 ? 1.0 : -1.0;
                for (int a = 0; a < 3; ++a) dir[a] = 0.58 * axis[a] + 0.81 * side * plane_normal[a];
            } else if (bare && j == 0) {
                dir = axis;
            } else {
                const double phi = 2.0 * pi * static_cast<double>(j) / static_cast<double>(hs.size());
                for (int a = 0; a < 3; ++a)
                    dir[a] = std::cos(opening) * axis[a] +
                             std::sin(opening) * (std::cos(phi) * e1[a] + std::sin(phi) * e2[a]);
            }
            const double ld = length(dir);
            for (int a = 0; a < 3; ++a) mol.atoms[hs[j]].position[a] = centre[a] + h_distance * dir[a] / ld;
        }
    }
    vsepr.optimize(mol.atoms, mol.bonds);
}

}  // namespace

bool free_caught_hydrogens(MoleculeTemplate& mol, const forcefield::System& engine) {
    const auto atoms = engine.atoms();
    const auto& nl = engine.topology().neighbours;
    std::vector<char> moved(mol.atoms.size(), 0);
    bool any = false;
    for (const auto& t : engine.topology().angles) {
        const Vec3& c = atoms[t.c].position;
        const Vec3 u = minus(atoms[t.a].position, c), v = minus(atoms[t.b].position, c);
        const double cosine = (u[0] * v[0] + u[1] * v[1] + u[2] * v[2]) / (length(u) * length(v));
        const double theta = std::acos(std::fmax(-1.0, std::fmin(1.0, cosine)));
        if (!(std::abs(theta - t.k.theta0) > angle_tolerance) || nl[t.c].size() != 4) continue;
        for (const std::size_t h : {static_cast<std::size_t>(t.a), static_cast<std::size_t>(t.b)}) {
            if (mol.atoms[h].element != "H" || nl[h].size() != 1 || moved[h]) continue;
            Vec3 sum{0.0, 0.0, 0.0};
            for (const auto k : nl[t.c]) {
                if (k == h) continue;
                const Vec3 d = minus(atoms[k].position, c);
                const double l = length(d);
                if (l > 1e-9)
                    for (int a = 0; a < 3; ++a) sum[a] += d[a] / l;
            }
            const double ls = length(sum);
            if (!(ls > 1e-6)) continue;
            for (int a = 0; a < 3; ++a) mol.atoms[h].position[a] = c[a] - 1.09 * sum[a] / ls;
            moved[h] = 1;
            any = true;
        }
    }
    return any;
}

Result<MoleculeTemplate> parse_smiles(std::string_view smiles) {
    const forcefield::UffOptimizer settings = smiles_relax_settings();
    std::optional<MoleculeTemplate> best;
    Quality best_quality;
    std::size_t attempts = max_attempts;
    bool plain_start = true;
    for (std::size_t attempt = 0; attempt < attempts; ++attempt) {
        auto built = parse_smiles_with_hydrogens(smiles);
        if (!built) return built;
        if (attempt == 0) {
            const std::size_t n = std::max<std::size_t>(built->atoms.size(), 1);
            attempts = std::clamp<std::size_t>(atom_attempt_budget / n, 2, max_attempts);
            plain_start = skeleton_centres(*built) < skeleton_first_centres;
        }
        MoleculeTemplate& mol = *built;
        const VseprOptimizer vsepr{1500, 0.15};
        if (attempt == 0 && plain_start)
            vsepr.optimize(mol.atoms, mol.bonds);
        else
            embed_skeleton_first(mol, vsepr);
        // The bonds name atoms of the template, so the conversion succeeds, and
        // automatic threading builds no private pool, so the minimisation does.
        auto engine = as_uff_system(mol);
        if (!engine) return built;
        (void)settings.optimize(*engine);
        const auto relaxed = engine->atoms();
        for (std::size_t k = 0; k < mol.atoms.size(); ++k) mol.atoms[k].position = relaxed[k].position;
        Quality q = assess(mol, *engine);
        if (!q.acceptable()) {
            // Free caught hydrogens and minimise once more; keep whichever is better.
            const std::vector<Atom> kept = mol.atoms;
            if (free_caught_hydrogens(mol, *engine)) {
                auto again = as_uff_system(mol);
                Quality r = q;
                if (again) {
                    (void)settings.optimize(*again);
                    const auto freed = again->atoms();
                    for (std::size_t k = 0; k < mol.atoms.size(); ++k) mol.atoms[k].position = freed[k].position;
                    r = assess(mol, *again);
                }
                if (again && r.better_than(q))
                    q = r;
                else
                    mol.atoms = kept;
            }
        }
        if (q.acceptable()) return built;
        if (!best || q.better_than(best_quality)) {
            best = std::move(mol);
            best_quality = q;
        }
    }
    return std::move(*best);
}

}  // namespace zelt
