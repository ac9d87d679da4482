## shave(): checks the input, turns it into a genes x samples matrix of
## finite numbers, runs the core and wraps its record in a GeneShaving.

shave <- function(x, clusters = 5, shave = 0.1, permutations = 20, tolerance = 0,
                  classes = NULL, supervise = 0, threads = NULL, verbose = interactive(),
                  missing = c("error", "drop", "row-mean"), assay = 1L,
                  solver = c("exact", "fast")) {
    missing <- match.arg(missing)
    solver <- match.arg(solver)
    clusters <- wholeNumber(clusters, "clusters", 0, .Machine$integer.max,
                            "the number of clusters to extract")
    shavePercent <- wholeNumber(shave, "shave", 1, 97,
                                "the fraction of a cluster's genes removed per step, from 0.01 to 0.97 in steps of 0.01 (0.1 removes 10 percent)",
                                scale = 100)
    permutations <- wholeNumber(permutations, "permutations", 1, .Machine$integer.max,
                                "the number of row-permuted copies per cluster, at least 1")
    tolerance <- wholeNumber(tolerance, "tolerance", 0, 100,
                             "the tolerance of the size choice in percent, from 0 to 100")
    supervise <- wholeNumber(supervise, "supervise", 0, 100,
                             "the weight of the classes in percent: 0 unsupervised, 100 fully supervised")
    threads <- if (is.null(threads)) defaultThreads() else
        wholeNumber(threads, "threads", 1, 1024, "the number of worker threads, from 1 to 1024")
    if (!is.logical(verbose) || length(verbose) != 1L || is.na(verbose))
        stop("verbose must be TRUE or FALSE", call. = FALSE)

    input <- expressionMatrix(x, assay)
    classes <- sampleClasses(classes, x, ncol(input$values), colnames(input$values), supervise)
    input <- handleMissing(input, missing)

    ticks <- clusters * (permutations + 1)
    bar <- NULL
    progress <- NULL
    if (verbose && ticks > 0) {
        bar <- utils::txtProgressBar(min = 0, max = ticks, style = 3)
        on.exit(close(bar), add = TRUE)
        progress <- function(done) utils::setTxtProgressBar(bar, done)
    }
    # The core's solver by number: 0 exact, 1 fast.
    options <- c(clusters, shavePercent, permutations, tolerance, supervise, threads,
                 match(solver, c("exact", "fast")) - 1L)
    codes <- if (is.null(classes)) integer(0) else as.integer(classes)
    labels <- list(rownames(input$values), colnames(input$values),
                   if (is.null(classes)) character(0) else as.character(classes))
    record <- .shaveCore(input$values, as.integer(options), codes, progress, labels)
    if (!is.null(bar)) utils::setTxtProgressBar(bar, ticks)

    geneShaving(record, input, classes,
                list(clusters = clusters, shave = shavePercent / 100, permutations = permutations,
                     tolerance = tolerance, supervise = supervise, threads = threads,
                     missing = missing, solver = solver))
}

## value * scale as a whole number within [low, high], or an error saying
## what fits.
wholeNumber <- function(value, name, low, high, meaning, scale = 1) {
    ok <- is.numeric(value) && length(value) == 1L && is.finite(value)
    scaled <- if (ok) value * scale else NA
    ok <- ok && abs(scaled - round(scaled)) < 1e-7 && round(scaled) >= low && round(scaled) <= high
    if (!ok) {
        got <- if (is.numeric(value) && length(value) == 1L) format(value) else
            paste0("a ", class(value)[1L], " of length ", length(value))
        stop(sprintf("%s must be %s; got %s", name, meaning, got), call. = FALSE)
    }
    as.integer(round(scaled))
}

## TARVOK_THREADS when it holds a count, else one thread per core.
defaultThreads <- function() {
    text <- Sys.getenv("TARVOK_THREADS")
    if (grepl("^[0-9]+$", text) && as.numeric(text) >= 1 && as.numeric(text) <= 1024)
        return(as.integer(text))
    cores <- parallel::detectCores()
    if (is.na(cores) || cores < 1) 1L else as.integer(min(cores, 1024))
}

