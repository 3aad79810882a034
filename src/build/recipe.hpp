// Recipe files: the YAML description of a system to build, and the records
// that also serve as the builder's in-memory configuration.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"

namespace zelt {

enum class ComponentRole { Polymer, Molecule, Ion };

struct InputSource {
    std::optional<std::string> smiles;
    std::optional<std::string> file;    // carried, read by no operation
    std::optional<std::string> format;  // carried, read by no operation
};

struct PolymerParams {
    std::uint64_t degree = 0;    // repeat units per chain
    std::uint64_t n_chains = 0;  // number of chains
    std::optional<std::uint64_t> head_index;
    std::optional<std::uint64_t> tail_index;
    std::optional<std::uint64_t> head_leaving_index;
    std::optional<std::uint64_t> tail_leaving_index;
};

struct ComponentConfig {
    std::string name;
    ComponentRole role = ComponentRole::Molecule;
    InputSource input;
    std::optional<std::uint64_t> count;
    std::optional<PolymerParams> polymer_params;
};

struct SystemConfig {
    double density = 0.0;                              // g/cm3
    std::optional<std::array<double, 3>> cell_shape;  // Å along x, y, z
    std::optional<double> temperature;                // carried, read by no operation
};

struct Recipe {
    SystemConfig system;
    std::vector<ComponentConfig> components;

    // Reads and checks a recipe file. Failures: "Failed to read recipe file:
    // {path}" (cause: the operating system's error) and "Failed to parse YAML
    // in recipe: {path}\n..." (cause: the reader's or the schema's detail).
    static Result<Recipe> from_yaml(const std::string& path);

    // The schema check alone; the error is the detailed reader message.
    static Result<Recipe> from_yaml_text(std::string_view text);
};

// A path as debug text: in double quotes, with quote, backslash and control
// characters escaped.
std::string debug_quoted(std::string_view path);

}  // namespace zelt
