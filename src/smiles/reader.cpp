#include "smiles/reader.hpp"

#include <array>
#include <optional>

#include <fmt/format.h>

namespace zelt::smiles {
namespace {

// Element symbols allowed in brackets (all 118 elements).
constexpr std::array<std::string_view, 118> element_symbols{
    "H",  "He", "Li", "Be", "B",  "C",  "N",  "O",  "F",  "Ne", "Na", "Mg", "Al", "Si", "P",  "S",  "Cl",
    "Ar", "K",  "Ca", "Sc", "Ti", "V",  "Cr", "Mn", "Fe", "Co", "Ni", "Cu", "Zn", "Ga", "Ge", "As", "Se",
    "Br", "Kr", "Rb", "Sr", "Y",  "Zr", "Nb", "Mo", "Tc", "Ru", "Rh", "Pd", "Ag", "Cd", "In", "Sn", "Sb",
    "Te", "I",  "Xe", "Cs", "Ba", "La", "Ce", "Pr", "Nd", "Pm", "Sm", "Eu", "Gd", "Tb", "Dy", "Ho", "Er",
    "Tm", "Yb", "Lu", "Hf", "Ta", "W",  "Re", "Os", "Ir", "Pt", "Au", "Hg", "Tl", "Pb", "Bi", "Po", "At",
    "Rn", "Fr", "Ra", "Ac", "Th", "Pa", "U",  "Np", "Pu", "Am", "Cm", "Bk", "Cf", "Es", "Fm", "Md", "No",
    "Lr", "Rf", "Db", "Sg", "Bh", "Hs", "Mt", "Ds", "Rg", "Cn", "Nh", "Fl", "Mc", "Lv", "Ts", "Og",
};

bool is_element_symbol(std::string_view s) {
    for (const auto e : element_symbols)
        if (e == s) return true;
    return false;
}

bool starts_two_letter_symbol(int c) {
    for (const auto e : element_symbols)
        if (e.size() == 2 && e[0] == c) return true;
    return false;
}

bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool is_upper(int c) { return c >= 'A' && c <= 'Z'; }
bool is_lower(int c) { return c >= 'a' && c <= 'z'; }

std::optional<BondKind> bond_kind(int c) {
    switch (c) {
        case '-': return BondKind::Single;
        case '=': return BondKind::Double;
        case '#': return BondKind::Triple;
        case '$': return BondKind::Quadruple;
        case ':': return BondKind::Aromatic;
        case '/': return BondKind::Up;
        case '\\': return BondKind::Down;
        default: return std::nullopt;
    }
}

// Characters that can start an atom outside brackets.
bool starts_atom(int c) {
    switch (c) {
        case '[': case '*':
        case 'B': case 'C': case 'N': case 'O': case 'S': case 'P': case 'F': case 'I': case 'A': case 'T':
        case 'b': case 'c': case 'n': case 'o': case 'p': case 's':
            return true;
        default:
            return false;
    }
}

struct OpenRing {
    bool open = false;
    std::size_t atom = 0;
    BondKind kind = BondKind::Elided;
    std::size_t slot = 0;      // position of the placeholder in the atom's bond list
    std::uint64_t opened = 0;  // sequence number, to report the earliest ring left open
};

// A graph failure noted while reading goes on (a reading failure found later wins).
struct Failure {
    bool set = false;
    ReadFailure value;
};

class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    ReadResult run() {
        if (!read_all()) return reading_;
        if (join_.set) return join_.value;
        const OpenRing* first = nullptr;
        std::size_t number = 0;
        for (std::size_t r = 0; r < rings_.size(); ++r)
            if (rings_[r].open && (!first || rings_[r].opened < first->opened)) {
                first = &rings_[r];
                number = r;
            }
        if (first) return ReadFailure{FailureKind::Graph, fmt::format("Rnum({})", number)};
        return std::move(graph_);
    }

private:
    enum class State { NeedAtom, BranchOpen, AfterAtom };

    int peek(std::size_t ahead = 0) const {
        const std::size_t p = pos_ + ahead;
        return p < text_.size() ? static_cast<unsigned char>(text_[p]) : -1;
    }
    bool at_end() const { return pos_ >= text_.size(); }

    // Reading failures. Positions count characters, not bytes.
    bool end_of_line() {
        reading_ = ReadFailure{FailureKind::Reading, "EndOfLine"};
        return false;
    }
    bool character() {
        if (at_end()) return end_of_line();
        std::size_t chars = 0;
        for (std::size_t i = 0; i < pos_; ++i)
            if ((static_cast<unsigned char>(text_[i]) & 0xC0) != 0x80) ++chars;
        reading_ = ReadFailure{FailureKind::Reading, fmt::format("Character({})", chars)};
        return false;
    }

