// Trajectory input of the analysis functions and of from_ase: a System, one
// ASE Atoms object or a list of them, read into flat per-frame arrays and
// per-atom descriptions.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <vector>

#include "core/selection.hpp"
#include "core/trajectory.hpp"

namespace zelt::py_api {

struct TrajectoryData {
    std::size_t n_frames = 0;
    std::size_t n_atoms = 0;                 // positions of the first frame
    std::vector<double> positions;           // n_frames × n_atoms × 3
    std::vector<std::vector<double>> cells;  // each frame's cell as the source gives it (9 or 3 values, or other)
    std::vector<AtomInfo> atoms;             // from the first frame

    // n_frames × 9: 9 values fill the matrix row by row, 3 the diagonal, any
    // other count leaves it zero.
    std::vector<double> cell_matrices() const;
};

// Tests the input kinds in order: a System; then an instance of ase.Atoms
// (importing ase, whose failure is raised as it comes); then a Python list
// (or subclass) of objects answering get_positions(), get_cell().flatten()
// and, for the first, get_chemical_symbols(). Anything else is the TypeError
// "Input must be a System, ASE Atoms, or List[Atoms]".
//
// float64 results with two dimensions (positions) or one (cells) are copied
// through the buffer protocol; other results are read as sequences. Text
// where a sequence is expected is a TypeError; an atom with fewer than 3
// coordinates, or a later frame with fewer atoms than the first, is a
// ValueError. Later frames with more atoms are read up to the first frame's
// count. An empty list gives no frames.
TrajectoryData extract_traj_data(pybind11::handle input);

// The 3 × 3 matrix a flat cell list stands for (see cell_matrices).
Mat3 cell_from_values(const std::vector<double>& values);

}  // namespace zelt::py_api
