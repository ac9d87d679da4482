# The package's numbers are the core's: the same bits for every thread
# count and every call, and the values the tarvok program writes for the
# same data and options. scripts/test-stages/r.sh runs the program and
# names its output folders in TARVOK_REFERENCE; its files hold numbers with
# six decimals ("%f"), so those are compared as the same text.

referenceFolder <- function(name) {
    root <- Sys.getenv("TARVOK_REFERENCE")
    if (!nzchar(root)) skip("TARVOK_REFERENCE names no results of the tarvok program")
    file.path(root, name)
}

readLinesOf <- function(folder, stem, i) {
    readLines(file.path(folder, sprintf("%s%05d.txt", stem, i)))
}

fixed <- function(...) sprintf("%f", c(...))

expectSameAsProgram <- function(result, folder) {
    lengths <- read.table(file.path(folder, "clusterlengths.txt"))
    expect_identical(length(result@clusterList), nrow(lengths))
    for (i in seq_along(result@clusterList)) {
        curve <- gapCurve(result, i)
        cluster <- result@clusterList[[i]]
        expect_identical(c(cluster$step, length(cluster$genes)), as.integer(unlist(lengths[i, ])))
        expect_identical(shavingClusters(result)[[i]], readLinesOf(folder, "clabels", i))
        expect_identical(sprintf("%d\t%f", curve$size, curve$gap), readLinesOf(folder, "gap", i))
        expect_identical(with(curve, sprintf("%d\t%f\t%f\t%f\t%f\t%f", size, r2, permutedR2,
                                             between, total, within)),
                         readLinesOf(folder, "variance", i))
        expect_identical(fixed(cluster$eigenvalue), readLinesOf(folder, "eigen", i))
        # The pc files keep the decomposition's sign; the package presents
        # each cluster oriented, most of its genes scoring positive.
        component <- clusterComponents(result)[, i]
        expect_true(identical(fixed(component), readLinesOf(folder, "pc", i)) ||
                    identical(fixed(0 - component), readLinesOf(folder, "pc", i)))
        expect_gte(sum(cluster$scores > 0), sum(cluster$scores < 0))
        # the cluster's centred data, sample by sample, genes in cluster order
        expect_identical(sprintf("%8.6f", cluster$centred), readLinesOf(folder, "cluster", i))
    }
    expectSameExports(result, folder)
}

# The export files, byte for byte: the program presents the analysis's own
# record as the package does. Only the GCT's class line may differ: the
# program's classes are the class file's numbers, the result's its factor.
expectSameExports <- function(result, folder) {
    dir <- tempfile("exports")
    names <- c("clusters.gmt", "clusters.kgg", "clusters.cdt", "clusters.gct")
    expect_identical(writeExports(result, dir), file.path(dir, names))
    bytes <- function(path) readBin(path, "raw", file.size(path))
    # the program names its CDT after the table
    theirs <- c(names[1:2], list.files(folder, pattern = "[.]cdt$"))
    for (k in 1:3) expect_identical(bytes(file.path(dir, names[k])), bytes(file.path(folder, theirs[k])))
    withoutClasses <- function(path) {
        lines <- readLines(path)
        lines[!startsWith(lines, "class\t")]
    }
    expect_identical(withoutClasses(file.path(dir, "clusters.gct")), withoutClasses(file.path(folder, "clusters.gct")))
}

test_that("Golub, unsupervised, matches the tarvok program", {
    folder <- referenceFolder("unsupervised")
    result <- shave(golubMatrix(), threads = 2, verbose = FALSE)
    expect_identical(length(result@clusterList), 5L)
    expectSameAsProgram(result, folder)
})

test_that("Golub, supervised at 50 by ALL/AML, matches the tarvok program", {
    folder <- referenceFolder("supervised50")
    result <- shave(golubMatrix(), classes = golubClasses(), supervise = 0.5, threads = 2,
                    verbose = FALSE)
    expectSameAsProgram(result, folder)
    expect_true(all(c("mean.ALL", "mean.AML") %in% names(summary(result)$table)))
})

test_that("seed N gives the program's numbers for --seed N", {
    folder <- referenceFolder("seed7")
    if (!dir.exists(folder)) skip("the tarvok program takes no --seed")
    result <- shave(golubMatrix(), clusters = 2, permutations = 6, seed = 7, threads = 2,
                    verbose = FALSE)
    expectSameAsProgram(result, folder)
})

test_that("symbols beside the gene names give the program's exports, symbol gene sets included", {
    folder <- referenceFolder("symbols")
    values <- golubMatrix()[1:300, ]
    line <- seq_len(nrow(values)) + 1L  # the gene's line in the table
    symbols <- ifelse(line %% 9 == 0, "--Control", ifelse(line %% 11 == 0, NA, paste0("SYM", line %% 50)))
    result <- shave(values, clusters = 2, permutations = 4, threads = 2, verbose = FALSE, symbols = symbols)
    dir <- tempfile("exports")
    names <- c("clusters.gmt", "clusters.kgg", "clusters.cdt", "clusters.gct", "clusters.symbols.gmt")
    expect_identical(writeExports(result, dir), file.path(dir, names))
    bytes <- function(path) readBin(path, "raw", file.size(path))
    for (name in names) expect_identical(bytes(file.path(dir, name)), bytes(file.path(folder, name)), info = name)
    genes <- clusterGenes(result, 1)
    expect_identical(genes$symbol, ifelse(is.na(symbols[genes$row]), "", symbols[genes$row]))
    expect_false(any(grepl("--Control", readLines(file.path(dir, "clusters.symbols.gmt")), fixed = TRUE)))
})

