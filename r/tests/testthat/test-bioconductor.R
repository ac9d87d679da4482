# ExpressionSet and SummarizedExperiment in, cluster membership back out.

values <- patternMatrix()
sampleInfo <- data.frame(type = rep(c("up", "down"), each = 4), row.names = colnames(values))
quick <- function(x, ...) shave(x, clusters = 2, permutations = 3, threads = 1, verbose = FALSE, ...)
reference <- quick(values, classes = sampleInfo$type, supervise = 40)

test_that("an ExpressionSet is shaved through exprs, classes from pData", {
    skip_if_not_installed("Biobase")
    set <- Biobase::ExpressionSet(values, phenoData = Biobase::AnnotatedDataFrame(sampleInfo))
    result <- quick(set, classes = "type", supervise = 40)
    expect_identical(result@clusterList, reference@clusterList)
    expect_identical(levels(result@classes), c("down", "up"))
    expect_error(quick(set, classes = "sex"), "\"sex\" is not a column of the sample table of x; its columns are \"type\"")
})

test_that("a SummarizedExperiment is shaved through the chosen assay and annotated", {
    skip_if_not_installed("SummarizedExperiment")
    se <- SummarizedExperiment::SummarizedExperiment(
        list(counts = values * 0 + 1, logs = values), colData = sampleInfo)
    result <- quick(se, assay = "logs", classes = "type", supervise = 40)
    expect_identical(result@clusterList, reference@clusterList)
    expect_error(quick(se, assay = "tpm"), "assay must name or number one of the assays of x \\(\"counts\", \"logs\"\\); got tpm")

    annotated <- annotate(se, result)
    data <- SummarizedExperiment::rowData(annotated)
    expect_identical(data$shavingCluster1[genes(result, 1)$row], genes(result, 1)$score)
    expect_identical(sum(!is.na(data$shavingCluster2)), nrow(genes(result, 2)))
    both <- intersect(genes(result, 1)$row, genes(result, 2)$row)
    expect_true(all(data$shavingClusters[both] == "1,2"))
    expect_identical(sum(nzchar(data$shavingClusters)),
                     length(union(genes(result, 1)$row, genes(result, 2)$row)))

    expect_error(annotate(se[1:10, ], result), "se has 10 rows but result was computed on 40 genes")
    expect_error(annotate(values, result), "se must be a SummarizedExperiment")
})

test_that("annotate maps genes back past the ones missing values dropped", {
    skip_if_not_installed("SummarizedExperiment")
    holey <- values
    holey[3, 2] <- NA
    se <- SummarizedExperiment::SummarizedExperiment(list(logs = holey))
    result <- quick(se, missing = "drop")
    data <- SummarizedExperiment::rowData(annotate(se, result))
    expect_identical(rownames(se)[!is.na(data$shavingCluster1)], sort(clusters(result)[[1]]))
    expect_true(is.na(data$shavingCluster1[3]))
})
