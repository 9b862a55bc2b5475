# Front door: `make run` and `make test` install what they need, configure, build and go.

# QT=6 builds against Qt 6 instead of the default Qt 5.15, each in build folders of its own.
QT ?= 5
ifeq ($(QT),6)
QT_SUFFIX := -qt6
QT_PACKAGES := qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev
else ifeq ($(QT),5)
QT_SUFFIX :=
QT_PACKAGES := qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev
else
$(error QT must be 5 or 6, not '$(QT)')
endif
QT_FLAG := -DQT_MAJOR_VERSION=$(QT)

BUILD_DIR ?= build$(QT_SUFFIX)
JOBS ?= 2
CMAKE_FLAGS ?=
# WERROR=1 treats compiler warnings as errors (CI does); a user's build never does by default.
WERROR ?= 0
WERROR_FLAG := -DWITH_WARNINGS_AS_ERRORS=$(if $(filter 1,$(WERROR)),ON,OFF)

# liblua5.4-dev: the scripts of --script.
BUILD_PACKAGES := cmake make g++ ccache pkg-config $(QT_PACKAGES) help2man liblua5.4-dev
# xmllint and prove check the JUnit report against its schema and the TAP stream as perl reads it.
TEST_PACKAGES := socat redis-server ser2net libxml2-utils perl
# The bench's fixed font, and xcb to ping the window in X; its X mode runs the window in Xvfb
# under openbox (tools/x-session.sh, which asks xprop whether openbox is up) and answers the
# accessibility bus in a session of its own at exit.
BENCH_PACKAGES := fonts-dejavu-core libxcb1-dev
BENCH_X_PACKAGES := xvfb openbox x11-utils dbus-daemon at-spi2-core
BENCH_ARGS ?=
PACKAGE_PACKAGES := dpkg-dev file
# The packaged end-to-end run (tests/e2e/ci-e2e.sh) besides what the package build needs:
# fonts-dejavu-core, so the X run does not depend on whichever fonts happen to be around; man-db
# and groff-base render the installed manual page as `man` would; dbus, at-spi2-core and
# python3-pyatspi let the run read and drive the window through the accessibility bus, and
# x11-utils (xprop) tells Qt where that bus is.
E2E_PACKAGES := xvfb openbox imagemagick socat x11-utils dbus at-spi2-core python3-pyatspi \
    desktop-file-utils appstream fonts-dejavu-core man-db groff-base
RELEASE_DIR ?= build-release$(QT_SUFFIX)
ASAN_DIR ?= build-asan$(QT_SUFFIX)
FUZZ_DIR ?= build-fuzz$(QT_SUFFIX)
FUZZ_SECONDS ?= 30
FUZZ_PACKAGES := clang-14 libclang-rt-14-dev
# One libFuzzer target per tests/fuzz/fuzz_<name>.cpp, as tests/fuzz/CMakeLists.txt builds them.
FUZZ_TARGETS := $(sort $(patsubst tests/fuzz/fuzz_%.cpp,%,$(wildcard tests/fuzz/fuzz_*.cpp)))

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps test-deps package-deps fuzz-deps e2e-deps configure build build-program \
        build-bench run test test-sanitized fuzz package e2e bench bench-deps bench-x-deps bench-x \
        clean

all: build

# Installs only what is missing, so a ready machine is not touched.
define install_missing
	@missing=""; for p in $(1); do \
	    dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	    echo "Installing:$$missing"; \
	    $(SUDO) apt-get update -q && \
	    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q $$missing; \
	fi
endef

deps:
	$(call install_missing,$(BUILD_PACKAGES))

test-deps: deps
	$(call install_missing,$(TEST_PACKAGES))

configure: deps
	cmake -S . -B $(BUILD_DIR) $(QT_FLAG) $(WERROR_FLAG) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j$(JOBS)

# Only what `run` and the bench need, not the whole suite.
build-program: configure
	cmake --build $(BUILD_DIR) -j$(JOBS) --target teskmanager

