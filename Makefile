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

.PHONY: all deps build test demo bench clean

all: build

deps:
	@scripts/ensure-packages.sh $(PACKAGES)

build: deps
	@cmake -G Ninja -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@scripts/run-tests.sh $(BUILD)

demo: build
	@scripts/demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)
