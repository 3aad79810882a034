#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include "build/recipe.hpp"

using namespace zelt;

namespace {

Result<Recipe> load(const std::string& yaml) { return Recipe::from_yaml_text(yaml); }

std::string temp_file(const std::string& name, const std::string& content) {
    const std::string path = testing::TempDir() + name;
    std::ofstream(path) << content;
    return path;
}

const char* const full =
    "system:\n"
    "  density: 0.8\n"
    "  cell_shape: [30, 31.5, 32]\n"
    "  temperature: 300\n"
    "  comment: ignored\n"
    "components:\n"
    "  - name: water\n"
    "    role: molecule\n"
    "    count: 500\n"
    "    input: {smiles: O, file: water.mol2, format: mol2}\n"
    "  - name: pe\n"
    "    role: polymer\n"
    "    input:\n"
    "      smiles: '*CC*'\n"
    "    polymer_params: {degree: 20, n_chains: 4, head_index: 0, tail_leaving_index: 3, extra: 1}\n"
    "  - name: na\n"
    "    role: ion\n"
    "    count: ~\n"
    "    input: {}\n"
    "    polymer_params: ~\n";

}  // namespace

TEST(Recipe, FullSchema) {
    auto r = load(full);
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_DOUBLE_EQ(r->system.density, 0.8);
    ASSERT_TRUE(r->system.cell_shape);
    EXPECT_EQ(*r->system.cell_shape, (std::array<double, 3>{30.0, 31.5, 32.0}));
    EXPECT_EQ(r->system.temperature, 300.0);
    ASSERT_EQ(r->components.size(), 3u);
    const auto& w = r->components[0];
    EXPECT_EQ(w.name, "water");
    EXPECT_EQ(w.role, ComponentRole::Molecule);
    EXPECT_EQ(w.count, 500u);
    EXPECT_EQ(w.input.smiles, "O");
    EXPECT_EQ(w.input.file, "water.mol2");
    EXPECT_EQ(w.input.format, "mol2");
    EXPECT_FALSE(w.polymer_params);
    const auto& pe = r->components[1];
    EXPECT_EQ(pe.role, ComponentRole::Polymer);
    EXPECT_EQ(pe.input.smiles, "*CC*");
    ASSERT_TRUE(pe.polymer_params);
    EXPECT_EQ(pe.polymer_params->degree, 20u);
    EXPECT_EQ(pe.polymer_params->n_chains, 4u);
    EXPECT_EQ(pe.polymer_params->head_index, 0u);
    EXPECT_FALSE(pe.polymer_params->tail_index);
    EXPECT_FALSE(pe.polymer_params->head_leaving_index);
    EXPECT_EQ(pe.polymer_params->tail_leaving_index, 3u);
    EXPECT_FALSE(pe.count);
    const auto& na = r->components[2];
    EXPECT_EQ(na.role, ComponentRole::Ion);
    EXPECT_FALSE(na.count);  // explicit null is absent
    EXPECT_FALSE(na.input.smiles);
    EXPECT_FALSE(na.polymer_params);
}

TEST(Recipe, MinimalAndLenientCases) {
    auto r = load("system: {density: 1}\ncomponents: []\n");
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_EQ(r->system.density, 1.0);
    EXPECT_FALSE(r->system.cell_shape);
    EXPECT_TRUE(r->components.empty());
    // A polymer without chain parameters loads; the build refuses it later.
    auto p = load("system: {density: 1}\ncomponents:\n  - {name: p, role: polymer, input: {smiles: '*CC*'}}\n");
    ASSERT_TRUE(p.ok()) << p.error().message;
    EXPECT_FALSE(p->components[0].polymer_params);
    auto inf = load("system: {density: .inf}\ncomponents: []\nunknown: {a: [1, 2]}\n");
    ASSERT_TRUE(inf.ok());
    EXPECT_TRUE(std::isinf(inf->system.density));
}

