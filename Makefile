# Entry points: `make demo` runs the updater against a simulated unit and a local FTP server;
# `make test` installs what is missing, builds and runs every test.
BUILD ?= build
JOBS ?= 2
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# Every Debian package the build, the tests, the benchmarks, the demo and the package need.
# The windows name Windows fonts (Tahoma, MS Sans Serif); Liberation Sans has their metrics.
# vsftpd is only the tests' second server: the system service its package starts is stopped.
DEPS := cmake make g++ pkg-config git \
        qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev libxkbcommon-dev \
        libcurl4-openssl-dev libssl-dev curl openssl \
        libgtest-dev libgmock-dev \
        python3 python3-pyftpdlib python3-openssl vsftpd \
        libqt6sql6-sqlite dbus-daemon python3-dbus python3-gi \
        xvfb xauth clang libclang-rt-14-dev \
        fonts-liberation \
        dpkg-dev file appstream desktop-file-utils lintian

.PHONY: deps configure build test demo bench clean sanitize fuzz package

deps:
	@missing=$$(for p in $(DEPS); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
		echo "Installing:" $$missing; \
		$(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get update -qq && \
		$(SUDO) env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing && \
		if echo " $$missing " | grep -q ' vsftpd '; then \
			$(SUDO) systemctl disable --now vsftpd >/dev/null 2>&1 || true; \
		fi; \
	else echo "All packages present."; fi

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)
	@cat $(BUILD)/tests/update/fault-matrix.txt $(BUILD)/tests/app/fault-matrix-local.txt 2>/dev/null || true

# The Debian package k9updater_<version>_<arch>.deb in $(BUILD)/, checked by lintian --pedantic:
# any tag it shows, pedantic ones included, fails (overrides, with their reasons, do not).
package: build
	cd $(BUILD) && cpack -G DEB
	lintian --pedantic --fail-on error,warning,info,pedantic --info $(BUILD)/k9updater_*.deb

bench: build
	cmake --build $(BUILD) --target run_benchmarks

# The whole test suite under AddressSanitizer (with LeakSanitizer) and UBSan; any finding fails
# its test. Leaks of the system's libraries are suppressed in fuzz/lsan.supp, ours never.
ASAN_BUILD ?= build-asan
SANITIZER_ENV := ASAN_OPTIONS=detect_leaks=1:check_initialization_order=1:strict_init_order=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/fuzz/lsan.supp:print_suppressions=0 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
sanitize: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DK9_SANITIZE=ON -DK9_BUILD_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j$(JOBS)
	cd $(ASAN_BUILD) && $(SANITIZER_ENV) QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

# libFuzzer targets built with clang, each run for FUZZ_SECONDS from its seed corpus in
# fuzz/corpus/; any crash, sanitizer finding or broken invariant fails.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 30
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		-DK9_FUZZ=ON -DK9_BUILD_TESTS=OFF -DK9_BUILD_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j$(JOBS) --target fuzzers
	fuzz/run_fuzzers.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# Opens the updater on a simulated K9 (COM1) and a local FTP server; closing the window stops
# them. Without a display it explains how to run under xvfb-run instead.
demo: build
	tools/demo/run_demo.sh $(BUILD)

clean:
	rm -rf $(BUILD)
