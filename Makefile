# brindle_core: make demo, make test (see README.md).
.PHONY: all demo test test-python test-cpp clean bench sanitize fuzz dist wheels wheels-aarch64 compilers cross-check

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

# Differential and coverage-guided fuzzing: make fuzz EXAMPLES=1000000 SEED=1 RUNS=200000
# (the differential examples are split between CPython 3.9 and 3.13, run side by side)
fuzz:
	tools/fuzz.sh $(if $(EXAMPLES),--examples $(EXAMPLES)) $(if $(SEED),--seed $(SEED)) $(if $(RUNS),--runs $(RUNS))

dist:
	tools/check_dist.sh

# manylinux_2_17_x86_64 wheels for CPython 3.9-3.15 (3.14 and 3.15 in the sid chroot) built with zig, repaired and shown by
# auditwheel, each tested installed in a fresh venv; the zig wheel against a GCC build
# on the record workloads. make wheels PYTHONS="3.9 3.12" builds only those.
wheels:
	tools/build_wheels.sh $(PYTHONS)

# manylinux_2_17_aarch64 wheels for CPython 3.13-3.15 built here with zig, each tested
# installed in the arm64 sid chroot under emulation (over an hour; not in CI).
wheels-aarch64:
	BRINDLE_WHEEL_ARCH=aarch64 tools/build_wheels.sh $(PYTHONS)

# The C++ tests and the Python suite on 3.9 with GCC 12, GCC 11, clang 16 and zig's clang.
compilers:
	tools/compilers.sh

# Compile (and where practical link) for macOS, Windows and Linux on ARM with zig.
cross-check:
	tools/cross_check.sh

clean:
	rm -rf build .venv dist