## The values of x as a double matrix, genes in rows, with names.
expressionMatrix <- function(x, assay) {
    if (methods::is(x, "SummarizedExperiment")) {
        requirePackage("SummarizedExperiment", "a SummarizedExperiment")
        available <- SummarizedExperiment::assayNames(x)
        if (!(is.numeric(assay) && length(assay) == 1L && assay >= 1 &&
              assay <= length(SummarizedExperiment::assays(x))) &&
            !(is.character(assay) && length(assay) == 1L && assay %in% available))
            stop(sprintf("assay must name or number one of the assays of x (%s); got %s",
                         if (length(available)) paste0('"', available, '"', collapse = ", ") else
                             paste(seq_along(SummarizedExperiment::assays(x)), collapse = ", "),
                         paste(format(assay), collapse = ", ")), call. = FALSE)
        values <- as.matrix(SummarizedExperiment::assay(x, assay))
        what <- sprintf("assay %s of x", format(assay))
    } else if (methods::is(x, "ExpressionSet")) {
        requirePackage("Biobase", "an ExpressionSet")
        values <- Biobase::exprs(x)
        what <- "exprs(x)"
    } else if (is.data.frame(x)) {
        numeric <- vapply(x, function(column) is.numeric(column) || is.logical(column) &&
                                                  all(is.na(column)), logical(1))
        if (!all(numeric))
            stop(sprintf("x is a data.frame whose column%s %s %s not numeric; keep only the samples' values as columns and put the gene names into row.names, e.g. data.frame(x[-1], row.names = x[[1]])",
                         if (sum(!numeric) > 1) "s" else "",
                         paste0('"', names(x)[!numeric], '"', collapse = ", "),
                         if (sum(!numeric) > 1) "are" else "is"), call. = FALSE)
        values <- as.matrix(x)
        what <- "x"
    } else if (is.matrix(x)) {
        values <- x
        what <- "x"
    } else {
        stop(sprintf("x must be a numeric matrix, a data.frame, an ExpressionSet or a SummarizedExperiment with genes in rows and samples in columns; got %s",
                     describe(x)), call. = FALSE)
    }
    if (!(is.numeric(values) || is.logical(values) && all(is.na(values))) || is.complex(values))
        stop(sprintf("%s holds %s values; gene shaving needs numbers (genes in rows, samples in columns)",
                     what, typeof(values)), call. = FALSE)
    storage.mode(values) <- "double"
    checkShape(values, what, "")
    rownames(values) <- if (is.null(rownames(values))) sprintf("GENE%05d", seq_len(nrow(values))) else
        rownames(values)
    colnames(values) <- if (is.null(colnames(values))) sprintf("SAMPLE%05d", seq_len(ncol(values))) else
        colnames(values)
    list(values = values, rows = seq_len(nrow(values)), inputGenes = nrow(values), what = what)
}

checkShape <- function(values, what, after) {
    if (nrow(values) < 2L || ncol(values) < 2L)
        stop(sprintf("%s has %d gene%s and %d sample%s%s; gene shaving needs at least 2 genes (rows) and 2 samples (columns)",
                     what, nrow(values), if (nrow(values) == 1L) "" else "s",
                     ncol(values), if (ncol(values) == 1L) "" else "s", after), call. = FALSE)
}

describe <- function(x) {
    if (is.null(x)) return("NULL")
    sprintf("an object of class \"%s\"%s", class(x)[1L],
            if (is.atomic(x)) sprintf(" (a %s vector of length %d)", typeof(x), length(x)) else "")
}

requirePackage <- function(package, what) {
    if (!requireNamespace(package, quietly = TRUE))
        stop(sprintf("x is %s but the package %s is not installed; install it or pass a matrix",
                     what, package), call. = FALSE)
}

