/*
 * Tarvok: gene shaving engine.
 *
 * The library's whole public face: two functions with C linkage, every
 * argument passed by pointer. Neither returns anything. RuzoVavav ends the
 * calling process with status 1 on any failure it detects (after reporting
 * it on standard output), so hosts that must survive a failure run it in a
 * child process. The library is not reentrant: one call at a time, from one
 * thread.
 */
#ifndef TARVOK_H
#define TARVOK_H

#if defined(_WIN32)
#  if defined(TARVOK_BUILDING)
#    define TARVOK_API __declspec(dllexport)
#  else
#    define TARVOK_API __declspec(dllimport)
#  endif
#  define TARVOK_CALL __cdecl
#else
#  define TARVOK_API __attribute__((visibility("default")))
#  define TARVOK_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * RuzoVavav: one complete gene-shaving analysis of a genes x samples matrix.
 *
 * clusterCount        (input)  clusters requested, K >= 0
 * shavePercent        (input)  percent of a cluster shaved per step, 1..97
 * permutationCount    (input)  row-permuted copies for the gap statistic, B >= 1
 * gapTolerancePercent (input)  tolerance of the size choice, 0..100
 * dataMatrix          (input)  double[geneCount][sampleCount], row-major by gene;
 *                              never changed
 * geneCount           (input)  G >= 2
 * sampleCount         (input)  N >= 2
 * monitorFlag         (input)  non-zero: progress lines on standard output
 * generateLabels      (input)  non-zero: write RowLbls.txt/ColLbls.txt;
 *                              zero: read them from the output directory
 * dumpMatrix          (input)  non-zero: write origmatrix.txt (centred data)
 * supervisionPercent  (input)  0 unsupervised, 100 fully supervised,
 *                              1..99 a mixture
 * classificationFile  (input)  path of the class file (one label per sample);
 *                              read only when supervised
 * clustersDone        (output) clusters processed; untouched when K is 0
 *
 * Results are text files in the directory named by TVOUTPUT (default
 * "output/", relative to the working directory).
 */
TARVOK_API void TARVOK_CALL RuzoVavav(const int* clusterCount, const int* shavePercent,
                                      const int* permutationCount,
                                      const int* gapTolerancePercent,
                                      const double* dataMatrix, const int* geneCount,
                                      const int* sampleCount, const int* monitorFlag,
                                      const int* generateLabels, const int* dumpMatrix,
                                      const int* supervisionPercent,
                                      char* const* classificationFile, int* clustersDone);

/*
 * tsvFileFormatTest: does a tab-separated table have a header row and a
 * label column? Answers from the first two lines; never ends the process.
 *
 * tableFile      (input)  path of the table
 * hasHeaderRow   (output) 1 when the second field of line 1 is not a number
 * hasLabelColumn (output) 1 when the first field of line 2 is not a number
 *
 * A file that cannot be opened is reported on standard error; both answers
 * are then 0.
 */
TARVOK_API void TARVOK_CALL tsvFileFormatTest(char* const* tableFile, int* hasHeaderRow,
                                              int* hasLabelColumn);

#ifdef __cplusplus
}
#endif

#endif /* TARVOK_H */
