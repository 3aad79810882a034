#include <gtest/gtest.h>

#include <regex>

#include "core/text.hpp"
#include "forcefield/optimizer.hpp"
#include "forcefield/report.hpp"
#include "forcefield/ring_buffer.hpp"
#include "forcefield_fixtures.hpp"

using namespace zelt::forcefield;
using fixtures::Molecule;
using zelt::text::fixed;
using zelt::text::pad_left_aligned;

namespace {

const std::string dashes(80, '-');

std::string run_captured(const UffOptimizer& opt, System& s) {
    testing::internal::CaptureStdout();
    const auto st = opt.optimize(s);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(st.ok());
    return out;
}

// Checks the timing line's format and replaces it by "Total Time: <masked>".
std::string mask_time(const std::string& report, bool avg_equals_total = false) {
    static const std::regex line(
        R"(Total Time: (([0-9]+\.[0-9]{3})(s|ms|µs|ns)) *\(Avg: ([0-9]+\.[0-9]{3}(s|ms|µs|ns)) / step\)\n)");
    std::smatch m;
    EXPECT_TRUE(std::regex_search(report, m, line)) << report;
    if (m.empty()) return report;
    // The total is left-aligned in ten characters ("µ" counts as one).
    const std::string total = m[1].str();
    const std::string matched = m.str(0);
    const std::string field = matched.substr(12, matched.find(" (Avg:") - 12);
    EXPECT_EQ(field, pad_left_aligned(total, 10));
    if (avg_equals_total) {
        EXPECT_EQ(m[4].str(), total);
    }
    return m.prefix().str() + "Total Time: <masked>\n" + m.suffix().str();
}

std::string header(std::size_t atoms, std::size_t bonds, const UffOptimizer& o) {
    std::string h(1, '\n');
    h += std::string(33, '=') + " kessa v1.0.0 " + std::string(33, '=') + "\n";
    h += pad_left_aligned("Atoms:", 10) + " " + pad_left_aligned(std::to_string(atoms), 10) + " | " +
         pad_left_aligned("Bonds:", 10) + " " + pad_left_aligned(std::to_string(bonds), 10) + "\n";
    h += "Cutoff:    " + pad_left_aligned(fixed(o.cutoff, 1), 10) + " | Threshold: " +
         pad_left_aligned(fixed(o.threshold, 4), 10) + " kcal/mol/Å\n";
    h += "Max Iter:  " + pad_left_aligned(std::to_string(o.max_iterations), 10) + " | Threads:   " +
         pad_left_aligned(o.num_threads == 0 ? "Auto" : std::to_string(o.num_threads), 10) + "\n";
    h += dashes + "\n";
    h += "       | Fmax           | FRMS           | Total E          |           \n";
    h += "Iter   | (kcal/mol/Å)   | (kcal/mol/Å)   | (kcal/mol)       | Status    \n";
    h += dashes + "\n";
    return h;
}

std::string row(int t, double fmax, double frms, double e, const std::string& status) {
    std::string s = std::to_string(t);
    return std::string(6 - s.size(), ' ') + s + " | " + fixed(fmax, 4, 14) + " | " + fixed(frms, 4, 14) + " | " +
           fixed(e, 4, 16) + " | " + pad_left_aligned(status, 10) + "\n";
}

std::string summary(const std::string& reason, double e, double fmax, double frms) {
    return dashes + "\n=== Optimization Finished ===\nReason: " + pad_left_aligned(reason, 20) +
           "\nTotal Time: <masked>\nFinal Energy: " + pad_left_aligned(fixed(e, 4), 15) +
           " kcal/mol\nFinal Fmax:   " + pad_left_aligned(fixed(fmax, 4), 15) + " kcal/mol/Å\nFinal FRMS:   " +
           pad_left_aligned(fixed(frms, 4), 15) + " kcal/mol/Å\n" + dashes + "\n\n";
}

struct Stats {
    double fmax, frms;
};
Stats stats(const System& s) {
    double fmax = 0, sum = 0;
    for (const Atom& a : s.atoms()) {
        fmax = std::max(fmax, norm(a.force));
        sum += norm2(a.force);
    }
    return {fmax, std::sqrt(sum / (3.0 * s.atoms().size()))};
}

Molecule bent_water() {
    Molecule m;
    m.add(8, {0, 0, 0});
    m.bond(0, m.add(1, {1.05, 0.1, 0}));
    m.bond(0, m.add(1, {-0.1, 0.9, 0.2}));
    return m;
}

// Two atoms beyond the cutoff of each other: no forces at all.
Molecule at_minimum() {
    Molecule m;
    m.add(18, {0, 0, 0});
    m.add(18, {10, 0, 0});
    return m;
}

}  // namespace

