# Glimmerpane: make | make run | make test | make bench | make package | make install
# Each target installs the Debian packages it needs when they are missing,
# configures and builds incrementally, then does its job. Plain "make" builds
# the three programs.

# Debian's qt6-charts-dev misses its dependency on the Qt OpenGL development
# files, hence libqt6opengl6-dev. appstream and desktop-file-utils check the
# desktop entry and the AppStream file in "make test"; dpkg-dev gives
# "make package" the library dependencies. The site record is kept through
# Qt SQL's SQLite driver, or its PostgreSQL driver for a team; the tests
# start a throwaway PostgreSQL cluster of their own.
DEB_PACKAGES := cmake g++ make pkg-config ccache qt6-base-dev qt6-serialport-dev qt6-charts-dev \
                libqt6opengl6-dev libgl-dev clang-format bossa-cli appstream desktop-file-utils dpkg-dev \
                libqt6sql6-sqlite libqt6sql6-psql postgresql
SHELL := /bin/bash
PROGRAMS := glimmerpane glimmerpane-cli glimmerpane-sim
PREFIX ?= /usr/local
JOBS := $(shell nproc 2>/dev/null || echo 2)
# Most tests wait on pseudo-terminals rather than compute, so ctest runs four
# per processor; the ones that compute claim three slots each.
TEST_JOBS := $(shell echo $$(( $(JOBS) * 4 )))
BUILD := build
ASAN_BUILD := build-asan
SOURCES := $(shell find src tests bench -name '*.cpp' -o -name '*.h' 2>/dev/null)

.PHONY: all programs run test bench fuzz soak deps build build-asan format format-check clean \
        package install

all: programs

deps:
	@missing=""; for p in $(DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing missing packages:$$missing"; \
	  SUDO=""; [ "$$(id -u)" -ne 0 ] && SUDO=sudo; \
	  $$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq && \
	  $$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; \
	fi

$(BUILD)/build.ninja $(BUILD)/Makefile:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

programs: deps $(BUILD)/Makefile
	cmake --build $(BUILD) -j$(JOBS) --target $(PROGRAMS)

build: deps $(BUILD)/Makefile
	cmake --build $(BUILD) -j$(JOBS)

build-asan: deps
	@[ -f $(ASAN_BUILD)/Makefile ] || cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DGP_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j$(JOBS)

run: programs
	./$(BUILD)/glimmerpane --simulate

format:
	clang-format -i $(SOURCES)

format-check: deps
	clang-format --dry-run --Werror $(SOURCES)

# The sanitizer build skips the real flashing-tool runs (label real_bossac),
# which the normal build already covers. The sanitizer build compiles at low
# priority while the normal build's tests, which mostly wait, run; its output
# goes to build-asan/build.log and is shown when it fails. The ten slowest
# tests of the normal build are listed between the two runs.
test: format-check build
	@mkdir -p $(ASAN_BUILD); echo "Building the sanitizer build meanwhile (log: $(ASAN_BUILD)/build.log)"
	@nice -n 19 $(MAKE) --no-print-directory build-asan > $(ASAN_BUILD)/build.log 2>&1 & asan=$$!; \
	(cd $(BUILD) && ctest --output-on-failure -j$(TEST_JOBS) 2>&1 | tee ctest.log; exit $${PIPESTATUS[0]}); \
	status=$$?; \
	if ! wait $$asan; then tail -40 $(ASAN_BUILD)/build.log; echo "The sanitizer build failed."; exit 1; fi; \
	exit $$status
	@echo "Ten slowest tests:"; grep -h ' sec$$' $(BUILD)/ctest.log | \
	  sed -E 's/^.*Test +#[0-9]+: ([^ ]+) .* ([0-9.]+) sec$$/\2 s  \1/' | sort -rn | head -10
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j$(TEST_JOBS) -LE real_bossac

# Fuzzing with libFuzzer: each target for FUZZ_S seconds under ASan+UBSan.
# New inputs collect in build-fuzz/corpus/, crashing ones in tests/fuzz/crashes/.
FUZZ_S ?= 60
FUZZ_BUILD := build-fuzz
FUZZ_NAMES := $(patsubst tests/fuzz/fuzz_%.cpp,%,$(filter-out tests/fuzz/fuzz_main.cpp,$(wildcard tests/fuzz/fuzz_*.cpp)))

fuzz: deps
	@for p in clang-14 libclang-rt-14-dev; do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q 'install ok installed' || missing="$$missing $$p"; \
	done; if [ -n "$$missing" ]; then \
	  SUDO=""; [ "$$(id -u)" -ne 0 ] && SUDO=sudo; \
	  $$SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq && \
	  $$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $$missing; fi
	@[ -f $(FUZZ_BUILD)/Makefile ] || CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGP_FUZZ=ON -DGP_SANITIZE=ON
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target $(addprefix fuzz_,$(FUZZ_NAMES))
	@mkdir -p tests/fuzz/crashes; status=0; for t in $(FUZZ_NAMES); do \
	  mkdir -p $(FUZZ_BUILD)/corpus/$$t; \
	  ASAN_OPTIONS=detect_leaks=0 QT_QPA_PLATFORM=offscreen ./$(FUZZ_BUILD)/fuzz_$$t \
	    -max_total_time=$(FUZZ_S) -print_final_stats=1 -artifact_prefix=tests/fuzz/crashes/$$t- \
	    $(FUZZ_BUILD)/corpus/$$t tests/fuzz/corpus/$$t > $(FUZZ_BUILD)/$$t.log 2>&1 || status=1; \
	  runs=$$(sed -n 's/^stat::number_of_executed_units: *//p' $(FUZZ_BUILD)/$$t.log); \
	  echo "fuzz_$$t: runs=$${runs:-?} $$(grep -q 'property violated\|ERROR:' $(FUZZ_BUILD)/$$t.log && echo FAILED, see $(FUZZ_BUILD)/$$t.log || echo ok)"; \
	done; exit $$status

# The long fault soak: SOAK_N rounds of every command under every wire fault.
SOAK_N ?= 20
soak: build
	cd $(BUILD) && SOAK_N=$(SOAK_N) GP_BUILD_DIR=$$PWD ./test_fault_soak successAlwaysMeansTheTrueValues

bench: build
	@for b in $(BUILD)/bench_*; do if [ -f "$$b" ] && [ -x "$$b" ]; then "$$b" || exit 1; fi; done

# The Debian package, build/glimmerpane_VERSION-1_ARCH.deb; install it with
# sudo apt install ./build/glimmerpane_*.deb
package: programs
	cmake --build $(BUILD) -j$(JOBS) --target gp_docs
	cd $(BUILD) && cpack -G DEB
	@ls $(BUILD)/glimmerpane_*.deb

# Installs under PREFIX (/usr/local); DESTDIR stages it elsewhere.
install: programs
	cmake --build $(BUILD) -j$(JOBS) --target gp_docs
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
