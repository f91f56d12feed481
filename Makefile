# The two commands of the README (`make run`, `make test`) do all set-up:
# they install what is missing, configure, build and run.

JOBS ?= $(shell nproc)
GENERATOR := -G Ninja

PREFIX ?= /usr/local

.PHONY: all run test test-large tsan bench fuzz clean deps release install

all: release

deps:
	@./scripts/install-deps

release: deps
	cmake -S . -B build/release $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DCORVELLA_TESTS=OFF
	cmake --build build/release -j $(JOBS)

# Starts the front end; without a display it says how to try the worker.
run: release
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  ./scripts/run-hint build/release; \
	else \
	  build/release/bin/corvella; \
	fi

# Installs corvella and corvex side by side in $(PREFIX)/bin (DESTDIR is
# honoured for staged installs).
install: release
	cmake -S . -B build/release -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build build/release -j $(JOBS)
	DESTDIR="$(DESTDIR)" cmake --install build/release

test: deps
	cmake -S . -B build/test $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
	      -DCMAKE_C_FLAGS_DEBUG="-O1 -g" -DCORVELLA_SANITIZE=ON
	cmake --build build/test -j $(JOBS)
	cd build/test && ctest --output-on-failure -j $(JOBS) -LE large

# The tests labelled large: long runs of a gigabyte or more each, one at a time.
test-large: deps
	cmake -S . -B build/test $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
	      -DCMAKE_C_FLAGS_DEBUG="-O1 -g" -DCORVELLA_SANITIZE=ON
	cmake --build build/test -j $(JOBS)
	cd build/test && ctest --output-on-failure -L large

# The run core's threads under ThreadSanitizer: whole runs, the worker pool,
# the hashing threads, the database lock and the run log; and whole runs
# through the main window, whose run thread reaches the widgets through
# blocking queued calls.
tsan: deps
	cmake -S . -B build/tsan $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g" \
	      -DCMAKE_C_FLAGS_DEBUG="-O1 -g" -DCORVELLA_TSAN=ON
	cmake --build build/tsan -j $(JOBS) --target frontend_core_test frontend_ui_test corvex fake_worker fake_converter
	cd build/tsan && QT_QPA_PLATFORM=offscreen TSAN_OPTIONS="suppressions=$(CURDIR)/tests/frontend/ui/tsan.supp" ctest --output-on-failure -j $(JOBS) \
	  -R '^(RunEngine|WorkerPool|DigestPool|Database|RunLog|Hash|RunWindow|ResultsWindow)'

bench: deps
	cmake -S . -B build/bench $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DCORVELLA_TESTS=OFF -DCORVELLA_BENCH=ON
	cmake --build build/bench -j $(JOBS)
	./bench/run build/bench

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B build/fuzz $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVELLA_FUZZ=ON
	cmake --build build/fuzz -j $(JOBS)
	@echo "Fuzz targets are in build/fuzz/fuzz/. Run one with: scripts/fuzz <target> [seconds]"

clean:
	rm -rf build
