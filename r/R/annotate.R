## annotate(se, result): the clusters of `result` as columns of rowData(se).
## A gene may belong to several clusters: each cluster gets a column of
## signed scores (NA for genes outside it), and "shavingClusters" lists
## every cluster of the gene ("" for none).

annotate <- function(se, result) {
    if (!methods::is(se, "SummarizedExperiment"))
        stop(sprintf("se must be a SummarizedExperiment; got %s", describe(se)), call. = FALSE)
    if (!methods::is(result, "GeneShaving"))
        stop(sprintf("result must be the GeneShaving that shave() returned; got %s",
                     describe(result)), call. = FALSE)
    requirePackage("SummarizedExperiment", "a SummarizedExperiment")
    if (nrow(se) != result@inputGenes)
        stop(sprintf("se has %d rows but result was computed on %d genes; annotate the object that was shaved",
                     nrow(se), result@inputGenes), call. = FALSE)
    if (!is.null(rownames(se)) &&
        !identical(as.character(rownames(se)[result@rows]), result@geneNames))
        stop("the row names of se differ from the genes of result; annotate the object that was shaved",
             call. = FALSE)
    data <- SummarizedExperiment::rowData(se)
    member <- character(nrow(se))
    for (i in seq_along(result@clusterList)) {
        cluster <- result@clusterList[[i]]
        rows <- result@rows[cluster$genes]
        score <- rep(NA_real_, nrow(se))
        score[rows] <- cluster$scores
        data[[sprintf("shavingCluster%d", i)]] <- score
        member[rows] <- ifelse(nzchar(member[rows]), paste(member[rows], i, sep = ","),
                               as.character(i))
    }
    data[["shavingClusters"]] <- member
    SummarizedExperiment::rowData(se) <- data
    se
}
