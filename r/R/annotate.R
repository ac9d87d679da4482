## annotate(x, result): the clusters of `result` as columns of the gene
## table of x, the object that was shaved: rowData() of a
## SummarizedExperiment, fData() of an ExpressionSet. A gene may belong to
## several clusters: each cluster gets a column of signed scores (NA for
## genes outside it), and "shavingClusters" lists every cluster of the gene
## ("1,3"; NA for none). The run's parameters, stop reason and the engine's
## version go into metadata(x)$tarvok, or the notes of experimentData(x).

annotate <- function(x, result) {
    isSE <- methods::is(x, "SummarizedExperiment")
    if (!isSE && !methods::is(x, "ExpressionSet"))
        stop(sprintf("x must be the SummarizedExperiment or ExpressionSet that was shaved; got %s",
                     describe(x)), call. = FALSE)
    if (!methods::is(result, "GeneShaving"))
        stop(sprintf("result must be the GeneShaving that shave() returned; got %s",
                     describe(result)), call. = FALSE)
    requirePackage(if (isSE) "SummarizedExperiment" else "Biobase",
                   if (isSE) "a SummarizedExperiment" else "an ExpressionSet")
    if (nrow(x) != result@inputGenes)
        stop(sprintf("x has %d rows but result was computed on %d genes; annotate the object that was shaved",
                     nrow(x), result@inputGenes), call. = FALSE)
    if (!is.null(rownames(x)) &&
        !identical(as.character(rownames(x)[result@rows]), result@geneNames))
        stop("the row names of x differ from the genes of result; annotate the object that was shaved",
             call. = FALSE)

    columns <- list()
    member <- rep(NA_character_, nrow(x))
    for (i in seq_along(result@clusterList)) {
        cluster <- result@clusterList[[i]]
        rows <- result@rows[cluster$genes]
        score <- rep(NA_real_, nrow(x))
        score[rows] <- cluster$scores
        columns[[sprintf("shavingCluster%d", i)]] <- score
        member[rows] <- ifelse(is.na(member[rows]), as.character(i), paste(member[rows], i, sep = ","))
    }
    columns[["shavingClusters"]] <- member
    run <- c(result@parameters, list(stopReason = result@stopReason,
                                     clustersFound = length(result@clusterList)))

    if (isSE) {
        data <- SummarizedExperiment::rowData(x)
        for (name in names(columns)) data[[name]] <- columns[[name]]
        SummarizedExperiment::rowData(x) <- data
        S4Vectors::metadata(x)$tarvok <- run
    } else {
        data <- Biobase::fData(x)
        if (ncol(data) == 0L) data <- data.frame(row.names = Biobase::featureNames(x))
        for (name in names(columns)) data[[name]] <- columns[[name]]
        Biobase::fData(x) <- data
        notes <- Biobase::notes(x)
        notes$tarvok <- run
        Biobase::notes(x) <- notes
    }
    x
}
