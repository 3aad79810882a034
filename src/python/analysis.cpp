#include "python/analysis.hpp"

#include <pybind11/numpy.h>

#include <cstring>
#include <string>

#include <fmt/format.h>

#include "core/msd.hpp"
#include "core/rdf.hpp"
#include "core/selection.hpp"
#include "python/errors.hpp"
#include "python/trajectory.hpp"

namespace py = pybind11;

namespace zelt::py_api {
namespace {

py::array_t<double> array_1d(const std::vector<double>& values) {
    py::array_t<double> out(static_cast<py::ssize_t>(values.size()));
    if (!values.empty()) std::memcpy(out.mutable_data(), values.data(), values.size() * sizeof(double));
    return out;
}

TrajectoryData read_input(py::handle input) {
    TrajectoryData data = extract_traj_data(input);
    if (data.n_frames == 0) throw ValueError("Input trajectory has no frames");
    return data;
}

// Selections hold atom indices that the analyses use as rows of the
// position arrays: every one must be below the atom count.
void check_indices(const Selection& s, std::size_t n_atoms) {
    for (const std::uint64_t i : s)
        if (i >= n_atoms)
            throw ValueError(fmt::format("Index {} is out of bounds for system with {} atoms", i, n_atoms));
}

py::tuple compute_rdf(py::object input, const std::string& query, double r_max, std::size_t n_bins) {
    const TrajectoryData data = read_input(input);
    const SelectionEngine engine(data.atoms);
    auto groups = engine.select_pair(query);
    if (!groups) throw ValueError(groups.error().message);
    const auto& [a, b] = *groups;
    check_indices(a, data.n_atoms);
    check_indices(b, data.n_atoms);
    const std::vector<double> cells = data.cell_matrices();
    const TrajectoryView view{data.positions, cells, data.n_frames, data.n_atoms};
    const RdfResult res = compute_rdf_core(view, a, b, r_max, n_bins);
    return py::make_tuple(array_1d(res.r), array_1d(res.g));
}

py::dict compute_msd(py::object input, const std::string& query, std::uint64_t max_lag, double dt) {
    const TrajectoryData data = read_input(input);
    const SelectionEngine engine(data.atoms);
    auto group = engine.select(query);
    if (!group) throw ValueError(group.error().message);
    check_indices(*group, data.n_atoms);
    const std::vector<double> cells = data.cell_matrices();
    const TrajectoryView view{data.positions, cells, data.n_frames, data.n_atoms};
    const MsdResult res = compute_msd_core(view, *group, max_lag, dt);
    py::dict out;
    out["time"] = array_1d(res.time);
    out["msd"] = array_1d(res.total);
    return out;
}

}  // namespace

void bind_analysis(py::module_& m) {
    m.def("compute_rdf", &compute_rdf, py::arg("input"), py::arg("query"), py::arg("r_max") = 10.0,
          py::arg("n_bins") = 200,
          "compute_rdf(input, query, r_max=10.0, n_bins=200)\n--\n\nCompute RDF with smart query.");
    m.def("compute_msd", &compute_msd, py::arg("input"), py::arg("query"), py::arg("max_lag") = 0,
          py::arg("dt") = 1.0, "compute_msd(input, query, max_lag=0, dt=1.0)\n--\n\nCompute MSD with smart query.");
}

}  // namespace zelt::py_api
