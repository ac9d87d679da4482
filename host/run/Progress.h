// The progress display of a run, fed by the core's events.
#pragma once

#include "core/Analysis.h"

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace tarvok {

// Shows how far an analysis has come. On a terminal it redraws one line
// ("\r" ... erase to end of line) with a bar, the cluster, the permuted copy,
// the elapsed time and the estimated time left; otherwise it writes plain
// lines at the start and end of each cluster and at every quarter of its
// permuted copies. Quiet shows nothing.
class Progress : public tarvok::AnalysisObserver {
 public:
  // out: where to draw (standard error); terminal: draw the live bar;
  // quiet: draw nothing; clusters, permutations: K and B of the run;
  // clock: seconds since any fixed origin (injected so tests control time).
  Progress(std::ostream& out, bool terminal, bool quiet, int clusters, int permutations,
           std::function<double()> clock);

  // The run's events; each redraws as needed.
  void PassStarted(int cluster) override;
  void DataShaved(int cluster, int clusters) override;
  void CopyShaved(int copy, int copies) override;
  void Orthogonalizing(int cluster) override;
  // The run stopped before the clusters requested: one line says so, even
  // when quiet (it is part of the result, not of the progress).
  void StoppedEarly(int extracted, int requested);
  // Redraws the live bar so that its clock moves between events.
  void Tick();
  // Shows a line of other text (a warning) without breaking the bar: the
  // bar is cleared, the text written, the bar redrawn; kept for Messages.
  void Message(const std::string& text);
  // Clears the live bar at the end of the run.
  void Finish();

  // Fraction of the run's work done, 0..1.
  double Fraction() const;
  // Clusters whose pass has started (the current one included).
  int ClustersStarted() const { return cluster_; }
  // The lines of other text shown so far, in order.
  const std::vector<std::string>& Messages() const { return messages_; }

 private:
  // Redraws the live bar; unless forced, only when it changed and not
  // within 0.1 s of the last redraw.
  void Draw(bool force = false);
  void Line(const std::string& text, bool evenQuiet = false);
  std::string Times() const;

  std::ostream& out_;
  bool terminal_, quiet_;
  int clusters_, permutations_;
  std::function<double()> clock_;
  double start_;
  int cluster_ = 0;    // current cluster, from 1
  int copy_ = 0;       // permuted copy being shaved, from 1
  int stepsDone_ = 0;  // units of work done in the current cluster
  std::vector<std::string> messages_;
  bool barShown_ = false;
  std::string lastBar_;    // text of the bar on screen
  double lastDraw_ = 0.0;  // clock time of its drawing
};

// Seconds as "m:ss", or "h:mm:ss" from one hour.
std::string FormatDuration(double seconds);

}  // namespace tarvok
