"""Splits one data set into a stratified 80/20 train/test split, seeded, and
writes both halves for the workflow benchmark's three tools to read.

    python3 workflow_split.py csv FILE.csv DIVISOR OUT [SPLIT]
    python3 workflow_split.py problem DIR/problem OUT [SPLIT]   (a dovex_peers export)

SPLIT (1, 2, ...; default 1) picks one of several seeded splits, each drawn
with its own seed; split 1 is the benchmark's usual one.

A CSV has a header, numeric features and the class (0..nc-1) last; its
features are divided by DIVISOR. OUT/ receives
    meta        "ntrain ntest nd nc sparse"
    train.y, test.y                  int32 classes, 0..nc-1
    train.X, test.X                  a full X: doubles, column-major
    train.Xi, .Xj, .Xx (and test.*)  a sparse X: int32 rows and columns from
                                     0 and the double values, in column order
"""
import os
import sys

import numpy as np
import scipy.sparse
from sklearn.model_selection import train_test_split

SEED = 20240610


def read_csv(path, divisor):
    data = np.loadtxt(path, delimiter=",", skiprows=1, ndmin=2)
    return data[:, :-1] / divisor, data[:, -1].astype(np.int32)


def read_problem(base):
    with open(base + ".meta") as f:
        ns, nd, nc = (int(v) for v in f.read().split()[:3])
    y = np.fromfile(base + ".label", dtype="<i4")
    if os.path.exists(base + ".Xp"):
        at = np.fromfile(base + ".Xp", dtype="<i4")
        rows = np.fromfile(base + ".Xi", dtype="<i4")
        values = np.fromfile(base + ".Xx", dtype="<f8")
        return scipy.sparse.csc_matrix((values, rows, at), shape=(ns, nd)), y
    return np.fromfile(base + ".X", dtype="<f8").reshape((nd, ns)).T, y


def write(out, part, X, y):
    y.astype("<i4").tofile(os.path.join(out, part + ".y"))
    if scipy.sparse.issparse(X):
        X = scipy.sparse.csc_matrix(X)
        X.sort_indices()
        cols = np.repeat(np.arange(X.shape[1], dtype=np.int32), np.diff(X.indptr))
        X.indices.astype("<i4").tofile(os.path.join(out, part + ".Xi"))
        cols.astype("<i4").tofile(os.path.join(out, part + ".Xj"))
        X.data.astype("<f8").tofile(os.path.join(out, part + ".Xx"))
    else:
        np.asarray(X, dtype="<f8").T.tofile(os.path.join(out, part + ".X"))


def main():
    if sys.argv[1] == "csv":
        X, y = read_csv(sys.argv[2], float(sys.argv[3]))
        rest = sys.argv[4:]
    else:
        X, y = read_problem(sys.argv[2])
        rest = sys.argv[3:]
    out = rest[0]
    split = int(rest[1]) if len(rest) > 1 else 1
    if split < 1:
        sys.exit(f"{out}: the split is 1, 2, ...")
    os.makedirs(out, exist_ok=True)
    classes = np.unique(y)
    if not np.array_equal(classes, np.arange(classes.size)):
        sys.exit(f"{out}: the classes must be 0..nc-1")
    train, test = train_test_split(np.arange(y.size), test_size=0.2, stratify=y,
                                   random_state=SEED + split - 1)
    train.sort()
    test.sort()
    if scipy.sparse.issparse(X):
        X = scipy.sparse.csr_matrix(X)
    write(out, "train", X[train], y[train])
    write(out, "test", X[test], y[test])
    with open(os.path.join(out, "meta"), "w") as f:
        f.write(f"{train.size} {test.size} {X.shape[1]} {classes.size} "
                f"{int(scipy.sparse.issparse(X))}\n")


main()
