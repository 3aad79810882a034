#include "io/mol.hpp"

#include <cmath>
#include <initializer_list>

#include <fmt/format.h>

#include "core/parse.hpp"
#include "core/text.hpp"

namespace zelt {
namespace {

constexpr std::string_view v3000_message = "V3000 is not supported yet, please use V2000";

// Columns a to b (1-based, both included) of the line; the caller has checked
// that the line is long enough and that the cuts fall between characters.
std::string_view columns(std::string_view line, std::size_t a, std::size_t b) {
    return line.substr(a - 1, b - a + 1);
}

bool cuts_between_characters(std::string_view line, std::initializer_list<std::size_t> cuts) {
    for (const std::size_t c : cuts)
        if (c <= line.size() && !text::is_char_boundary(line, c)) return false;
    return true;
}

// Unsigned count or atom number; anything unreadable counts as 0.
std::uint64_t lenient_u64(std::string_view field) {
    const auto r = parse::u64(text::trim(field));
    return r.ok() ? *r : 0;
}

}  // namespace

Result<MoleculeTemplate> parse_mol(std::string_view input) {
    if (const std::size_t end = input.find("$$$$"); end != std::string_view::npos) input = input.substr(0, end);
    const auto lines = text::lines(input);

    const std::string name(lines.empty() ? std::string_view{} : text::trim(lines[0]));

    const std::string_view counts = lines.size() > 3 ? lines[3] : std::string_view{};
    if (counts.size() < 6) {
        if (counts == "V3000") return fail(std::string(v3000_message));
        return fail(fmt::format("Invalid MOL counts line: '{}'", counts));
    }
    if (counts.find("V3000") != std::string_view::npos) return fail(std::string(v3000_message));
    if (!cuts_between_characters(counts, {3, 6})) return fail(fmt::format("Invalid MOL counts line: '{}'", counts));
    const std::uint64_t atom_count = lenient_u64(columns(counts, 1, 3));
    const std::uint64_t bond_count = lenient_u64(columns(counts, 4, 6));

    MoleculeTemplate mol;
    std::size_t next = 4;
    for (std::uint64_t k = 0; k < atom_count; ++k, ++next) {
        if (next >= lines.size()) return fail("Unexpected EOF in atoms block");
        const std::string_view line = lines[next];
        if (line.size() < 34) continue;
        if (!cuts_between_characters(line, {10, 20, 30, 31, 34}))
            return fail(fmt::format("Invalid MOL atom line {}: its columns split a multi-byte character: '{}'",
                                    next + 1, line));
        Atom atom;
        atom.residue_name = name;
        for (int axis = 0; axis < 3; ++axis) {
            const auto v = parse::f64(text::trim(columns(line, 1 + 10 * axis, 10 + 10 * axis)));
            if (!v.ok()) return v.error();
            atom.position[axis] = *v;
        }
        atom.element = std::string(text::trim(columns(line, 32, 34)));
        atom.atom_type = "XX";
        atom.index = k;
        mol.atoms.push_back(std::move(atom));
    }

    for (std::uint64_t k = 0; k < bond_count; ++k, ++next) {
        if (next >= lines.size()) return fail("Unexpected EOF in bonds block");
        const std::string_view line = lines[next];
        if (line.size() <= 5) continue;
        if (!cuts_between_characters(line, {3, 6, 9}))
            return fail(fmt::format("Invalid MOL bond line {}: its columns split a multi-byte character: '{}'",
                                    next + 1, line));
        const std::uint64_t first = lenient_u64(columns(line, 1, 3));
        const std::uint64_t second = lenient_u64(columns(line, 4, 6));
        double order = 1.0;
        if (line.size() >= 9) {
            // A bond type that is not a finite number counts as single.
            const auto v = parse::f64(text::trim(columns(line, 7, 9)));
            if (v.ok() && std::isfinite(*v)) order = *v;
        }
        if (first == 0 || second == 0) continue;
        for (const std::uint64_t id : {first, second})
            if (id > mol.atoms.size())
                return fail(fmt::format("bond on line {} ('{}') refers to atom {}, but only {} atoms were read",
                                        next + 1, line, id, mol.atoms.size()));
        mol.bonds.push_back(Bond{first - 1, second - 1, order});
    }
    return mol;
}

}  // namespace zelt