test_that("the package carries the engine's version", {
    expect_identical(as.character(utils::packageVersion("tarvok")), .engineVersion())
    expect_identical(shave(patternMatrix(), clusters = 1, permutations = 2, threads = 1,
                           verbose = FALSE)@parameters$version, .engineVersion())
})

test_that("every thread count and every call give the same bits", {
    golub <- golubMatrix()
    run <- function(threads, ...) shave(golub, clusters = 2, permutations = 6, threads = threads,
                                        verbose = FALSE, ...)@clusterList
    one <- run(1)
    expect_identical(run(2), one)
    expect_identical(run(3), one)
    expect_identical(run(1), one)  # each call starts the generator afresh
    # the default seed is the state a fresh process starts in; another one
    # gives other copies, the same ones every time
    expect_identical(run(1, seed = 1), one)
    seven <- run(2, seed = 7)
    expect_false(identical(seven, one))
    expect_identical(run(1, seed = 7), seven)
    supervised <- run(1, classes = golubClasses(), supervise = 0.5)
    expect_identical(run(2, classes = golubClasses(), supervise = 0.5), supervised)
    expect_false(identical(supervised, one))
    expect_identical(run(2, solver = "fast"), run(1, solver = "fast"))
})

test_that("the fast solver finds the exact solver's clusters", {
    golub <- golubMatrix()
    run <- function(solver) shave(golub, clusters = 3, permutations = 4, threads = 2,
                                  verbose = FALSE, solver = solver)
    exact <- run("exact")
    fast <- run("fast")
    expect_identical(fast@parameters$solver, "fast")
    expect_identical(length(fast@clusterList), 3L)
    expect_identical(lengths(shavingClusters(fast)), lengths(shavingClusters(exact)))
    expect_identical(lapply(shavingClusters(fast), sort), lapply(shavingClusters(exact), sort))
    eigenvalues <- function(result) vapply(result@clusterList, `[[`, 0, "eigenvalue")
    expect_equal(eigenvalues(fast), eigenvalues(exact), tolerance = 1e-10)
})

test_that("a time limit stops a long run promptly and leaves R working", {
    golub <- golubMatrix()
    started <- proc.time()[["elapsed"]]
    expect_error({
        setTimeLimit(elapsed = 1, transient = TRUE)
        on.exit(setTimeLimit(elapsed = Inf), add = TRUE)
        shave(golub, clusters = 1, permutations = 3000, threads = 2, verbose = FALSE)
    }, "reached elapsed time limit")
    setTimeLimit(elapsed = Inf)
    expect_lt(proc.time()[["elapsed"]] - started, 15)  # a whole run takes a minute or more
    expect_s4_class(shave(patternMatrix(), clusters = 1, permutations = 2, threads = 2,
                          verbose = FALSE), "GeneShaving")
})

test_that("an interrupt (SIGINT) stops the run as an R interrupt", {
    skip_on_os("windows")
    # The signal is raised from inside the run (after the second permuted copy), so
    # its arrival does not depend on how fast this machine is.
    options <- c(clusters = 1, shave = 10, permutations = 3000, tolerance = 0, supervise = 0,
                 threads = 2, solver = 0, seed = 1)
    started <- proc.time()[["elapsed"]]
    outcome <- tryCatch(.shaveCore(golubMatrix(), options, integer(0), function(done)
                            if (done == 2) tools::pskill(Sys.getpid(), tools::SIGINT)),
                        interrupt = function(condition) "interrupted")
    expect_identical(outcome, "interrupted")
    expect_lt(proc.time()[["elapsed"]] - started, 15)  # a whole run takes a minute or more
})

test_that("a failure in the core or in the progress callback is an R error, and R goes on", {
    values <- patternMatrix()
    options <- c(clusters = 1, shave = 10, permutations = 50, tolerance = 0, supervise = 0,
                 threads = 2, solver = 0, seed = 1)
    # options the R side would refuse reach the core, which throws
    badShave <- replace(options, "shave", 0)
    expect_error(.shaveCore(values, badShave, integer(0), NULL), "^shave percent is 0; allowed: 1..97$")
    expect_error(.shaveCore(values, replace(options, "supervise", 50), 1:3, NULL),
                 "classes has 3 entries; a supervised analysis needs one per sample \\(8\\)")
    expect_error(.shaveCore(values, replace(options, "solver", 2), integer(0), NULL),
                 "the solver must be 0 \\(exact\\) or 1 \\(fast\\); got 2")
    expect_error(.shaveCore(values, options, integer(0),
                            function(done) if (done == 3) stop("progress failed")),
                 "progress failed")
    expect_identical(.shaveCore(values, options, integer(0), NULL),
                     .shaveCore(values, options, integer(0), function(done) NULL))
})