    bool read_all() {
        State state = State::NeedAtom;
        bool rings_allowed = false;  // ring bonds follow the atom directly, before any branch
        for (;;) {
            switch (state) {
                case State::NeedAtom: {
                    if (at_end()) return end_of_line();
                    if (!starts_atom(peek())) return character();
                    if (!read_atom()) return false;
                    state = State::AfterAtom;
                    rings_allowed = true;
                    break;
                }
                case State::BranchOpen: {
                    if (at_end()) return end_of_line();
                    if (const auto k = bond_kind(peek())) {
                        pending_ = *k;
                        ++pos_;
                    } else if (peek() == '.') {
                        has_prev_ = false;
                        ++pos_;
                    }
                    state = State::NeedAtom;
                    break;
                }
                case State::AfterAtom: {
                    if (at_end()) return branches_.empty() ? true : end_of_line();
                    const int c = peek();
                    if (is_digit(c) || c == '%') {
                        if (!rings_allowed) return character();
                        if (!read_ring_bond(BondKind::Elided)) return false;
                    } else if (const auto k = bond_kind(c)) {
                        ++pos_;
                        if (at_end()) return end_of_line();
                        if (rings_allowed && (is_digit(peek()) || peek() == '%')) {
                            if (!read_ring_bond(*k)) return false;
                        } else {
                            pending_ = *k;
                            state = State::NeedAtom;
                        }
                    } else if (c == '(') {
                        branches_.push_back(prev_);
                        ++pos_;
                        state = State::BranchOpen;
                    } else if (c == ')') {
                        if (branches_.empty()) return character();
                        prev_ = branches_.back();
                        has_prev_ = true;
                        branches_.pop_back();
                        ++pos_;
                        rings_allowed = false;
                    } else if (c == '.') {
                        has_prev_ = false;
                        ++pos_;
                        state = State::NeedAtom;
                    } else if (starts_atom(c)) {
                        state = State::NeedAtom;
                    } else {
                        return character();
                    }
                    break;
                }
            }
        }
    }

    void add_atom(AtomKind kind, std::string_view symbol) {
        const std::size_t index = graph_.atoms.size();
        graph_.atoms.push_back(GraphAtom{kind, std::string(symbol), {}});
        if (has_prev_) {
            graph_.atoms[prev_].bonds.push_back({index, pending_});
            graph_.atoms[index].bonds.push_back({prev_, pending_});
        }
        pending_ = BondKind::Elided;
        prev_ = index;
        has_prev_ = true;
    }

    bool read_atom() {
        const int c = peek();
        if (c == '[') return read_bracket_atom();
        if (c == '*') {
            ++pos_;
            add_atom(AtomKind::Star, {});
            return true;
        }
        if (is_lower(c)) {  // b c n o p s
            add_atom(AtomKind::Aromatic, text_.substr(pos_, 1));
            ++pos_;
            return true;
        }
        // Two-letter organic symbols; the second letter can mean nothing else here.
        int second = -1;
        if (c == 'C' || c == 'B' || c == 'A' || c == 'T') second = c == 'C' ? 'l' : c == 'B' ? 'r' : c == 'A' ? 't' : 's';
        if (second != -1 && peek(1) == second) {
            add_atom(AtomKind::Aliphatic, text_.substr(pos_, 2));
            pos_ += 2;
            return true;
        }
        if (c == 'A' || c == 'T') {  // "At" and "Ts" only
            ++pos_;
            return character();
        }
        add_atom(AtomKind::Aliphatic, text_.substr(pos_, 1));
        ++pos_;
        return true;
    }

    // '[' isotope? symbol chiral? hcount? charge? class? ']'
    bool read_bracket_atom() {
        ++pos_;  // '['
        while (is_digit(peek())) ++pos_;  // isotope
        if (!read_bracket_symbol()) return false;
        if (peek() == '@' && !read_chirality()) return false;
        if (peek() == 'H') {
            ++pos_;
            if (is_digit(peek())) ++pos_;
        }
        if (peek() == '+' || peek() == '-') {
            const int sign = peek();
            ++pos_;
            if (peek() == sign) {
                ++pos_;  // "++" and "--"
            } else if (is_digit(peek())) {
                ++pos_;
                if (is_digit(peek())) ++pos_;
            }
        }
        if (peek() == ':') {
            ++pos_;
            if (at_end()) return end_of_line();
            if (!is_digit(peek())) return character();
            while (is_digit(peek())) ++pos_;
        }
        if (at_end()) return end_of_line();
        if (peek() != ']') return character();
        ++pos_;
        add_atom(AtomKind::Bracket, {});
        return true;
    }

