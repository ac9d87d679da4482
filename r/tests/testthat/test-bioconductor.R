# ExpressionSet and SummarizedExperiment in, cluster membership back out.

values <- patternMatrix()
sampleInfo <- data.frame(type = rep(c("up", "down"), each = 4), row.names = colnames(values))
quick <- function(x, ...) shave(x, clusters = 2, permutations = 3, threads = 1, verbose = FALSE, ...)
reference <- quick(values, classes = sampleInfo$type, supervise = 0.4)

# The columns annotate() adds agree with the result's clusters.
expectAnnotated <- function(data, result) {
    expect_identical(data$shavingCluster1[clusterGenes(result, 1)$row], clusterGenes(result, 1)$score)
    expect_identical(sum(!is.na(data$shavingCluster2)), nrow(clusterGenes(result, 2)))
    both <- intersect(clusterGenes(result, 1)$row, clusterGenes(result, 2)$row)
    expect_true(all(data$shavingClusters[both] == "1,2"))
    members <- union(clusterGenes(result, 1)$row, clusterGenes(result, 2)$row)
    expect_identical(which(!is.na(data$shavingClusters)), sort(members))
}

test_that("an ExpressionSet is shaved through exprs, classes from pData, and annotated in fData", {
    skip_if_not_installed("Biobase")
    set <- Biobase::ExpressionSet(values, phenoData = Biobase::AnnotatedDataFrame(sampleInfo))
    result <- quick(set, classes = "type", supervise = 0.4)
    expect_identical(result@clusterList, reference@clusterList)
    expect_identical(levels(result@classes), c("down", "up"))
    expect_error(quick(set, classes = "sex"), "\"sex\" is not a column of the sample table of x; its columns are \"type\"")

    annotated <- annotate(set, result)
    expectAnnotated(Biobase::fData(annotated), result)
    run <- Biobase::notes(annotated)$tarvok
    expect_identical(run$supervise, 0.4)
    expect_identical(run$version, as.character(utils::packageVersion("tarvok")))
    expect_identical(Biobase::exprs(annotated), Biobase::exprs(set))
})

test_that("a SummarizedExperiment is shaved through the chosen assay and annotated in rowData", {
    skip_if_not_installed("SummarizedExperiment")
    se <- SummarizedExperiment::SummarizedExperiment(
        list(counts = values * 0 + 1, logs = values), colData = sampleInfo)
    result <- quick(se, assay = "logs", classes = "type", supervise = 0.4)
    expect_identical(result@clusterList, reference@clusterList)
    expect_error(quick(se, assay = "tpm"), "assay must name or number one of the assays of x \\(\"counts\", \"logs\"\\); got tpm")

    annotated <- annotate(se, result)
    expectAnnotated(SummarizedExperiment::rowData(annotated), result)
    run <- S4Vectors::metadata(annotated)$tarvok
    expect_identical(run[c("shave", "seed", "stopReason", "clustersFound")],
                     list(shave = 0.1, seed = 1, stopReason = "completed", clustersFound = 2L))

    expect_error(annotate(se[1:10, ], result), "x has 10 rows but result was computed on 40 genes")
    expect_error(annotate(values, result), "x must be the SummarizedExperiment or ExpressionSet that was shaved")
    expect_error(annotate(se, list()), "result must be the GeneShaving")
})

test_that("annotate maps genes back past the ones missing values dropped", {
    skip_if_not_installed("SummarizedExperiment")
    holey <- values
    holey[3, 2] <- NA
    se <- SummarizedExperiment::SummarizedExperiment(list(logs = holey))
    result <- quick(se, missing = "drop")
    data <- SummarizedExperiment::rowData(annotate(se, result))
    expect_identical(rownames(se)[!is.na(data$shavingCluster1)], sort(shavingClusters(result)[[1]]))
    expect_true(is.na(data$shavingCluster1[3]))
    expect_true(is.na(data$shavingClusters[3]))
})

test_that("attaching the package after the Bioconductor packages masks nothing", {
    skip_if_not_installed("SummarizedExperiment")
    script <- "suppressPackageStartupMessages(library(SummarizedExperiment)); library(tarvok)"
    out <- system2(file.path(R.home("bin"), "Rscript"), c("-e", shQuote(script)),
                   stdout = TRUE, stderr = TRUE)
    expect_false(any(grepl("masked", out)), info = paste(out, collapse = "\n"))
    # igraph's clusters() and components(), GenomicFeatures' genes()
    expect_false(any(c("clusters", "components", "genes") %in% getNamespaceExports("tarvok")))
})
