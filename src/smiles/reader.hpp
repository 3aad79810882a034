// The SMILES reader: OpenSMILES text -> atom graph with ring closures resolved.
//
// The whole syntax is read (organic-subset, aromatic and bracket atoms with
// isotope, symbol, chirality, hydrogen count, charge and class; every bond
// symbol; branches; ring closures with digits and "%nn"; the dot), but the
// graph keeps only what the molecule builder uses: each atom's kind and
// organic symbol, and each atom's bonds with their kinds. Bracket contents
// are checked and then dropped.
//
// The reader is a loop over the text with an explicit branch stack, so deep
// nesting and long input cannot exhaust the call stack; it never looks past
// the end of the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zelt::smiles {

enum class AtomKind : std::uint8_t {
    Star,       // "*" outside brackets
    Aliphatic,  // organic subset, upper case: B C N O S P F Cl Br I At Ts
    Aromatic,   // organic subset, lower case: b c n o p s
    Bracket,    // anything in square brackets
};

enum class BondKind : std::uint8_t {
    Elided,     // no bond symbol written
    Single,     // -
    Double,     // =
    Triple,     // #
    Quadruple,  // $
    Aromatic,   // :
    Up,         // /
    Down,       // backslash
};

struct GraphBond {
    std::size_t partner = 0;
    BondKind kind = BondKind::Elided;

    bool operator==(const GraphBond&) const = default;
};

struct GraphAtom {
    AtomKind kind = AtomKind::Star;
    std::string symbol;            // as written for aliphatic and aromatic atoms, else empty
    std::vector<GraphBond> bonds;  // every bond is listed by both of its atoms
};

// Atoms in order of appearance in the text; an atom's position is its index.
// An atom's bonds are listed in the order in which they are written: the bond
// to the preceding atom, then its ring bonds, then branches and the chain.
struct AtomGraph {
    std::vector<GraphAtom> atoms;
};

enum class FailureKind : std::uint8_t {
    Reading,  // the text breaks the grammar: "EndOfLine" or "Character(n)"
    Graph,    // ring closures do not resolve: "Rnum(n)" or "Join(a, b)"
};

// "EndOfLine": the text ends where more is required.
// "Character(n)": the character at 0-based position n (counted in characters)
//     is not allowed where it stands.
// "Rnum(n)": ring-closure number n is opened and never closed.
// "Join(a, b)": the ring closure between atoms a and b cannot be made: its bond
//     is written differently on the two sides, it would bond an atom to itself,
//     or the two atoms are already bonded.
// A text that breaks the grammar is a reading failure even when it also holds
// an unresolvable ring closure.
struct ReadFailure {
    FailureKind kind = FailureKind::Reading;
    std::string description;

    bool operator==(const ReadFailure&) const = default;
};

using ReadResult = std::variant<AtomGraph, ReadFailure>;

ReadResult read(std::string_view text);

}  // namespace zelt::smiles
