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

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/Analysis.h"
#include "core/Orientation.h"
#include "core/Rules.h"
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

// Each cluster oriented (tarvok::Oriented), as every face presents it.
py::dict ToPython(const tarvok::AnalysisResult& result) {
  py::list clusters;
  for (const tarvok::ClusterRecord& raw : result.clusters) {
    const tarvok::ClusterRecord record = tarvok::Oriented(raw);
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
  out["stop_reason"] = tarvok::StopReasonName(result.stopReason);
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
    clusters.append(
        py::make_tuple(c.genes, c.scores, c.rows, c.eigenvalue, c.r2, c.gap, c.component, c.tableRows));
  }
  return py::make_tuple(r.samples, r.classes, r.genes, r.values, clusters, r.symbols);
}

exports::ExportRecord RecordFromState(const py::tuple& state) {
  if (state.size() != 6) throw std::runtime_error("not the state of an export record of this version");
  exports::ExportRecord r;
  r.samples = state[0].cast<std::vector<std::string>>();
  r.classes = state[1].cast<std::vector<std::string>>();
  r.genes = state[2].cast<std::vector<std::string>>();
  r.values = state[3].cast<std::vector<std::vector<double>>>();
  r.symbols = state[5].cast<std::vector<std::string>>();
  for (py::handle item : state[4].cast<py::list>()) {
    py::tuple t = item.cast<py::tuple>();
    exports::ClusterExport c;
    c.genes = t[0].cast<std::vector<std::string>>();
    c.tableRows = t[7].cast<std::vector<size_t>>();
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
                 const std::string& solver, const std::vector<std::string>& geneSymbols) {
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
  options.generatorState = generatorState;  // -1: the calling thread's generator, continued
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
    out["record"] = py::cast(
        exports::RecordOfAnalysis(*analysis, result, {geneLabels, sampleLabels, classNames, geneSymbols}));
  }
  return out;
}


// --- The shared rules (core/Rules.h), for the Python code's checks -----

// A rule's failure as ValueError with the core's text.
template <typename Rule>
auto Ruled(Rule rule) -> decltype(rule()) {
  try {
    return rule();
  } catch (const tarvok::Error& error) {
    throw py::value_error(Trimmed(error.what()));
  }
}

// A genes x samples matrix of doubles as the core's rules take it: a copy,
// row-major.
std::vector<double> Values(const py::array_t<double, py::array::c_style | py::array::forcecast>& data) {
  if (data.ndim() != 2) throw py::type_error("data must be a 2-D float64 array (genes x samples)");
  return std::vector<double>(data.data(), data.data() + data.size());
}

// ApplyMissingPolicy on a copy of data: the kept genes x kept samples matrix
// and which rows and columns of data they are. The first refused value
// raises MissingValueError (a ValueError) carrying gene, sample (from 0)
// and infinite.
py::dict ApplyMissing(const py::array_t<double, py::array::c_style | py::array::forcecast>& data,
                      const std::string& word, const py::object& errorType) {
  tarvok::MissingPolicy policy;
  if (!tarvok::ParseMissingPolicy(word, &policy)) {
    throw py::value_error("missing must be one of " + tarvok::MissingPolicyWords() + "; got '" + word + "'");
  }
  std::vector<double> values = Values(data);
  const auto genes = static_cast<int>(data.shape(0)), samples = static_cast<int>(data.shape(1));
  tarvok::MissingOutcome outcome;
  try {
    py::gil_scoped_release release;
    outcome = tarvok::ApplyMissingPolicy(values, genes, samples, policy);
  } catch (const tarvok::MissingValueError& error) {
    py::object raised = errorType(Trimmed(error.what()));
    raised.attr("gene") = error.gene;
    raised.attr("sample") = error.sample;
    raised.attr("infinite") = error.infinite;
    PyErr_SetObject(errorType.ptr(), raised.ptr());
    throw py::error_already_set();
  }
  py::array_t<double> kept({static_cast<py::ssize_t>(outcome.keptGenes.size()),
                            static_cast<py::ssize_t>(outcome.keptSamples.size())});
  std::copy(values.begin(), values.end(), kept.mutable_data());
  py::dict out;
  out["values"] = kept;
  out["genes"] = ToArray(outcome.keptGenes);
  out["samples"] = ToArray(outcome.keptSamples);
  out["missing_cells"] = outcome.missingCells;
  out["imputed_cells"] = outcome.imputedCells;
  out["genes_filled"] = outcome.genesFilled;
  out["dropped_for_missing"] = outcome.droppedForMissing;
  out["dropped_empty"] = outcome.droppedEmpty;
  return out;
}

