#include "build/polymer.hpp"

#include <cmath>

#include <fmt/format.h>

namespace zelt {
namespace {

constexpr double junction_length = 1.54;  // Å, C-C single bond
constexpr std::uint64_t none = UINT64_MAX;

bool is(std::optional<std::uint64_t> given, std::uint64_t a) { return given && *given == a; }

}  // namespace

Result<MoleculeTemplate> generate_chain(const MoleculeTemplate& unit, const PolymerParams& params) {
    const std::uint64_t w = unit.atoms.size();
    if (w == 0) return fail("Repeat unit has no atoms");
    const std::uint64_t head = params.head_index.value_or(0);
    const std::uint64_t tail = params.tail_index.value_or(w - 1);
    if (head >= w) return fail(fmt::format("Head index {} is out of range for a repeat unit of {} atoms", head, w));
    if (tail >= w) return fail(fmt::format("Tail index {} is out of range for a repeat unit of {} atoms", tail, w));
    for (const auto& b : unit.bonds)
        if (b.i >= w || b.j >= w)
            return fail(fmt::format("Repeat unit bond ({}, {}) names an atom beyond its {} atoms", b.i, b.j, w));

    const Vec3& ph = unit.atoms[head].position;
    const Vec3& pt = unit.atoms[tail].position;
    const Vec3 d{pt[0] - ph[0], pt[1] - ph[1], pt[2] - ph[2]};
    const double r = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    Vec3 step;
    if (r >= 0.1) {
        const double f = 1.0 + junction_length / r;
        step = {d[0] * f, d[1] * f, d[2] * f};
    } else {
        // Head and tail (nearly) coincide, or the distance is not a number:
        // step along x only.
        step = {junction_length, d[1], d[2]};
    }

    MoleculeTemplate chain;
    if (params.degree == 0) return chain;
    const std::uint64_t last = params.degree - 1;
    chain.atoms.reserve(params.degree * w);
    chain.bonds.reserve(params.degree * (unit.bonds.size() + 1));

    std::vector<std::uint64_t> map(w, none), previous(w, none);
    std::uint64_t n = 0;
    for (std::uint64_t i = 0; i <= last; ++i) {
        std::fill(map.begin(), map.end(), none);
        const double o[3] = {step[0] * static_cast<double>(i), step[1] * static_cast<double>(i),
                             step[2] * static_cast<double>(i)};
        for (std::uint64_t a = 0; a < w; ++a) {
            const Atom& src = unit.atoms[a];
            bool cap = false;
            if (src.element == "R") {
                cap = (i == 0 && (is(params.head_index, a) || is(params.head_leaving_index, a))) ||
                      (i == last && (is(params.tail_index, a) || is(params.tail_leaving_index, a)));
                if (!cap) continue;
            } else if ((i > 0 && is(params.head_leaving_index, a)) || (i < last && is(params.tail_leaving_index, a))) {
                continue;
            }
            Atom atom = src;
            if (cap) {
                atom.element = "H";
                atom.atom_type = "H";
            }
            atom.index = n;
            atom.residue_id = i + 1;
            for (int k = 0; k < 3; ++k) atom.position[k] = src.position[k] + o[k];
            chain.atoms.push_back(std::move(atom));
            map[a] = n++;
        }
        for (const auto& b : unit.bonds)
            if (map[b.i] != none && map[b.j] != none) chain.bonds.push_back(Bond{map[b.i], map[b.j], b.order});
        if (i > 0 && previous[tail] != none && map[head] != none)
            chain.bonds.push_back(Bond{previous[tail], map[head], 1.0});
        std::swap(map, previous);
    }
    return chain;
}

}  // namespace zelt
