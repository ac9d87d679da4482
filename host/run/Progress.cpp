#include "run/Progress.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace tarvok {

namespace {

constexpr int kBarWidth = 20;
constexpr double kMinRedrawSeconds = 0.1;
constexpr const char* kEraseLine = "\r\x1b[K";

}  // namespace

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

void Progress::PassStarted(int cluster) {
  cluster_ = cluster;
  copy_ = 0;
  stepsDone_ = 0;
  if (!terminal_) Line(fmt::format("cluster {} of {}: shaving the data ({})", cluster_, clusters_, Times()));
  Draw();
}

void Progress::DataShaved(int, int) {
  stepsDone_ = 1;
  Draw();
}

void Progress::CopyShaved(int copy, int copies) {
  copy_ = copy;
  if (copies > 0) permutations_ = copies;
  stepsDone_ = copy_;
  // Plain output: one line per quarter of the copies, and the last one.
  const int quarters = std::max(permutations_, 1);
  bool quarter = copy_ * 4 / quarters > (copy_ - 1) * 4 / quarters;
  if (!terminal_ && (quarter || copy_ == permutations_)) {
    Line(fmt::format("cluster {} of {}: permuted copy {} of {} ({})", cluster_, clusters_, copy_, permutations_,
                     Times()));
  }
  Draw();
}

void Progress::Orthogonalizing(int) {
  stepsDone_ = permutations_ + 1;
  if (!terminal_) Line(fmt::format("cluster {} of {}: chosen ({})", cluster_, clusters_, Times()));
  Draw();
}

void Progress::StoppedEarly(int extracted, int requested) {
  Line(fmt::format("No clusters left to extract: extracted {} of requested {}", extracted, requested), true);
  Draw(true);
}

void Progress::Line(const std::string& text, bool evenQuiet) {
  if (quiet_ && !evenQuiet) return;
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

}  // namespace tarvok