    bool read_bracket_symbol() {
        if (at_end()) return end_of_line();
        const int c = peek();
        if (c == '*') {
            ++pos_;
            return true;
        }
        if (is_upper(c)) {
            if (is_lower(peek(1)) && is_element_symbol(text_.substr(pos_, 2))) {
                pos_ += 2;
                return true;
            }
            if (is_element_symbol(text_.substr(pos_, 1))) {
                ++pos_;
                return true;
            }
            // A letter that only starts two-letter symbols ("X" of "Xe") is
            // refused at the character after it; any other at itself.
            if (starts_two_letter_symbol(c)) ++pos_;
            return character();
        }
        if (is_lower(c)) {
            const int d = peek(1);
            if ((c == 's' && d == 'e') || (c == 'a' && d == 's')) {
                pos_ += 2;
                return true;
            }
            if (c == 'b' || c == 'c' || c == 'n' || c == 'o' || c == 'p' || c == 's') {
                ++pos_;
                return true;
            }
            if (c == 'a') ++pos_;  // "as" only
        }
        return character();
    }

    // "@", "@@", "@TH1".."@TH2", "@AL1".."@AL2", "@SP1".."@SP3", "@TB1".."@TB20", "@OH1".."@OH30".
    bool read_chirality() {
        ++pos_;  // '@'
        if (peek() == '@') {
            ++pos_;
            return true;
        }
        const int a = peek(), b = peek(1);
        int highest = 0;
        if (a == 'T' && b == 'H') highest = 2;
        else if (a == 'A' && b == 'L') highest = 2;
        else if (a == 'S' && b == 'P') highest = 3;
        else if (a == 'T' && b == 'B') highest = 20;
        else if (a == 'O' && b == 'H') highest = 30;
        if (highest == 0) {
            // A lone '@'; a 'T', 'A', 'S' or 'O' that starts no class is refused by the caller.
            return true;
        }
        pos_ += 2;
        if (at_end()) return end_of_line();
        const int d1 = peek();
        if (d1 < '1' || d1 > '9' || d1 - '0' > highest) return character();
        ++pos_;
        const int d2 = peek();
        if (is_digit(d2) && (d1 - '0') * 10 + (d2 - '0') <= highest) ++pos_;
        return true;
    }

    // bond? (DIGIT | '%' DIGIT DIGIT), the bond symbol (if any) already consumed.
    bool read_ring_bond(BondKind kind) {
        std::size_t number = 0;
        if (peek() == '%') {
            ++pos_;
            for (int k = 0; k < 2; ++k) {
                if (at_end()) return end_of_line();
                if (!is_digit(peek())) return character();
                number = number * 10 + static_cast<std::size_t>(peek() - '0');
                ++pos_;
            }
        } else {
            number = static_cast<std::size_t>(peek() - '0');
            ++pos_;
        }
        ring_bond(number, kind);
        return true;
    }

    void join_failure(std::size_t a, std::size_t b) {
        if (!join_.set) join_ = Failure{true, ReadFailure{FailureKind::Graph, fmt::format("Join({}, {})", a, b)}};
    }

    void ring_bond(std::size_t number, BondKind kind) {
        const std::size_t atom = prev_;
        OpenRing& ring = rings_[number];
        if (!ring.open) {
            auto& bonds = graph_.atoms[atom].bonds;
            ring = OpenRing{true, atom, kind, bonds.size(), ++ring_sequence_};
            bonds.push_back({atom, kind});  // placeholder, completed when the ring closes
            return;
        }
        ring.open = false;
        const std::size_t other = ring.atom;
        BondKind joined = kind;
        if (ring.kind != BondKind::Elided && kind != BondKind::Elided && ring.kind != kind) {
            join_failure(other, atom);
            return;
        }
        if (kind == BondKind::Elided) joined = ring.kind;
        if (other == atom) {
            join_failure(other, atom);
            return;
        }
        auto& bonds = graph_.atoms[atom].bonds;
        for (const auto& b : bonds)
            if (b.partner == other) {
                join_failure(other, atom);
                return;
            }
        graph_.atoms[other].bonds[ring.slot] = {atom, joined};
        bonds.push_back({other, joined});
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    AtomGraph graph_;
    std::size_t prev_ = 0;  // the atom that the next atom bonds to, when has_prev_
    bool has_prev_ = false;
    BondKind pending_ = BondKind::Elided;
    std::vector<std::size_t> branches_;  // the atom each open branch hangs from
    std::array<OpenRing, 100> rings_{};
    std::uint64_t ring_sequence_ = 0;
    ReadFailure reading_;
    Failure join_;
};

}  // namespace

ReadResult read(std::string_view text) { return Reader(text).run(); }

}  // namespace zelt::smiles
