#include "io/mol2.hpp"

#include <cmath>

#include <fmt/format.h>

#include "core/parse.hpp"
#include "core/text.hpp"

namespace zelt {
namespace {

constexpr std::string_view section_prefix = "@<TRIPOS>";
constexpr double deg_to_rad = 0.017453292519943295;
constexpr double rad_to_deg = 57.29577951308232;

double bond_order_from_type(std::string_view type) {
    if (type == "1") return 1.0;
    if (type == "2") return 2.0;
    if (type == "3") return 3.0;
    if (type == "ar" || type == "am") return 1.5;
    return 1.0;
}

const char* bond_type_text(double order) {
    if (std::abs(order - 1.5) < 0.1) return "ar";
    if (std::abs(order - 2.0) < 0.1) return "2";
    if (std::abs(order - 3.0) < 0.1) return "3";
    return "1";
}

double norm(const Vec3& v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

double angle_deg(const Vec3& u, const Vec3& v) {
    const double dot = u[0] * v[0] + u[1] * v[1] + u[2] * v[2];
    return std::acos(dot / (norm(u) * norm(v))) * rad_to_deg;
}

struct BondLine {
    std::size_t line_no;
    std::string text;
    std::uint64_t id_i, id_j;
};

// cos(90°) in floating point is 6e-17, not 0: a right angle written as 90
// must give an exactly orthogonal cell, or atoms on a face would not wrap and
// a cube read back would not be a cube.
double cos_deg(double angle) { return angle == 90.0 ? 0.0 : std::cos(angle * deg_to_rad); }
double sin_deg(double angle) { return angle == 90.0 ? 1.0 : std::sin(angle * deg_to_rad); }

}  // namespace

Mat3 cell_from_parameters(double a, double b, double c, double alpha, double beta, double gamma) {
    const double ca = cos_deg(alpha), cb = cos_deg(beta);
    const double cg = cos_deg(gamma), sg = sin_deg(gamma);
    Mat3 m{};
    m[0] = {a, 0.0, 0.0};
    m[1] = {b * cg, b * sg, 0.0};
    const double cx = c * cb;
    const double cy = c * (ca - cb * cg) / sg;
    m[2] = {cx, cy, std::sqrt(c * c - cx * cx - cy * cy)};
    return m;
}

Result<Mol2Data> parse_mol2_internal(std::string_view input) {
    Mol2Data data;
    std::string section;
    bool in_section = false;
    std::vector<BondLine> bond_lines;
    const auto all_lines = text::lines(input);

    for (std::size_t n = 0; n < all_lines.size(); ++n) {
        const std::string_view line = text::trim(all_lines[n]);
        if (line.empty() || line.front() == '#') continue;
        if (line.size() > 8 && line.substr(0, section_prefix.size()) == section_prefix) {
            section = std::string(line.substr(section_prefix.size()));
            in_section = true;
            continue;
        }
        if (!in_section) continue;

        if (section == "MOLECULE") {
            if (data.name.empty()) data.name = std::string(line);
        } else if (section == "ATOM") {
            const auto tok = text::split_whitespace(line);
            if (tok.size() < 6) continue;
            auto id = parse::u64(tok[0]);
            if (!id) return id.error();
            Atom atom;
            atom.residue_name = data.name;
            atom.index = *id - 1;  // wraps for id 0
            for (int k = 0; k < 3; ++k) {
                auto x = parse::f64(tok[2 + k]);
                if (!x) return x.error();
                atom.position[k] = *x;
            }
            atom.atom_type = std::string(tok[5]);
            const auto dot = tok[5].find('.');
            atom.element = std::string(dot == std::string_view::npos ? tok[5] : tok[5].substr(0, dot));
            if (tok.size() >= 9) {
                auto q = parse::f64(tok[8]);
                atom.charge = q ? *q : 0.0;
            }
            data.atoms.push_back(std::move(atom));
        } else if (section == "BOND") {
            const auto tok = text::split_whitespace(line);
            if (tok.size() < 4) continue;
            auto a = parse::u64(tok[1]);
            if (!a) return a.error();
            auto b = parse::u64(tok[2]);
            if (!b) return b.error();
            data.bonds.push_back(Bond{*a - 1, *b - 1, bond_order_from_type(tok[3])});
            bond_lines.push_back(BondLine{n + 1, std::string(line), *a, *b});
        } else if (section == "CRYSIN") {
            const auto tok = text::split_whitespace(line);
            if (tok.size() < 6) continue;
            double p[6];
            for (int k = 0; k < 6; ++k) {
                auto v = parse::f64(tok[k]);
                if (!v) return v.error();
                p[k] = *v;
            }
            data.cell = cell_from_parameters(p[0], p[1], p[2], p[3], p[4], p[5]);
        }
    }

    // A bond must name atoms that exist: later operations index the atom
    // array with these numbers.
    const std::uint64_t count = data.atoms.size();
    for (const auto& bl : bond_lines) {
        for (const std::uint64_t id : {bl.id_i, bl.id_j}) {
            if (id == 0 || id > count)
                return fail(fmt::format("bond on line {} ('{}') refers to atom {}, but the file has {} atoms",
                                        bl.line_no, bl.text, id, count));
        }
    }
    return data;
}

Result<MoleculeTemplate> parse_mol2(std::string_view text) {
    auto data = parse_mol2_internal(text);
    if (!data) return data.error();
    return MoleculeTemplate{std::move(data->atoms), std::move(data->bonds)};
}

Result<System> parse_mol2_as_system(std::string_view text) {
    auto data = parse_mol2_internal(text);
    if (!data) return data.error();
    System sys = System::from_cell(data->cell ? *data->cell : cubic_cell(20.0));
    sys.atoms = std::move(data->atoms);
    sys.bonds = std::move(data->bonds);
    return sys;
}

std::string write_mol2(const System& system) {
    std::string out;
    out.reserve(128 + 80 * system.atoms.size() + 32 * system.bonds.size());
    auto it = std::back_inserter(out);
    out += "@<TRIPOS>MOLECULE\nZELT_System\n";
    fmt::format_to(it, "{:>5} {:>5} {:>5} {:>5} {:>5}\n", system.atoms.size(), system.bonds.size(), 1, 0, 0);
    out += "SMALL\nUSER_CHARGES\n\n@<TRIPOS>ATOM\n";
    for (const auto& a : system.atoms) {
        const std::string& type = a.atom_type == "XX" ? a.element : a.atom_type;
        fmt::format_to(it, "{:>7} {} {} {} {} {} {:>5} {} {}\n", a.index + 1, text::pad_left_aligned(a.element, 8),
                       text::fixed(a.position[0], 4, 10), text::fixed(a.position[1], 4, 10),
                       text::fixed(a.position[2], 4, 10), text::pad_left_aligned(type, 8), 1,
                       text::pad_left_aligned("RES", 8), text::fixed(a.charge, 4, 10));
    }
    out += "@<TRIPOS>BOND\n";
    for (std::size_t k = 0; k < system.bonds.size(); ++k) {
        const auto& b = system.bonds[k];
        fmt::format_to(it, "{:>6} {:>6} {:>6} {:>3}\n", k + 1, b.i + 1, b.j + 1, bond_type_text(b.order));
    }
    out += "@<TRIPOS>CRYSIN\n";
    const auto& m = system.cell;
    fmt::format_to(it, "{} {} {} {} {} {} 1 1\n", text::fixed(norm(m[0]), 4, 10), text::fixed(norm(m[1]), 4, 10),
                   text::fixed(norm(m[2]), 4, 10), text::fixed(angle_deg(m[1], m[2]), 4, 10),
                   text::fixed(angle_deg(m[0], m[2]), 4, 10), text::fixed(angle_deg(m[0], m[1]), 4, 10));
    return out;
}

}  // namespace zelt
