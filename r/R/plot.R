## Base-graphics views of one cluster: its gap curve, its R2 against the
## permuted copies, the heat map of its genes and its component.

setMethod("plot", c("GeneShaving", "missing"),
          function(x, y, which = c("gap", "r2", "heatmap", "component"), cluster = 1, ...) {
    which <- match.arg(which)
    i <- clusterIndex(x, cluster)
    switch(which,
           gap = plotGap(x, i, ...),
           r2 = plotR2(x, i, ...),
           heatmap = plotHeatmap(x, i, ...),
           component = plotComponent(x, i, ...))
    invisible(x)
})

markChosen <- function(curve) {
    chosen <- curve[curve$chosen, ]
    graphics::abline(v = chosen$size, lty = 2, col = "grey40")
    graphics::mtext(sprintf("chosen size %d", chosen$size), side = 3, line = 0.2, cex = 0.8)
}

plotGap <- function(x, i, ...) {
    curve <- gapCurve(x, i)
    graphics::plot(curve$size, curve$gap, type = "b", pch = 20, log = "x",
                   xlab = "cluster size (genes)", ylab = "gap (R2 - mean permuted R2)",
                   main = sprintf("Gap curve of cluster %d", i), ...)
    markChosen(curve)
}

plotR2 <- function(x, i, ...) {
    curve <- gapCurve(x, i)
    graphics::plot(curve$size, curve$r2, type = "b", pch = 20, log = "x",
                   ylim = range(0, 100, curve$r2, curve$permutedR2),
                   xlab = "cluster size (genes)", ylab = "R2 (% variance between samples)",
                   main = sprintf("R2 of cluster %d", i), ...)
    graphics::lines(curve$size, curve$permutedR2, type = "b", pch = 1, lty = 3)
    markChosen(curve)
    graphics::legend("bottomleft", c("data", "mean of permuted copies"), pch = c(20, 1),
                     lty = c(1, 3), bty = "n")
}

## Samples are grouped by class when there are classes; genes run in
## cluster order, scores of each sign together as the core ordered them.
sampleOrder <- function(x) {
    if (length(x@classes)) order(as.integer(x@classes)) else seq_along(x@sampleNames)
}

classColours <- function(x) {
    grDevices::hcl.colors(max(nlevels(x@classes), 2L), "Dark 3")[seq_len(nlevels(x@classes))]
}

plotHeatmap <- function(x, i, ...) {
    values <- x@clusterList[[i]]$centred
    samples <- sampleOrder(x)
    values <- values[, samples, drop = FALSE]
    limit <- max(abs(values))
    if (limit == 0) limit <- 1
    genes <- nrow(values)
    old <- graphics::par(mar = c(6, if (genes <= 50) 9 else 3, 4, 2))
    on.exit(graphics::par(old))
    graphics::image(seq_len(ncol(values)), seq_len(genes), t(values[genes:1, , drop = FALSE]),
                    col = grDevices::hcl.colors(64, "Blue-Red 3"), zlim = c(-limit, limit),
                    axes = FALSE, xlab = "", ylab = "",
                    main = sprintf("Cluster %d: %d genes, centred data", i, genes), ...)
    graphics::axis(1, at = seq_len(ncol(values)), labels = colnames(values), las = 2,
                   cex.axis = 0.7)
    if (genes <= 50)
        graphics::axis(2, at = seq_len(genes), labels = rev(rownames(values)), las = 1,
                       cex.axis = 0.6)
    if (length(x@classes)) {
        classes <- x@classes[samples]
        colours <- classColours(x)
        graphics::mtext("|", side = 3, at = seq_along(classes), line = -0.2,
                        col = colours[as.integer(classes)], font = 2)
        graphics::legend("topright", levels(x@classes), fill = colours, bty = "n", horiz = TRUE,
                         inset = c(0, -0.12), xpd = TRUE, cex = 0.8)
    }
}

plotComponent <- function(x, i, ...) {
    component <- x@clusterList[[i]]$component
    samples <- sampleOrder(x)
    colours <- if (length(x@classes)) classColours(x)[as.integer(x@classes)][samples] else "grey30"
    old <- graphics::par(mar = c(6, 4, 4, 2))
    on.exit(graphics::par(old))
    graphics::barplot(component[samples], names.arg = x@sampleNames[samples], col = colours,
                      border = NA, las = 2, cex.names = 0.7, ylab = "component",
                      main = sprintf("Component of cluster %d", i), ...)
    if (length(x@classes))
        graphics::legend("topright", levels(x@classes), fill = classColours(x), bty = "n")
}
