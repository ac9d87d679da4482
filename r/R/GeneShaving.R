## The result of shave(): one record per extracted cluster, with the names
## of the genes and samples it was computed on. Read it through the
## accessors; the slots may change.

setClass("GeneShaving", representation(
    clusterList = "list",        # per cluster: step, genes, scores, eigenvalue, component, curve, centred
    geneNames = "character",     # the analysed genes (rows of the analysed matrix)
    sampleNames = "character",
    rows = "integer",            # row of the input behind each analysed gene
    inputGenes = "integer",      # rows of the input, before missing values dropped any
    classes = "factor",          # one per sample, or empty
    parameters = "list",
    stopReason = "character",
    exports = "list"))           # the export record of the run (writeExports)

geneShaving <- function(record, input, classes, symbols, parameters) {
    clusterList <- lapply(record$clusters, function(cluster) {
        names(cluster$component) <- colnames(input$values)
        # Each gene's symbol, cluster order, as the exports carry it.
        if (!is.null(symbols)) cluster$symbols <- record$exports$symbols[cluster$genes]
        dimnames(cluster$centred) <- list(rownames(input$values)[cluster$genes],
                                          colnames(input$values))
        cluster
    })
    methods::new("GeneShaving", clusterList = clusterList,
                 geneNames = rownames(input$values), sampleNames = colnames(input$values),
                 rows = as.integer(input$rows), inputGenes = as.integer(input$inputGenes),
                 classes = if (is.null(classes)) factor() else classes,
                 parameters = parameters, stopReason = record$stopReason, exports = if (is.null(record$exports)) list() else record$exports)
}

## Generics of names no common package (igraph, stats, S4Vectors, Biobase,
## GenomicFeatures) exports, so that attaching tarvok masks nothing.
setGeneric("shavingClusters", function(x, ...) standardGeneric("shavingClusters"))
setGeneric("clusterGenes", function(x, ...) standardGeneric("clusterGenes"))
setGeneric("clusterComponents", function(x, ...) standardGeneric("clusterComponents"))
setGeneric("gapCurve", function(x, ...) standardGeneric("gapCurve"))

## The cluster number i, checked against the clusters found.
clusterIndex <- function(x, i) {
    found <- length(x@clusterList)
    if (found == 0L)
        stop(sprintf("the result has no clusters (the run stopped early: %s)", x@stopReason),
             call. = FALSE)
    if (!is.numeric(i) || length(i) != 1L || is.na(i) || i != round(i) || i < 1 || i > found)
        stop(sprintf("i must be a cluster number from 1 to %d; got %s", found,
                     paste(format(i), collapse = ", ")), call. = FALSE)
    as.integer(i)
}

## The names of each cluster's genes, in cluster order.
setMethod("shavingClusters", "GeneShaving", function(x, ...) {
    stats::setNames(lapply(x@clusterList, function(cluster) x@geneNames[cluster$genes]),
                    sprintf("cluster%d", seq_along(x@clusterList)))
})

## Cluster i's genes: name, signed score and row of the input, cluster
## order, and the symbol when shave() was given symbols.
setMethod("clusterGenes", "GeneShaving", function(x, i = 1, ...) {
    cluster <- x@clusterList[[clusterIndex(x, i)]]
    genes <- data.frame(gene = x@geneNames[cluster$genes], score = cluster$scores,
                        row = x@rows[cluster$genes], stringsAsFactors = FALSE)
    if (!is.null(cluster$symbols)) genes$symbol <- cluster$symbols
    genes
})

## The chosen component of every cluster: samples x clusters.
setMethod("clusterComponents", "GeneShaving", function(x, ...) {
    values <- vapply(x@clusterList, function(cluster) cluster$component,
                     numeric(length(x@sampleNames)))
    matrix(values, nrow = length(x@sampleNames), ncol = length(x@clusterList),
           dimnames = list(x@sampleNames, sprintf("cluster%d", seq_along(x@clusterList))))
})

## Cluster i's nested sequence: one row per step, the chosen one marked.
setMethod("gapCurve", "GeneShaving", function(x, i = 1, ...) {
    cluster <- x@clusterList[[clusterIndex(x, i)]]
    curve <- cluster$curve
    curve$chosen <- seq_len(nrow(curve)) == cluster$step
    curve
})

