# The bundled Golub data (3051 genes x 38 samples) and its ALL/AML classes.
golubMatrix <- function() {
    file <- system.file("extdata", "golub.tsv", package = "tarvok")
    as.matrix(read.delim(file, row.names = 1, check.names = FALSE))
}

golubClasses <- function() {
    file <- system.file("extdata", "golub.classes", package = "tarvok")
    factor(scan(file, quiet = TRUE), labels = c("ALL", "AML"))
}

# A small matrix with one strong pattern in its first 12 genes.
patternMatrix <- function(genes = 40, samples = 8) {
    noise <- sin(seq_len(genes * samples) * 12.9898) * 0.5
    values <- matrix(noise, genes, samples)
    values[1:12, ] <- values[1:12, ] + rep(c(3, -3), each = samples / 2)[col(values[1:12, ])]
    dimnames(values) <- list(sprintf("g%02d", seq_len(genes)), sprintf("s%d", seq_len(samples)))
    values
}
