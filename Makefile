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

test: build
	scripts/run-tests $(BUILD)

run: build
	scripts/run $(BUILD)

clean:
	rm -rf $(BUILD)

bench: build
	cmake --build $(BUILD) --target bench
