#include "smiles/template.hpp"

#include <bit>
#include <cmath>
#include <limits>
#include <variant>

#include <fmt/format.h>

#include "core/random.hpp"
#include "smiles/reader.hpp"

namespace zelt {
namespace {

constexpr double heavy_spacing = 1.5;     // Å along x between consecutive heavy atoms
constexpr double heavy_jitter = 0.3;      // y and z uniform in [-0.3, 0.3)
constexpr double hydrogen_distance = 1.1;  // Å from the atom carrying it
constexpr double hydrogen_jitter = 0.1;   // per axis, uniform in [-0.1, 0.1)

double bond_order(smiles::BondKind kind, bool both_aromatic) {
    using smiles::BondKind;
    switch (kind) {
        case BondKind::Elided: return both_aromatic ? 1.5 : 1.0;
        case BondKind::Double: return 2.0;
        case BondKind::Triple: return 3.0;
        case BondKind::Aromatic: return 1.5;
        case BondKind::Single:
        case BondKind::Quadruple:
        case BondKind::Up:
        case BondKind::Down: return 1.0;
    }
    return 1.0;
}

std::string element_of(const smiles::GraphAtom& atom) {
    switch (atom.kind) {
        case smiles::AtomKind::Star: return "R";
        case smiles::AtomKind::Bracket: return "X";
        case smiles::AtomKind::Aliphatic: return atom.symbol;
        case smiles::AtomKind::Aromatic: {
            std::string s = atom.symbol;
            if (!s.empty() && s[0] >= 'a' && s[0] <= 'z') s[0] = static_cast<char>(s[0] - 'a' + 'A');
            return s;
        }
    }
    return "X";
}

// Nearest integer, halves away from zero, saturated to 32 bits; NaN gives 0.
std::int32_t round_to_i32(double x) {
    if (std::isnan(x)) return 0;
    const double r = std::round(x);
    if (r >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (r <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(r);
}

Atom make_atom(std::string element, std::uint64_t index, const Vec3& position) {
    Atom a;
    a.residue_name = "MOL";
    a.atom_type = element;
    a.element = std::move(element);
    a.index = index;
    a.residue_id = 0;
    a.position = position;
    a.charge = 0.0;
    a.component_id = 0;
    return a;
}

}  // namespace

namespace smiles {

double uniform(std::mt19937_64& rng, double low, double high) {
    const double scale = high - low;
    for (;;) {
        const std::uint64_t bits = (rng() >> 12) | 0x3FF0000000000000ULL;
        const double unit = std::bit_cast<double>(bits) - 1.0;  // [0, 1)
        const double v = unit * scale + low;
        if (v < high) return v;
    }
}

}  // namespace smiles

int hydrogen_valence(std::string_view element) {
    std::string up(element);
    for (char& c : up)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (up == "C") return 4;
    if (up == "N" || up == "P") return 3;
    if (up == "O" || up == "S") return 2;
    if (up == "F" || up == "CL" || up == "BR" || up == "I" || up == "H") return 1;
    return 0;
}

Result<MoleculeTemplate> parse_smiles_with_hydrogens(std::string_view text) {
    auto read = smiles::read(text);
    if (auto* failure = std::get_if<smiles::ReadFailure>(&read)) {
        if (failure->kind == smiles::FailureKind::Reading)
            return fail(fmt::format("Failed to parse SMILES '{}': {}", text, failure->description));
        return fail(fmt::format("Failed to build graph: {}", failure->description));
    }
    const smiles::AtomGraph& graph = std::get<smiles::AtomGraph>(read);
    auto& rng = thread_rng();

    MoleculeTemplate mol;
    const std::size_t n = graph.atoms.size();
    mol.atoms.reserve(n);
    std::vector<char> aromatic(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const double y = smiles::uniform(rng, -heavy_jitter, heavy_jitter);
        const double z = smiles::uniform(rng, -heavy_jitter, heavy_jitter);
        mol.atoms.push_back(make_atom(element_of(graph.atoms[i]), i, {heavy_spacing * static_cast<double>(i), y, z}));
        aromatic[i] = graph.atoms[i].kind == smiles::AtomKind::Aromatic;
    }

    for (std::size_t j = 0; j < n; ++j)
        for (const auto& b : graph.atoms[j].bonds)
            if (j < b.partner)
                mol.bonds.push_back(Bond{j, b.partner, bond_order(b.kind, aromatic[j] && aromatic[b.partner])});

    // Sum of bond orders per atom, added in bond-list order.
    std::vector<double> order_sum(n, 0.0);
    for (const auto& b : mol.bonds) {
        order_sum[b.i] += b.order;
        if (b.j != b.i) order_sum[b.j] += b.order;
    }

    static constexpr Vec3 offsets[4] = {
        {0.0, hydrogen_distance, 0.0}, {0.0, -hydrogen_distance, 0.0},
        {0.0, 0.0, hydrogen_distance}, {0.0, 0.0, -hydrogen_distance}};
    for (std::size_t k = 0; k < n; ++k) {
        if (mol.atoms[k].element == "R") continue;
        const double v = hydrogen_valence(mol.atoms[k].element);
        const std::int32_t h = round_to_i32(v - order_sum[k]);
        for (std::int32_t j = 0; j < h; ++j) {
            const double ex = smiles::uniform(rng, -hydrogen_jitter, hydrogen_jitter);
            const double ey = smiles::uniform(rng, -hydrogen_jitter, hydrogen_jitter);
            const double ez = smiles::uniform(rng, -hydrogen_jitter, hydrogen_jitter);
            const Vec3& base = mol.atoms[k].position;
            const Vec3& off = offsets[j % 4];
            const Vec3 p{base[0] + off[0] + ex, base[1] + off[1] + ey, base[2] + off[2] + ez};
            const std::size_t index = mol.atoms.size();
            mol.atoms.push_back(make_atom("H", index, p));
            mol.bonds.push_back(Bond{k, index, 1.0});
        }
    }
    return mol;
}

}  // namespace zelt
