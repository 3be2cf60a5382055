# The two commands: `make run` opens the settings window, `make test` runs every test.
BUILD ?= build
CMAKE_FLAGS ?=

.PHONY: all bootstrap configure build test run bench clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@test -f $(BUILD)/build.ninja || cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD)

test: build fuzz-smoke
	scripts/run-tests $(BUILD)

run: build
	scripts/run $(BUILD)

clean:
	rm -rf $(BUILD)

# The peer pointer hiders that bench/idle measures beside ours come with it.
bench: build
	@scripts/bootstrap --bench
	cmake --build $(BUILD) --target bench

# Proof under hostile input: `make fuzz` runs each fuzz target for
# FUZZ_SECONDS; `make test` runs each for a few seconds first. clang builds
# them in a folder of their own. `make test-sanitize` builds everything with
# the address and undefined-behaviour sanitizers and runs the whole suite.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 3
SANITIZE_BUILD ?= build-sanitize

.PHONY: fuzz fuzz-smoke test-sanitize

fuzz: bootstrap
	scripts/fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

fuzz-smoke: bootstrap
	scripts/fuzz $(FUZZ_BUILD) $(FUZZ_SMOKE_SECONDS)

test-sanitize: bootstrap
	scripts/test-sanitize $(SANITIZE_BUILD)
