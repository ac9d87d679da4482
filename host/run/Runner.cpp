#include "run/Runner.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <new>
#include <thread>

#include "run/AtomicFile.h"
#include "base/ResultNames.h"
#include "base/ThreadCount.h"
#include "core/Analysis.h"
#include "results/Monitor.h"
#include "results/RunFiles.h"


namespace {

// The child's last line on the monitor pipe, after the analysis returned.
constexpr const char* kClustersDoneLine = "TARVOK_HOST_CLUSTERS_DONE";
// Starts the line with a finished cluster's numbers.
constexpr const char* kPreciseLine = "TARVOK_HOST_PRECISE";

// Seconds between SIGTERM and SIGKILL for a child that will not stop.
constexpr double kKillGraceSeconds = 3.0;

// Written by the signal handler, read by the poll loop (self-pipe).
int signalPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int signal) {
  int saved = errno;
  char byte = static_cast<char>(signal);
  ssize_t ignored = write(signalPipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}

double Now() {
  using Clock = std::chrono::steady_clock;
  return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

void WriteLines(const std::vector<std::string>& lines, const std::string& path) {
  std::string text;
  for (const std::string& line : lines) text += line + '\n';
  WriteFileAtomically(path, text);
}

std::vector<std::string> LabelsOrGenerated(const std::vector<std::string>& labels, int count,
                                           const char* stem) {
  if (!labels.empty()) return labels;
  std::vector<std::string> generated;
  for (int j = 1; j <= count; ++j) generated.push_back(fmt::format("{}{:05d}", stem, j));
  return generated;
}

// Installs the stop handlers for the life of one run and restores the
// previous ones afterwards.
class StopSignals {
 public:
  StopSignals() {
    if (pipe(signalPipe) != 0) throw std::runtime_error(fmt::format("pipe: {}", std::strerror(errno)));
    for (int fd : signalPipe) {
      fcntl(fd, F_SETFD, FD_CLOEXEC);
      fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &oldInt_);
    sigaction(SIGTERM, &action, &oldTerm_);
  }
  ~StopSignals() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
    close(signalPipe[0]);
    close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  struct sigaction oldInt_ {
  }, oldTerm_{};
};

// In the child, SIGINT and SIGTERM are taken by a thread of their own that
// flushes every open stream before the process ends: the library keeps
// "clusterlengths.txt" open with its lines buffered for the whole run, and
// a plain kill would lose the lines of the clusters already finished. The
// signals are blocked in every other thread (the library's workers inherit
// the mask), and the flush takes each stream's lock like any other writer.
void FlushOnStopSignals() {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  std::thread([stops] {
    int stop = 0;
    sigwait(&stops, &stop);
    std::fflush(nullptr);
    _exit(128 + stop);
  }).detach();
}

// Tells tarvok each finished cluster's numbers at full precision, one
// JSON line on the monitor pipe.
class PreciseLines : public tarvok::AnalysisObserver {
 public:
  void ClusterDone(int i, const tarvok::ClusterRecord& record) override {
    std::string line = std::string(kPreciseLine) + " " + PreciseJson(PreciseFromRecord(i, record)).dump() + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  }
};

// The analysis, its result files and monitor lines, in the child.
void AnalyzeInChild(const AnalysisJob& job) {
  PreciseLines precise;
  int clustersDone = 0;
  AnalyzeInThisProcess(job, AnalysisOptionsOf(job), &clustersDone, &precise);
  std::printf("%s %d\n", kClustersDoneLine, clustersDone);
}

// The child: TVOUTPUT set, standard output and error into the pipes, the
// analysis, then the clusters-done line. A failure is reported as the
// fatal monitor lines, with status 1. Never returns.
[[noreturn]] void RunChild(const AnalysisJob& job, int outFd, int errFd, pid_t parent) {
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  signal(SIGPIPE, SIG_DFL);
  FlushOnStopSignals();
#if defined(__linux__)
  prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a parent killed outright
  if (getppid() != parent) _exit(1);
#else
  (void)parent;
#endif
  dup2(outFd, STDOUT_FILENO);
  dup2(errFd, STDERR_FILENO);
  close(outFd);
  close(errFd);
  setenv("TVOUTPUT", job.outDir.c_str(), 1);
  SetMonitorMode(1);
  int status = 0;
  try {
    AnalyzeInChild(job);
  } catch (const std::bad_alloc&) {
    ReportFailure("out of memory");
    status = 1;
  } catch (const std::exception& failure) {
    ReportFailure(failure.what());
    status = 1;
  }
  std::fflush(nullptr);
  _exit(status);
}

// One of the child's two output pipes, cut into lines.
struct PipeReader {
  int fd = -1;
  std::string pending;
  bool open() const { return fd >= 0; }
  // Reads what is there; hands every complete line to take. At the end of
  // the stream the last, unterminated piece is handed over too.
  template <typename Take>
  void Read(Take take) {
    char buffer[4096];
    ssize_t count = read(fd, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (count <= 0) {
      close(fd);
      fd = -1;
      if (!pending.empty()) take(pending);
      pending.clear();
      return;
    }
    pending.append(buffer, static_cast<std::size_t>(count));
    std::size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      take(line);
    }
  }
};

std::string DescribeStatus(int status) {
  if (WIFSIGNALED(status)) {
    return fmt::format("the analysis process was killed by signal {} ({})", WTERMSIG(status),
                       strsignal(WTERMSIG(status)));
  }
  return fmt::format("the analysis process ended with status {} without a message", WEXITSTATUS(status));
}

}  // namespace

tarvok::AnalysisOptions AnalysisOptionsOf(const AnalysisJob& job) {
  const AnalysisParameters& p = job.parameters;
  tarvok::AnalysisOptions options;
  options.clusters = p.clusters;
  options.shavePercent = p.shave;
  options.permutations = p.permutations;
  options.tolerancePercent = p.tolerance;
  options.supervisionPercent = p.supervise;
  if (p.supervise != 0) options.classes = job.classes;
  options.solver = p.solver;
  options.threads = job.threads;
  if (options.threads <= 0 && tarvok::ThreadCountFromEnvironment(&options.threads) == 0) {
    throw std::runtime_error("TARVOK_THREADS is not a whole number from 1 to 1024");
  }
  // The generator of the calling thread: in a fresh process, where every
  // run starts.
  options.generatorState = -1;
  return options;
}

void AnalyzeInThisProcess(const AnalysisJob& job, const tarvok::AnalysisOptions& options, int* clustersDone,
                          tarvok::AnalysisObserver* also) {
  const Table& table = *job.table;
  ResultFiles files(table.genes, table.samples, options.clusters);
  tarvok::DataCheck check = tarvok::CheckData(table.values.data(), table.genes, table.samples);
  if (!check.message.empty()) throw std::runtime_error("the table's " + check.message);
  tarvok::Analysis analysis(table.values.data(), table.genes, table.samples, options);
  files.Run(analysis, job.generateLabels, job.dumpMatrix, clustersDone, also);
}

bool WriteLabelFiles(const Table& table, const std::string& dir) {
  if (table.geneLabels.empty() && table.sampleLabels.empty()) return true;
  WriteLines(LabelsOrGenerated(table.geneLabels, table.genes, "GENE"), dir + "/" + tarvok::kRowLabelsFile);
  WriteLines(LabelsOrGenerated(table.sampleLabels, table.samples, "sample"), dir + "/" + tarvok::kColumnLabelsFile);
  return false;
}

void WriteClassFile(const std::vector<int>& classes, const std::string& path) {
  std::vector<std::string> lines;
  for (int c : classes) lines.push_back(std::to_string(c));
  WriteLines(lines, path);
}

RunOutcome RunAnalysis(const AnalysisJob& job, Progress& progress) {
  StopSignals stopSignals;
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) {
    throw std::runtime_error(fmt::format("pipe: {}", std::strerror(errno)));
  }
  std::fflush(nullptr);
  pid_t parent = getpid();
  pid_t child = fork();
  if (child < 0) throw std::runtime_error(fmt::format("fork: {}", std::strerror(errno)));
  if (child == 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    RunChild(job, outPipe[1], errPipe[1], parent);
  }
  close(outPipe[1]);
  close(errPipe[1]);

  RunOutcome outcome;
  PipeReader out{outPipe[0], {}}, err{errPipe[0], {}};
  bool interrupted = false, fatal = false, doneSeen = false;
  std::string fatalMessage;
  double killAt = 0.0;
  auto takeOut = [&](std::string line) {
    // A bell after the library's warnings has no line of its own.
    line.erase(std::remove(line.begin(), line.end(), '\a'), line.end());
    if (line.compare(0, std::strlen(kPreciseLine) + 1, std::string(kPreciseLine) + " ") == 0) {
      PreciseCluster cluster;
      nlohmann::json j = nlohmann::json::parse(line.substr(std::strlen(kPreciseLine) + 1), nullptr, false);
      if (ParsePrecise(j, &cluster)) outcome.precise.push_back(cluster);
      return;
    }
    if (line.compare(0, std::strlen(kClustersDoneLine), kClustersDoneLine) == 0) {
      doneSeen = true;
      outcome.clustersDone = std::atoi(line.c_str() + std::strlen(kClustersDoneLine));
      return;
    }
    MonitorEvent event = ParseMonitorLine(line);
    if (fatal) {  // the fatal message's own line breaks
      if (!event.text.empty()) fatalMessage += (fatalMessage.empty() ? "" : " ") + event.text;
      return;
    }
    if (event.kind == MonitorEvent::Fatal) {
      fatal = true;
      fatalMessage = event.text;
    } else if (event.kind == MonitorEvent::Other) {
      if (!event.text.empty()) progress.Message(event.text);
    } else {
      progress.Handle(event);
    }
  };
  auto takeErr = [&](const std::string& line) { progress.Message(line); };

  while (out.open() || err.open()) {
    pollfd fds[3] = {{out.fd, POLLIN, 0}, {err.fd, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
    int ready = poll(fds, 3, 500);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && (fds[2].revents & POLLIN)) {
      char drain[16];
      ssize_t count;
      while ((count = read(signalPipe[0], drain, sizeof drain)) > 0) {
        if (outcome.signal == 0) outcome.signal = drain[0];
      }
      if (!interrupted) {
        interrupted = true;
        kill(child, SIGTERM);
        killAt = Now() + kKillGraceSeconds;
      }
    }
    if (ready > 0 && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) out.Read(takeOut);
    if (ready > 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) err.Read(takeErr);
    if (interrupted && killAt > 0.0 && Now() > killAt) {
      kill(child, SIGKILL);
      killAt = 0.0;
    }
    progress.Tick();
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  outcome.clustersStarted = progress.ClustersStarted();
  if (interrupted) {
    outcome.status = RunOutcome::Interrupted;
  } else if (fatal) {
    outcome.message = fatalMessage;
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && doneSeen) {
    outcome.status = RunOutcome::Finished;
  } else if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
    outcome.message = "the analysis process ended without reporting its result";
  } else {
    outcome.message = DescribeStatus(status);
  }
  return outcome;
}

std::string ExplainFailure(const std::string& message) {
  struct Known {
    const char* words;  // a piece of the library's message
    const char* meaning;
  };
  static const Known known[] = {
      {"allocation failure",
       "the analysis ran out of memory; try fewer genes (filter the table first) or fewer permutations, or a "
       "machine with more memory"},
      {"No convergence in 30 SVDCMP",
       "the singular value decomposition of a cluster's data did not settle within its iteration limit; this "
       "happens with extreme or nearly identical values: check the table for outliers and constant genes, or "
       "transform it (for example to logarithms)"},
      {"SVDCMP: You must augment A",
       "a cluster's data matrix had a shape the decomposition cannot take; please report this with the table"},
      {"choldc failed",
       "the supervision's weighting of the classes could not be factorised (it is not positive definite), "
       "which a supervision weight of at most 100 should never cause; please report it with the table and "
       "class file"},
  };
  for (const Known& k : known) {
    if (message.find(k.words) != std::string::npos) return k.meaning;
  }
  return "";
}
