// Pieces the GEO readers share (GeoTable.cpp: series matrix and DataSet
// SOFT; FamilySoft.cpp: family SOFT and platform files). Internal to the
// host's readers.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tables/TableText.h"

namespace tarvok {

// Lines split at tabs, every field unquoted. GEO quotes whole fields and
// does not double the quotes inside them, so CSV rules would misread it.
std::vector<Record> GeoRecords(std::string_view text, std::pmr::memory_resource* memory);

// "!key = value" or "^key = value" split at the first '=': key in lower
// case, both trimmed. False for any other line.
bool Attribute(const Record& line, std::string& key, std::string_view& value);

// The class of each sample from !Sample_ lines that hold one field per
// sample after their name (raw.sampleLabels, in order): a whole line chosen
// by name ("source_name_ch1", "characteristics_ch1"), or the "key: value"
// characteristics whose key is the name ("disease state"). A
// !Sample_geo_accession line must list the samples in the table's order.
std::vector<std::string> SeriesClasses(const std::vector<Record>& meta, const RawTable& raw,
                                       const std::string& name);

}  // namespace tarvok
