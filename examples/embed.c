/*
 * embed: the smallest complete use of the Tarvok library from C.
 *
 * Builds a 60 x 8 matrix in which genes 0..19 share one pattern over the
 * samples, runs a two-cluster analysis with progress lines on standard
 * output, and prints where the results are.
 *
 * Usage: embed DIR   (DIR must exist; it becomes TVOUTPUT)
 *
 * RuzoVavav ends the process with status 1 on any error, so a program that
 * must survive a failed analysis calls it in a child process (the tarvok
 * program does).
 */
#include <stdio.h>
#include <stdlib.h>

#include "Tarvok.h"

enum { GENES = 60, SAMPLES = 8 };

int main(int argc, char** argv) {
  static double data[GENES * SAMPLES];
  unsigned state = 12345u;
  int g, s;
  if (argc != 2) {
    fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  if (setenv("TVOUTPUT", argv[1], 1) != 0) return 2; /* read once, at the first call */
  for (g = 0; g < GENES; ++g) {
    for (s = 0; s < SAMPLES; ++s) {
      state = state * 1103515245u + 12345u; /* small deterministic noise */
      double noise = (double)((state >> 16) & 0x7fff) / 32768.0 - 0.5;
      double pattern = g < 20 ? (s < SAMPLES / 2 ? 3.0 : -3.0) : 0.0;
      data[g * SAMPLES + s] = pattern + noise;
    }
  }
  {
    /* Every argument is passed by pointer, in the library's order. */
    int clusters = 2, shave = 10, permutations = 10, tolerance = 0;
    int genes = GENES, samples = SAMPLES, monitor = 1, generateLabels = 1, dump = 0;
    int supervise = 0, clustersDone = 0;
    char* noClassFile = NULL;
    RuzoVavav(&clusters, &shave, &permutations, &tolerance, data, &genes, &samples, &monitor,
              &generateLabels, &dump, &supervise, &noClassFile, &clustersDone);
    printf("%d clusters written to %s (clusterlengths.txt: chosen step and size)\n", clustersDone,
           argv[1]);
  }
  return 0;
}
