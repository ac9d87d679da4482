// The sign a cluster is presented with. A cluster's component comes out of
// a decomposition whose sign is arbitrary; every presentation (summary,
// report, figures, exports, the packages' records) signs it so that more of
// the cluster's genes score positive than negative, so that "up" means
// "follows the cluster's pattern" and "down" "mirrors it". The classic
// result files keep the decomposition's own sign.
#pragma once

#include <vector>

#include "core/ClusterRecord.h"

namespace tarvok {

// True when a cluster with these gene scores is to be shown with its sign
// turned: fewer of its scores are positive than negative, or as many and
// their sum (from 0.0, in cluster order) is negative.
bool NeedsFlip(const std::vector<double>& scores);

// values with every entry negated, as 0.0 - x so that a zero stays +0 and
// "-0" never reaches a file.
void Negate(std::vector<double>& values);

// record with component and scores negated when NeedsFlip(record.scores)
// says so; every other figure is the same for either sign.
ClusterRecord Oriented(ClusterRecord record);

}  // namespace tarvok
