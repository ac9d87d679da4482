## shave(): checks the input, turns it into a genes x samples matrix of
## finite numbers, runs the core and wraps its record in a GeneShaving.

shave <- function(x, clusters = 5, shave = 0.1, permutations = 20, tolerance = 0,
                  classes = NULL, supervise = 0, threads = NULL, seed = 1,
                  verbose = interactive(), missing = c("error", "drop", "row-mean"),
                  assay = 1L, solver = c("exact", "fast"), log2 = FALSE, symbols = NULL) {
    missing <- match.arg(missing)
    log2Word <- log2Choice(log2)
    solver <- match.arg(solver)
    if (is.null(threads)) threads <- defaultThreads()
    given <- list(clusters = clusters, shave = shave, permutations = permutations,
                  tolerance = tolerance, supervise = supervise, threads = threads, seed = seed)
    for (name in names(given)) oneNumber(given[[name]], name)
    # The core checks the ranges and turns fractions into its percents.
    options <- coreCall(do.call(.parameters, lapply(given, as.numeric)))
    names(options) <- names(given)
    if (!is.logical(verbose) || length(verbose) != 1L || is.na(verbose))
        stop("verbose must be TRUE or FALSE", call. = FALSE)

    input <- expressionMatrix(x, assay)
    geneSymbols <- symbolsOf(symbols, x, input$inputGenes)
    classes <- sampleClasses(classes, x, ncol(input$values), colnames(input$values), supervise)
    logged <- .log2Transform(input$values, log2Word)
    input$values <- logged$values
    input <- handleMissing(input, missing)
    if (!is.null(classes)) classes <- checkClasses(droplevels(classes[input$samples]), supervise)

    ticks <- options[["clusters"]] * (options[["permutations"]] + 1)
    bar <- NULL
    progress <- NULL
    if (verbose) {
        bar <- utils::txtProgressBar(min = 0, max = ticks, style = 3)
        on.exit(close(bar), add = TRUE)
        progress <- function(done) utils::setTxtProgressBar(bar, done)
    }
    # The core's solver by number: 0 exact, 1 fast.
    coreOptions <- c(options[setdiff(names(options), "seed")], solver = match(solver, c("exact", "fast")) - 1,
                     seed = options[["seed"]])
    codes <- if (is.null(classes)) integer(0) else as.integer(classes)
    labels <- list(rownames(input$values), colnames(input$values),
                   if (is.null(classes)) character(0) else as.character(classes),
                   if (is.null(geneSymbols)) character(0) else geneSymbols[input$rows])
    record <- .shaveCore(input$values, coreOptions, codes, progress, labels)
    if (!is.null(bar)) utils::setTxtProgressBar(bar, ticks)

    geneShaving(record, input, classes, geneSymbols,
                list(clusters = as.integer(clusters), shave = shave,
                     permutations = as.integer(permutations), tolerance = tolerance,
                     supervise = supervise, threads = as.integer(threads), seed = seed,
                     missing = missing, solver = solver, log2 = log2, log2Applied = logged$applied,
                     log2Reason = logged$reason, version = .engineVersion()))
}

## The core's word for log2: "auto", TRUE ("yes") or FALSE ("no").
log2Choice <- function(log2) {
    if (identical(log2, "auto")) return("auto")
    if (is.logical(log2) && length(log2) == 1L && !is.na(log2)) return(if (log2) "yes" else "no")
    stop(sprintf("log2 must be \"auto\", TRUE or FALSE; got %s",
                 paste(deparse(log2), collapse = " ")), call. = FALSE)
}

## The gene symbols of x as text, one per gene of x ("" for NA), or NULL:
## symbols holds one per gene, or names a column of rowData(x) / fData(x).
symbolsOf <- function(symbols, x, genes) {
    if (is.null(symbols)) return(NULL)
    if (is.character(symbols) && length(symbols) == 1L && genes != 1L) {
        table <- if (methods::is(x, "SummarizedExperiment")) SummarizedExperiment::rowData(x) else
            if (methods::is(x, "ExpressionSet")) Biobase::fData(x) else NULL
        if (is.null(table) || !(symbols %in% colnames(table)))
            stop(sprintf("symbols = \"%s\" names no column of the gene table of x; give one symbol per gene",
                         symbols), call. = FALSE)
        symbols <- table[[symbols]]
    }
    if (!(is.character(symbols) || is.factor(symbols)) || length(symbols) != genes)
        stop(sprintf("symbols must hold one gene symbol per gene of x (%d); got %s", genes,
                     describe(symbols)), call. = FALSE)
    symbols <- as.character(symbols)
    symbols[is.na(symbols)] <- ""
    symbols
}