TEST(Report, Durations) {
    EXPECT_EQ(report::duration(2.5), "2.500s");
    EXPECT_EQ(report::duration(0.0123456), "12.346ms");
    EXPECT_EQ(report::duration(850e-9), "850.000ns");
    EXPECT_EQ(report::duration(1.5e-6), "1.500µs");
    EXPECT_EQ(report::duration(1.0), "1.000s");
    EXPECT_EQ(report::duration(0.0), "0.000ns");
    EXPECT_EQ(report::row(10, 1.5, std::nan(""), -3.25, ""),
              "    10 |         1.5000 |            NaN |          -3.2500 |           \n");
}

TEST(Optimizer, NoStepsPrintsHeaderAndSummary) {
    Molecule m = bent_water();
    System s = m.system();
    System probe = m.system();
    const double e0 = compute_forces_serial(probe, 6.0).total;
    UffOptimizer o;
    o.max_iterations = 0;
    o.verbose = true;
    const std::string out = run_captured(o, s);
    EXPECT_EQ(mask_time(out, true), header(3, 2, o) + summary("Max-Iter", e0, 0.0, 0.0));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(s.atoms()[i].position, m.atoms[i].position);
}

TEST(Optimizer, ConvergedAtTheWindowsEnd) {
    System s = at_minimum().system();
    UffOptimizer o;
    o.max_iterations = 100;
    o.threshold = 1.0;
    o.history_size = 10;
    o.verbose = true;
    o.num_threads = 3;
    const std::string out = run_captured(o, s);
    EXPECT_EQ(mask_time(out), header(2, 0, o) + row(0, 0, 0, 0, "") + row(9, 0, 0, 0, "Fmax-Conv") +
                                  summary("Fmax-Conv", 0, 0, 0));
    EXPECT_NE(out.find("Threads:   3         \n"), std::string::npos);
}

TEST(Optimizer, MaxIterRun) {
    Molecule m = bent_water();
    UffOptimizer o;
    o.max_iterations = 15;
    o.threshold = 1e-6;
    o.verbose = false;
    // The same run without the report: its last loop evaluation is what the
    // report's Final Fmax and FRMS show; its positions are the final ones.
    System quiet = m.system();
    testing::internal::CaptureStdout();
    ASSERT_TRUE(o.optimize(quiet).ok());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const Stats last = stats(quiet);
    System final_positions = quiet;
    const double e_final = compute_forces_serial(final_positions, 6.0).total;
    // Iteration 0's row shows the first evaluation; iteration 10's is checked against a 10-step run.
    System first = m.system();
    const double e0 = compute_forces_serial(first, 6.0).total;
    const Stats s0 = stats(first);
    UffOptimizer ten = o;
    ten.max_iterations = 10;
    System at10 = m.system();
    ASSERT_TRUE(ten.optimize(at10).ok());
    const double e10 = compute_forces_serial(at10, 6.0).total;
    const Stats s10 = stats(at10);

    o.verbose = true;
    System s = m.system();
    const std::string out = run_captured(o, s);
    EXPECT_EQ(mask_time(out), header(3, 2, o) + row(0, s0.fmax, s0.frms, e0, "") +
                                  row(10, s10.fmax, s10.frms, e10, "") +
                                  summary("Max-Iter", e_final, last.fmax, last.frms));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(s.atoms()[i].position, quiet.atoms()[i].position);
}

TEST(Optimizer, VerboseOffPrintsNothing) {
    System s = bent_water().system();
    UffOptimizer o;
    o.max_iterations = 50;
    o.verbose = false;
    EXPECT_EQ(run_captured(o, s), "");
}

