# Writes multi-class data sets of the mlbench package (Debian's
# r-cran-mlbench) as CSV files for the workflow benchmark: a header, the
# numeric features, then the class as 0..nc-1 in the last column. A factor
# of two levels becomes one 0/1 column, a factor of more levels one 0/1
# column per level (one-hot); rows with a missing value are dropped. The
# data sets stay in the R package: nothing of them is kept in the project.
#
#   Rscript workflow_export.R DIR name...
suppressMessages(library(mlbench))
args <- commandArgs(trailingOnly = TRUE)
dir <- args[1]

# name in the benchmark -> data set in mlbench, its class column, and the
# number of rows to keep (a seeded sample without regard to class; NA all)
sets <- list(
  vehicle = list("Vehicle", "Class", NA),
  vowel = list("Vowel", "Class", NA),
  dna = list("DNA", "Class", NA),
  satellite = list("Satellite", "classes", NA),
  soybean = list("Soybean", "Class", NA),
  letter = list("LetterRecognition", "lettr", 4000),
  zoo = list("Zoo", "type", NA)
)

for (name in args[-1]) {
  s <- sets[[name]]
  if (is.null(s)) stop("unknown data set ", name, " (", paste(names(sets), collapse = " "), ")")
  e <- new.env()
  data(list = s[[1]], package = "mlbench", envir = e)
  d <- get(s[[1]], envir = e)
  d <- d[complete.cases(d), , drop = FALSE]
  if (!is.na(s[[3]]) && nrow(d) > s[[3]]) {
    set.seed(20240610)
    d <- d[sort(sample(nrow(d), s[[3]])), , drop = FALSE]
  }
  class <- droplevels(as.factor(d[[s[[2]]]]))
  d[[s[[2]]]] <- NULL
  columns <- list()
  for (v in names(d)) {
    x <- d[[v]]
    if (is.factor(x)) {
      x <- droplevels(x)
      lv <- levels(x)
      if (length(lv) == 2) {
        columns[[v]] <- as.numeric(x == lv[2])
      } else if (length(lv) > 2) {
        for (l in lv) columns[[paste0(v, "_", l)]] <- as.numeric(x == l)
      } # a factor left with one level carries nothing
    } else {
      columns[[v]] <- as.numeric(x)
    }
  }
  out <- as.data.frame(columns, check.names = FALSE)
  out$class <- as.integer(class) - 1L
  write.csv(out, file.path(dir, paste0(name, ".csv")), row.names = FALSE)
  cat(sprintf("%s: %d samples, %d features, %d classes (mlbench %s)\n", name, nrow(out),
              ncol(out) - 1, nlevels(class), s[[1]]))
}