## Infinite values always fail; missing ones (NA, NaN) fail, drop their gene,
## or become the mean of the gene's other values, summed in sample order.
handleMissing <- function(input, missing) {
    values <- input$values
    infinite <- which(is.infinite(values), arr.ind = TRUE)
    if (nrow(infinite) > 0L) {
        first <- firstCell(infinite)
        stop(sprintf("%s holds %s for gene \"%s\" in sample \"%s\"; gene shaving needs finite numbers",
                     input$what, format(values[first[1], first[2]]), rownames(values)[first[1]],
                     colnames(values)[first[2]]), call. = FALSE)
    }
    absent <- is.na(values)
    if (!any(absent)) return(input)
    if (missing == "error") {
        first <- firstCell(which(absent, arr.ind = TRUE))
        stop(sprintf("%s has %d missing value%s (NA or NaN), the first for gene \"%s\" in sample \"%s\"; use missing = \"drop\" to leave out genes with missing values, or missing = \"row-mean\" to fill them with the gene's mean",
                     input$what, sum(absent), if (sum(absent) == 1L) "" else "s",
                     rownames(values)[first[1]], colnames(values)[first[2]]), call. = FALSE)
    }
    incomplete <- which(rowSums(absent) > 0L)
    if (missing == "row-mean") {
        for (g in incomplete) {
            present <- values[g, !absent[g, ]]
            if (length(present) == 0L) next
            sum <- 0.0
            for (value in present) sum <- sum + value
            values[g, absent[g, ]] <- sum / length(present)
        }
        incomplete <- which(rowSums(absent) == ncol(values))
    }
    keep <- setdiff(seq_len(nrow(values)), incomplete)
    values <- values[keep, , drop = FALSE]
    checkShape(values, input$what,
               if (missing == "drop") " left after dropping the genes with missing values" else
                   " left after dropping the genes with no values")
    input$values <- values
    input$rows <- input$rows[keep]
    input
}

## The first cell in gene order (row by row), as the table readers meet it.
firstCell <- function(cells) {
    cells[order(cells[, 1L], cells[, 2L])[1L], ]
}

## classes as a factor with one entry per sample, or NULL.
sampleClasses <- function(classes, x, samples, sampleNames, supervise) {
    if (is.null(classes)) {
        if (supervise > 0)
            stop(sprintf("supervise = %d needs classes: one class per sample (a vector or factor of length %d%s)",
                         supervise, samples, if (hasSampleTable(x)) ", or the name of a sample column" else ""),
                 call. = FALSE)
        return(NULL)
    }
    if (is.character(classes) && length(classes) == 1L && samples != 1L) {
        table <- sampleTable(x)
        if (is.null(table))
            stop(sprintf("classes = \"%s\" names a column, but x has no sample table; give one class per sample (%d values)",
                         classes, samples), call. = FALSE)
        if (!(classes %in% names(table)))
            stop(sprintf("classes = \"%s\" is not a column of the sample table of x; its columns are %s",
                         classes, if (length(names(table))) paste0('"', names(table), '"', collapse = ", ") else "none"),
                 call. = FALSE)
        classes <- table[[classes]]
    }
    if (!is.atomic(classes) && !is.factor(classes))
        stop(sprintf("classes must be a vector or factor with one class per sample; got %s",
                     describe(classes)), call. = FALSE)
    if (length(classes) != samples)
        stop(sprintf("classes has %d entr%s but x has %d samples; give exactly one class per sample (column)",
                     length(classes), if (length(classes) == 1L) "y" else "ies", samples), call. = FALSE)
    if (anyNA(classes))
        stop(sprintf("classes is NA for sample \"%s\"; give every sample a class",
                     sampleNames[which(is.na(classes))[1L]]), call. = FALSE)
    classes <- if (is.factor(classes)) droplevels(classes) else factor(classes)
    if (supervise > 0 && nlevels(classes) < 2L)
        stop(sprintf("classes has only one class (\"%s\"); supervising needs samples of at least two classes",
                     levels(classes)[1L]), call. = FALSE)
    names(classes) <- sampleNames
    classes
}

hasSampleTable <- function(x) {
    methods::is(x, "SummarizedExperiment") || methods::is(x, "ExpressionSet")
}

sampleTable <- function(x) {
    if (methods::is(x, "SummarizedExperiment"))
        return(as.data.frame(SummarizedExperiment::colData(x)))
    if (methods::is(x, "ExpressionSet"))
        return(Biobase::pData(x))
    NULL
}
