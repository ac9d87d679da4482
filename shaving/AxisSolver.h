// How each step of a nested sequence finds its leading axis.
#pragma once

namespace tarvok {

// Exact: the singular value decomposition of the step's cross-product
// matrix (LeadingAxis), O(m^3) per step for m samples; the default, and the
// only solver of the C face. Fast: restarted Lanczos on the same matrix,
// warm-started from the previous step's axis (LeadingAxisLanczos); the same
// eigenvalues and axes to about 1e-12, at a small multiple of m^2 per step.
// With Fast the axis's sign follows its own rule (its largest-magnitude
// entry is negative), so result files may differ from Exact's in the signs
// of scores and components where Exact's rule gives the other sign.
enum class Solver { Exact, Fast };

}  // namespace tarvok
