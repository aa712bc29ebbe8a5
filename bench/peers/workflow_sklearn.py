"""The workflow benchmark's scikit-learn run on one split data set:
LogisticRegressionCV (saga, elastic net with dovex's l1_ratio, 20 values of
C, 5 stratified folds, multinomial, its defaults otherwise, max_iter
included) on standardised features (a Pipeline with StandardScaler, which
only scales a sparse X), with n_jobs 1 or 2; timed (wall clock) over the
pipeline's fit, which cross-validates and refits at the best C. Writes the
test samples' class probabilities to DIR/sklearn-<engine>.prob
(column-major doubles, a column per class) and prints one line for
summarise; 'warnings' counts the fits that stopped at max_iter.

    python3 workflow_sklearn.py DIR serial|parallel L1_RATIO
"""
import os
import sys
import time
import warnings

import numpy as np
import scipy.sparse
from sklearn.exceptions import ConvergenceWarning
from sklearn.linear_model import LogisticRegressionCV
from sklearn.pipeline import make_pipeline
from sklearn.preprocessing import StandardScaler


def read_x(d, part, n, nd, sparse):
    if sparse:
        rows = np.fromfile(os.path.join(d, part + ".Xi"), dtype="<i4")
        cols = np.fromfile(os.path.join(d, part + ".Xj"), dtype="<i4")
        values = np.fromfile(os.path.join(d, part + ".Xx"), dtype="<f8")
        return scipy.sparse.csr_matrix((values, (rows, cols)), shape=(n, nd))
    return np.fromfile(os.path.join(d, part + ".X"), dtype="<f8").reshape((nd, n)).T.copy()


def main():
    d, engine, l1_ratio = sys.argv[1], sys.argv[2], float(sys.argv[3])
    with open(os.path.join(d, "meta")) as f:
        ntrain, ntest, nd, nc, sparse = (int(v) for v in f.read().split())
    Xtrain = read_x(d, "train", ntrain, nd, sparse)
    Xtest = read_x(d, "test", ntest, nd, sparse)
    y = np.fromfile(os.path.join(d, "train.y"), dtype="<i4")

    model = make_pipeline(
        StandardScaler(with_mean=not sparse),
        LogisticRegressionCV(Cs=20, cv=5, penalty="elasticnet", solver="saga",
                             l1_ratios=[l1_ratio], multi_class="multinomial",
                             n_jobs=2 if engine == "parallel" else 1, random_state=0))
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", ConvergenceWarning)
        t0 = time.perf_counter()
        model.fit(Xtrain, y)
        seconds = time.perf_counter() - t0
    stopped = sum(issubclass(w.category, ConvergenceWarning) for w in caught)

    fit = model[-1]
    if list(fit.classes_) != list(range(nc)):
        sys.exit("the model's classes are not 0..nc-1")
    P = model.predict_proba(Xtest)
    P.T.astype("<f8").tofile(os.path.join(d, f"sklearn-{engine}.prob"))
    print(f"sklearn {engine} seconds={seconds:.3f} nnz={np.count_nonzero(fit.coef_)} gap=- "
          f"C={fit.C_[0]:.4g} warnings={stopped}", flush=True)


main()
