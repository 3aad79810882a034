#include "build/recipe.hpp"

#include <cmath>
#include <set>

#include <fmt/format.h>
#include <yaml-cpp/yaml.h>

#include "core/parse.hpp"
#include "io/text_file.hpp"

namespace zelt {
namespace {

// Schema violations found while walking the document; caught in from_yaml_text.
struct SchemaError {
    std::string message;
};

std::string where(const YAML::Node& n) {
    const auto m = n.Mark();
    if (m.is_null()) return {};
    return fmt::format(" at line {}, column {}", m.line + 1, m.column + 1);
}

[[noreturn]] void schema_fail(const std::string& path, const std::string& what, const YAML::Node& at) {
    throw SchemaError{(path.empty() ? std::string() : path + ": ") + what + where(at)};
}

std::string join(const std::string& path, const std::string& key) { return path.empty() ? key : path + "." + key; }

// Keys of a mapping; a key given twice is an error (the reader itself keeps
// both silently).
void check_mapping(const YAML::Node& n, const std::string& path, const char* expected) {
    if (!n.IsMap()) schema_fail(path, fmt::format("invalid type, expected {}", expected), n);
    std::set<std::string> seen;
    for (auto it = n.begin(); it != n.end(); ++it) {
        const YAML::Node key = it->first;
        const std::string text = key.IsScalar() ? key.Scalar() : YAML::Dump(key);
        if (!seen.insert(text).second) schema_fail(path, fmt::format("duplicate key `{}`", text), key);
    }
}

// The value under `key`, or an undefined node when absent. An explicit null
// counts as absent.
YAML::Node field(const YAML::Node& map, const char* key) {
    for (auto it = map.begin(); it != map.end(); ++it)
        if (it->first.IsScalar() && it->first.Scalar() == key) return it->second.IsNull() ? YAML::Node() : it->second;
    return YAML::Node(YAML::NodeType::Undefined);
}

bool present(const YAML::Node& n) { return n.IsDefined() && !n.IsNull(); }

YAML::Node required(const YAML::Node& map, const char* key, const std::string& path) {
    YAML::Node n = field(map, key);
    if (!present(n)) schema_fail(path, fmt::format("missing field `{}`", key), map);
    return n;
}

// A plain (unquoted) scalar; quoted text is a string, never a number.
const std::string* plain_scalar(const YAML::Node& n) {
    if (!n.IsScalar() || n.Tag() == "!") return nullptr;
    return &n.Scalar();
}

double to_float(const YAML::Node& n, const std::string& path) {
    const std::string* s = plain_scalar(n);
    if (s) {
        static const std::pair<const char*, double> special[] = {
            {".inf", INFINITY}, {".Inf", INFINITY}, {".INF", INFINITY}, {"+.inf", INFINITY}, {"+.Inf", INFINITY},
            {"+.INF", INFINITY}, {"-.inf", -INFINITY}, {"-.Inf", -INFINITY}, {"-.INF", -INFINITY},
            {".nan", NAN}, {".NaN", NAN}, {".NAN", NAN}};
        for (const auto& [text, value] : special)
            if (*s == text) return value;
        if (auto v = parse::f64(*s)) return *v;
    }
    schema_fail(path, "invalid type, expected a floating-point number", n);
}

std::uint64_t to_unsigned(const YAML::Node& n, const std::string& path) {
    const std::string* s = plain_scalar(n);
    if (s) {
        if (auto v = parse::u64(*s)) return *v;
    }
    schema_fail(path, "invalid value, expected a non-negative integer", n);
}

std::string to_string(const YAML::Node& n, const std::string& path) {
    if (!n.IsScalar()) schema_fail(path, "invalid type, expected a string", n);
    return n.Scalar();
}

template <class T, class F>
std::optional<T> optional_field(const YAML::Node& map, const char* key, const std::string& path, F&& convert) {
    YAML::Node n = field(map, key);
    if (!present(n)) return std::nullopt;
    return convert(n, join(path, key));
}

SystemConfig read_system(const YAML::Node& n, const std::string& path) {
    check_mapping(n, path, "a mapping");
    SystemConfig s;
    s.density = to_float(required(n, "density", path), join(path, "density"));
    YAML::Node cell = field(n, "cell_shape");
    if (present(cell)) {
        const std::string p = join(path, "cell_shape");
        if (!cell.IsSequence()) schema_fail(p, "invalid type, expected a sequence of 3 numbers", cell);
        if (cell.size() != 3) schema_fail(p, fmt::format("invalid length {}, expected 3 numbers", cell.size()), cell);
        std::array<double, 3> v{};
        for (std::size_t k = 0; k < 3; ++k) v[k] = to_float(cell[k], fmt::format("{}[{}]", p, k));
        s.cell_shape = v;
    }
    s.temperature = optional_field<double>(n, "temperature", path, to_float);
    return s;
}

ComponentRole read_role(const YAML::Node& n, const std::string& path) {
    const std::string r = to_string(n, path);
    if (r == "polymer") return ComponentRole::Polymer;
    if (r == "molecule") return ComponentRole::Molecule;
    if (r == "ion") return ComponentRole::Ion;
    schema_fail(path, fmt::format("unknown variant `{}`, expected one of `polymer`, `molecule`, `ion`", r), n);
}

InputSource read_input(const YAML::Node& n, const std::string& path) {
    // `input: {}` is a valid empty source.
    check_mapping(n, path, "a mapping");
    InputSource in;
    in.smiles = optional_field<std::string>(n, "smiles", path, to_string);
    in.file = optional_field<std::string>(n, "file", path, to_string);
    in.format = optional_field<std::string>(n, "format", path, to_string);
    return in;
}

PolymerParams read_polymer(const YAML::Node& n, const std::string& path) {
    check_mapping(n, path, "a mapping");
    PolymerParams p;
    p.degree = to_unsigned(required(n, "degree", path), join(path, "degree"));
    p.n_chains = to_unsigned(required(n, "n_chains", path), join(path, "n_chains"));
    p.head_index = optional_field<std::uint64_t>(n, "head_index", path, to_unsigned);
    p.tail_index = optional_field<std::uint64_t>(n, "tail_index", path, to_unsigned);
    p.head_leaving_index = optional_field<std::uint64_t>(n, "head_leaving_index", path, to_unsigned);
    p.tail_leaving_index = optional_field<std::uint64_t>(n, "tail_leaving_index", path, to_unsigned);
    return p;
}

ComponentConfig read_component(const YAML::Node& n, const std::string& path) {
    check_mapping(n, path, "a mapping");
    ComponentConfig c;
    c.name = to_string(required(n, "name", path), join(path, "name"));
    c.role = read_role(required(n, "role", path), join(path, "role"));
    // Required, but an explicit empty mapping is fine; null counts as missing.
    YAML::Node input = field(n, "input");
    if (!input.IsDefined() || input.IsNull()) schema_fail(path, "missing field `input`", n);
    c.input = read_input(input, join(path, "input"));
    c.count = optional_field<std::uint64_t>(n, "count", path, to_unsigned);
    YAML::Node pp = field(n, "polymer_params");
    if (present(pp)) c.polymer_params = read_polymer(pp, join(path, "polymer_params"));
    return c;
}

Recipe read_recipe(const YAML::Node& root) {
    check_mapping(root, "", "a mapping with `system` and `components`");
    Recipe r;
    r.system = read_system(required(root, "system", ""), "system");
    YAML::Node comps = required(root, "components", "");
    if (!comps.IsSequence()) schema_fail("components", "invalid type, expected a sequence", comps);
    for (std::size_t k = 0; k < comps.size(); ++k)
        r.components.push_back(read_component(comps[k], fmt::format("components[{}]", k)));
    return r;
}

}  // namespace

std::string debug_quoted(std::string_view path) {
    std::string out = "\"";
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\0': out += "\\0"; break;
            default:
                if (c < 0x20 || c == 0x7F)
                    out += fmt::format("\\u{{{:x}}}", c);
                else
                    out.push_back(static_cast<char>(c));
        }
    }
    out += "\"";
    return out;
}

Result<Recipe> Recipe::from_yaml_text(std::string_view text) {
    try {
        const std::vector<YAML::Node> docs = YAML::LoadAll(std::string(text));
        if (docs.empty()) return fail("the recipe is empty: expected a mapping with `system` and `components`");
        if (docs.size() > 1) return fail("the recipe holds more than one YAML document");
        return read_recipe(docs.front());
    } catch (const SchemaError& e) {
        return fail(e.message);
    } catch (const YAML::Exception& e) {
        return fail(e.what());
    }
}

Result<Recipe> Recipe::from_yaml(const std::string& path) {
    auto text = read_text_file(path);
    if (!text) return Error("Failed to read recipe file: " + debug_quoted(path), text.error());
    auto recipe = from_yaml_text(*text);
    if (!recipe)
        return Error("Failed to parse YAML in recipe: " + debug_quoted(path) +
                         "\nPlease check if all required fields (system, components, role, input) are present.",
                     recipe.error());
    return recipe;
}

}  // namespace zelt
