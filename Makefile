# Glimmerpane: make run | make test | make bench
# Each target installs the Debian packages it needs when they are missing,
# configures and builds incrementally, then does its job.

# Debian's qt6-charts-dev misses its dependency on the Qt OpenGL development
# files, hence libqt6opengl6-dev.
DEB_PACKAGES := cmake g++ make pkg-config ccache qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev libgl-dev \
                clang-format bossa-cli
JOBS := $(shell nproc 2>/dev/null || echo 2)
BUILD := build
ASAN_BUILD := build-asan
SOURCES := $(shell find src tests bench -name '*.cpp' -o -name '*.h' 2>/dev/null)

.PHONY: run test bench deps build build-asan format format-check clean

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

build: deps $(BUILD)/Makefile
	cmake --build $(BUILD) -j$(JOBS)

build-asan: deps
	@[ -f $(ASAN_BUILD)/Makefile ] || cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DGP_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j$(JOBS)

run: build
	./$(BUILD)/glimmerpane --simulate

format:
	clang-format -i $(SOURCES)

format-check: deps
	clang-format --dry-run --Werror $(SOURCES)

test: format-check build build-asan
	cd $(BUILD) && ctest --output-on-failure -j$(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j$(JOBS)

bench: build
	@for b in $(BUILD)/bench_*; do if [ -f "$$b" ] && [ -x "$$b" ]; then "$$b" || exit 1; fi; done

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
