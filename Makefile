# Mailfold: the two set-up commands are `make demo` and `make test`.
BUILD   ?= build
RELEASE ?= build-release
JOBS    ?= $(shell nproc)
# Seconds each fuzzer runs for in `make fuzz`.
FUZZ_SECONDS ?= 600
# One benchmark program per bench/bench_*.cpp, plus the tools the benchmarks drive.
BENCH_TARGETS := $(basename $(notdir $(wildcard bench/bench_*.cpp))) mailfold-convert mailfold-pst

.PHONY: all deps configure build test demo bench crashtest fuzz clean windows test-windows

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@bash tests/oracles/ensure-npm.sh || echo "make test: the npm store reader could not be installed; its checks will skip"
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@bash scripts/demo.sh $(BUILD)

bench: deps
	@cmake -S . -B $(RELEASE) -G Ninja -DCMAKE_BUILD_TYPE=Release -DMAILFOLD_SANITIZE=OFF >/dev/null
	@cmake --build $(RELEASE) -j $(JOBS) --target $(BENCH_TARGETS)
	@bash scripts/bench.sh $(RELEASE)

crashtest: configure
	@bash scripts/crashtest.sh $(BUILD)

# Every libFuzzer target (message importer, store reader) for FUZZ_SECONDS each: executions and
# findings per fuzzer, e.g. `make fuzz FUZZ_SECONDS=3600`.
fuzz: deps
	@bash scripts/fuzz.sh $(FUZZ_SECONDS)

# The Windows programs, cross-built with MinGW-w64 (scripts/windows/): the zip and the installer
# in dist/, and their checks under Wine. The third-party libraries are built once into
# $(MAILFOLD_WIN_CACHE) (default /var/cache/mailfold-win).
windows:
	@bash scripts/windows/package.sh

test-windows:
	@bash scripts/windows/test.sh

clean:
	@rm -rf $(BUILD) $(RELEASE) build-win
