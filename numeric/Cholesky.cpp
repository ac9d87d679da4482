#include "numeric/Cholesky.h"

#include <cmath>

void choldc(const DMatrix& a, int n, const DVector& p) {
  for (int i = 1; i <= n; ++i) {
    for (int j = i; j <= n; ++j) {
      // The inner product runs from k = i-1 down to 1: a fixed order, so the
      // factor is the same bytes on every build.
      double sum = a[i][j];
      for (int k = i - 1; k >= 1; --k) sum -= a[i][k] * a[j][k];
      if (j == i) {
        // Written as !(sum > 0) so that a NaN pivot fails as well.
        if (!(sum > 0.0)) NumericalError("choldc failed");
        p[i] = std::sqrt(sum);
      } else {
        a[j][i] = sum / p[i];
      }
    }
  }
}
