// Supervision by sample classes: the classification file, the class matrix
// Q and the supervision transform T that the nested shaving sequence
// applies to the data.
//
// T is none (unsupervised), Q itself (fully supervised) or the lower
// Cholesky factor L of M = alpha Q Q^T + (1 - alpha) I (partly supervised),
// so that the inner product of two transformed genes blends that of their
// class-weighted sums with their plain inner product.
#pragma once

#include <vector>

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
// Allocation failures throw Error with "Error creating list node: %s\n",
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

// The sample-space transform of a supervised analysis: N x columns, or
// none (unsupervised).
struct SupervisionTransform {
  Matrix transform;  // empty when unsupervised
  int columns = 0;   // c
  bool Present() const { return static_cast<const DMatrix&>(transform).rows != nullptr; }
};

// ComputeQ: the class matrix for the class labels of the N samples (input,
// one label per sample): N x a, with Q[s][k] = 1/sqrt(size of class k) when
// sample s is in the k-th class (classes in order of first appearance),
// else 0. classCount (output) receives a.
Matrix ComputeQ(int N, const std::vector<int>& classes, int* classCount);

// BuildSupervisionTransform: the supervision transform for a run.
// supervisionPercent (input) 0 none, 100 the class matrix Q itself, any other
//                    value the lower Cholesky factor of the mixture with
//                    alpha = supervisionPercent * 0.01 (c = N)
// classes            (input) one class label per sample (N of them)
// A mixture that is not positive definite (percent above 100 with a class
// of two or more samples) throws through choldc ("choldc failed").
SupervisionTransform BuildSupervisionTransform(int supervisionPercent, const std::vector<int>& classes,
                                               int N);
