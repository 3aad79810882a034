#include "forcefield/optimizer.hpp"

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "forcefield/report.hpp"
#include "forcefield/ring_buffer.hpp"

namespace zelt::forcefield {

namespace {

struct ForceStats {
    double fmax;
    double frms;
};

ForceStats force_stats(std::span<const Atom> atoms) {
    double fmax = 0.0, sum = 0.0;
    for (const Atom& a : atoms) {
        const double f2 = norm2(a.force);
        fmax = std::max(fmax, std::sqrt(f2));
        sum += f2;
    }
    // No atoms: 0 / 0, not a number.
    return {fmax, std::sqrt(sum / (3.0 * static_cast<double>(atoms.size())))};
}

}  // namespace

Status UffOptimizer::optimize(System& system) const {
    auto evaluator = ForceEvaluator::create(num_threads);
    if (!evaluator) return evaluator.error();
    optimize(system, *evaluator);
    return Ok{};
}

void UffOptimizer::optimize(System& system, ForceEvaluator& evaluator) const {
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    auto atoms = system.atoms();
    const std::size_t n = atoms.size();
    if (verbose)
        for (const auto& line : report::header({n, system.bonds().size(), cutoff, threshold, max_iterations, num_threads}))
            report::print_line(line);

    std::vector<Vec3> velocity(n, Vec3{0.0, 0.0, 0.0});
    double dt = 0.02;
    double alpha = 0.1;
    std::uint64_t positive_steps = 0;
    RingBuffer fmax_history(history_size), frms_history(history_size), energy_change_history(history_size);
    double previous_energy = 0.0;
    std::string status = "Max-Iter";
    std::uint64_t last_iteration = 0;
    bool ran = false;

    for (std::uint64_t t = 0; t < max_iterations; ++t) {
        ran = true;
        last_iteration = t;
        const double energy = evaluator.evaluate(system, cutoff).total;
        const ForceStats stats = force_stats(atoms);
        fmax_history.push(stats.fmax);
        frms_history.push(stats.frms);
        if (t >= 1) energy_change_history.push(std::fabs(energy - previous_energy) / static_cast<double>(n));
        previous_energy = energy;

        bool converged = false;
        if (fmax_history.size() >= history_size) {
            const double w = static_cast<double>(history_size);
            const double avg_fmax = fmax_history.sum() / w;
            const double avg_frms = frms_history.sum() / w;
            if (avg_fmax < threshold) {
                status = "Fmax-Conv";
                converged = true;
            } else if (avg_fmax < 2.0 * threshold && avg_frms < 0.5 * threshold) {
                status = "FRMS-Conv";
                converged = true;
            } else if (!energy_change_history.empty() &&
                       energy_change_history.sum() / static_cast<double>(energy_change_history.size()) < 1e-7) {
                status = "E-Stalled";
                converged = true;
            }
        }
        if (verbose && (t % 10 == 0 || converged))
            report::print_line(report::row(t, stats.fmax, stats.frms, energy, converged ? status : std::string()));
        if (converged) break;

        // Inertial step.
        double power = 0.0;
        for (std::size_t i = 0; i < n; ++i) power += dot(atoms[i].force, velocity[i]);
        for (std::size_t i = 0; i < n; ++i) {
            const double f = norm(atoms[i].force);
            if (f > 1e-9) {
                const double speed = norm(velocity[i]);
                velocity[i] = (1.0 - alpha) * velocity[i] + (alpha * speed / f) * atoms[i].force;
            }
        }
        if (power > 0.0) {
            if (++positive_steps > 5) {
                dt = std::min(1.1 * dt, 0.2);
                alpha *= 0.99;
            }
        } else {
            for (Vec3& v : velocity) v = {0.0, 0.0, 0.0};
            dt *= 0.5;
            alpha = 0.1;
            positive_steps = 0;
        }
        for (std::size_t i = 0; i < n; ++i) {
            velocity[i] += dt * atoms[i].force;
            atoms[i].position += dt * velocity[i];
        }
    }

    if (!verbose) return;
    const double elapsed = std::chrono::duration<double>(clock::now() - start).count();
    const double final_energy = evaluator.evaluate(system, cutoff).total;
    const report::Summary summary{status,
                                  elapsed,
                                  ran ? last_iteration + 1 : 1,
                                  final_energy,
                                  fmax_history.empty() ? 0.0 : fmax_history.newest(),
                                  frms_history.empty() ? 0.0 : frms_history.newest()};
    for (const auto& line : report::summary(summary)) report::print_line(line);
}

}  // namespace zelt::forcefield
