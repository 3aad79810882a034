// MOL2 text: a tolerant reader and a fixed-layout writer.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.hpp"
#include "core/result.hpp"

namespace zelt {

struct Mol2Data {
    std::optional<Mat3> cell;  // from the last usable CRYSIN line
    std::string name;          // empty until a MOLECULE section gives one
    std::vector<Atom> atoms;
    std::vector<Bond> bonds;
};

// The reader proper. Understands MOLECULE, ATOM, BOND and CRYSIN; ignores
// other sections and lines it cannot use; fails on unparsable numbers and on
// bonds that name no atom read.
Result<Mol2Data> parse_mol2_internal(std::string_view text);

// Atoms and bonds only.
Result<MoleculeTemplate> parse_mol2(std::string_view text);

// A system with the cell read, or the 20 Å cube when the text has none.
Result<System> parse_mol2_as_system(std::string_view text);

// Cell matrix (a along x, b in the xy plane) from lengths and angles in degrees.
Mat3 cell_from_parameters(double a, double b, double c, double alpha, double beta, double gamma);

std::string write_mol2(const System& system);

}  // namespace zelt
