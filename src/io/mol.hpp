// MOL (V2000) text, also the first record of an SD file: a fixed-column reader.
#pragma once

#include <string_view>

#include "core/records.hpp"
#include "core/result.hpp"

namespace zelt {

// Reads the header, the counts line, the atom block and the bond block by
// byte columns; everything after the bond block is ignored. Atoms take the
// name line as residue name, "XX" as type and their line number in the atom
// block as index (atom lines shorter than 34 bytes are skipped but keep
// their number). Messages: "Invalid MOL counts line: '{}'", "V3000 is not
// supported yet, please use V2000", "Unexpected EOF in atoms block",
// "Unexpected EOF in bonds block", the coordinate's float parse message; a
// line whose columns would split a multi-byte character, and a bond naming
// an atom that was not read, are refused as well.
Result<MoleculeTemplate> parse_mol(std::string_view text);

}  // namespace zelt
