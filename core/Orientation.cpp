#include "core/Orientation.h"

namespace tarvok {

bool NeedsFlip(const std::vector<double>& scores) {
  long long balance = 0;  // positive scores less negative ones
  double sum = 0.0;
  for (double score : scores) {
    balance += score > 0.0 ? 1 : (score < 0.0 ? -1 : 0);
    sum += score;
  }
  return balance < 0 || (balance == 0 && sum < 0.0);
}

void Negate(std::vector<double>& values) {
  for (double& value : values) value = 0.0 - value;
}

ClusterRecord Oriented(ClusterRecord record) {
  if (!NeedsFlip(record.scores)) return record;
  Negate(record.component);
  Negate(record.scores);
  return record;
}

}  // namespace tarvok
