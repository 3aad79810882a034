// The optimizer's progress report: header, one row per reported iteration
// and the summary, each line as it is printed (widths count characters).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelt::forcefield::report {

struct Settings {
    std::uint64_t atoms;
    std::uint64_t bonds;
    double cutoff;
    double threshold;
    std::uint64_t max_iterations;
    std::uint64_t num_threads;  // 0 prints "Auto"
};

struct Summary {
    std::string status;
    double elapsed_seconds;
    std::uint64_t iterations;  // iterations run, at least 1
    double final_energy;
    double final_fmax;
    double final_frms;
};

// Lines 1 to 8: banner, settings, the table's heading between dashes.
std::vector<std::string> header(const Settings& s);

// "{:>6} | {:>14.4} | {:>14.4} | {:>16.4} | {:<10}\n".
std::string row(std::uint64_t iteration, double fmax, double frms, double energy, const std::string& status);

// The closing dashes, the reason, timing, final energy and forces.
std::vector<std::string> summary(const Summary& s);

// Three decimals and a unit: "s" from one second, "ms" from one millisecond,
// "µs" from one microsecond, else "ns".
std::string duration(double seconds);

// Writes one line to the process's standard output and flushes it.
void print_line(const std::string& line);

}  // namespace zelt::forcefield::report
