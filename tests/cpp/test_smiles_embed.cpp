#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "build/relax.hpp"
#include "smiles/embed.hpp"
#include "smiles/template.hpp"
#include "vsepr/rules.hpp"

using namespace zelt;

namespace {

double distance(const Vec3& a, const Vec3& b) {
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) + (a[2] - b[2]) * (a[2] - b[2]));
}

struct Entry {
    std::string name, smiles;
};

std::vector<Entry> corpus() {
    const auto path = std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "smiles_corpus.txt";
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    std::vector<Entry> out;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        const auto tab = line.find('\t');
        out.push_back({line.substr(0, tab), line.substr(tab + 1)});
    }
    return out;
}

// Every bond within 0.15 Å of its ideal VSEPR length, no two atoms that are
// neither bonded nor share a neighbour closer than 1.0 Å, and every bond
// angle within 40° of the force field's natural angle (angles closing a
// three-membered ring aside). Returns what is wrong, empty when nothing is.
std::string geometry_faults(const MoleculeTemplate& m) {
    std::string faults;
    const std::size_t n = m.atoms.size();
    std::vector<std::vector<std::size_t>> nb(n);
    for (const auto& b : m.bonds) {
        nb[b.i].push_back(b.j);
        nb[b.j].push_back(b.i);
    }
    if (auto engine = as_uff_system(m); engine.ok()) {
        for (const auto& t : engine->topology().angles) {
            bool ring3 = false;
            for (const auto k : nb[t.a]) ring3 = ring3 || k == t.b;
            if (ring3) continue;
            const Vec3 &pa = m.atoms[t.a].position, &pc = m.atoms[t.c].position, &pb = m.atoms[t.b].position;
            const Vec3 u{pa[0] - pc[0], pa[1] - pc[1], pa[2] - pc[2]}, v{pb[0] - pc[0], pb[1] - pc[1], pb[2] - pc[2]};
            const double theta = std::acos((u[0] * v[0] + u[1] * v[1] + u[2] * v[2]) /
                                           (distance(pa, pc) * distance(pb, pc)));
            if (!(std::abs(theta - t.k.theta0) <= 40.0 * std::acos(-1.0) / 180.0))
                faults += "angle " + std::to_string(t.a) + "-" + std::to_string(t.c) + "-" + std::to_string(t.b) +
                          " " + std::to_string(theta * 180.0 / std::acos(-1.0)) + "; ";
        }
    }
    for (std::size_t k = 0; k < m.bonds.size(); ++k) {
        const Bond& b = m.bonds[k];
        const Atom &a = m.atoms[b.i], &c = m.atoms[b.j];
        const double d = distance(a.position, c.position);
        const double ideal = vsepr::ideal_bond_length(a.element, c.element, b.order);
        bool ok = std::abs(d - ideal) <= 0.15;
        if (!ok)
            faults += a.element + std::to_string(b.i) + "-" + c.element + std::to_string(b.j) + " " +
                      std::to_string(d) + " (ideal " + std::to_string(ideal) + "); ";
    }
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = i + 1; j < n; ++j) {
            bool near = false;
            for (const auto k : nb[i]) {
                if (k == j) near = true;
                for (const auto l : nb[k])
                    if (l == j) near = true;
            }
            if (!near && distance(m.atoms[i].position, m.atoms[j].position) < 1.0)
                faults += "contact " + std::to_string(i) + "-" + std::to_string(j) + "; ";
        }
    return faults;
}

MoleculeTemplate embed(const std::string& smiles) {
    auto r = parse_smiles(smiles);
    if (!r.ok()) {
        ADD_FAILURE() << smiles << ": " << r.error().message;
        return {};
    }
    return std::move(r).value();
}

}  // namespace

TEST(SmilesEmbed, SameAtomsAndBondsNewCoordinates) {
    const auto a = embed("CC(=O)Nc1ccc(O)cc1");
    const auto b = embed("CC(=O)Nc1ccc(O)cc1");
    const auto t = *parse_smiles_with_hydrogens("CC(=O)Nc1ccc(O)cc1");
    EXPECT_EQ(a.bonds, t.bonds);
    EXPECT_EQ(b.bonds, t.bonds);
    ASSERT_EQ(a.atoms.size(), t.atoms.size());
    bool moved = false;
    for (std::size_t k = 0; k < a.atoms.size(); ++k) {
        Atom x = a.atoms[k], y = t.atoms[k];
        x.position = y.position;
        EXPECT_EQ(x, y);  // only the position differs from the unembedded template
        moved = moved || a.atoms[k].position != b.atoms[k].position;
    }
    EXPECT_TRUE(moved);
}

TEST(SmilesEmbed, FailsExactlyLikeTheTemplateBuilder) {
    for (const char* s : {"C(", "C1CC", "C=1CC#1", "", "CC)"}) {
        const auto full = parse_smiles(s);
        const auto tmpl = parse_smiles_with_hydrogens(s);
        ASSERT_FALSE(full.ok()) << s;
        ASSERT_FALSE(tmpl.ok()) << s;
        EXPECT_EQ(full.error().message, tmpl.error().message);
    }
}