## One row per gene and cluster it belongs to; a method of BiocGenerics'
## as.data.frame, and the S3 method for code that calls base's.
as.data.frame.GeneShaving <- function(x, row.names = NULL, optional = FALSE, ...) {
    parts <- lapply(seq_along(x@clusterList), function(i)
        cbind(cluster = rep(i, length(x@clusterList[[i]]$genes)), clusterGenes(x, i)))
    if (length(parts) == 0L)
        return(data.frame(cluster = integer(0), gene = character(0), score = numeric(0),
                          row = integer(0), stringsAsFactors = FALSE))
    result <- do.call(rbind, parts)
    rownames(result) <- row.names
    result
}
setMethod("as.data.frame", "GeneShaving", as.data.frame.GeneShaving)

## One row per cluster: size, step, gap, R2 and eigenvalue at the chosen
## step, and the mean of the component in each class when there are classes.
clusterTable <- function(object) {
    rows <- lapply(seq_along(object@clusterList), function(i) {
        cluster <- object@clusterList[[i]]
        chosen <- cluster$curve[cluster$step, ]
        data.frame(cluster = i, size = length(cluster$genes), step = cluster$step,
                   gap = chosen$gap, r2 = chosen$r2, permutedR2 = chosen$permutedR2,
                   eigenvalue = cluster$eigenvalue)
    })
    table <- if (length(rows)) do.call(rbind, rows) else
        data.frame(cluster = integer(0), size = integer(0), step = integer(0), gap = numeric(0),
                   r2 = numeric(0), permutedR2 = numeric(0), eigenvalue = numeric(0))
    if (length(object@classes) && nrow(table)) {
        means <- vapply(object@clusterList, function(cluster)
            tapply(cluster$component, object@classes, mean), numeric(nlevels(object@classes)))
        means <- matrix(means, nrow = nlevels(object@classes))
        for (level in seq_len(nlevels(object@classes)))
            table[[paste0("mean.", levels(object@classes)[level])]] <- means[level, ]
    }
    table
}

describeRun <- function(object) {
    p <- object@parameters
    supervision <- if (p$supervise > 0)
        sprintf("supervised at %g%% by %d classes (%s)", 100 * p$supervise, nlevels(object@classes),
                paste(levels(object@classes), collapse = ", ")) else "unsupervised"
    sprintf("shave %g%%, %d permutations, tolerance %g%%, seed %.0f, %s", 100 * p$shave,
            p$permutations, 100 * p$tolerance, p$seed, supervision)
}

setMethod("show", "GeneShaving", function(object) {
    cat(sprintf("GeneShaving: %d of %d clusters from %d genes x %d samples\n",
                length(object@clusterList), object@parameters$clusters,
                length(object@geneNames), length(object@sampleNames)))
    cat(" ", describeRun(object), "\n", sep = "")
    if (object@stopReason != "completed")
        cat("  stopped early: ", object@stopReason, "\n", sep = "")
    if (length(object@clusterList)) {
        table <- clusterTable(object)
        print(format(table[, c("cluster", "size", "step", "gap", "r2", "eigenvalue")], digits = 4),
              row.names = FALSE)
    }
    cat("Read it with shavingClusters(), clusterGenes(x, i), clusterComponents(), gapCurve(x, i),\n",
        "  summary(), plot(), as.data.frame(), annotate(data, x)\n", sep = "")
    invisible(object)
})

setMethod("summary", "GeneShaving", function(object, ...) {
    table <- clusterTable(object)
    table$topGenes <- vapply(seq_along(object@clusterList), function(i) {
        cluster <- object@clusterList[[i]]
        top <- order(-abs(cluster$scores))[seq_len(min(3L, length(cluster$scores)))]
        paste(object@geneNames[cluster$genes[top]], collapse = ", ")
    }, character(1))
    structure(list(table = table, run = describeRun(object),
                   genes = length(object@geneNames), samples = length(object@sampleNames),
                   dropped = object@inputGenes - length(object@geneNames),
                   stopReason = object@stopReason),
              class = "summary.GeneShaving")
})

print.summary.GeneShaving <- function(x, ...) {
    cat(sprintf("Gene shaving of %d genes x %d samples%s\n", x$genes, x$samples,
                if (x$dropped > 0) sprintf(" (%d genes with missing values dropped)", x$dropped) else ""))
    cat(" ", x$run, "\n", sep = "")
    cat("  stop: ", x$stopReason, "\n", sep = "")
    print(x$table, row.names = FALSE, digits = 4)
    invisible(x)
}
