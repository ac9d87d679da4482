// Result directories with known values, written in the library's formats,
// for the tests of the result reader, the summaries and the report.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "host/present/ResultFiles.h"
#include "tests/support/TempDir.h"

inline std::string Numbered(const char* stem, int i) {
  char name[64];
  std::snprintf(name, sizeof name, "%s%05d.txt", stem, i);
  return name;
}

inline std::string Printf(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// A cluster whose values all have at most six decimals, so that writing and
// reading back gives the same doubles. Gene g follows the pattern
// (1, -1, 2, 0.5, ...) when even and its negation when odd, so GeneSigns
// alternates +1, -1.
inline tarvok::ClusterResult MakeCluster(int number, int samples, int geneCount, int chosenStep) {
  tarvok::ClusterResult c;
  c.number = number;
  c.chosenStep = chosenStep;
  for (int size = geneCount; size >= 1; size = size > 4 ? size - size / 4 : size - 1) {
    c.sizes.push_back(size);
  }
  for (size_t k = 0; k < c.sizes.size(); ++k) {
    c.gapCurve.push_back(0.25 * k - 0.5 + number);
    c.r2Curve.push_back(10.0 + 5.5 * k);
    c.meanPermutedR2.push_back(8.0 + 1.25 * k);
    c.between.push_back(1.5 + k);
    c.total.push_back(20.0 + k);
    c.within.push_back(18.5);
  }
  c.size = c.sizes[chosenStep - 1];
  c.gap = c.gapCurve[chosenStep - 1];
  c.r2 = c.r2Curve[chosenStep - 1];
  c.eigenvalue = 12.345678 * number;
  for (int s = 0; s < samples; ++s) c.component.push_back(s % 2 == 0 ? 0.5 + s : -0.25 * s);
  for (int j = 0; j < c.size; ++j) {
    c.geneLabels.push_back("G" + std::to_string(number) + "_" + std::to_string(j));
    std::vector<double> row;
    for (int s = 0; s < samples; ++s) row.push_back((j % 2 == 0 ? 1 : -1) * c.component[s] * (1 + j));
    c.data.push_back(row);
  }
  return c;
}

inline tarvok::RunResults MakeResults(int samples, int clusters) {
  tarvok::RunResults r;
  r.samples = samples;
  for (int s = 0; s < samples; ++s) r.sampleLabels.push_back("S" + std::to_string(s + 1));
  for (int i = 1; i <= clusters; ++i) r.clusters.push_back(MakeCluster(i, samples, 12 + i, 3));
  return r;
}

// Writes r as the library would, with requested names listed in clusters.txt
// and clabels.txt (at least r.clusters.size()).
inline void WriteResults(const TempDir& dir, const tarvok::RunResults& r, int requested) {
  std::string columns, dataNames, labelNames, lengths;
  for (const std::string& label : r.sampleLabels) columns += label + "\n";
  for (int i = 1; i <= requested; ++i) {
    dataNames += Numbered("cluster", i) + "\n";
    labelNames += Numbered("clabels", i) + "\n";
  }
  for (const tarvok::ClusterResult& c : r.clusters) {
    lengths += std::to_string(c.chosenStep) + "\t " + std::to_string(c.size) + "\n";
    std::string gap, variance, data, labels, pc;
    for (size_t k = 0; k < c.sizes.size(); ++k) {
      gap += std::to_string(c.sizes[k]) + Printf("\t%f\n", c.gapCurve[k]);
      variance += std::to_string(c.sizes[k]) + Printf("\t%f", c.r2Curve[k]) +
                  Printf("\t%f", c.meanPermutedR2[k]) + Printf("\t%f", c.between[k]) +
                  Printf("\t%f", c.total[k]) + Printf("\t%f\n", c.within[k]);
    }
    for (int s = 0; s < r.samples; ++s) {
      for (int j = 0; j < c.size; ++j) data += Printf("%8.6f\n", c.data[j][s]);
      pc += Printf("%f\n", c.component[s]);
    }
    for (const std::string& label : c.geneLabels) labels += label + "\n";
    dir.Write(Numbered("gap", c.number), gap);
    dir.Write(Numbered("variance", c.number), variance);
    dir.Write(Numbered("cluster", c.number), data);
    dir.Write(Numbered("clabels", c.number), labels);
    dir.Write(Numbered("eigen", c.number), Printf("%f\n", c.eigenvalue));
    dir.Write(Numbered("pc", c.number), pc);
  }
  dir.Write("ColLbls.txt", columns);
  dir.Write("clusters.txt", dataNames);
  dir.Write("clabels.txt", labelNames);
  dir.Write("clusterlengths.txt", lengths);
}
