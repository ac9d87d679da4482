#include "HostTestSupport.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <thread>

#include "tests/support/ChildProcess.h"

RunningProgram StartProgram(const std::string& binary, const std::vector<std::string>& args,
                            const std::string& cwd) {
  RunningProgram program;
  program.capture = new TempDir();
  std::string outPath = program.capture->File("stdout"), errPath = program.capture->File("stderr");
  std::vector<std::string> all = {binary};
  all.insert(all.end(), args.begin(), args.end());
  std::fflush(nullptr);
  program.pid = fork();
  if (program.pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  return program;
}

ProgramResult WaitProgram(RunningProgram& program, double timeoutSeconds) {
  ProgramResult result;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
  int status = 0;
  for (;;) {
    pid_t done = waitpid(program.pid, &status, WNOHANG);
    if (done == program.pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(program.pid, SIGKILL);
      waitpid(program.pid, &status, 0);
      result.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = ReadFile(program.capture->File("stdout"));
  result.err = ReadFile(program.capture->File("stderr"));
  delete program.capture;
  program.capture = nullptr;
  return result;
}

ProgramResult RunProgram(const std::string& binary, const std::vector<std::string>& args,
                         double timeoutSeconds, const std::string& cwd) {
  RunningProgram program = StartProgram(binary, args, cwd);
  return WaitProgram(program, timeoutSeconds);
}

ProgramResult RunTarvok(const std::vector<std::string>& args, double timeoutSeconds) {
  return RunProgram(TARVOK_BINARY, args, timeoutSeconds);
}

std::vector<double> SyntheticValues(int genes, int samples) {
  std::vector<double> values;
  unsigned state = 2024u;
  for (int g = 0; g < genes; ++g) {
    for (int s = 0; s < samples; ++s) {
      state = state * 1103515245u + 12345u;
      int noise = static_cast<int>((state >> 16) % 1000) - 500;  // -0.500 .. 0.499
      int pattern = g < genes / 5 ? (s % 2 == 0 ? 2000 : -2000) * (g % 2 == 0 ? 1 : -1) : 0;
      values.push_back((pattern + noise) / 1000.0);
    }
  }
  return values;
}

std::string SyntheticTable(int genes, int samples, bool header, bool labels, char sep) {
  std::vector<double> values = SyntheticValues(genes, samples);
  std::string text;
  if (header) {
    if (labels) text += "gene";
    for (int s = 0; s < samples; ++s)
      text += fmt::format("{}S{}", labels || s > 0 ? std::string(1, sep) : "", s + 1);
    text += '\n';
  }
  for (int g = 0; g < genes; ++g) {
    if (labels) text += fmt::format("g{}", g + 1);
    for (int s = 0; s < samples; ++s) {
      text += fmt::format("{}{}", labels || s > 0 ? std::string(1, sep) : "", values[g * samples + s]);
    }
    text += '\n';
  }
  return text;
}

std::vector<std::string> FileLines(const std::string& path) {
  std::istringstream in(ReadFile(path));
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

namespace {

// The class word of sample s in the GEO excerpts: the planted pattern
// alternates over the samples, and so do the classes.
const char* GeoClass(int s) { return s % 2 == 0 ? "ALL" : "AML"; }

}  // namespace

std::string GeoSeriesMatrix(int genes, int samples) {
  std::vector<double> values = SyntheticValues(genes, samples);
  std::string text = "!Series_title\t\"Leukemia \"excerpt\" for tests\"\n!Series_geo_accession\t\"GSE9\"\n";
  auto sampleLine = [&](const char* name, auto cell) {
    text += name;
    for (int s = 0; s < samples; ++s) text += "\t\"" + cell(s) + "\"";
    text += '\n';
  };
  sampleLine("!Sample_title", [](int s) { return fmt::format("patient {}", s + 1); });
  sampleLine("!Sample_geo_accession", [](int s) { return fmt::format("GSM{}", 100 + s); });
  sampleLine("!Sample_source_name_ch1", [](int s) { return fmt::format("bone marrow {}", GeoClass(s)); });
  sampleLine("!Sample_characteristics_ch1",
             [](int s) { return fmt::format("tissue: {}", s < 3 ? "blood" : "marrow"); });
  sampleLine("!Sample_characteristics_ch1",
             [](int s) { return fmt::format("disease state: {}", GeoClass(s)); });
  text += "!series_matrix_table_begin\n\"ID_REF\"";
  for (int s = 0; s < samples; ++s) text += fmt::format("\t\"GSM{}\"", 100 + s);
  text += '\n';
  for (int g = 0; g < genes; ++g) {
    text += fmt::format("\"{}_at\"", 1000 + g);
    for (int s = 0; s < samples; ++s) text += fmt::format("\t{}", values[g * samples + s]);
    text += '\n';
  }
  return text + "!series_matrix_table_end\n";
}

std::string GeoDataSet(int genes, int samples) {
  std::vector<double> values = SyntheticValues(genes, samples);
  std::string text =
      "^DATABASE = Geo\n!Database_name = Gene Expression Omnibus (GEO)\n^DATASET = GDS9\n"
      "!dataset_title = Leukemia excerpt for tests\n";
  for (int k = 0; k < 2; ++k) {
    std::vector<std::string> ids;
    for (int s = k; s < samples; s += 2) ids.push_back(fmt::format("GSM{}", 100 + s));
    text += fmt::format(
        "^SUBSET = GDS9_{}\n!subset_dataset_id = GDS9\n!subset_description = {}\n"
        "!subset_sample_id = {}\n!subset_type = disease state\n",
        k + 1, GeoClass(k), fmt::join(ids, ","));
  }
  text +=
      "^DATASET = GDS9\n#ID_REF = Platform reference identifier\n#IDENTIFIER = identifier\n"
      "!dataset_table_begin\nID_REF\tIDENTIFIER";
  for (int s = 0; s < samples; ++s) text += fmt::format("\tGSM{}", 100 + s);
  text += '\n';
  for (int g = 0; g < genes; ++g) {
    // A few probes share a gene; some are controls, one has no symbol.
    const std::string symbol = g % 10 == 9 ? "" : g % 10 == 0 && g > 0 ? "--Control"
                                                : fmt::format("GENE{}", g % 7 == 6 ? g - 1 : g);
    text += fmt::format("{}_at\t{}", 1000 + g, symbol);
    for (int s = 0; s < samples; ++s) {
      text += g == genes - 1 && s == 1 ? std::string("\tnull") : fmt::format("\t{}", values[g * samples + s]);
    }
    text += '\n';
  }
  return text + "!dataset_table_end\n";
}

std::string GeoFamilySoft(int genes, int samples) {
  std::vector<double> values = SyntheticValues(genes, samples);
  std::string text =
      "^DATABASE = GeoMiame\n!Database_name = Gene Expression Omnibus (GEO)\n^SERIES = GSE9\n"
      "!Series_title = Leukemia excerpt for tests\n^PLATFORM = GPL1\n!Platform_title = Array one\n"
      "#ID = probe\n#Gene Symbol = symbol\n!platform_table_begin\nID\tGB_ACC\tGene Symbol\n";
  for (int g = 0; g < genes; ++g) {
    text += fmt::format("{}_at\tX{}\t{}\n", 1000 + g, g, g % 5 == 4 ? "" : fmt::format("SYM{}", g));
  }
  text += "unused_at\tX\tNONE\n!platform_table_end\n";
  for (int s = 0; s < samples; ++s) {
    text += fmt::format(
        "^SAMPLE = GSM{0}\n!Sample_title = patient {1}\n!Sample_geo_accession = GSM{0}\n"
        "!Sample_platform_id = GPL1\n!Sample_characteristics_ch1 = tissue: marrow\n"
        "!Sample_characteristics_ch1 = disease state: {2}\n#ID_REF = probe\n#VALUE = signal\n"
        "!sample_table_begin\nID_REF\tVALUE\tABS_CALL\n",
        100 + s, s + 1, GeoClass(s));
    // The first sample lists its rows backwards; the last lacks the last
    // probe; the second reports a probe the platform table lacks.
    for (int k = 0; k < genes; ++k) {
      const int g = s == 0 ? genes - 1 - k : k;
      if (s == samples - 1 && g == genes - 1) continue;
      text += fmt::format("{}_at\t{}\tP\n", 1000 + g, values[g * samples + s]);
    }
    if (s == 1) text += "extra_at\t1.5\tA\n";
    text += "!sample_table_end\n";
  }
  text += "^PLATFORM = GPL2\n!Platform_title = Array two\n";
  for (int s = 0; s < 2; ++s) {
    text += fmt::format(
        "^SAMPLE = GSM{0}\n!Sample_platform_id = GPL2\n!sample_table_begin\nID_REF\tVALUE\nq1\t{1}\nq2\t3\n"
        "!sample_table_end\n",
        900 + s, s);
  }
  return text;
}
