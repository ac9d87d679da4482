# Reads clusters.gmt with Bioconductor's GSEABase and checks every set
# against the run's cluster label files.
# Usage: Rscript check_gmt.R OUTDIR
suppressPackageStartupMessages(library(GSEABase))
out <- commandArgs(trailingOnly = TRUE)[1]
sets <- getGmt(file.path(out, "clusters.gmt"))
lengths <- read.table(file.path(out, "clusterlengths.txt"), sep = "\t")
expected <- character()
for (i in seq_len(nrow(lengths))) {
  genes <- unique(readLines(file.path(out, sprintf("clabels%05d.txt", i))))
  name <- paste0("cluster", i)
  ids <- geneIds(sets)[[name]]
  if (!identical(ids, genes)) stop(name, ": genes differ from the cluster's label file")
  up <- geneIds(sets)[[paste0(name, "_up")]]
  down <- geneIds(sets)[[paste0(name, "_down")]]
  if (!setequal(c(up, down), genes) || length(intersect(up, down)) > 0) {
    stop(name, ": the up and down sets do not split the cluster")
  }
  if (!grepl(paste0("^gene shaving cluster ", i, ": ", nrow(read.table(
    file.path(out, sprintf("clabels%05d.txt", i)))), " genes"), description(sets[[name]]))) {
    stop(name, ": description ", description(sets[[name]]))
  }
  expected <- c(expected, name, if (length(up)) paste0(name, "_up"), if (length(down)) paste0(name, "_down"))
}
if (!identical(names(sets), expected)) stop("set names: ", paste(names(sets), collapse = " "))
cat(out, ": ", length(sets), " gene sets read back by GSEABase\n", sep = "")
