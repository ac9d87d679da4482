// Sample classes: read from a class file or taken from a GEO file's sample
// annotation, and checked against the table before anything runs.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tables/InputError.h"

namespace tarvok {

struct SampleClasses {
  std::vector<int> classes;          // one per sample, the numbers the library reads
  std::map<int, std::string> names;  // the word each number stands for; empty when the words were integers
  std::string source;                // the file or annotation they came from, for messages
};

// Classes from one word per sample. When every word is an integer the
// integers are the classes and have no names; otherwise each distinct
// word gets a number 0, 1, ... in order of first appearance and a note for
// the user says so.
//   words (input) the class of each sample, trimmed
//   notes (output) sentences for the user, appended to
SampleClasses ClassesFromWords(const std::vector<std::string>& words, std::vector<std::string>& notes);

// Classes from the text of a class file: one class per line, in sample
// order. A byte-order mark, CR line ends, surrounding blanks and blank lines
// at the end are ignored; an empty line between classes and a missing-value
// word (NA, NaN, N/A, null) are errors naming the line. Throws TableError.
SampleClasses ParseClassText(const std::string& text, std::vector<std::string>& notes);

// ParseClassText on a file ("-": standard input; gzip is uncompressed).
SampleClasses ReadClassFile(const std::string& path, std::vector<std::string>& notes);

// The class of each sample of a class file as a word: the file's own word,
// or the integer as written when the classes are integers. Throws TableError.
std::vector<std::string> ReadClassLabels(const std::string& path);

// The word of a class, or "class N" for a class without one.
std::string ClassName(const SampleClasses& classes, int number);

// Checks classes against a table of samples: one class per sample, and at
// least two classes when the run is supervised. Throws TableError.
void CheckClasses(const SampleClasses& classes, int samples, bool supervised);

}  // namespace tarvok
