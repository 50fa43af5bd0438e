# Entry points: `make demo` runs the updater against a simulated unit and a local FTP server;
# `make test` installs what is missing, builds and runs every test.
BUILD ?= build
JOBS ?= 2
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# Every Debian package the build, the tests, the benchmarks and the demo need. The windows
# name Windows fonts (Tahoma, MS Sans Serif); Liberation Sans has their metrics.
DEPS := cmake make g++ pkg-config git \
        qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev libxkbcommon-dev \
        libcurl4-openssl-dev curl \
        libgtest-dev libgmock-dev \
        python3 python3-pyftpdlib \
        xvfb xauth clang libclang-rt-14-dev \
        fonts-liberation

.PHONY: deps configure build test demo bench clean

deps:
	@missing=$$(for p in $(DEPS); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
		echo "Installing:" $$missing; \
		$(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get update -qq && \
		$(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	else echo "All packages present."; fi

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)
	@cat $(BUILD)/tests/update/fault-matrix.txt $(BUILD)/tests/app/fault-matrix-local.txt 2>/dev/null || true

bench: build
	cmake --build $(BUILD) --target run_benchmarks

# Opens the updater on a simulated K9 (COM1) and a local FTP server; closing the window stops
# them. Without a display it explains how to run under xvfb-run instead.
demo: build
	tools/demo/run_demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)
