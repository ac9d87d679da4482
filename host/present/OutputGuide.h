// README.txt: a short guide to the files of an output directory, written
// into every directory a run claims, so that the folder explains itself.
#pragma once

#include <string>

namespace tarvok {

inline constexpr const char* kOutputGuideFile = "README.txt";

// The guide's text: every file a run may write, with its columns and their
// units; tableName names the CDT (TableName of the input table).
std::string OutputGuideText(const std::string& tableName);

// Writes OutputGuideText(tableName) to dir/README.txt atomically. Throws
// std::runtime_error "cannot write PATH: REASON".
void WriteOutputGuide(const std::string& dir, const std::string& tableName);

}  // namespace tarvok
