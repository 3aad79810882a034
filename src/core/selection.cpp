#include "core/selection.hpp"

#include <unordered_set>

#include "core/parse.hpp"
#include "core/text.hpp"
#include "core/unicode_case.hpp"

namespace zelt {
namespace {

bool iequals_ascii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

// Every character alphabetic (true for the empty text).
bool all_alphabetic(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto d = text::decode_utf8(s, i);
        if (!d.valid || !text::is_alphabetic(d.code)) return false;
        i += d.length;
    }
    return true;
}

std::unordered_set<std::uint64_t> as_set(const Selection& s) { return {s.begin(), s.end()}; }

// Splits at every occurrence of `sep`, left to right, without overlaps.
std::vector<std::string_view> split_all(std::string_view s, std::string_view sep) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t p = s.find(sep); p != std::string_view::npos; p = s.find(sep, start)) {
        parts.push_back(s.substr(start, p - start));
        start = p + sep.size();
    }
    parts.push_back(s.substr(start));
    return parts;
}

}  // namespace

template <class Pred>
Selection SelectionEngine::matching(Pred&& pred) const {
    Selection out;
    for (const auto& a : atoms_)
        if (pred(a)) out.push_back(a.index);
    return out;
}

Result<Selection> SelectionEngine::select(std::string_view query) const {
    const std::string q = text::unicode_lower(text::trim(query));

    // " and " binds more loosely than everything else: intersect the parts,
    // keeping the order and repeats of the first.
    if (q.find(" and ") != std::string::npos) {
        const auto parts = split_all(q, " and ");
        auto first = select(parts[0]);
        if (!first) return first.error();
        Selection result = std::move(first).value();
        for (std::size_t i = 1; i < parts.size(); ++i) {
            auto other = select(parts[i]);
            if (!other) return other.error();
            const auto keep = as_set(*other);
            std::erase_if(result, [&](std::uint64_t v) { return !keep.contains(v); });
        }
        return result;
    }

    // A short alphabetic query is an element name.
    if (q.size() < 3 && all_alphabetic(q))
        return matching([&](const AtomInfo& a) { return iequals_ascii(a.element, q); });

    const auto tokens = text::split_whitespace(q);
    if (tokens.empty()) return Selection{};
    const std::string_view head = tokens[0];

    if (head == "not") {
        // The rest follows the keyword and the one white-space character
        // after it; a bare "not" is the complement of nothing: every atom.
        const std::string_view after = std::string_view(q).substr(3);
        if (after.empty()) return matching([](const AtomInfo&) { return true; });
        auto inner = select(after.substr(text::whitespace_length(after)));
        if (!inner) return inner.error();
        const auto excluded = as_set(*inner);
        return matching([&](const AtomInfo& a) { return !excluded.contains(a.index); });
    }

    if (head == "type") {
        if (tokens.size() < 2) return fail("Missing type ID");
        const auto id = parse::u64(tokens[1]);
        if (!id) return id.error();
        return matching([&](const AtomInfo& a) { return a.type_id == *id; });
    }

    if (head == "index") {
        if (tokens.size() < 2) return fail("Missing index range");
        Selection out;
        if (q.find(" to ") != std::string::npos) {
            // Inclusive range "index a to b"; the word between is not inspected.
            const auto a = parse::u64(tokens[1]);
            if (!a) return a.error();
            const auto b = parse::u64(tokens.size() > 3 ? tokens[3] : std::string_view{});
            if (!b) return b.error();
            if (*b >= *a) {
                // a to b holds b - a + 1 numbers, which overflows for the full range.
                if (*b - *a >= out.max_size()) return fail("Index range is too large");
                out.reserve(*b - *a + 1);
                for (std::uint64_t v = *a;; ++v) {
                    out.push_back(v);
                    if (v == *b) break;
                }
            }
            return out;
        }
        const std::string_view second = tokens[1];
        if (const auto colon = second.find(':');
            colon != std::string_view::npos && second.find(':', colon + 1) == std::string_view::npos) {
            // Half-open range "index a:b".
            const auto a = parse::u64(second.substr(0, colon));
            if (!a) return a.error();
            const auto b = parse::u64(second.substr(colon + 1));
            if (!b) return b.error();
            if (*b > *a) {
                out.reserve(*b - *a);
                for (std::uint64_t v = *a; v < *b; ++v) out.push_back(v);
            }
            return out;
        }
        // A list of numbers; words that are not numbers are skipped.
        for (std::size_t i = 1; i < tokens.size(); ++i)
            if (const auto v = parse::u64(tokens[i])) out.push_back(*v);
        return out;
    }

    if (head == "element") {
        if (tokens.size() < 2) return fail("Missing element name");
        return matching([&](const AtomInfo& a) { return iequals_ascii(a.element, tokens[1]); });
    }

    if (head == "resname" || head == "residue") {
        if (tokens.size() < 2) return fail("Missing residue name");
        return matching([&](const AtomInfo& a) { return iequals_ascii(a.resname, tokens[1]); });
    }

    // Anything else names an element.
    return matching([&](const AtomInfo& a) { return iequals_ascii(a.element, head); });
}

Result<std::pair<Selection, Selection>> SelectionEngine::select_pair(std::string_view query) const {
    // The split is made in the lower-cased text: lower-casing can change the
    // byte length of non-ASCII text, and both halves are lower-cased by
    // `select` anyway, so positions found there always fall between
    // characters of the text being split.
    const std::string lowered = text::unicode_lower(query);
    for (const std::string_view sep : {" with ", " - ", "-"}) {
        const std::size_t p = lowered.find(sep);
        if (p == std::string::npos) continue;
        const std::string_view whole = lowered;
        auto a = select(whole.substr(0, p));
        if (!a) return a.error();
        auto b = select(whole.substr(p + sep.size()));
        if (!b) return b.error();
        return std::pair{std::move(a).value(), std::move(b).value()};
    }
    auto a = select(query);
    if (!a) return a.error();
    Selection b = *a;
    return std::pair{std::move(a).value(), std::move(b)};
}

}  // namespace zelt
