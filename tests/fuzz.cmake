# Faults the fuzzers of fuzz/ found, each replayed from its input as an ordinary test on both
# targets (the fuzzers themselves run in scripts/fuzz and in the fuzz leg of scripts/test).
facup_unit_test(fuzz_regression_tests SOURCES unit/fuzz_regression_test.cpp
  LIBS http platform http_peer)
