#include "Runner.h"

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
#include <thread>

#include "AtomicFile.h"
#include "Tarvok.h"
#include "base/ResultNames.h"
#include "engine/RunDriver.h"


namespace {

// The child's last line on the monitor pipe, after RuzoVavav returned.
constexpr const char* kClustersDoneLine = "TARVOK_HOST_CLUSTERS_DONE";

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

// The child: TVOUTPUT and TARVOK_THREADS set, standard output and error into
// the pipes, one RuzoVavav call, then the clusters-done line. Never returns.
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
  if (job.threads > 0) setenv("TARVOK_THREADS", std::to_string(job.threads).c_str(), 1);
  const Table& table = *job.table;
  int monitor = 1, generate = job.generateLabels ? 1 : 0, dump = job.dumpMatrix ? 1 : 0;
  std::string classFile = job.classFile;
  char* classPath = classFile.data();
  int clustersDone = 0;
  const AnalysisParameters& p = job.parameters;
  if (p.solver == tarvok::Solver::Exact) {
    RuzoVavav(&p.clusters, &p.shave, &p.permutations, &p.tolerance, table.values.data(), &table.genes,
              &table.samples, &monitor, &generate, &dump, &p.supervise, &classPath, &clustersDone);
  } else {
    tarvok::RunToFilesOrEnd(&p.clusters, &p.shave, &p.permutations, &p.tolerance, table.values.data(),
                            &table.genes, &table.samples, &monitor, &generate, &dump, &p.supervise, &classPath,
                            &clustersDone, [&](tarvok::AnalysisOptions& options) { options.solver = p.solver; });
  }
  std::printf("%s %d\n", kClustersDoneLine, clustersDone);
  std::fflush(nullptr);
  _exit(0);
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

std::vector<std::string> ReadClassLabels(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw TableError(fmt::format("cannot open for reading: {}", std::strerror(errno)));
  std::ostringstream content;
  content << in.rdbuf();
  std::string text = content.str();
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  for (char& c : text) {
    if (c == '\r') c = '\n';
  }
  std::vector<std::string> labels;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::size_t begin = line.find_first_not_of(" \t\v\f");
    if (begin == std::string::npos) continue;
    std::size_t end = line.find_last_not_of(" \t\v\f");
    labels.push_back(line.substr(begin, end - begin + 1));
  }
  if (labels.empty()) throw TableError("holds no class labels");
  return labels;
}

std::vector<int> ReadClassFile(const std::string& path, std::vector<std::string>& notes) {
  const std::vector<std::string> labels = ReadClassLabels(path);
  std::vector<int> classes;
  bool allIntegers = true;
  for (const std::string& label : labels) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(label.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || value < -2147483647L || value > 2147483647L) {
      allIntegers = false;
      break;
    }
    classes.push_back(static_cast<int>(value));
  }
  if (allIntegers) return classes;
  classes.clear();
  std::map<std::string, int> numbers;
  std::vector<std::string> order;
  for (const std::string& label : labels) {
    auto found = numbers.emplace(label, static_cast<int>(numbers.size()));
    if (found.second) order.push_back(fmt::format("{} = {}", label, found.first->second));
    classes.push_back(found.first->second);
  }
  notes.push_back(fmt::format("class labels numbered: {}", fmt::join(order, ", ")));
  return classes;
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
