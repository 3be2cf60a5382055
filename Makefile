# The two commands: `make run` opens the settings window, `make test` runs every test.
# Also: `make install` (into PREFIX, ~/.local unless given), `make uninstall`,
# `make package` (a Debian package in $(BUILD)/), `make bench`.
BUILD ?= build
CMAKE_FLAGS ?=
PREFIX ?= $(HOME)/.local

.PHONY: all bootstrap configure build test run bench clean install uninstall package

all: build

# What `make run` and an installation need; `make test` adds the test tools.
bootstrap:
	@scripts/bootstrap run

configure: bootstrap
	@test -f $(BUILD)/build.ninja || cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD)

test: bootstrap-test fuzz-smoke
	cmake -S . -B $(BUILD) -G Ninja -DBUILD_TESTING=ON $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD)
	scripts/run-tests $(BUILD)

bootstrap-test:
	@scripts/bootstrap test

run: build
	scripts/run $(BUILD)

clean:
	rm -rf $(BUILD)

# The peer pointer hiders that bench/idle measures beside ours come with it.
bench: bootstrap-test
	@scripts/bootstrap bench
	cmake -S . -B $(BUILD) -G Ninja -DQUILLVANE_BUILD_BENCH=ON $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) --target bench

install: build
	cmake --install $(BUILD) --prefix "$(PREFIX)"

# Removes what the last `make install` put in place.
uninstall:
	@test -f $(BUILD)/install_manifest.txt || { echo "uninstall: nothing installed from $(BUILD)" >&2; exit 1; }
	xargs -d '\n' rm -f < $(BUILD)/install_manifest.txt
	rm -f $(BUILD)/install_manifest.txt

package: bootstrap-test build
	cd $(BUILD) && cpack

# Proof under hostile input: `make fuzz` runs each fuzz target for
# FUZZ_SECONDS; `make test` runs each for a few seconds first. clang builds
# them in a folder of their own. `make test-sanitize` builds everything with
# the address and undefined-behaviour sanitizers and runs the whole suite.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 3
SANITIZE_BUILD ?= build-sanitize

.PHONY: fuzz fuzz-smoke test-sanitize

fuzz: bootstrap-test
	scripts/fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

fuzz-smoke: bootstrap-test
	scripts/fuzz $(FUZZ_BUILD) $(FUZZ_SMOKE_SECONDS)

test-sanitize: bootstrap-test
	scripts/test-sanitize $(SANITIZE_BUILD)
