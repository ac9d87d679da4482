## The export files of a result, written by the export writers the tarvok
## program uses (compiled into this package): clusters.gmt (gene sets),
## clusters.kgg and clusters.cdt (Cluster 3.0 / Java TreeView), clusters.gct
## (GCT 1.3) and, for a result with symbols, clusters.symbols.gmt (the gene
## sets by symbol). The record they are written from is kept in the result.

writeGmt <- function(result, file) writeExportFile(result, "gmt", file)
writeKgg <- function(result, file) writeExportFile(result, "kgg", file)
writeCdt <- function(result, file) writeExportFile(result, "cdt", file)
writeGct <- function(result, file) writeExportFile(result, "gct", file)
writeSymbolGmt <- function(result, file) {
    if (length(exportRecord(result)$symbols) == 0L)
        stop("result has no gene symbols; give symbols to shave()", call. = FALSE)
    writeExportFile(result, "symbol-gmt", file)
}

writeExports <- function(result, dir) {
    record <- exportRecord(result)
    if (!is.character(dir) || length(dir) != 1L || is.na(dir))
        stop("dir must be the path of a directory, one character string", call. = FALSE)
    dir <- path.expand(dir)
    if (!dir.exists(dir)) dir.create(dir, recursive = TRUE, showWarnings = FALSE)
    names <- exporting(.writeExports(record, dir))
    invisible(file.path(dir, names))
}

writeExportFile <- function(result, format, file) {
    record <- exportRecord(result)
    if (!is.character(file) || length(file) != 1L || is.na(file))
        stop("file must be a path, one character string", call. = FALSE)
    file <- path.expand(file)
    exporting(.writeExport(record, format, file))
    invisible(file)
}

exportRecord <- function(result) {
    if (!methods::is(result, "GeneShaving"))
        stop(sprintf("result must be the GeneShaving that shave() returned; got %s", describe(result)),
             call. = FALSE)
    if (length(result@exports) == 0L)
        stop("result keeps no export record; run shave() again", call. = FALSE)
    result@exports
}

## The writers' errors (a file that cannot be written, a result without
## clusters) as errors of the calling function.
exporting <- function(expr) {
    tryCatch(expr, error = function(e) stop(conditionMessage(e), call. = FALSE))
}
