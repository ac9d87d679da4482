#include "run/Progress.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "base/MonitorKeywords.h"

namespace {

constexpr int kBarWidth = 20;
constexpr double kMinRedrawSeconds = 0.1;
constexpr const char* kEraseLine = "\r\x1b[K";

// Reads the whitespace-separated integers after the keyword; false unless
// there are exactly count of them.
bool ReadNumbers(const std::string& rest, int count, int& a, int& b) {
  std::istringstream in(rest);
  std::vector<long> numbers;
  std::string word;
  while (in >> word) {
    char* end = nullptr;
    long value = std::strtol(word.c_str(), &end, 10);
    if (*end != '\0' || value < 0 || value > 1000000000L) return false;
    numbers.push_back(value);
  }
  if (static_cast<int>(numbers.size()) != count) return false;
  a = count > 0 ? static_cast<int>(numbers[0]) : 0;
  b = count > 1 ? static_cast<int>(numbers[1]) : 0;
  return true;
}

}  // namespace

MonitorEvent ParseMonitorLine(std::string line) {
  line.erase(std::remove(line.begin(), line.end(), '\a'), line.end());
  if (!line.empty() && line.back() == '\r') line.pop_back();
  struct Keyword {
    const char* word;
    MonitorEvent::Kind kind;
    int numbers;
  };
  static const Keyword keywords[] = {
      {tarvok::kMonitorExtractCluster, MonitorEvent::ExtractCluster, 1},
      {tarvok::kMonitorShaveInitNestedSequence, MonitorEvent::ShaveInit, 0},
      {tarvok::kMonitorEstimateOptClusterSize, MonitorEvent::EstimateSize, 2},
      {tarvok::kMonitorRandomizeMatrix, MonitorEvent::RandomizeMatrix, 0},
      {tarvok::kMonitorShaveRandNestedSequence, MonitorEvent::ShaveRandom, 2},
      {tarvok::kMonitorOrthogonalizeMatrix, MonitorEvent::Orthogonalize, 1},
      {tarvok::kMonitorNoClustersLeft, MonitorEvent::NoClustersLeft, 0},
      {tarvok::kMonitorAppTerminated, MonitorEvent::Terminated, 0},
  };
  MonitorEvent event;
  const std::string fatal = tarvok::kMonitorFatal;
  if (line.compare(0, fatal.size(), fatal) == 0 &&
      (line.size() == fatal.size() || line[fatal.size()] == ' ')) {
    event.kind = MonitorEvent::Fatal;
    event.text = line.size() > fatal.size() ? line.substr(fatal.size() + 1) : "";
    return event;
  }
  std::string word = line.substr(0, line.find(' '));
  for (const Keyword& keyword : keywords) {
    if (word != keyword.word) continue;
    std::string rest = line.substr(word.size());
    if (ReadNumbers(rest, keyword.numbers, event.a, event.b)) {
      event.kind = keyword.kind;
      return event;
    }
    break;
  }
  event.kind = MonitorEvent::Other;
  event.text = line;
  return event;
}

std::string FormatDuration(double seconds) {
  long total = seconds > 0 ? std::lround(seconds) : 0;
  if (total >= 3600) return fmt::format("{}:{:02d}:{:02d}", total / 3600, total / 60 % 60, total % 60);
  return fmt::format("{}:{:02d}", total / 60, total % 60);
}

Progress::Progress(std::ostream& out, bool terminal, bool quiet, int clusters, int permutations,
                   std::function<double()> clock)
    : out_(out),
      terminal_(terminal),
      quiet_(quiet),
      clusters_(std::max(clusters, 1)),
      permutations_(std::max(permutations, 0)),
      clock_(std::move(clock)),
      start_(clock_()) {}

double Progress::Fraction() const {
  if (cluster_ == 0) return 0.0;
  double perCluster = permutations_ + 1.0;
  double done = (cluster_ - 1) * perCluster + stepsDone_;
  return std::clamp(done / (clusters_ * perCluster), 0.0, 1.0);
}

