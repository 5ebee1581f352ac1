# Tandor File: `make run` starts the program, `make test` builds and runs every test.
BUILD_DIR ?= build
BUILD_TYPE ?= Release
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local

.PHONY: all deps configure build run test bench bench-table install package clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null

build: configure
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@bash scripts/run.sh $(BUILD_DIR)/bin/tandorfile

test: build
	@cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# `make install PREFIX=/opt/tandor` (DESTDIR=... stages it elsewhere, as packagers do).
install: build
	@cmake --install $(BUILD_DIR) --prefix $(PREFIX)

# The Debian package, written into $(BUILD_DIR).
package: build
	@cmake --build $(BUILD_DIR) --target package

bench: build
	@bash bench/run.sh $(BUILD_DIR)

# Only the speed and memory table (the last part of `make bench`).
bench-table: build
	@bash bench/table/speed_table.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR)
