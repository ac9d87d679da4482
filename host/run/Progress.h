// The analysis' monitor lines turned into events, and the progress display
// built from them.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

// One monitor line of the library, parsed.
struct MonitorEvent {
  enum Kind {
    ExtractCluster,   // a = cluster i
    ShaveInit,        // the nested sequence on the data starts
    EstimateSize,     // a = i, b = clusters requested
    RandomizeMatrix,  // a permuted copy is made
    ShaveRandom,      // a = copy b, b = permutations B
    Orthogonalize,    // a = i: the cluster is chosen and removed
    NoClustersLeft,   // the run stops early
    Terminated,       // first line of a fatal error
    Fatal,            // text = the fatal message
    Other             // text = the whole line, not a monitor line
  };
  Kind kind = Other;
  int a = 0, b = 0;
  std::string text;
};

// Parses one line of the child's standard output (without its "\n"). Bell
// characters and a trailing carriage return are dropped first; a keyword
// whose numbers are missing or malformed gives Other.
MonitorEvent ParseMonitorLine(std::string line);

// Shows how far an analysis has come. On a terminal it redraws one line
// ("\r" ... erase to end of line) with a bar, the cluster, the permuted copy,
// the elapsed time and the estimated time left; otherwise it writes plain
// lines at the start and end of each cluster and at every quarter of its
// permuted copies. Quiet shows nothing.
class Progress {
 public:
  // out: where to draw (standard error); terminal: draw the live bar;
  // quiet: draw nothing; clusters, permutations: K and B of the run;
  // clock: seconds since any fixed origin (injected so tests control time).
  Progress(std::ostream& out, bool terminal, bool quiet, int clusters, int permutations,
           std::function<double()> clock);

  // Takes one event of the run and redraws as needed.
  void Handle(const MonitorEvent& event);
  // Redraws the live bar so that its clock moves between events.
  void Tick();
  // Shows a line of other text (the library's warnings) without breaking
  // the bar: the bar is cleared, the text written, the bar redrawn. The
  // library's two lines on an early stop become one line, which quiet
  // silences; every other line is kept for Messages.
  void Message(const std::string& text);
  // Clears the live bar at the end of the run.
  void Finish();

  // Fraction of the run's work done, 0..1.
  double Fraction() const;
  // Clusters whose pass has started (the current one included).
  int ClustersStarted() const { return cluster_; }
  // True once the run reported that no clusters are left.
  bool StoppedEarly() const { return stoppedEarly_; }
  // The lines of other text shown so far, in order (the early-stop lines not
  // among them).
  const std::vector<std::string>& Messages() const { return messages_; }

 private:
  // Redraws the live bar; unless forced, only when it changed and not
  // within 0.1 s of the last redraw.
  void Draw(bool force = false);
  void Line(const std::string& text);
  std::string Times() const;

  std::ostream& out_;
  bool terminal_, quiet_;
  int clusters_, permutations_;
  std::function<double()> clock_;
  double start_;
  int cluster_ = 0;    // current cluster, from 1
  int copy_ = 0;       // permuted copy being shaved, from 1
  int stepsDone_ = 0;  // units of work done in the current cluster
  bool stoppedEarly_ = false;
  bool stopLineSeen_ = false;  // the library's "No clusters left" line came
  std::vector<std::string> messages_;
  bool barShown_ = false;
  std::string lastBar_;    // text of the bar on screen
  double lastDraw_ = 0.0;  // clock time of its drawing
};

// Seconds as "m:ss", or "h:mm:ss" from one hour.
std::string FormatDuration(double seconds);
