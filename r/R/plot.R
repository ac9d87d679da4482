## Base-graphics views of one cluster: its gap curve, its R2 against the
## permuted copies, the heat map of its genes and its component. Legends and
## keys are drawn in margins or panels of their own, never over the data.

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

## A legend in the right margin, beside the plot region.
marginLegend <- function(...) {
    graphics::legend(graphics::grconvertX(1.02, "npc", "user"), graphics::grconvertY(1, "npc", "user"),
                     xjust = 0, yjust = 1, xpd = NA, bty = "n", ...)
}

## Margins wide enough on the right for a legend of these labels.
rightMargin <- function(labels, cex = 1) {
    2 + max(graphics::strwidth(labels, units = "inches", cex = cex)) / graphics::par("csi") + 2
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
    labels <- c("data", "mean of permuted copies")
    old <- graphics::par(mar = c(5, 4, 4, rightMargin(labels)))
    on.exit(graphics::par(old))
    graphics::plot(curve$size, curve$r2, type = "b", pch = 20, log = "x",
                   ylim = range(0, 100, curve$r2, curve$permutedR2),
                   xlab = "cluster size (genes)", ylab = "R2 (% variance between samples)",
                   main = sprintf("R2 of cluster %d", i), ...)
    graphics::lines(curve$size, curve$permutedR2, type = "b", pch = 1, lty = 3)
    markChosen(curve)
    marginLegend(legend = labels, pch = c(20, 1), lty = c(1, 3))
}

## Samples are grouped by class when there are classes; genes run in
## cluster order, scores of each sign together as the core ordered them.
sampleOrder <- function(x) {
    if (length(x@classes)) order(as.integer(x@classes)) else seq_along(x@sampleNames)
}

classColours <- function(x) {
    grDevices::hcl.colors(max(nlevels(x@classes), 2L), "Dark 3")[seq_len(nlevels(x@classes))]
}

## The heat map in one panel, a colour key beside it, and when there are
## classes a strip of class colours above it with its legend beside that.
plotHeatmap <- function(x, i, ...) {
    values <- x@clusterList[[i]]$centred
    samples <- sampleOrder(x)
    values <- values[, samples, drop = FALSE]
    limit <- max(abs(values))
    if (limit == 0) limit <- 1
    palette <- grDevices::hcl.colors(64, "Blue-Red 3")
    genes <- nrow(values)
    hasClasses <- length(x@classes) > 0L

    old <- graphics::par(no.readonly = TRUE)
    on.exit(graphics::par(old))
    if (hasClasses)
        graphics::layout(matrix(c(1, 2, 3, 4), 2, byrow = TRUE), widths = c(5, 1), heights = c(1, 6))
    else
        graphics::layout(matrix(c(1, 2), 1), widths = c(5, 1))
    left <- if (genes <= 50) 9 else 3
    if (hasClasses) {
        classes <- x@classes[samples]
        colours <- classColours(x)
        graphics::par(mar = c(0.5, left, 4, 1))
        graphics::image(seq_along(classes), 1, matrix(as.integer(classes), ncol = 1),
                        col = colours, zlim = c(1, nlevels(classes)), axes = FALSE,
                        xlab = "", ylab = "",
                        main = sprintf("Cluster %d: %d genes, centred data", i, genes))
        graphics::mtext("class", side = 2, las = 1, line = 0.5, cex = 0.7)
        graphics::par(mar = c(0.5, 0, 4, 0))
        graphics::plot.new()
        graphics::legend("center", levels(classes), fill = colours, bty = "n", cex = 0.8, xpd = NA)
    }
    graphics::par(mar = c(6, left, if (hasClasses) 0.5 else 4, 1))
    graphics::image(seq_len(ncol(values)), seq_len(genes),
                    t(values[rev(seq_len(genes)), , drop = FALSE]),
                    col = palette, zlim = c(-limit, limit), axes = FALSE, xlab = "", ylab = "",
                    main = if (hasClasses) "" else sprintf("Cluster %d: %d genes, centred data", i, genes),
                    ...)
    graphics::axis(1, at = seq_len(ncol(values)), labels = colnames(values), las = 2,
                   cex.axis = 0.7)
    if (genes <= 50)
        graphics::axis(2, at = seq_len(genes), labels = rev(rownames(values)), las = 1,
                       cex.axis = 0.6)
    # The colour key: the palette from -limit to limit.
    graphics::par(mar = c(6, 1, if (hasClasses) 0.5 else 4, 4))
    breaks <- seq(-limit, limit, length.out = length(palette) + 1L)
    graphics::image(1, breaks[-1] - diff(breaks) / 2, matrix(seq_along(palette), nrow = 1),
                    col = palette, axes = FALSE, xlab = "", ylab = "")
    graphics::axis(4, las = 1, cex.axis = 0.7)
    graphics::mtext("centred value", side = 4, line = 2.5, cex = 0.7)
}

## The component's value in each sample, coloured by class, the classes
## named in the right margin.
plotComponent <- function(x, i, ...) {
    component <- x@clusterList[[i]]$component
    samples <- sampleOrder(x)
    hasClasses <- length(x@classes) > 0L
    colours <- if (hasClasses) classColours(x)[as.integer(x@classes)][samples] else "grey30"
    old <- graphics::par(mar = c(6, 4, 4, if (hasClasses) rightMargin(levels(x@classes)) else 2))
    on.exit(graphics::par(old))
    graphics::barplot(component[samples], names.arg = x@sampleNames[samples], col = colours,
                      border = NA, las = 2, cex.names = 0.7, ylab = "component",
                      main = sprintf("Component of cluster %d", i), ...)
    if (hasClasses)
        marginLegend(legend = levels(x@classes), fill = classColours(x), title = "class")
}
