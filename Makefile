# Kestrin: the two commands of the README and their set-up.
#   make demo   builds everything and runs Kestrin against the ISDN simulator
#   make test   builds everything and runs the whole test suite
BUILD ?= build
JOBS ?= $(shell nproc)

PACKAGES = cmake ninja-build g++ make pkg-config \
  qt6-base-dev qt6-webengine-dev libgl-dev libx11-dev \
  libgtest-dev libgmock-dev \
  libcapi20-3 \
  xvfb xauth curl procps \
  fonts-dejavu-core

# The sanitizer pass covers everything that runs without the browser engine,
# whose own processes do not run under AddressSanitizer.
SANITIZE_BUILD ?= build-asan
SANITIZE_TARGETS = core_tests capi_tests capi_real_tests sim_tests \
  request_fuzz status_page_fuzz dispatch_fuzz sim_frame_fuzz

.PHONY: all deps build test sanitize-test demo bench clean

all: build

deps:
	@scripts/ensure-packages.sh $(PACKAGES)

build: deps
	@cmake -G Ninja -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@scripts/run-tests.sh $(BUILD)
	@$(MAKE) --no-print-directory sanitize-test

sanitize-test: deps
	@cmake -G Ninja -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRIN_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS) --target $(SANITIZE_TARGETS)
	@cd $(SANITIZE_BUILD) && ctest --output-on-failure --timeout 600 -E '^(ui_|e2e)'

bench: build
	@bench/run-all.sh $(BUILD)

demo: build
	@scripts/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD)
