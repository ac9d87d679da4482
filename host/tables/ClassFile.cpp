#include "tables/ClassFile.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "tables/ByteSource.h"
#include "tables/Table.h"

namespace tarvok {

SampleClasses ClassesFromWords(const std::vector<std::string>& words, std::vector<std::string>& notes) {
  SampleClasses result;
  bool integers = true;
  for (const std::string& word : words) {
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(word.c_str(), &end, 10);
    if (word.empty() || *end != '\0' || errno != 0 || value < -2147483647L || value > 2147483647L) {
      integers = false;
      break;
    }
    result.classes.push_back(static_cast<int>(value));
  }
  if (integers) return result;
  result.classes.clear();
  result.names.clear();
  std::map<std::string, int> numbers;
  std::vector<std::string> order;
  for (const std::string& word : words) {
    auto found = numbers.emplace(word, static_cast<int>(numbers.size()));
    if (found.second) {
      order.push_back(fmt::format("{} = {}", word, found.first->second));
      result.names.emplace(found.first->second, word);
    }
    result.classes.push_back(found.first->second);
  }
  notes.push_back(fmt::format("class labels numbered: {}", fmt::join(order, ", ")));
  return result;
}

SampleClasses ParseClassText(const std::string& text, std::vector<std::string>& notes) {
  std::vector<std::string> words;
  std::vector<int> lines;
  int line = 1;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(at, end - at);
    std::size_t begin = word.find_first_not_of(" \t\v\f");
    word = begin == std::string::npos ? "" : word.substr(begin, word.find_last_not_of(" \t\v\f") - begin + 1);
    words.push_back(word);
    lines.push_back(line++);
    at = end;
    if (at < text.size() && text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n') ++at;
    if (at < text.size()) ++at;
  }
  while (!words.empty() && words.back().empty()) {
    words.pop_back();
    lines.pop_back();
  }
  if (words.empty()) throw TableError("holds no class labels");
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i].empty()) {
      throw TableError(fmt::format("line {} is empty: every sample needs a class, one per line", lines[i]));
    }
    if (IsMissingCell(words[i])) {
      throw TableError(fmt::format(
          "line {}: \"{}\" is a missing value, not a class; every sample needs a class", lines[i], words[i]));
    }
  }
  return ClassesFromWords(words, notes);
}

SampleClasses ReadClassFile(const std::string& path, std::vector<std::string>& notes) {
  std::string text = ReadWholeFile(path);
  CheckTextEncoding(text);
  SampleClasses classes = ParseClassText(text, notes);
  classes.source = path;
  return classes;
}

std::string ClassName(const SampleClasses& classes, int number) {
  auto found = classes.names.find(number);
  return found != classes.names.end() ? found->second : "class " + std::to_string(number);
}

void CheckClasses(const SampleClasses& classes, int samples, bool supervised) {
  if (static_cast<int>(classes.classes.size()) != samples) {
    throw TableError(
        fmt::format("holds {} classes, but the table has {} samples", classes.classes.size(), samples));
  }
  const std::vector<int>& c = classes.classes;
  if (supervised && !c.empty() && std::all_of(c.begin(), c.end(), [&](int k) { return k == c[0]; })) {
    std::string only =
        classes.names.empty() ? std::to_string(c[0]) : fmt::format("\"{}\"", ClassName(classes, c[0]));
    throw TableError(
        fmt::format("supervision needs at least two classes, and every sample is in class {}", only));
  }
}

std::vector<std::string> ReadClassLabels(const std::string& path) {
  std::vector<std::string> notes;
  const SampleClasses classes = ReadClassFile(path, notes);
  std::vector<std::string> labels;
  for (int c : classes.classes) {
    auto name = classes.names.find(c);
    labels.push_back(name != classes.names.end() ? name->second : std::to_string(c));
  }
  return labels;
}

}  // namespace tarvok
