// The C face's whole run, for programs built with the engine itself that
// need what the two-function C ABI cannot carry: the solver, or the
// sharing of permuted copies across processes. The C ABI stays on the
// exact solver; only these entry points take an options hook.
#pragma once

#include <functional>

#include "core/Analysis.h"

namespace tarvok {

// Changes the options RuzoVavav built from its arguments, just before the
// analysis is made from them (threads, classes and the generator are set).
using OptionsHook = std::function<void(AnalysisOptions& options)>;

// RunToFiles: what RuzoVavav does with the same arguments (result files in
// TVOUTPUT, monitor lines when monitorFlag is set), with hook applied to
// the options; failures throw (Error, Cancelled, std::bad_alloc) instead of
// ending the process.
void RunToFiles(const int* clusterCount, const int* shavePercent, const int* permutationCount,
                const int* gapTolerancePercent, const double* dataMatrix, const int* geneCount,
                const int* sampleCount, const int* monitorFlag, const int* generateLabels,
                const int* dumpMatrix, const int* supervisionPercent, char* const* classificationFile,
                int* clustersDone, const OptionsHook& hook);

// RunToFilesOrEnd: RuzoVavav itself with the hook: a failure is reported
// the C face's way (fatal message, monitor line) and ends the process.
void RunToFilesOrEnd(const int* clusterCount, const int* shavePercent, const int* permutationCount,
                     const int* gapTolerancePercent, const double* dataMatrix, const int* geneCount,
                     const int* sampleCount, const int* monitorFlag, const int* generateLabels,
                     const int* dumpMatrix, const int* supervisionPercent, char* const* classificationFile,
                     int* clustersDone, const OptionsHook& hook);

}  // namespace tarvok