TEST(SmilesEmbed, SulphurBondsEndAtTheForceFieldsRestLength) {
    for (const char* s : {"S", "c1ccsc1", "CSC", "CS(=O)(=O)C"}) {
        const auto m = embed(s);
        const auto engine = as_uff_system(m);
        ASSERT_TRUE(engine.ok());
        for (const auto& term : engine->topology().bonds)
            EXPECT_NEAR(distance(m.atoms[term.i].position, m.atoms[term.j].position), term.c.r0, 0.05)
                << s << " " << m.atoms[term.i].element << term.i << "-" << m.atoms[term.j].element << term.j;
    }
}

TEST(SmilesEmbed, CorpusGeometryIsSound) {
    const auto entries = corpus();
    ASSERT_FALSE(entries.empty());
    for (const auto& e : entries) {
        const auto m = embed(e.smiles);
        EXPECT_EQ(geometry_faults(m), "") << e.name << " " << e.smiles;
    }
}

TEST(SmilesEmbed, CagesAndFusedRingsComeOutUnstrained) {
    // From a straight start these often fold with a hydrogen inside a ring
    // or a bridge on the wrong face; the result must still be sound.
    // Chains can leave a carbon with two hydrogens folded together (their
    // start sets the four bonds of each CH2 in one plane).
    for (const char* s : {"C1C2CC3CC1CC(C2)C3", "CC1(C)C2CCC1(C)C(=O)C2", "C12C3C4C1C5C2C3C45", "C1CCC2CCCCC2C1",
                          "CC(C)CCCC(C)C1CCC2C1(CCC3C2CC=C4C3(CCC(C4)O)C)C", "CCCCCCCCCCCCCCCCCCCC"})
        for (int k = 0; k < 4; ++k) EXPECT_EQ(geometry_faults(embed(s)), "") << s;
}

TEST(SmilesEmbed, MarkersAndBracketAtomsStayFinite) {
    for (const char* s : {"*CC*", "*c1ccc(*)cc1", "[NH4+]", "C[N+](C)(C)C", "O.O", "B"}) {
        const auto m = embed(s);
        ASSERT_FALSE(m.atoms.empty()) << s;
        for (const auto& a : m.atoms)
            for (double c : a.position) EXPECT_TRUE(std::isfinite(c)) << s;
    }
    // Marker bonds keep a VSEPR length (R has no force-field parameters).
    const auto star = embed("*CC*");
    EXPECT_NEAR(distance(star.atoms[0].position, star.atoms[1].position), 2.26, 0.3);
}

// A hydrogen caught between the other substituents of its centre is set back
// outside them; a sound geometry is left alone.
TEST(SmilesEmbed, CaughtHydrogenIsFreed) {
    auto mol = parse_smiles("CC(C)C");
    ASSERT_TRUE(mol.ok());
    {
        auto engine = as_uff_system(*mol);
        ASSERT_TRUE(engine.ok());
        const auto before = mol->atoms;
        EXPECT_FALSE(free_caught_hydrogens(*mol, *engine));
        EXPECT_EQ(mol->atoms, before);
    }
    // The tertiary hydrogen: the one bonded to atom 1.
    std::size_t h = 0;
    for (const auto& b : mol->bonds)
        if ((b.i == 1 || b.j == 1) && mol->atoms[b.i == 1 ? b.j : b.i].element == "H") h = b.i == 1 ? b.j : b.i;
    ASSERT_NE(h, 0u);
    const Vec3 c = mol->atoms[1].position, a = mol->atoms[0].position, b = mol->atoms[2].position;
    Vec3 mid{0.5 * (a[0] + b[0]) - c[0], 0.5 * (a[1] + b[1]) - c[1], 0.5 * (a[2] + b[2]) - c[2]};
    const double l = std::sqrt(mid[0] * mid[0] + mid[1] * mid[1] + mid[2] * mid[2]);
    for (int k = 0; k < 3; ++k) mol->atoms[h].position[k] = c[k] + 1.09 * mid[k] / l;
    auto engine = as_uff_system(*mol);
    ASSERT_TRUE(engine.ok());
    EXPECT_TRUE(free_caught_hydrogens(*mol, *engine));
    const Vec3& p = mol->atoms[h].position;
    EXPECT_NEAR(distance(p, c), 1.09, 1e-12);
    for (const std::size_t k : {0u, 2u, 3u}) {
        const Vec3& q = mol->atoms[k].position;
        const Vec3 u{p[0] - c[0], p[1] - c[1], p[2] - c[2]}, v{q[0] - c[0], q[1] - c[1], q[2] - c[2]};
        const double angle = std::acos((u[0] * v[0] + u[1] * v[1] + u[2] * v[2]) / (distance(p, c) * distance(q, c)));
        EXPECT_GT(angle, 100.0 * M_PI / 180.0) << "H-C-C with carbon " << k;
    }
}
