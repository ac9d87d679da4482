#include "present/FigureFiles.h"

#include <filesystem>
#include <future>
#include <stdexcept>

#include "run/AtomicFile.h"
#include "exports/Exports.h"
#include "exports/Fields.h"

namespace tarvok {

namespace {

using tarvok::exports::ExactNumber;
using tarvok::exports::Field;

std::string StepTable(const ClusterResult& c, bool withR2) {
  std::string out = withR2 ? "size\tr2_percent\tmean_permuted_r2_percent\tchosen\n" : "size\tgap\tchosen\n";
  for (size_t k = 0; k < c.sizes.size(); ++k) {
    out += std::to_string(c.sizes[k]) + "\t";
    out += withR2 ? ExactNumber(c.r2Curve[k]) + "\t" + ExactNumber(c.meanPermutedR2[k])
                  : ExactNumber(c.gapCurve[k]);
    out += static_cast<int>(k) + 1 == c.chosenStep ? "\t1\n" : "\t0\n";
  }
  return out;
}

std::string SampleName(const std::vector<std::string>& labels, size_t s) {
  return s < labels.size() ? Field(labels[s]) : "sample" + std::to_string(s + 1);
}

// The heatmap's cells: one row per drawn gene, its values times its sign.
std::string HeatmapTable(const ClusterResult& c, const std::vector<std::string>& sampleLabels, int rows) {
  std::string out = "gene\tsign";
  for (size_t s = 0; s < c.component.size(); ++s) out += "\t" + SampleName(sampleLabels, s);
  out += "\n";
  const std::vector<int> signs = GeneSigns(c);
  for (int j = 0; j < rows && j < c.size; ++j) {
    out += Field(c.geneLabels[j]) + (signs[j] > 0 ? "\t+1" : "\t-1");
    for (double value : c.data[j]) out += "\t" + ExactNumber(tarvok::exports::Aligned(value, signs[j]));
    out += "\n";
  }
  return out;
}

std::string ComponentTable(const ClusterResult& c, const std::vector<std::string>& sampleLabels,
                           const std::vector<std::string>& classes) {
  const bool withClasses = classes.size() == c.component.size();
  std::string out = withClasses ? "sample\tclass\tcomponent\n" : "sample\tcomponent\n";
  for (size_t s = 0; s < c.component.size(); ++s) {
    out += SampleName(sampleLabels, s) + "\t";
    if (withClasses) out += Field(classes[s]) + "\t";
    out += ExactNumber(c.component[s]) + "\n";
  }
  return out;
}

}  // namespace

std::vector<ClusterFigure> DrawClusterFigures(const ClusterResult& c,
                                              const std::vector<std::string>& sampleLabels,
                                              const std::vector<std::string>& classes, int maxHeatmapRows) {
  const std::string name = "Cluster " + std::to_string(c.number);
  const std::string stem = "cluster" + std::to_string(c.number);
  const bool coloured = !classes.empty();
  std::vector<ClusterFigure> figures;
  figures.push_back({stem + "_gap", name + " gap curve",
                     "Gap (R\xC2\xB2 of the data minus the mean over permuted copies) against cluster size; "
                     "the dashed line marks the chosen size.",
                     DrawGapCurve(c), StepTable(c, false), {}});
  figures.push_back(
      {stem + "_r2", name + " R\xC2\xB2 curves",
       "R\xC2\xB2 of the real data and mean R\xC2\xB2 of the permuted copies against cluster size.",
       DrawVarianceCurves(c), StepTable(c, true), {}});
  figures.push_back(
      {stem + "_heatmap", name + " heatmap",
       std::string("Centred expression of the cluster's genes in cluster order, each gene "
                   "turned to follow the component (genes marked \xE2\x88\x92 are negated).") +
           (coloured ? " The strip above shows the classes, coloured as in the component figure." : ""),
       DrawHeatmap(c, sampleLabels, classes, maxHeatmapRows), HeatmapTable(c, sampleLabels, maxHeatmapRows),
       {}});
  figures.push_back({stem + "_component", name + " component",
                     coloured ? "The cluster's component over the samples, coloured by class."
                              : "The cluster's component over the samples.",
                     DrawComponent(c, sampleLabels, classes), ComponentTable(c, sampleLabels, classes), {}});
  // The heatmap, a cell for each gene and sample, takes longer to encode
  // than the others together: it is encoded on a thread of its own meanwhile.
  constexpr size_t kHeatmap = 2;
  std::future<std::string> heatmap =
      std::async(std::launch::async, [&figures] { return figures[kHeatmap].figure.Encode(FigureFormat::Svg); });
  for (size_t i = 0; i < figures.size(); ++i) {
    if (i != kHeatmap) figures[i].svg = figures[i].figure.Encode(FigureFormat::Svg);
  }
  figures[kHeatmap].svg = heatmap.get();
  return figures;
}

void WriteFigureFiles(const std::vector<ClusterFigure>& figures, const std::string& dir,
                      FigureFormat format) {
  const std::string folder = dir + "/" + kFigureDirectory;
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) throw std::runtime_error(folder + ": cannot be created: " + error.message());
  for (const ClusterFigure& f : figures) {
    const std::string path = folder + "/" + f.stem;
    const std::string drawn = format == FigureFormat::Svg ? f.svg : f.figure.Encode(format);
    tarvok::exports::WriteFileAtomically(path + "." + FigureExtension(format), drawn);
    tarvok::exports::WriteFileAtomically(path + ".tsv", f.data);
  }
}

bool IsFigureFileName(const std::string& name) {
  const std::string suffix = ".tmp";
  if (name.size() > 1 + suffix.size() && name[0] == '.' &&
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
    const std::string inner = name.substr(1, name.size() - 1 - suffix.size());
    return TemporaryFileName(inner) == name && IsFigureFileName(inner);
  }
  const std::string& file = name;
  const std::size_t underscore = file.find('_'), dot = file.rfind('.');
  if (file.rfind("cluster", 0) != 0 || underscore == std::string::npos || dot == std::string::npos ||
      dot < underscore) {
    return false;
  }
  const std::string number = file.substr(7, underscore - 7), extension = file.substr(dot);
  return !number.empty() && number.find_first_not_of("0123456789") == std::string::npos &&
         (extension == ".png" || extension == ".svg" || extension == ".pdf" || extension == ".tsv");
}

namespace {

std::vector<std::string> FigureDirectoryEntries(const std::string& dir, bool* readable) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(dir + "/" + kFigureDirectory, error), end; !error && it != end;
       it.increment(error)) {
    names.push_back(it->path().filename().string());
  }
  *readable = !error;
  return names;
}

}  // namespace

bool HoldsOnlyFigureFiles(const std::string& dir) {
  std::error_code error;
  if (!std::filesystem::is_directory(dir + "/" + kFigureDirectory, error)) return false;
  bool readable = false;
  for (const std::string& name : FigureDirectoryEntries(dir, &readable)) {
    if (!IsFigureFileName(name)) return false;
  }
  return readable;
}

void RemoveFigureFiles(const std::string& dir) {
  bool readable = false;
  std::error_code error;
  for (const std::string& name : FigureDirectoryEntries(dir, &readable)) {
    if (IsFigureFileName(name)) std::filesystem::remove(dir + "/" + kFigureDirectory + "/" + name, error);
  }
  std::filesystem::remove(dir + "/" + kFigureDirectory, error);  // only when empty
}

}  // namespace tarvok
