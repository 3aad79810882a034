#include "forcefield/report.hpp"

#include <cstdio>

#include <fmt/format.h>

#include "core/text.hpp"

namespace zelt::forcefield::report {

namespace {

using text::fixed;
using text::pad_left_aligned;
using text::pad_right_aligned;

const std::string dashes(80, '-');

std::string centred(const std::string& s, std::size_t width, char fill) {
    const std::size_t n = text::char_count(s);
    if (n >= width) return s;
    const std::size_t left = (width - n) / 2;
    return std::string(left, fill) + s + std::string(width - n - left, fill);
}

std::string settings_line(const std::string& a, const std::string& b, const std::string& c, const std::string& d) {
    return pad_left_aligned(a, 10) + " " + pad_left_aligned(b, 10) + " | " + pad_left_aligned(c, 10) + " " +
           pad_left_aligned(d, 10);
}

std::string heading_line(const std::string& a, const std::string& b, const std::string& c, const std::string& d,
                         const std::string& e) {
    return pad_left_aligned(a, 6) + " | " + pad_left_aligned(b, 14) + " | " + pad_left_aligned(c, 14) + " | " +
           pad_left_aligned(d, 16) + " | " + pad_left_aligned(e, 10) + "\n";
}

}  // namespace

std::vector<std::string> header(const Settings& s) {
    return {
        fmt::format("\n{}\n", centred(" kessa v1.0.0 ", 80, '=')),
        settings_line("Atoms:", std::to_string(s.atoms), "Bonds:", std::to_string(s.bonds)) + "\n",
        settings_line("Cutoff:", fixed(s.cutoff, 1), "Threshold:", fixed(s.threshold, 4)) + " kcal/mol/Å\n",
        settings_line("Max Iter:", std::to_string(s.max_iterations), "Threads:",
                      s.num_threads == 0 ? std::string("Auto") : std::to_string(s.num_threads)) +
            "\n",
        dashes + "\n",
        heading_line("", "Fmax", "FRMS", "Total E", ""),
        heading_line("Iter", "(kcal/mol/Å)", "(kcal/mol/Å)", "(kcal/mol)", "Status"),
        dashes + "\n",
    };
}

std::string row(std::uint64_t iteration, double fmax, double frms, double energy, const std::string& status) {
    return pad_right_aligned(std::to_string(iteration), 6) + " | " + fixed(fmax, 4, 14) + " | " + fixed(frms, 4, 14) +
           " | " + fixed(energy, 4, 16) + " | " + pad_left_aligned(status, 10) + "\n";
}

std::vector<std::string> summary(const Summary& s) {
    const double avg = s.elapsed_seconds / static_cast<double>(s.iterations);
    return {
        dashes + "\n",
        "=== Optimization Finished ===\n",
        "Reason: " + pad_left_aligned(s.status, 20) + "\n",
        "Total Time: " + pad_left_aligned(duration(s.elapsed_seconds), 10) + " (Avg: " + duration(avg) + " / step)\n",
        "Final Energy: " + pad_left_aligned(fixed(s.final_energy, 4), 15) + " kcal/mol\n",
        "Final Fmax:   " + pad_left_aligned(fixed(s.final_fmax, 4), 15) + " kcal/mol/Å\n",
        "Final FRMS:   " + pad_left_aligned(fixed(s.final_frms, 4), 15) + " kcal/mol/Å\n",
        dashes + "\n\n",
    };
}

std::string duration(double seconds) {
    if (seconds >= 1.0) return fixed(seconds, 3) + "s";
    if (seconds >= 1e-3) return fixed(seconds * 1e3, 3) + "ms";
    if (seconds >= 1e-6) return fixed(seconds * 1e6, 3) + "µs";
    return fixed(seconds * 1e9, 3) + "ns";
}

void print_line(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

}  // namespace zelt::forcefield::report
