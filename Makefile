# brindle_core: make demo, make test (see README.md).
.PHONY: all demo test test-python test-cpp clean bench sanitize fuzz dist

all: test

demo:
	tools/demo.sh

test:
	tools/test_all.sh

test-cpp:
	tools/run_cpp_tests.sh

# make bench PYTHONS="3.9 3.13" (the first reported in full), or BENCH_ALSO=3.13 beside the default.
bench:
	PYTHONS="$(PYTHONS)" BENCH_ALSO="$(BENCH_ALSO)" bench/run.sh

# The Python tests against a build with AddressSanitizer and UBSan.
sanitize:
	tools/sanitize.sh

# Differential and coverage-guided fuzzing: make fuzz EXAMPLES=100000 SEED=1 RUNS=200000
fuzz:
	tools/fuzz.sh $(if $(EXAMPLES),--examples $(EXAMPLES)) $(if $(SEED),--seed $(SEED)) $(if $(RUNS),--runs $(RUNS))

dist:
	tools/check_dist.sh

clean:
	rm -rf build .venv dist