TEST(Optimizer, FirstStepUsesHalfTheTimeStep) {
    Molecule m = bent_water();
    System probe = m.system();
    compute_forces_serial(probe, 6.0);
    System s = m.system();
    UffOptimizer o;
    o.max_iterations = 1;
    ASSERT_TRUE(o.optimize(s).ok());
    // v = 0.01 · F, then r += 0.01 · v.
    for (std::size_t i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(s.atoms()[i].position[k], m.atoms[i].position[k] + 1e-4 * probe.atoms()[i].force[k], 1e-15);
}

TEST(Optimizer, StoppingRules) {
    struct Case {
        std::uint64_t history;
        double threshold;
        const char* reason;
        int last_row;
    };
    // Window of 1: tests from iteration 0. Window of 0: the force tests
    // divide by zero and never pass; the stalled energy stops at iteration 1.
    const Case cases[] = {{1, 1.0, "Fmax-Conv", 0}, {0, 1.0, "E-Stalled", 1}, {3, 0.0, "E-Stalled", 2}};
    for (const auto& c : cases) {
        System s = at_minimum().system();
        UffOptimizer o;
        o.max_iterations = 100;
        o.history_size = c.history;
        o.threshold = c.threshold;
        o.verbose = true;
        std::string expected_rows = row(0, 0, 0, 0, c.last_row == 0 ? c.reason : "");
        if (c.last_row > 0) expected_rows += row(c.last_row, 0, 0, 0, c.reason);
        EXPECT_EQ(mask_time(run_captured(o, s)), header(2, 0, o) + expected_rows + summary(c.reason, 0, 0, 0))
            << c.history;
    }
    // A molecule relaxed with threshold 0 ends when its energy stops changing.
    System w = bent_water().system();
    UffOptimizer o;
    o.max_iterations = 20000;
    o.threshold = 0.0;
    o.verbose = true;
    const std::string out = run_captured(o, w);
    EXPECT_NE(out.find("Reason: E-Stalled"), std::string::npos) << out;
    // A FRMS-converged run: the average Fmax below twice the threshold and FRMS below half of it.
    System f = bent_water().system();
    o.threshold = 0.6;
    o.max_iterations = 5000;
    const std::string lines = run_captured(o, f);
    EXPECT_TRUE(lines.find("Reason: Fmax-Conv") != std::string::npos ||
                lines.find("Reason: FRMS-Conv") != std::string::npos)
        << lines;
}

TEST(Optimizer, EmptySystem) {
    System s = Molecule{}.system();
    UffOptimizer o;
    o.verbose = true;
    const std::string out = mask_time(run_captured(o, s));
    const auto nan_row = "     9 |         0.0000 |            NaN |           0.0000 | Fmax-Conv \n";
    EXPECT_NE(out.find(nan_row), std::string::npos) << out;
    EXPECT_NE(out.find("Final FRMS:   NaN             kcal/mol/Å\n"), std::string::npos) << out;
}

TEST(Optimizer, RelaxesAWaterBox) {
    Molecule m = fixtures::water_box(5, 15.5, 9);
    // Distort the bonds.
    for (std::size_t k = 1; k < m.atoms.size(); k += 3) m.atoms[k].position[0] += 0.25;
    const UnitCell cell = UnitCell::new_triclinic(fixtures::cubic(15.5));
    System s = m.system(cell);
    System before = m.system(cell);
    const double e_before = compute_forces_serial(before, 6.0).total;
    UffOptimizer o;
    o.max_iterations = 300;
    o.num_threads = 2;
    ASSERT_TRUE(o.optimize(s).ok());
    const double e_after = compute_forces_serial(s, 6.0).total;
    EXPECT_LT(e_after, e_before - 50.0);
    const double r0 = bond_constants(*find_uff_params("O_3"), *find_uff_params("H_"), 1.0).r0;
    for (const Bond& b : s.bonds()) {
        const double r = norm(cell.distance_vector(s.atoms()[b.i].position, s.atoms()[b.j].position));
        EXPECT_NEAR(r, r0, 0.03);
    }
}

TEST(RingBuffer, WindowAndHugeCapacity) {
    RingBuffer w(3);
    for (double x : {1.0, 2.0, 3.0, 4.0, 5.0}) w.push(x);
    EXPECT_EQ(w.size(), 3u);
    EXPECT_EQ(w.sum(), 12.0);
    EXPECT_EQ(w.newest(), 5.0);
    RingBuffer zero(0);
    zero.push(1.0);
    zero.push(7.0);
    EXPECT_EQ(zero.size(), 1u);
    EXPECT_EQ(zero.newest(), 7.0);
    // A window far larger than the run allocates only what the run pushes.
    RingBuffer huge(std::size_t(1) << 62);
    for (int k = 0; k < 5; ++k) huge.push(k);
    EXPECT_EQ(huge.size(), 5u);
    EXPECT_EQ(huge.sum(), 10.0);
}