std::string Progress::Times() const {
  double fraction = Fraction();
  double elapsed = clock_() - start_;
  std::string text =
      fmt::format("{}%, {} elapsed", static_cast<int>(fraction * 100.0), FormatDuration(elapsed));
  if (fraction > 0.0 && fraction < 1.0) {
    text += fmt::format(", about {} left", FormatDuration(elapsed * (1.0 - fraction) / fraction));
  }
  return text;
}

void Progress::Handle(const MonitorEvent& event) {
  switch (event.kind) {
    case MonitorEvent::ExtractCluster:
      cluster_ = event.a;
      copy_ = 0;
      stepsDone_ = 0;
      if (!terminal_)
        Line(fmt::format("cluster {} of {}: shaving the data ({})", cluster_, clusters_, Times()));
      break;
    case MonitorEvent::EstimateSize:
      stepsDone_ = 1;
      break;
    case MonitorEvent::ShaveRandom: {
      copy_ = event.a;
      if (event.b > 0) permutations_ = event.b;
      stepsDone_ = copy_;
      // Plain output: one line per quarter of the copies, and the last one.
      bool quarter = copy_ * 4 / std::max(permutations_, 1) > (copy_ - 1) * 4 / std::max(permutations_, 1);
      if (!terminal_ && (quarter || copy_ == permutations_)) {
        Line(fmt::format("cluster {} of {}: permuted copy {} of {} ({})", cluster_, clusters_, copy_,
                         permutations_, Times()));
      }
      break;
    }
    case MonitorEvent::Orthogonalize:
      stepsDone_ = permutations_ + 1;
      if (!terminal_) Line(fmt::format("cluster {} of {}: chosen ({})", cluster_, clusters_, Times()));
      break;
    case MonitorEvent::NoClustersLeft:
      stoppedEarly_ = true;  // the library says so on its own, see Message
      break;
    default:
      return;
  }
  if (terminal_) Draw();
}

void Progress::Line(const std::string& text) {
  if (quiet_) return;
  if (barShown_) out_ << kEraseLine;
  barShown_ = false;
  out_ << text << '\n';
  out_.flush();
}

void Progress::Draw(bool force) {
  if (quiet_ || !terminal_ || cluster_ == 0) return;
  int filled = static_cast<int>(Fraction() * kBarWidth);
  std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                    std::string(static_cast<std::size_t>(kBarWidth - filled), '.');
  std::string stage = copy_ > 0 ? fmt::format("copy {}/{}", copy_, permutations_) : "shaving the data";
  std::string text = fmt::format("[{}] cluster {}/{}, {}, {}", bar, cluster_, clusters_, stage, Times());
  // Thousands of copies a second would flood the terminal: at most ten
  // redraws a second, and none that changes nothing.
  double now = clock_();
  if (!force && barShown_ && (text == lastBar_ || now - lastDraw_ < kMinRedrawSeconds)) return;
  out_ << kEraseLine << text;
  out_.flush();
  lastBar_ = text;
  lastDraw_ = now;
  barShown_ = true;
}

void Progress::Tick() { Draw(); }

void Progress::Message(const std::string& text) {
  // "No clusters left to extract..." then "\tExtracted i of requested K":
  // shown as one line.
  static const std::string kStopLine = "No clusters left to extract...";
  static const std::string kCountLine = "\tExtracted ";
  if (text == kStopLine) {
    stopLineSeen_ = true;
    return;
  }
  if (stopLineSeen_ && text.compare(0, kCountLine.size(), kCountLine) == 0) {
    stopLineSeen_ = false;
    Line("No clusters left to extract: e" + text.substr(2));
    Draw(true);
    return;
  }
  messages_.push_back(text);
  if (barShown_) out_ << kEraseLine;
  out_ << text;
  if (text.empty() || text.back() != '\n') out_ << '\n';
  out_.flush();
  barShown_ = false;
  Draw(true);
}

void Progress::Finish() {
  if (barShown_) out_ << kEraseLine;
  out_.flush();
  barShown_ = false;
}
