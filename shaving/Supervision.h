// Supervision by sample classes: the classification file, the class matrix
// Q and the supervision transform T that the nested shaving sequence
// applies to the data.
//
// T is none (unsupervised), Q itself (fully supervised) or the lower
// Cholesky factor L of M = alpha Q Q^T + (1 - alpha) I (partly supervised),
// so that the inner product of two transformed genes blends that of their
// class-weighted sums with their plain inner product.
#pragma once

#include "numeric/Arrays.h"

// One class of the classification: its label and member samples.
struct ClassNode {
  int label;
  int count;         // number of members, at least 1
  int* members;      // count sample numbers in file order, owned by the node
  ClassNode* next;   // next class, or null
};

// The classes in order of first appearance; head is null while empty.
struct ClassList {
  ClassNode* head = nullptr;
};

// AppendToClassList: adds sample to the class of label, creating the class
// at the end of the list when the label is new.
// list   (input/output) the list
// label  (input) class label
// sample (input) sample number
// Allocation failures end the run with "Error creating list node: %s\n",
// "Error creating list node item: %s\n" or "Error inserting into list: %s\n"
// (the text of the current error number).
void AppendToClassList(ClassList& list, int label, int sample);

// FindClass: the first node of the list starting at head (input) whose label
// is label (input), or null.
ClassNode* FindClass(ClassNode* head, int label);

// ClassCount: number of nodes of the list starting at head (input).
int ClassCount(const ClassNode* head);

// DestroyClassList: releases every node and its member array; list (input/
// output) is empty afterwards. An empty list is left as it is.
void DestroyClassList(ClassList& list);

// FillClassColumn: sets q[m][k] = 1 / sqrt(count) for each of the count
// (input) sample numbers in members (input, int[count]); q (output) is a
// dmatrix with column k and a row for every member. Nothing when count <= 0.
void FillClassColumn(const DMatrix& q, int k, int count, const int* members);

// ReadClassification: reads the classification file at path (input) into
// list (output, appended to) and returns the number of samples read.
//
// The file is read in pieces of at most 254 characters; a piece stops after
// a line feed, after 254 characters or at the end of the file. The line end
// (LF, CR+LF, or a CR right before the end of the file) is removed; an empty
// piece is skipped, every other piece is the next sample, with the class
// label that atoi would read from its start (saturated to the int range). A
// line longer than 254 characters therefore counts as several samples.
// A file that cannot be opened ends the run with "ComputeQ(\"%s\"): %s\n".
int ReadClassification(const char* path, ClassList& list);

// ComputeQ: the class matrix of the classification file at path (input) for
// N (input) samples: a dmatrix 0..N-1 x 0..a-1, owned by the caller, with
// Q[s][k] = 1/sqrt(size of class k) when sample s is in the k-th class (in
// order of first appearance), else 0. classCount (output) receives a.
// A sample count other than N ends the run with
// "Classification file line count(%d) must equal columns(%d)\n".
DMatrix ComputeQ(int N, const char* path, int* classCount);

// BuildSupervisionTransform: the supervision transform for a run.
// supervisionPercent (input) 0 none, 100 full, any other value a mixture
//                    with alpha = supervisionPercent * 0.01
// classificationFile (input) path of the classification file
// N                  (input) number of samples
// c                  (output) columns of T; untouched when the percent is 0
// Returns an empty DMatrix (rows == nullptr) for 0; otherwise T as a
// dmatrix 0..N-1 x 0..c-1 owned by the caller, released with
// ReleaseDmatrix(T, 0, N-1, 0, c-1). A path that is not a regular file ends
// the run with "RuzoVavav(\"%s\"): not a regular file\n"; a mixture that is
// not positive definite (percent above 100 with a class of two or more
// samples) ends it through choldc.
DMatrix BuildSupervisionTransform(int supervisionPercent, const char* classificationFile, int N, int* c);
