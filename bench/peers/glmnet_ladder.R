# Fits one exported problem with glmnet at a ladder of convergence
# thresholds and prints "glmnet <thresh> <seconds> <objective>" per fit.
# The penalised objective sum_k (log sum_j exp(XW) - Y XW) + lambda1 |W|_1 +
# lambda2/2 |W|^2 is glmnet's multinomial elastic net times ns, with
# alpha = lambda1/(lambda1+lambda2) and lambda = (lambda1+lambda2)/ns, no
# intercept and no standardisation. A single-penalty fit may not converge,
# so each fit runs along 20 penalties ending at ours.
#
#   Rscript glmnet_ladder.R DIR/problem
suppressMessages(library(glmnet))
base <- commandArgs(trailingOnly = TRUE)[1]
meta <- scan(paste0(base, ".meta"), quiet = TRUE)
ns <- meta[1]; nd <- meta[2]; nc <- meta[3]; l1 <- meta[4]; l2 <- meta[5]
if (file.exists(paste0(base, ".Xp"))) {
  # A sparse problem's compressed columns, as a sparse matrix for glmnet.
  p <- readBin(paste0(base, ".Xp"), "integer", n = nd + 1, size = 4)
  i <- readBin(paste0(base, ".Xi"), "integer", n = p[nd + 1], size = 4)
  x <- readBin(paste0(base, ".Xx"), "double", n = p[nd + 1])
  X <- Matrix::sparseMatrix(i = i, p = p, x = x, dims = c(ns, nd), index1 = FALSE)
} else {
  X <- matrix(readBin(paste0(base, ".X"), "double", n = ns * nd), ns, nd)
}
label <- readBin(paste0(base, ".label"), "integer", n = ns, size = 4)
y <- factor(label, levels = 0:(nc - 1))
Y <- outer(label, 0:(nc - 1), "==") * 1

objective <- function(W) {
  XW <- as.matrix(X %*% W)
  top <- apply(XW, 1, max)
  sum(top + log(rowSums(exp(XW - top)))) - sum(Y * XW) +
    l1 * sum(abs(W)) + l2 / 2 * sum(W^2)
}

alpha <- l1 / (l1 + l2)
lambda <- (l1 + l2) / ns
# The smallest penalty that keeps every weight at zero, from the gradient
# at W = 0, down to ours.
top <- max(abs(as.matrix(crossprod(X, Y - 1 / nc)))) / (ns * alpha)
path <- exp(seq(log(max(top, lambda)), log(lambda), length.out = 20))
for (e in 3:12) {
  thresh <- 10^-e
  secs <- system.time(fit <- suppressWarnings(glmnet(
    X, y, family = "multinomial", alpha = alpha, lambda = path,
    intercept = FALSE, standardize = FALSE, thresh = thresh, maxit = 1e7)))
  secs <- secs[["user.self"]] + secs[["sys.self"]]
  last <- length(fit$lambda)
  W <- sapply(seq_len(nc), function(j) as.numeric(fit$beta[[j]][, last]))
  if (last < length(path)) next # the path stopped early: not our penalty
  cat(sprintf("glmnet %g %.4f %.17g\n", thresh, secs, objective(W)))
  if (secs > 60) break
}
