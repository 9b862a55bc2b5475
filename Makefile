# Front door: `make run` and `make test` install what they need, configure, build and go.

BUILD_DIR ?= build
JOBS ?= 2
CMAKE_FLAGS ?=

BUILD_PACKAGES := cmake make g++ ccache pkg-config qtbase5-dev qtbase5-dev-tools \
                  libqt5serialport5-dev
TEST_PACKAGES := socat redis-server

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps test-deps configure build run test clean

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
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD_DIR) -j$(JOBS)

run: build
	./$(BUILD_DIR)/teskmanager

test: test-deps build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 900

clean:
	rm -rf $(BUILD_DIR)