// TransformLog2 on a copy of data under the choice word ("auto", "yes",
// "no"): the values (log2 taken, values <= 0 made NaN, when decided),
// whether log2 was taken, why, and how many values it made missing.
py::dict Log2Transform(const py::array_t<double, py::array::c_style | py::array::forcecast>& data,
                       const std::string& word) {
  tarvok::LogChoice choice;
  if (!tarvok::ParseLogChoice(word, &choice)) {
    throw py::value_error("log2 must be one of " + tarvok::LogChoiceWords() + "; got '" + word + "'");
  }
  std::vector<double> values = Values(data);
  tarvok::LogOutcome outcome;
  {
    py::gil_scoped_release release;
    outcome = tarvok::TransformLog2(values, choice, "");
  }
  py::array_t<double> result({data.shape(0), data.shape(1)});
  std::copy(values.begin(), values.end(), result.mutable_data());
  py::dict out;
  out["values"] = result;
  out["applied"] = outcome.decision.apply;
  out["reason"] = outcome.decision.reason;
  out["non_positive"] = outcome.nonPositive;
  return out;
}

// Each row of data centred as the analysis centres a gene (its mean summed
// from 0.0 in sample order), then projected on each row of components
// (summed from 0.0 in sample order, as the shaving scores are): the
// genes x clusters scores on the components.
py::array_t<double> ProjectRows(const py::array_t<double, py::array::c_style | py::array::forcecast>& data,
                                const py::array_t<double, py::array::c_style | py::array::forcecast>& components) {
  if (data.ndim() != 2 || components.ndim() != 2 || data.shape(1) != components.shape(1)) {
    throw py::value_error("data and components must be 2-D with the same number of samples");
  }
  const py::ssize_t genes = data.shape(0), samples = data.shape(1), clusters = components.shape(0);
  py::array_t<double> scores({genes, clusters});
  const double* x = data.data();
  const double* c = components.data();
  double* out = scores.mutable_data();
  {
    py::gil_scoped_release release;
    std::vector<double> row(static_cast<std::size_t>(samples));
    for (py::ssize_t g = 0; g < genes; ++g) {
      double sum = 0.0;
      for (py::ssize_t s = 0; s < samples; ++s) sum += x[g * samples + s];
      const double mean = samples > 0 ? sum / static_cast<double>(samples) : 0.0;
      for (py::ssize_t s = 0; s < samples; ++s) row[s] = x[g * samples + s] - mean;
      for (py::ssize_t k = 0; k < clusters; ++k) {
        double projection = 0.0;
        for (py::ssize_t s = 0; s < samples; ++s) projection += row[s] * c[k * samples + s];
        out[g * clusters + k] = projection;
      }
    }
  }
  return scores;
}

