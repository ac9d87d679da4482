library(testthat)
library(tarvok)

test_check("tarvok")
