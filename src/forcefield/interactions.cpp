#include "forcefield/interactions.hpp"

namespace zelt::forcefield {

std::optional<PairTerm> calculate_bond(double order, const UffParams* i, const UffParams* j, const Vec3& d) {
    if (!i || !j) return std::nullopt;
    return bond_term(bond_constants(*i, *j, order), d);
}

std::optional<AngleTerm> calculate_angle(const UffParams* a, const UffParams* c, const UffParams* b,
                                         const Vec3& arm_a, const Vec3& arm_b) {
    if (!a || !c || !b) return std::nullopt;
    return angle_term(angle_constants(*a, *c, *b), arm_a, arm_b);
}

std::optional<TorsionTerm> calculate_torsion(const Vec3& b1, const Vec3& b2, const Vec3& b3, const UffParams* j,
                                             const UffParams* k, float order) {
    if (!j || !k) return std::nullopt;
    return torsion_term(torsion_constants(*j, *k, order), b1, b2, b3);
}

std::optional<PairTerm> calculate_lj(const Vec3& d, const UffParams* i, const UffParams* j, double cutoff_squared,
                                     double scale) {
    if (!i || !j) return std::nullopt;
    return lj_term(pair_constants(*i, *j, scale), d, norm2(d), cutoff_squared, std::sqrt(cutoff_squared));
}

bool is_planar_label(std::string_view label) {
    return label == "C_2" || label == "C_R" || label == "N_2" || label == "N_R";
}

std::optional<PlanarityTerm> calculate_planarity(std::string_view label, std::size_t neighbour_count, const Vec3& s0,
                                                 const Vec3& e1, const Vec3& e2) {
    if (neighbour_count != 3 || !is_planar_label(label)) return std::nullopt;
    return planarity_term(s0, e1, e2);
}

}  // namespace zelt::forcefield
