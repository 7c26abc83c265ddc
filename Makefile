# The two commands of the README: `make run` and `make test`. Each installs, configures and
# builds what it needs first, so a fresh Debian 12 machine needs nothing else.
BUILD_DIR ?= build
JOBS ?= $(shell nproc)

.PHONY: run test build bootstrap configure bench asan clean format

bootstrap:
	@bash scripts/bootstrap

configure: bootstrap
	@if [ ! -f $(BUILD_DIR)/build.ninja ]; then cmake --preset default -B $(BUILD_DIR) >/dev/null; fi

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@bash scripts/run $(BUILD_DIR) $(ARGS)

test: build
	@bash scripts/test $(BUILD_DIR)

bench: build
	@bash scripts/bench $(BUILD_DIR)

asan: bootstrap
	@cmake --preset asan >/dev/null && cmake --build build-asan -j $(JOBS) && \
		LSAN_OPTIONS=suppressions=$(CURDIR)/cmake/lsan.supp bash scripts/test build-asan

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf $(BUILD_DIR) build-asan