## A single number, or an error naming what was given.
oneNumber <- function(value, name) {
    if (!(is.numeric(value) && length(value) == 1L && !is.na(value)))
        stop(sprintf("%s must be one number; got %s", name,
                     if (is.numeric(value) && length(value) == 1L) format(value) else
                         paste0("a ", class(value)[1L], " of length ", length(value))),
             call. = FALSE)
}

## The core's errors as errors of the calling function, with the core's text.
coreCall <- function(expr) {
    tryCatch(expr, error = function(e) stop(conditionMessage(e), call. = FALSE))
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
    warnDuplicates(rownames(values), "gene", what)
    warnDuplicates(colnames(values), "sample", what)
    list(values = values, rows = seq_len(nrow(values)), inputGenes = nrow(values),
         samples = seq_len(ncol(values)), what = what)
}

## Repeated names stay distinct rows or columns, but results name them as
## given, so a user should know they cannot be told apart by name.
warnDuplicates <- function(names, kind, what) {
    doubled <- unique(names[duplicated(names)])
    if (length(doubled))
        warning(sprintf("%s has duplicate %s names (%s%s); results name them as given, so they cannot be told apart by name",
                        what, kind, toString(head(doubled, 3L)),
                        if (length(doubled) > 3L) ", ..." else ""), call. = FALSE)
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

## The core's missing-value policy: infinite values always fail; missing
## ones (NA, NaN) fail, drop their gene, or become the mean of the gene's
## other values, summed in sample order. Under "drop" and "row-mean", a
## sample missing in every gene is left out first.
handleMissing <- function(input, missing) {
    values <- input$values
    kept <- .applyMissing(values, missing)
    if (!is.null(kept$refused)) {
        refused <- kept$refused
        where <- sprintf("gene \"%s\", sample \"%s\"", rownames(values)[refused$gene],
                         colnames(values)[refused$sample])
        stop(if (refused$infinite)
                 sprintf("%s: %s (%s, %s); gene shaving needs finite numbers, whatever missing says",
                         input$what, refused$message, where,
                         format(values[refused$gene, refused$sample])) else
                 sprintf("%s: %s (%s); use missing = \"drop\" to leave out genes with missing values, or missing = \"row-mean\" to fill them with the gene's mean",
                         input$what, refused$message, where),
             call. = FALSE)
    }
    dimnames(kept$values) <- list(rownames(values)[kept$genes], colnames(values)[kept$samples])
    checkShape(kept$values, input$what,
               if (missing == "drop") " left after dropping the genes with missing values" else
                   " left after dropping the genes with no values")
    input$values <- kept$values
    input$rows <- input$rows[kept$genes]
    input$samples <- kept$samples
    input
}

## classes as a factor with one entry per sample, or NULL.
sampleClasses <- function(classes, x, samples, sampleNames, supervise) {
    if (is.null(classes)) {
        if (supervise > 0)
            stop(sprintf("supervise = %g needs classes: one class per sample (a vector or factor of length %d%s)",
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
    names(classes) <- sampleNames
    classes
}

## The classes of the samples analysed: two at least to supervise, and a
## warning for a class of one sample, whose mean is that sample alone.
checkClasses <- function(classes, supervise) {
    if (supervise > 0 && nlevels(classes) < 2L)
        stop(sprintf("classes has only one class (\"%s\"); supervising needs samples of at least two classes",
                     levels(classes)[1L]), call. = FALSE)
    single <- names(which(table(classes) == 1L))
    if (supervise > 0 && length(single))
        warning(sprintf("class%s %s ha%s a single sample; supervision then follows that one sample",
                        if (length(single) > 1L) "es" else "",
                        paste0("\"", single, "\"", collapse = ", "),
                        if (length(single) > 1L) "ve" else "s"), call. = FALSE)
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
