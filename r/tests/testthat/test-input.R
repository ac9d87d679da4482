# Every kind of bad input stops with a message that says what to change,
# and the accepted forms of x all reach the core as the same numbers.

small <- patternMatrix()
quick <- function(x, ...) shave(x, clusters = 1, permutations = 2, threads = 1, verbose = FALSE, ...)

test_that("x of the wrong type is refused, naming the accepted types", {
    expect_error(quick(list(1, 2)), "numeric matrix, a data.frame, an ExpressionSet or a SummarizedExperiment.*list")
    expect_error(quick(1:10), "numeric matrix.*integer vector of length 10")
    expect_error(quick(NULL), "got NULL")
    expect_error(quick(matrix(letters[1:8], 4)), "x holds character values; gene shaving needs numbers")
    frame <- data.frame(gene = rownames(small), small)
    expect_error(quick(frame), "column \"gene\" is not numeric.*row.names")
})

test_that("fewer than 2 genes or samples is refused", {
    expect_error(quick(small[1, , drop = FALSE]), "1 gene and 8 samples.*at least 2 genes")
    expect_error(quick(small[, 1, drop = FALSE]), "40 genes and 1 sample;")
    expect_error(quick(small[0, ]), "0 genes")
})

test_that("arguments out of range are refused with the engine's allowed range", {
    expect_error(shave(small, clusters = -1), "^clusters must be from 1 to 100000; got -1$")
    expect_error(shave(small, clusters = 2.5), "clusters must be a whole number .*; got 2.5")
    expect_error(shave(small, clusters = "2"), "clusters must be one number; got a character of length 1")
    expect_error(quick(small, shave = 0), "^shave must be a fraction from 0.01 to 0.97 \\(in steps of 0.01\\); got 0$")
    expect_error(quick(small, shave = 10), "shave must be a fraction .*; got 10$")
    expect_error(quick(small, shave = 0.105), "in steps of 0.01\\); got 0.105")
    expect_error(quick(small, shave = NA_real_), "shave must be one number; got NA")
    expect_error(shave(small, permutations = c(5, 10)), "got a numeric of length 2")
    expect_error(shave(small, permutations = 1e12), "^permutations must be from 1 to 1000000; got 1000000000000$")
    expect_error(quick(small, tolerance = 1.01), "tolerance must be a fraction from 0 to 1 \\(in steps of 0.01\\); got 1.01")
    expect_error(quick(small, tolerance = 5), "tolerance must be a fraction.*got 5")
    expect_error(quick(small, supervise = -0.05), "supervise must be a fraction from 0 to 1")
    expect_error(shave(small, threads = 0), "^threads must be from 1 to 1024; got 0$")
    expect_error(shave(small, seed = 2^32), "^seed must be from 0 to 4294967295; got 4294967296$")
    expect_error(shave(small, verbose = NA), "verbose must be TRUE or FALSE")
    expect_error(quick(small, missing = "zero"), "should be one of")
    expect_error(quick(small, solver = "svd"), "should be one of .*exact.*fast")
})

test_that("NA names the first gene and sample unless missing drops or fills it", {
    holey <- small
    holey[7, 3] <- NA
    holey[5, 6] <- NaN
    holey[5, 8] <- NA
    expect_error(quick(holey), "^x: value of gene 5, sample 6 is missing \\(gene \"g05\", sample \"s6\"\\); use missing = \"drop\"")

    dropped <- quick(holey, missing = "drop")
    expect_identical(unclass(clusterGenes(dropped)$row), match(clusterGenes(dropped)$gene, rownames(small)))
    expect_false(any(c("g05", "g07") %in% as.data.frame(dropped)$gene))
    expect_identical(dropped@rows, setdiff(1:40, c(5L, 7L)))

    filled <- quick(holey, missing = "row-mean")
    byHand <- holey
    # summed one value after another in sample order, as the table readers do
    byHand[5, c(6, 8)] <- Reduce(`+`, holey[5, c(1:5, 7)]) / 6
    byHand[7, 3] <- Reduce(`+`, holey[7, -3]) / 7
    expect_identical(filled@clusterList, quick(byHand)@clusterList)

    empty <- holey
    empty[2, ] <- NA
    expect_identical(quick(empty, missing = "row-mean")@rows, setdiff(1:40, 2L))
    # a sample missing in every gene goes first, with its class
    blank <- small
    blank[, 3] <- NA
    kept <- quick(blank, missing = "drop", classes = rep(c("x", "y"), 4))
    expect_identical(kept@sampleNames, colnames(small)[-3])
    expect_identical(kept@rows, 1:40)
    expect_identical(as.character(kept@classes), rep(c("x", "y"), 4)[-3])
    expect_error(quick(holey[c(5, 7, 9), ], missing = "drop"),
                 "1 gene and 8 samples left after dropping the genes with missing values")
})

