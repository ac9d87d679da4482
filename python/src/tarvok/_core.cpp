// The compiled half of the tarvok package: runs tarvok::Analysis on a
// genes x samples NumPy matrix and returns the result record as Python
// objects. The core is compiled into this module (never loaded from the
// shared library), so a failure is a Python exception and never ends the
// interpreter.
//
// The GIL is released while the clusters are extracted. The core polls the
// observer on the calling thread about every 0.1 s; the observer then takes
// the GIL back and lets Python run its signal handlers, so Ctrl-C (or any
// handler that raises) stops the run: the core joins its workers and throws
// Cancelled, and the Python exception the handler raised is re-raised here.
//
// Given the labels, a run also keeps its export record (built by the export
// library from the analysis, as every face builds it), so that the result
// can write the export files later without the analysis.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/Analysis.h"
#include "exports/Exports.h"
#include "exports/FromAnalysis.h"

namespace py = pybind11;
namespace exports = tarvok::exports;

namespace {

// The core's messages end in a newline, as the C face prints them.
std::string Trimmed(const char* message) {
  std::string text(message);
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// Forwards the run's events to a Python callable (or to nothing) and turns
// a raised signal handler into cancellation.
class PythonObserver final : public tarvok::AnalysisObserver {
 public:
  explicit PythonObserver(py::object progress) : progress_(std::move(progress)) {}

  void PassStarted(int cluster) override { Report("pass", cluster, 0); }
  void CopyShaved(int copy, int copies) override { Report("copy", copy, copies); }
  void ClusterDone(int cluster, const tarvok::ClusterRecord&) override { Report("cluster", cluster, 0); }

  bool CancelRequested() override {
    py::gil_scoped_acquire gil;
    if (PyErr_CheckSignals() == 0) return false;
    pending_ = std::make_unique<py::error_already_set>();  // takes the handler's exception
    return true;
  }

  // Raises the exception that stopped the run; KeyboardInterrupt when the
  // core was cancelled without one. Call with the GIL held.
  [[noreturn]] void RaiseCancellation() {
    if (pending_) throw py::error_already_set(*pending_);
    PyErr_SetNone(PyExc_KeyboardInterrupt);
    throw py::error_already_set();
  }

 private:
  // A progress callable that raises unwinds the run with its exception.
  void Report(const char* event, int a, int b) {
    if (progress_.is_none()) return;
    py::gil_scoped_acquire gil;
    progress_(event, a, b);
  }

  py::object progress_;
  std::unique_ptr<py::error_already_set> pending_;
};

template <typename T>
py::array_t<T> ToArray(const std::vector<T>& values) {
  return py::array_t<T>(static_cast<py::ssize_t>(values.size()), values.data());
}

const char* StopReasonName(tarvok::StopReason reason) {
  switch (reason) {
    case tarvok::StopReason::Completed:
      return "completed";
    case tarvok::StopReason::NoClustersLeft:
      return "no_clusters_left";
    case tarvok::StopReason::VarianceExhausted:
      return "variance_exhausted";
  }
  return "completed";
}

py::dict ToPython(const tarvok::AnalysisResult& result) {
  py::list clusters;
  for (const tarvok::ClusterRecord& record : result.clusters) {
    py::dict cluster;
    cluster["chosen_step"] = record.chosenStep;
    cluster["size"] = record.size;
    cluster["genes"] = ToArray(record.genes);
    cluster["scores"] = ToArray(record.scores);
    cluster["eigenvalue"] = record.eigenvalue;
    cluster["component"] = ToArray(record.component);
    cluster["sizes"] = ToArray(record.sizes);
    cluster["gap"] = ToArray(record.gap);
    cluster["r2"] = ToArray(record.r2);
    cluster["r2_permuted"] = ToArray(record.meanPermutedR2);
    cluster["between"] = ToArray(record.between);
    cluster["total"] = ToArray(record.total);
    cluster["within"] = ToArray(record.within);
    clusters.append(std::move(cluster));
  }
  py::dict out;
  out["genes"] = result.genes;
  out["samples"] = result.samples;
  out["clusters"] = std::move(clusters);
  out["stop_reason"] = StopReasonName(result.stopReason);
  return out;
}

// Runs one writer without the GIL; a record the writers refuse becomes a
// ValueError, a file that cannot be written an OSError.
template <typename Write>
void Exporting(Write write) {
  std::string failure;
  bool refused = false, failed = false;
  {
    py::gil_scoped_release release;
    try {
      write();
    } catch (const std::invalid_argument& error) {
      refused = failed = true;
      failure = error.what();
    } catch (const std::runtime_error& error) {
      failed = true;
      failure = error.what();
    }
  }
  if (!failed) return;
  if (refused) throw py::value_error(failure);
  PyErr_SetString(PyExc_OSError, failure.c_str());
  throw py::error_already_set();
}

// Pickling keeps the record as plain lists, so that a fitted estimator
// saved and loaded again still writes its exports.
py::tuple RecordState(const exports::ExportRecord& r) {
  py::list clusters;
  for (const exports::ClusterExport& c : r.clusters) {
    clusters.append(py::make_tuple(c.genes, c.scores, c.rows, c.eigenvalue, c.r2, c.gap, c.component));
  }
  return py::make_tuple(r.samples, r.classes, r.genes, r.values, clusters);
}

exports::ExportRecord RecordFromState(const py::tuple& state) {
  if (state.size() != 5) throw std::runtime_error("not the state of an export record");
  exports::ExportRecord r;
  r.samples = state[0].cast<std::vector<std::string>>();
  r.classes = state[1].cast<std::vector<std::string>>();
  r.genes = state[2].cast<std::vector<std::string>>();
  r.values = state[3].cast<std::vector<std::vector<double>>>();
  for (py::handle item : state[4].cast<py::list>()) {
    py::tuple t = item.cast<py::tuple>();
    exports::ClusterExport c;
    c.genes = t[0].cast<std::vector<std::string>>();
    c.scores = t[1].cast<std::vector<double>>();
    c.rows = t[2].cast<std::vector<std::vector<double>>>();
    c.eigenvalue = t[3].cast<double>();
    c.r2 = t[4].cast<double>();
    c.gap = t[5].cast<double>();
    c.component = t[6].cast<std::vector<double>>();
    r.clusters.push_back(std::move(c));
  }
  return r;
}

// data must be C-contiguous float64; anything else is refused rather than
// copied here, since the Python side has already converted it once.
py::dict Analyze(const py::array& data, int clusters, int shavePercent, int permutations, int tolerancePercent,
                 int supervisionPercent, std::vector<int> classes, int threads, std::int64_t generatorState,
                 py::object progress, const std::vector<std::string>& geneLabels,
                 const std::vector<std::string>& sampleLabels, const std::vector<std::string>& classNames,
                 const std::string& solver) {
  if (data.ndim() != 2 || !data.dtype().is(py::dtype::of<double>()) ||
      !(data.flags() & py::array::c_style)) {
    throw py::type_error("data must be a 2-D C-contiguous float64 array (genes x samples)");
  }
  constexpr py::ssize_t kMaxSide = std::numeric_limits<int>::max();
  if (data.shape(0) > kMaxSide || data.shape(1) > kMaxSide) {
    throw py::value_error("the matrix has more than 2147483647 genes or samples");
  }
  tarvok::AnalysisOptions options;
  options.clusters = clusters;
  options.shavePercent = shavePercent;
  options.permutations = permutations;
  options.tolerancePercent = tolerancePercent;
  options.supervisionPercent = supervisionPercent;
  options.classes = std::move(classes);
  options.threads = threads;
  options.generatorState = generatorState;  // 1: a fresh process's state, as the C face starts
  if (solver == "exact") {
    options.solver = tarvok::Solver::Exact;
  } else if (solver == "fast") {
    options.solver = tarvok::Solver::Fast;
  } else {
    throw py::value_error("solver must be one of 'exact', 'fast'; got '" + solver + "'");
  }

  // Construction copies and centres the data; it runs with the GIL held so
  // that nothing changes the array while it is read.
  std::unique_ptr<tarvok::Analysis> analysis;
  try {
    analysis = std::make_unique<tarvok::Analysis>(static_cast<const double*>(data.data()),
                                                  static_cast<int>(data.shape(0)),
                                                  static_cast<int>(data.shape(1)), options);
  } catch (const tarvok::Error& error) {
    throw py::value_error(Trimmed(error.what()));
  }

  PythonObserver observer(std::move(progress));
  tarvok::AnalysisResult result;
  try {
    py::gil_scoped_release release;
    result = analysis->Run(&observer);
  } catch (const tarvok::Cancelled&) {
    observer.RaiseCancellation();
  } catch (const tarvok::Error& error) {
    throw std::runtime_error(Trimmed(error.what()));
  }
  py::dict out = ToPython(result);
  if (!geneLabels.empty()) {
    out["record"] = py::cast(exports::RecordOfAnalysis(*analysis, result, geneLabels, sampleLabels, classNames));
  }
  return out;
}

}  // namespace

PYBIND11_MODULE(_core, module) {
  module.doc() = "The gene-shaving core, compiled in (internal; use tarvok.GeneShaving or tarvok.shave).";
  py::class_<exports::ExportRecord>(module, "ExportRecord",
                                    "What the export files of one run are written from (internal).")
      .def(
          "write",
          [](const exports::ExportRecord& record, const std::string& format, const std::string& path) {
            Exporting([&] { exports::WriteExport(record, format, path); });
          },
          py::arg("format"), py::arg("path"), "Writes the export file of format (gmt, kgg, cdt or gct) to path.")
      .def(
          "write_all",
          [](const exports::ExportRecord& record, const std::string& directory) {
            Exporting([&] { exports::WriteExports(record, directory); });
          },
          py::arg("directory"), "Writes every export file into directory (which must exist).")
      .def_property_readonly_static("file_names", [](py::object) { return exports::ExportFileNames(); })
      .def(py::pickle(&RecordState, &RecordFromState));
  module.def("analyze", &Analyze, py::arg("data"), py::arg("clusters"), py::arg("shave_percent"),
             py::arg("permutations"), py::arg("tolerance_percent"), py::arg("supervision_percent"),
             py::arg("classes"), py::arg("threads"), py::arg("generator_state") = 1,
             py::arg("progress") = py::none(), py::arg("gene_labels") = std::vector<std::string>(),
             py::arg("sample_labels") = std::vector<std::string>(), py::arg("class_names") = std::vector<std::string>(),
             py::arg("solver") = "exact",
             "Runs one analysis of a genes x samples C-contiguous float64 matrix; returns a dict, with the export "
             "record under 'record' when gene_labels are given.");
}