TEST(Recipe, SchemaFailures) {
    struct Case {
        const char* yaml;
        const char* detail;  // a part of the detailed message
    };
    const Case cases[] = {
        {"system: {cell_shape: [1, 2, 3]}\ncomponents: []\n", "missing field `density`"},
        {"system: {density: 1, cell_shape: [1, 2]}\ncomponents: []\n", "invalid length 2"},
        {"system: {density: 1, cell_shape: [1, 2, 3, 4]}\ncomponents: []\n", "invalid length 4"},
        {"system: {density: 1, cell_shape: [1, x, 3]}\ncomponents: []\n", "cell_shape[1]"},
        {"system: {density: abc}\ncomponents: []\n", "system.density: invalid type"},
        {"system: {density: '1.0'}\ncomponents: []\n", "system.density: invalid type"},
        {"components: []\n", "missing field `system`"},
        {"system: {density: 1}\n", "missing field `components`"},
        {"system: {density: 1}\ncomponents: ~\n", "missing field `components`"},
        {"system: {density: 1}\ncomponents: {a: 1}\n", "expected a sequence"},
        {"system: {density: 1}\ncomponents:\n  - {name: a, role: molecule}\n", "components[0]: missing field `input`"},
        {"system: {density: 1}\ncomponents:\n  - {name: a, role: gas, input: {}}\n", "unknown variant `gas`"},
        {"system: {density: 1}\ncomponents:\n  - {role: ion, input: {}}\n", "missing field `name`"},
        {"system: {density: 1}\ncomponents:\n  - {name: a, role: ion, input: {}, count: -1}\n", "components[0].count"},
        {"system: {density: 1}\ncomponents:\n  - {name: a, role: ion, input: {}, count: 1.5}\n", "non-negative integer"},
        {"system: {density: 1}\ncomponents:\n  - {name: a, role: polymer, input: {}, polymer_params: {degree: 2}}\n",
         "missing field `n_chains`"},
        {"system: {density: 1}\ncomponents:\n  - {name: [a], role: ion, input: {}}\n", "expected a string"},
        {"system: {density: 1, density: 2}\ncomponents: []\n", "duplicate key `density`"},
        {"system: {density: 1}\ncomponents: []\nsystem: {density: 2}\n", "duplicate key `system`"},
        {"system: {density: 1}\ncomponents:\n  - {name: a, role: ion, input: {smiles: C, smiles: N}}\n",
         "duplicate key `smiles`"},
        {"system: {density: 1}\ncomponents: [\n", "yaml-cpp: error at line"},
        {"", "empty"},
        {"- 1\n- 2\n", "expected a mapping"},
        {"system: {density: 1}\ncomponents: []\n---\nsystem: {density: 1}\ncomponents: []\n", "more than one"},
    };
    for (const auto& c : cases) {
        auto r = load(c.yaml);
        ASSERT_FALSE(r.ok()) << c.yaml;
        EXPECT_NE(r.error().message.find(c.detail), std::string::npos) << c.yaml << "\n-> " << r.error().message;
    }
}

TEST(Recipe, FileMessagesKeepTheDetailAsCause) {
    const std::string missing = testing::TempDir() + "no such \"dir\"/r.yaml";
    auto r = Recipe::from_yaml(missing);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message, "Failed to read recipe file: \"" + testing::TempDir() + "no such \\\"dir\\\"/r.yaml\"");
    ASSERT_TRUE(r.error().cause);
    EXPECT_EQ(r.error().cause->message, "No such file or directory (os error 2)");

    const std::string bad = temp_file("bad_recipe.yaml", "system: {}\ncomponents: []\n");
    auto b = Recipe::from_yaml(bad);
    ASSERT_FALSE(b.ok());
    EXPECT_EQ(b.error().message, "Failed to parse YAML in recipe: \"" + bad +
                                     "\"\nPlease check if all required fields (system, components, role, input) are present.");
    ASSERT_TRUE(b.error().cause);
    EXPECT_NE(b.error().cause->message.find("missing field `density`"), std::string::npos);

    const std::string good = temp_file("good_recipe.yaml", full);
    auto g = Recipe::from_yaml(good);
    ASSERT_TRUE(g.ok());
    EXPECT_EQ(g->components.size(), 3u);
}

TEST(Recipe, DebugQuoting) {
    EXPECT_EQ(debug_quoted("a/b.yaml"), "\"a/b.yaml\"");
    EXPECT_EQ(debug_quoted("q\"\\\n\t\x01"), "\"q\\\"\\\\\\n\\t\\u{1}\"");
    EXPECT_EQ(debug_quoted("\xC3\xA9"), "\"\xC3\xA9\"");
}
