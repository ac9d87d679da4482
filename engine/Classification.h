// The classification file of a supervised run: one class label per sample.
#pragma once

#include <vector>

// ReadClassLabels: the class labels in the file at path, in file order.
// The file is read in pieces of at most 254 characters; a piece stops after
// a line feed, after 254 characters or at the end of the file. The line end
// (LF, CR+LF, or a CR right before the end of the file) is removed; an empty
// piece is skipped, every other piece is the next sample, with the class
// label that atoi would read from its start (saturated to the int range). A
// line longer than 254 characters therefore counts as several samples.
// Throws tarvok::Error "ComputeQ(\"<path>\"): <error text>\n" when the file
// cannot be opened.
std::vector<int> ReadClassLabels(const char* path);

// ReadClassificationFile: the class labels of the N samples of a run.
// Throws tarvok::Error with "RuzoVavav(\"<path>\"): not a regular file\n"
// when path is not an existing regular file, "ComputeQ(\"<path>\"): <error
// text>\n" when it cannot be opened, and "Classification file line count(%d)
// must equal columns(%d)\n" when it holds another number of samples than N.
std::vector<int> ReadClassificationFile(const char* path, int N);