test_that("infinite and huge values are refused whatever missing says", {
    bad <- small
    bad[4, 2] <- -Inf
    expect_error(quick(bad, missing = "drop"), "value of gene 4, sample 2 is not a finite number \\(gene \"g04\", sample \"s2\", -Inf\\); gene shaving needs finite numbers")
    bad[4, 2] <- 1
    bad[6, 3] <- -1e200
    expect_error(quick(bad), "at gene \"g06\", sample \"s3\" \\(.*-1e\\+200; allowed: magnitudes up to 1e\\+140\\); rescale the data")
    # tiny and merely large values are analysed at a scale, with the same choices
    expect_identical(lapply(quick(small * 2^-600)@clusterList, `[[`, "genes"),
                     lapply(quick(small)@clusterList, `[[`, "genes"))
})

test_that("classes must give one class per sample, and two classes to supervise", {
    expect_error(quick(small, classes = rep(1:2, 3)), "classes has 6 entries but x has 8 samples")
    expect_error(quick(small, classes = c(1, 1, 1, NA, 2, 2, 2, 2)), "classes is NA for sample \"s4\"")
    expect_error(quick(small, classes = rep("a", 8), supervise = 0.5), "only one class \\(\"a\"\\); supervising needs")
    expect_error(quick(small, supervise = 0.5), "supervise = 0.5 needs classes")
    expect_error(quick(small, classes = "type"), "classes = \"type\" names a column, but x has no sample table")
    expect_error(quick(small, classes = list(1:8)), "classes must be a vector or factor")
    # unused levels are dropped, so they cannot make a single class look like two
    expect_error(quick(small, classes = factor(rep("a", 8), levels = c("a", "b")), supervise = 0.1),
                 "only one class")
    # a class of one sample is allowed, with a warning, and only when supervising
    single <- c(rep("a", 7), "b")
    expect_warning(quick(small, classes = single, supervise = 0.5), "class \"b\" has a single sample")
    expect_no_warning(quick(small, classes = single))
})

test_that("names are carried through and every form of x gives the same numbers", {
    fromMatrix <- quick(small)
    expect_identical(quick(as.data.frame(small))@clusterList, fromMatrix@clusterList)
    integers <- round(small * 100)
    storage.mode(integers) <- "integer"
    expect_identical(quick(integers)@clusterList, quick(integers * 1.0)@clusterList)
    expect_identical(rownames(clusterComponents(fromMatrix)), colnames(small))
    expect_true(all(shavingClusters(fromMatrix)[[1]] %in% rownames(small)))

    unnamed <- unname(small)
    result <- quick(unnamed)
    expect_identical(result@geneNames, sprintf("GENE%05d", 1:40))
    expect_identical(result@sampleNames, sprintf("SAMPLE%05d", 1:8))
    expect_identical(result@clusterList[[1]]$genes, fromMatrix@clusterList[[1]]$genes)

    # repeated names are kept apart as rows, with a warning naming them
    doubled <- small
    rownames(doubled)[2:3] <- rownames(doubled)[1]
    expect_warning(again <- quick(doubled), "duplicate gene names \\(g01\\)")
    expect_identical(clusterComponents(again), clusterComponents(fromMatrix))
})

test_that("log2 follows the engine's rule and comes before the missing policy", {
    counts <- 2^(small + 10)
    logged <- quick(counts, log2 = "auto")
    expect_true(logged@parameters$log2Applied)
    expect_match(logged@parameters$log2Reason, "99th percentile above 100")
    expect_identical(logged@clusterList[[1]]$scores, quick(log2(counts))@clusterList[[1]]$scores)
    expect_false(quick(small, log2 = "auto")@parameters$log2Applied)
    expect_false(quick(counts)@parameters$log2Applied)  # the default analyses x as given
    zeroed <- counts
    zeroed[3, 2] <- 0
    expect_error(quick(zeroed, log2 = TRUE), "value of gene 3, sample 2 is missing")
    expect_identical(quick(zeroed, log2 = TRUE, missing = "drop")@geneNames, rownames(small)[-3])
    expect_error(quick(small, log2 = "yes"), "log2 must be \"auto\", TRUE or FALSE; got \"yes\"")
})
