// What keeps a run's output trustworthy: the claimed output directory, atomic
// writes, valid UTF-8, the default directory name and the plain words beside
// the library's numerical failures.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <set>
#include <stdexcept>

#include "host/run/AtomicFile.h"
#include "host/cli/Cli.h"
#include "host/present/FigureFiles.h"
#include "host/run/DirectoryLock.h"
#include "host/run/RunDirectory.h"
#include "host/run/Runner.h"
#include "host/present/Utf8.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

using namespace tarvok;  // the host's code

namespace {

std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  DIR* listing = opendir(dir.c_str());
  if (listing == nullptr) return names;
  while (dirent* entry = readdir(listing)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.insert(name);
  }
  closedir(listing);
  return names;
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(RunDirectory, KnowsTheNamesOfEveryResultFile) {
  for (const char* name : {"RowLbls.txt", "ColLbls.txt", "clusters.txt", "clabels.txt", "clusterlengths.txt",
                           "origmatrix.txt", "glabels.txt", "classes.txt", "summary.json", "report.html",
                           "gap00001.txt", "variance00042.txt", "cluster99999.txt", "clabels00007.txt",
                           "pc123456.txt", "eigen00003.txt", ".tarvok.lock", ".summary.json.tmp",
                           "clusters.gmt", "clusters.kgg", "golub.cdt", "clusters.gct", ".TABLE.cdt.tmp",
                           "README.txt"}) {
    EXPECT_TRUE(IsRunFileName(name)) << name;
  }
  for (const char* name : {"cluster1_gap.svg", "cluster12_heatmap.pdf", "cluster3_component.tsv",
                           ".cluster1_r2.png.tmp"}) {
    EXPECT_TRUE(IsFigureFileName(name)) << name;
  }
  for (const char* name : {"cluster_gap.svg", "clusterX_gap.svg", "cluster1_gap.jpg", "cluster1.svg", "notes.tsv",
                           ".cluster1_gap.svg"}) {
    EXPECT_FALSE(IsFigureFileName(name)) << name;
  }
  for (const char* name : {"notes.txt", "gap0001.txt", "gap012345.txt", "gap00001.csv", "pc00001.txt~",
                           "summary.json.bak", ".notes.txt.tmp", ".tmp", "etc", "gapabcde.txt", ".cdt"}) {
    EXPECT_FALSE(IsRunFileName(name)) << name;
  }
}

TEST(RunDirectory, RemovesEarlierResultsAndRefusesOtherFiles) {
  TempDir dir;
  const std::string out = dir.File("out");
  {
    RunDirectory fresh(out + "/deeper/", false);  // made with its parents
    EXPECT_EQ(fresh.Path(), out + "/deeper");
    EXPECT_EQ(fresh.CountResultFiles(), 0);
  }
  // An earlier, larger run's files go; nothing else would be touched.
  for (const char* name : {"gap00003.txt", "classes.txt", "origmatrix.txt", "report.html", ".report.html.tmp"}) {
    dir.Write(std::string("out/deeper/") + name, "old\n");
  }
  {
    RunDirectory again(out + "/deeper", false);
    EXPECT_EQ(Listing(again.Path()), std::set<std::string>{kLockFileName});
  }
  // A directory of the user's own files is refused, and gains nothing.
  ASSERT_EQ(mkdir(dir.File("mine").c_str(), 0700), 0);
  dir.Write("mine/notes.txt", "keep me\n");
  dir.Write("mine/gap00001.txt", "1\t0.5\n");
  std::string error = ErrorOf([&] { RunDirectory refused(dir.File("mine"), false); });
  EXPECT_EQ(error, "output directory " + dir.File("mine") +
                       " holds 1 file that tarvok did not write (such as \"notes.txt\"); choose a new or empty "
                       "directory with --out, or add --force to write there anyway");
  EXPECT_EQ(Listing(dir.File("mine")), (std::set<std::string>{"notes.txt", "gap00001.txt"}));
  // --force writes there, still removing only its own earlier files.
  {
    RunDirectory forced(dir.File("mine"), true);
    EXPECT_EQ(Listing(dir.File("mine")), (std::set<std::string>{"notes.txt", kLockFileName}));
  }
  EXPECT_EQ(ReadFile(dir.File("mine/notes.txt")), "keep me\n");
  EXPECT_NE(ErrorOf([&] { RunDirectory empty("", false); }), "");
}

TEST(RunDirectory, OneRunAtATimeAndTheSecondIsToldWhoHoldsIt) {
  TempDir dir;
  auto first = std::make_unique<RunDirectory>(dir.File("out"), false);
  dir.Write("out/gap00001.txt", "1\t0.5\n");  // the first run's work
  std::string error = ErrorOf([&] { RunDirectory second(dir.File("out"), false); });
  EXPECT_EQ(error, "output directory " + dir.File("out") + " is in use by another tarvok run (process " +
                       std::to_string(getpid()) + "); wait for it to end or choose another --out");
  EXPECT_TRUE(FileExists(dir.File("out/gap00001.txt")));  // the second run removed nothing
  first.reset();
  RunDirectory third(dir.File("out"), false);  // free again once the first has ended
  EXPECT_FALSE(FileExists(dir.File("out/gap00001.txt")));
}

// Paths are what the system makes of them: ".." after a link is the parent
// of the link's target, as for any other program.
TEST(RunDirectory, PathsAreResolvedAsTheSystemResolvesThem) {
  TempDir dir;
  ASSERT_EQ(mkdir(dir.File("a").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(dir.File("a/b").c_str(), 0700), 0);
  ASSERT_EQ(symlink(dir.File("a/b").c_str(), dir.File("lx").c_str()), 0);
  ASSERT_EQ(symlink("a", dir.File("rel").c_str()), 0);
  const std::pair<std::string, std::string> cases[] = {
      {"lx/../res", "a/res"},          // made through the link
      {"lx/../res/", "a/res"},         // made already; a trailing slash
      {"lx/./../b/new", "a/b/new"},    // into the link's target
      {"rel/b/../c//d", "a/c/d"},      // a relative link, doubled slashes
      {"plain/../p2", "p2"},           // no link: the same as read as text
  };
  for (const auto& [given, expected] : cases) {
    {
      RunDirectory run(dir.File(given), false);
      EXPECT_EQ(run.Path(), dir.File(expected)) << given;
      EXPECT_TRUE(FileExists(dir.File(expected) + "/" + kLockFileName)) << given;
    }
    EXPECT_FALSE(FileExists(dir.File(expected) + "/" + kLockFileName)) << given << ": the lock stayed";
  }
  EXPECT_FALSE(FileExists(dir.File("res")));
  EXPECT_EQ(PhysicalDirectory(dir.File("lx/.."), false), dir.File("a"));
  EXPECT_NE(ErrorOf([&] { PhysicalDirectory(dir.File("lx/../none"), false); }), "");
}

// The lock file is never followed: a link in its place (which a directory
// check could miss in a race) is refused when it is opened, and its target
// is untouched; a lock let go leaves no file.
TEST(RunDirectory, TheLockNeverFollowsALinkAndGoesWithItsHolder) {
  TempDir dir;
  dir.Write("victim.txt", "the user's");
  ASSERT_EQ(symlink(dir.File("victim.txt").c_str(), dir.File(kLockFileName).c_str()), 0);
  EXPECT_EQ(ErrorOf([&] { DirectoryLock lock(dir.path()); }),
            dir.File(kLockFileName) + " is a symbolic link; tarvok will not follow it");
  EXPECT_EQ(ReadFile(dir.File("victim.txt")), "the user's");
  ASSERT_EQ(unlink(dir.File(kLockFileName).c_str()), 0);
  {
    DirectoryLock lock(dir.path());
    EXPECT_EQ(ReadFile(dir.File(kLockFileName)), std::to_string(getpid()) + "\n");
    EXPECT_THROW(DirectoryLock second(dir.path()), DirectoryInUse);
  }
  EXPECT_EQ(Listing(dir.path()), std::set<std::string>{"victim.txt"});
}

TEST(AtomicFile, AFailedWriteKeepsTheOldFileAndSaysWhy) {
  TempDir dir;
  const std::string path = dir.File("report.html");
  WriteFileAtomically(path, "good report\n");
  EXPECT_EQ(ReadFile(path), "good report\n");
  // A file size limit stands in for a full disk: the write fails part way.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit limit{4096, 4096};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::string error = ErrorOf([&] { WriteFileAtomically(path, std::string(100000, 'x')); });
    _exit(error == "cannot write " + path + ": File too large" ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(path), "good report\n");
  EXPECT_EQ(Listing(dir.path()), std::set<std::string>{"report.html"});
  EXPECT_EQ(ErrorOf([&] { WriteFileAtomically(dir.File("none/x.tsv"), "x"); }),
            "cannot write " + dir.File("none/x.tsv") + ": No such file or directory");
}

TEST(Utf8, InvalidBytesBecomeReplacementCharacters) {
  EXPECT_EQ(ReplaceInvalidUtf8("GENE00001"), "GENE00001");
  EXPECT_EQ(ReplaceInvalidUtf8("caf\xC3\xA9 \xE5\x9F\xBA\xE5\x9B\xA0 \xF0\x9F\xA7\xAC"),
            "caf\xC3\xA9 \xE5\x9F\xBA\xE5\x9B\xA0 \xF0\x9F\xA7\xAC");
  const std::string r = "\xEF\xBF\xBD";
  EXPECT_EQ(ReplaceInvalidUtf8("caf\xE9"), "caf" + r);                    // Latin-1
  EXPECT_EQ(ReplaceInvalidUtf8("\xC0\xAF"), r + r);                      // overlong '/'
  EXPECT_EQ(ReplaceInvalidUtf8("\xED\xA0\x80"), r + r + r);              // surrogate
  EXPECT_EQ(ReplaceInvalidUtf8("\xF4\x90\x80\x80"), r + r + r + r);      // above U+10FFFF
  EXPECT_EQ(ReplaceInvalidUtf8("ab\xE5\x9F"), "ab" + r + r);             // cut short
}

TEST(DefaultOutputDirectory, NamedAfterTheTableNeverHidden) {
  EXPECT_EQ(DefaultOutputDirectory("data/golub.tsv"), "output/golub");
  EXPECT_EQ(DefaultOutputDirectory("/x/expr.v2.csv"), "output/expr.v2");
  EXPECT_EQ(DefaultOutputDirectory("data/.tsv"), "output/tsv");
  EXPECT_EQ(DefaultOutputDirectory(".hidden.tsv"), "output/hidden");
  EXPECT_EQ(DefaultOutputDirectory("..."), "output/tarvok");
}

TEST(ExplainFailure, NumericalFailuresGetPlainWords) {
  EXPECT_NE(ExplainFailure("Numerical Recipes: No convergence in 30 SVDCMP iterations").find("did not settle"),
            std::string::npos);
  EXPECT_NE(ExplainFailure("Numerical Recipes: allocation failure 2 in dmatrix()").find("out of memory"),
            std::string::npos);
  EXPECT_NE(ExplainFailure("Numerical Recipes: choldc failed").find("not positive definite"), std::string::npos);
  EXPECT_EQ(ExplainFailure("Classification file line count(9) must equal columns(10)"), "");
}
