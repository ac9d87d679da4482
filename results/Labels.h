// Gene, sample and file-name labels: generating, storing and reading them.
//
// A label the library holds is an 80-byte string of at most 79 characters
// in a cvector; nothing here writes past the 80 bytes. A host that keeps
// its labels whole stores them from strings.
#pragma once

#include <string>
#include <vector>

#include "numeric/Arrays.h"
#include "results/ResultStream.h"

// GenerateLabels: sets labels[j] (out, 0..count-1) to "%s%05d%s" of stem,
// j + 1 and suffix (in), e.g. GENE00001 or cluster00012.txt. A text longer
// than 79 characters is cut at 79.
void GenerateLabels(const CVector& labels, int count, const char* stem, const char* suffix);

// StoreLabels: writes count lines "%s\n" to path (mode "w"); line j holds
// labels[indices[j]] when indices (in, count entries) is given, labels[j]
// when it is null. A file that cannot be opened throws Error
// "StoreLabels(\"<path>\"): <error text>"; other failures as checks says.
void StoreLabels(const CVector& labels, int count, const int* indices, const char* path,
                 WriteChecks checks = WriteChecks::Classic);
// StoreLabels of labels of any length (a host's whole names), the same lines.
void StoreLabels(const std::vector<std::string>& labels, int count, const int* indices, const char* path,
                 WriteChecks checks = WriteChecks::Classic);

// ReadLabels: fills labels (out, 0..count-1) with the first count tokens of
// path (in); a token is a maximal run of non-white-space characters, so line
// ends (carriage returns included) and blanks both separate labels. A token
// longer than 79 characters keeps its first 79. When the file holds fewer
// tokens, each missing label j gets generatedStem + "%05d" of j + 1 and one
// warning line on standard error gives the number missing. Extra tokens are
// ignored. A file that cannot be opened throws Error
// "RuzoVavav(\"<path>\"): <error text>".
void ReadLabels(const CVector& labels, int count, const char* path, const char* generatedStem);
