# The accessors, summary and plots read one consistent record.

result <- shave(patternMatrix(), clusters = 2, permutations = 4, threads = 1, verbose = FALSE,
                classes = factor(rep(c("up", "down"), each = 4), levels = c("up", "down")))

test_that("accessors agree with each other", {
    curve <- gapCurve(result, 1)
    chosen <- curve[curve$chosen, ]
    expect_identical(nrow(chosen), 1L)
    expect_identical(nrow(clusterGenes(result, 1)), chosen$size)
    expect_identical(lengths(shavingClusters(result), use.names = FALSE),
                     vapply(1:2, function(i) nrow(clusterGenes(result, i)), integer(1)))
    expect_identical(names(shavingClusters(result)), c("cluster1", "cluster2"))
    expect_identical(dim(clusterComponents(result)), c(8L, 2L))
    frame <- as.data.frame(result)
    expect_identical(frame$gene, unlist(shavingClusters(result), use.names = FALSE))
    expect_identical(frame$score[frame$cluster == 2], clusterGenes(result, 2)$score)
    # the BiocGenerics generic and base's S3 dispatch give the same table
    expect_identical(BiocGenerics::as.data.frame(result), base::as.data.frame(result))
    expect_identical(names(curve), c("size", "gap", "r2", "permutedR2", "between", "total",
                                     "within", "chosen"))
    # the strong pattern of genes 1..12 is the first cluster
    expect_true(all(clusterGenes(result, 1)$row %in% 1:12))
})

test_that("a cluster number outside the result is refused", {
    expect_error(clusterGenes(result, 3), "i must be a cluster number from 1 to 2; got 3")
    expect_error(gapCurve(result, 0), "from 1 to 2")
    expect_error(plot(result, cluster = 1.5), "got 1.5")
    expect_error(plot(result, which = "pie"), "should be one of")
})

test_that("show and summary name the run, the clusters and the class levels", {
    shown <- capture.output(show(result))
    expect_match(shown[1], "GeneShaving: 2 of 2 clusters from 40 genes x 8 samples")
    expect_match(shown[2], "shave 10%, 4 permutations, tolerance 0%, seed 1, unsupervised")
    table <- summary(result)$table
    expect_identical(table$size, lengths(shavingClusters(result), use.names = FALSE))
    expect_identical(names(table)[8:9], c("mean.up", "mean.down"))
    expect_match(paste(capture.output(print(summary(result))), collapse = "\n"), "mean.up")
})

test_that("a run that finds nothing still reads as an empty result", {
    constant <- matrix(3, 10, 6)
    empty <- shave(constant, clusters = 2, permutations = 2, threads = 1, verbose = FALSE)
    expect_identical(empty@stopReason, "variance_exhausted")
    expect_match(capture.output(show(empty))[3], "stopped early: variance_exhausted")
    expect_identical(dim(clusterComponents(empty)), c(6L, 0L))
    expect_identical(nrow(as.data.frame(empty)), 0L)
    expect_identical(nrow(summary(empty)$table), 0L)
    expect_length(shavingClusters(empty), 0L)
    expect_error(plot(empty), "the result has no clusters \\(the run stopped early: variance_exhausted\\)")
})

test_that("every plot draws, with classes (strip, legends) and without", {
    pdf(NULL)
    on.exit(dev.off())
    plain <- shave(patternMatrix(), clusters = 1, permutations = 2, threads = 1, verbose = FALSE)
    for (which in c("gap", "r2", "heatmap", "component")) {
        expect_identical(plot(result, which = which, cluster = 2), result)
        expect_identical(plot(plain, which = which), plain)
    }
    # the heat map's panels do not outlive it
    expect_identical(par("mfrow"), c(1L, 1L))
})

test_that("the export files carry names and class levels, and fail as R errors", {
    dir <- tempfile("exports")
    gct <- strsplit(readLines(writeExports(result, dir)[4]), "\t")
    expect_identical(gct[[3]], c("id", "cluster", "score", "sign", sprintf("s%d", 1:8)))
    expect_identical(gct[[4]], c("class", "na", "na", "na", rep(c("up", "down"), each = 4)))
    kgg <- read.delim(file.path(dir, "clusters.kgg"), colClasses = "character")
    expect_identical(kgg$UNIQID, unlist(shavingClusters(result), use.names = FALSE))
    expect_identical(vapply(gct[-(1:4)], `[`, "", 1), kgg$UNIQID)

    # a result read back from a file writes the same bytes
    saved <- tempfile(fileext = ".rds")
    saveRDS(result, saved)
    again <- writeGmt(readRDS(saved), tempfile(fileext = ".gmt"))
    expect_identical(readLines(again), readLines(file.path(dir, "clusters.gmt")))

    expect_error(writeGct(result, file.path(dir, "missing", "c.gct")),
                 "cannot write .*missing/c.gct: No such file or directory")
    empty <- shave(matrix(3, 10, 6), clusters = 1, permutations = 2, threads = 1, verbose = FALSE)
    expect_error(writeExports(empty, tempfile()), "the record holds no clusters")
    expect_error(writeKgg(list(), tempfile()), "result must be the GeneShaving")
})
