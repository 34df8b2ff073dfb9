# brindle_core: make demo, make test (see README.md).
.PHONY: all demo test test-python test-cpp clean bench dist

all: test

demo:
	tools/demo.sh

test:
	tools/test_all.sh

test-cpp:
	tools/run_cpp_tests.sh

bench:
	bench/run.sh

dist:
	tools/check_dist.sh

clean:
	rm -rf build .venv dist
