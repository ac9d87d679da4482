// The output directory of every result file, and the two file-type tests.
//
// The directory is resolved once per process from the environment variable
// TVOUTPUT and kept for the life of the process: a later change of the
// variable has no effect. It is never created and never made absolute.
#pragma once

#include <string>

// OutputDirectory: returns the directory of all output files. The first call
// reads TVOUTPUT: a value naming a directory is used exactly as written; a
// value that does not gets a warning on standard error and a bell on
// standard output, and the default "output/" is used; no value means the
// default, silently. The returned string stays valid for the process.
const char* OutputDirectory();

// IsDirectory / IsRegularFile: 1 when stat on path (in) succeeds and the
// file is a directory / a regular file; 0 otherwise, a failed stat included.
int IsDirectory(const char* path);
int IsRegularFile(const char* path);

// OutputPath: "<output directory>/<fileName>" for fileName (in), any length.
std::string OutputPath(const char* fileName);

// Forgets the resolved directory so that the next OutputDirectory call reads
// TVOUTPUT again. Tests only.
void ResetOutputDirectoryForTesting();
