// The calling thread's pseudo-random generator, seeded from the operating system.
#pragma once

#include <random>

namespace zelt {

inline std::mt19937_64& thread_rng() {
    thread_local std::mt19937_64 rng{[] {
        std::random_device rd;
        std::seed_seq seq{rd(), rd(), rd(), rd()};
        return std::mt19937_64(seq);
    }()};
    return rng;
}

}  // namespace zelt