void BindRules(py::module_& module) {
  py::enum_<tarvok::Parameter>(module, "Parameter", "The analysis parameters whose ranges the core keeps.")
      .value("clusters", tarvok::Parameter::Clusters)
      .value("shave", tarvok::Parameter::Shave)
      .value("permutations", tarvok::Parameter::Permutations)
      .value("tolerance", tarvok::Parameter::Tolerance)
      .value("supervise", tarvok::Parameter::Supervise)
      .value("threads", tarvok::Parameter::Threads)
      .value("seed", tarvok::Parameter::Seed);
  module.def(
      "range_of",
      [](tarvok::Parameter p) {
        const tarvok::ParameterRange& r = tarvok::RangeOf(p);
        return py::make_tuple(r.low, r.high, r.percent);
      },
      py::arg("parameter"), "(low, high, percent) of a parameter, percents as whole percents.");
  module.def("allowed_text", &tarvok::AllowedText, py::arg("parameter"), py::arg("as_fraction") = false,
             "The allowed range in words, e.g. 'from 1 to 100000'.");
  module.def(
      "check_parameter",
      [](tarvok::Parameter p, long long value, const std::string& name, bool asFraction,
         const std::string& valueText) {
        Ruled([&] { tarvok::CheckParameter(p, value, name, asFraction, valueText); });
      },
      py::arg("parameter"), py::arg("value"), py::arg("name"), py::arg("as_fraction") = false,
      py::arg("value_text") = "", "Raises ValueError 'NAME must be ALLOWED; got VALUE' outside the range.");
  module.def(
      "percent_of_fraction",
      [](tarvok::Parameter p, double fraction, const std::string& name) {
        return Ruled([&] { return tarvok::PercentOfFraction(p, fraction, name); });
      },
      py::arg("parameter"), py::arg("fraction"), py::arg("name"),
      "The whole percent of a fraction (0.1 -> 10), or ValueError with the allowed range.");
  module.attr("DEFAULT_SEED") = tarvok::kDefaultSeed;
  module.attr("MISSING_POLICIES") = py::make_tuple(
      tarvok::MissingPolicyName(tarvok::MissingPolicy::Error), tarvok::MissingPolicyName(tarvok::MissingPolicy::Drop),
      tarvok::MissingPolicyName(tarvok::MissingPolicy::RowMean));
  module.def(
      "is_missing_word", [](const std::string& cell) { return tarvok::IsMissingWord(cell); }, py::arg("cell"),
      "True for a table cell that stands for a missing value (empty, NA, NaN, N/A, null).");
  static py::exception<tarvok::MissingValueError> missingError(module, "MissingValueError", PyExc_ValueError);
  py::object errorType = missingError;
  module.def(
      "apply_missing_policy",
      [errorType](const py::array_t<double, py::array::c_style | py::array::forcecast>& data,
                  const std::string& policy) { return ApplyMissing(data, policy, errorType); },
      py::arg("data"), py::arg("policy"),
      "The core's missing-value policy on a copy of a genes x samples matrix: a dict of the kept values and "
      "the kept rows ('genes') and columns ('samples').");
  module.def("log2_transform", &Log2Transform, py::arg("data"), py::arg("choice"),
             "The core's log2 rule on a copy of a genes x samples matrix: a dict of the values, 'applied', "
             "'reason' and 'non_positive' (values <= 0 made NaN).");
  module.def("project_rows", &ProjectRows, py::arg("data"), py::arg("components"),
             "Each row centred and projected on each component: genes x clusters.");
}

}  // namespace

PYBIND11_MODULE(_core, module) {
  module.doc() = "The gene-shaving core, compiled in (internal; use tarvok.GeneShaving or tarvok.shave).";
#ifdef TARVOK_VERSION
  module.attr("VERSION") = TARVOK_VERSION;  // the repository's VERSION file, given by setup.py
#endif
  BindRules(module);
  py::class_<exports::ExportRecord>(module, "ExportRecord",
                                    "What the export files of one run are written from (internal).")
      .def(
          "write",
          [](const exports::ExportRecord& record, const std::string& format, const std::string& path) {
            Exporting([&] { exports::WriteExport(record, format, path); });
          },
          py::arg("format"), py::arg("path"),
          "Writes the export file of format (gmt, kgg, cdt, gct or symbol-gmt) to path.")
      .def(
          "write_all",
          [](const exports::ExportRecord& record, const std::string& directory) {
            Exporting([&] { exports::WriteExports(record, directory); });
          },
          py::arg("directory"), "Writes every export file into directory (which must exist).")
      .def_property_readonly_static("file_names", [](py::object) { return exports::ExportFileNames(); })
      .def_property_readonly(
          "names", [](const exports::ExportRecord& record) { return exports::ExportFileNames(record); },
          "The names of the files write_all writes: the four, and clusters.symbols.gmt with symbols.")
      .def_property_readonly("has_symbols", [](const exports::ExportRecord& record) { return !record.symbols.empty(); })
      .def(py::pickle(&RecordState, &RecordFromState));
  module.def("analyze", &Analyze, py::arg("data"), py::arg("clusters"), py::arg("shave_percent"),
             py::arg("permutations"), py::arg("tolerance_percent"), py::arg("supervision_percent"),
             py::arg("classes"), py::arg("threads"), py::arg("generator_state") = tarvok::kDefaultSeed,
             py::arg("progress") = py::none(), py::arg("gene_labels") = std::vector<std::string>(),
             py::arg("sample_labels") = std::vector<std::string>(), py::arg("class_names") = std::vector<std::string>(),
             py::arg("solver") = "exact", py::arg("gene_symbols") = std::vector<std::string>(),
             "Runs one analysis of a genes x samples C-contiguous float64 matrix; returns a dict, with the export "
             "record under 'record' when gene_labels are given. Each cluster is oriented so that more of its "
             "genes score positive than negative.");
}
