# The workflow benchmark's glmnet run on one split data set: cv.glmnet with
# its defaults, family multinomial, 5 folds, 20 penalties and the alpha of
# dovex's elastic net (alpha = 1/(1 + Lambda2Ratio)), serial or with
# parallel = TRUE on doParallel's 2 workers; timed (wall clock) over the
# whole call, which fits the full training data along the path and the
# folds. Writes the test samples' class probabilities at lambda.min to
# DIR/glmnet-<engine>.prob (column-major doubles, a column per class) and
# prints one line for summarise.
#
#   Rscript workflow_glmnet.R DIR serial|parallel ALPHA
suppressMessages(library(glmnet))
args <- commandArgs(trailingOnly = TRUE)
dir <- args[1]; engine <- args[2]; alpha <- as.numeric(args[3])

meta <- scan(file.path(dir, "meta"), quiet = TRUE)
ntrain <- meta[1]; ntest <- meta[2]; nd <- meta[3]; nc <- meta[4]; sparse <- meta[5] == 1
read_int <- function(f) readBin(file.path(dir, f), "integer", n = file.size(file.path(dir, f)) / 4, size = 4)
read_x <- function(part, n) {
  if (sparse) {
    x <- readBin(file.path(dir, paste0(part, ".Xx")), "double",
                 n = file.size(file.path(dir, paste0(part, ".Xx"))) / 8)
    Matrix::sparseMatrix(i = read_int(paste0(part, ".Xi")) + 1, j = read_int(paste0(part, ".Xj")) + 1,
                         x = x, dims = c(n, nd))
  } else {
    matrix(readBin(file.path(dir, paste0(part, ".X")), "double", n = n * nd), n, nd)
  }
}
xtrain <- read_x("train", ntrain)
xtest <- read_x("test", ntest)
y <- factor(read_int("train.y"), levels = 0:(nc - 1))

parallel <- engine == "parallel"
if (parallel) {
  suppressMessages(library(doParallel))
  registerDoParallel(cores = 2)
}
set.seed(1) # cv.glmnet draws its folds from R's generator
warned <- 0
secs <- system.time(fit <- withCallingHandlers(
  cv.glmnet(xtrain, y, family = "multinomial", nfolds = 5, nlambda = 20, alpha = alpha,
            parallel = parallel),
  warning = function(w) {
    # Counted for the table; the first one's text goes to stderr.
    if (warned == 0) message("glmnet: ", conditionMessage(w))
    warned <<- warned + 1
    invokeRestart("muffleWarning")
  }))[["elapsed"]]

P <- predict(fit, newx = xtest, s = "lambda.min", type = "response")[, , 1]
writeBin(as.double(P), file.path(dir, paste0("glmnet-", engine, ".prob")))
beta <- coef(fit, s = "lambda.min")
nonzero <- sum(sapply(beta, function(b) sum(b[-1, 1] != 0))) # intercepts not counted
cat(sprintf("glmnet %s seconds=%.3f nnz=%d gap=- lambda=%.4g warnings=%d\n", engine, secs,
            nonzero, fit$lambda.min, warned))
