"""Fits one exported problem with scikit-learn's elastic-net saga at a ladder
of tolerances and prints "saga <tol> <seconds> <objective>" per fit.

With C = 1/(lambda1+lambda2), l1_ratio = lambda1/(lambda1+lambda2) and no
intercept, saga's objective times (lambda1+lambda2) is ours:
sum_k (log sum_j exp(XW) - Y XW) + lambda1 |W|_1 + lambda2/2 |W|^2.

    python3 saga_ladder.py DIR/problem
"""
import os
import sys
import time
import warnings

import numpy as np
import scipy.sparse
from sklearn.linear_model import LogisticRegression


def main():
    base = sys.argv[1]
    with open(base + ".meta") as f:
        ns, nd, nc, l1, l2 = f.read().split()
    ns, nd, nc, l1, l2 = int(ns), int(nd), int(nc), float(l1), float(l2)
    if os.path.exists(base + ".Xp"):
        # A sparse problem's compressed columns; saga takes rows.
        at = np.fromfile(base + ".Xp", dtype="<i4")
        rows = np.fromfile(base + ".Xi", dtype="<i4")
        values = np.fromfile(base + ".Xx", dtype="<f8")
        X = scipy.sparse.csc_matrix((values, rows, at), shape=(ns, nd)).tocsr()
    else:
        X = np.fromfile(base + ".X", dtype="<f8").reshape((nd, ns)).T.copy()
    label = np.fromfile(base + ".label", dtype="<i4")
    Y = (label[:, None] == np.arange(nc)[None, :]).astype(float)

    def objective(W):
        XW = np.asarray(X @ W)
        top = XW.max(axis=1, keepdims=True)
        loss = np.sum(top[:, 0] + np.log(np.exp(XW - top).sum(axis=1))) - np.sum(Y * XW)
        return loss + l1 * np.abs(W).sum() + l2 / 2 * (W * W).sum()

    warnings.simplefilter("ignore")
    for e in range(2, 11):
        tol = 10.0**-e
        model = LogisticRegression(penalty="elasticnet", solver="saga", C=1 / (l1 + l2),
                                   l1_ratio=l1 / (l1 + l2), fit_intercept=False, tol=tol,
                                   max_iter=1000000, multi_class="multinomial")
        t0 = time.process_time()
        model.fit(X, label)
        secs = time.process_time() - t0
        print(f"saga {tol:g} {secs:.4f} {objective(model.coef_.T):.17g}", flush=True)
        if secs > 60:
            break


main()