build-bench: configure
	cmake --build $(BUILD_DIR) -j$(JOBS) --target teskmanager_bench

run: build-program
	./$(BUILD_DIR)/teskmanager

test: test-deps build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest -j$(JOBS) --output-on-failure --timeout 900

package-deps: deps
	$(call install_missing,$(PACKAGE_PACKAGES))

# A Release build of its own, without tests, so the package never carries debug flags of a
# developer's tree; cpack leaves the .deb in $(RELEASE_DIR)/.
package: package-deps
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DWITH_TESTS=OFF -DWITH_BENCH=OFF \
	    -DWITH_FUZZERS=OFF -DWITH_SANITIZERS=OFF $(QT_FLAG) $(WERROR_FLAG) $(CMAKE_FLAGS)
	cmake --build $(RELEASE_DIR) -j$(JOBS)
	cd $(RELEASE_DIR) && cpack -G DEB

e2e-deps: package-deps
	$(call install_missing,$(E2E_PACKAGES))

# The package installed with apt, its files checked and the installed program driven in Xvfb;
# the script takes the packages, the package and its folder from the targets above.
e2e:
	QT=$(QT) RELEASE_DIR=$(RELEASE_DIR) bash tests/e2e/ci-e2e.sh

# The same suite again under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer.
test-sanitized: test-deps
	cmake -S . -B $(ASAN_DIR) -DWITH_SANITIZERS=ON $(QT_FLAG) $(WERROR_FLAG) $(CMAKE_FLAGS)
	cmake --build $(ASAN_DIR) -j$(JOBS)
	cd $(ASAN_DIR) && QT_QPA_PLATFORM=offscreen ctest -j$(JOBS) --output-on-failure --timeout 1800

fuzz-deps: deps
	$(call install_missing,$(FUZZ_PACKAGES))

# Each libFuzzer target for FUZZ_SECONDS, starting from the committed seed corpus.
fuzz: fuzz-deps
	cmake -S . -B $(FUZZ_DIR) -DCMAKE_CXX_COMPILER=clang++-14 -DWITH_FUZZERS=ON \
	    -DWITH_TESTS=OFF -DWITH_BENCH=OFF $(QT_FLAG) $(WERROR_FLAG) $(CMAKE_FLAGS)
	cmake --build $(FUZZ_DIR) -j$(JOBS)
	@for t in $(FUZZ_TARGETS); do \
	    mkdir -p $(FUZZ_DIR)/corpus/$$t; \
	    if $(FUZZ_DIR)/tests/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) \
	        -artifact_prefix=$(FUZZ_DIR)/crash-$$t- $(FUZZ_DIR)/corpus/$$t tests/fuzz/corpus/$$t \
	        > $(FUZZ_DIR)/fuzz_$$t.log 2>&1; then \
	        echo "fuzz_$$t: $$(grep -E '^Done' $(FUZZ_DIR)/fuzz_$$t.log)"; \
	    else \
	        tail -n 40 $(FUZZ_DIR)/fuzz_$$t.log; echo "fuzz_$$t: FAILED"; exit 1; \
	    fi; \
	done

clean:
	rm -rf $(BUILD_DIR)

bench-deps: test-deps
	$(call install_missing,$(BENCH_PACKAGES))

bench-x-deps: bench-deps
	$(call install_missing,$(BENCH_X_PACKAGES))

# The full benchmark (about four minutes) on the offscreen platform, like the tests.
bench: bench-deps build-bench
	./$(BUILD_DIR)/bench/teskmanager_bench $(BENCH_ARGS)

# The same in Xvfb at 1920x1080 with a window manager, the window maximized.
bench-x: bench-x-deps build-bench
	tools/x-session.sh ./$(BUILD_DIR)/bench/teskmanager_bench --x $(BENCH_ARGS)

# A variable's value as this Makefile works it out, for scripts: make -s print-RELEASE_DIR QT=6
print-%:
	@echo '$($*)'
