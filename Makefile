# Everyday commands. Each one installs what is missing on Debian 12, configures and builds.
BUILD         ?= build
TEST_BUILD    ?= build-test
PACKAGE_BUILD ?= build-package
JOBS          ?= $(shell nproc)

DEBIAN_PACKAGES = build-essential cmake pkg-config qt6-base-dev libhidapi-dev libgtest-dev \
                  googletest libbenchmark-dev help2man libfuse3-dev fuse3 ccache \
                  prometheus-node-exporter systemd
X_PACKAGES      = xvfb openbox xdotool x11-utils
FUZZ_PACKAGES   = clang libclang-rt-14-dev
KERNEL_PACKAGES = qemu-system-x86 linux-image-amd64 busybox-static cpio udev acl
WINDOWS_PACKAGES = g++-mingw-w64-x86-64-posix wine64 fonts-wine nsis librsvg2-bin imagemagick \
                   dpkg-dev ninja-build $(X_PACKAGES)
# build, test, smoke, installer: any of them, in that order (scripts/windows).
WINDOWS_STEPS ?= build test smoke installer
SUDO = $(shell [ "$$(id -u)" = 0 ] || echo sudo)
# ccache shares objects between clones and build trees at other paths (CI clones elsewhere).
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= true

.PHONY: all deps build run demo test test-kernel test-kernel-run deps-kernel bench smoke screenshot \
        package fuzz sanitize mutate soak windows cross format clean

all: build

# Installs only what is missing, so it costs nothing on a machine that has everything.
deps:
	@missing=""; for p in $(DEBIAN_PACKAGES); do \
	    dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	    echo "Installing:$$missing"; \
	    $(SUDO) apt-get update -q && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -q $$missing; \
	fi

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/quarvel-config

demo: build
	./$(BUILD)/quarvel-demo

test: deps
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEL_WERROR=ON
	cmake --build $(TEST_BUILD) -j $(JOBS)
	cd $(TEST_BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS) -LE kernel
	@why=$$(scripts/kernel-vm --why-not); \
	if [ -z "$$why" ]; then $(MAKE) --no-print-directory test-kernel-run; \
	elif [ "$$CI" = true ]; then echo "kernel tier cannot run: $$why"; exit 1; \
	else echo "kernel tier skipped: $$why (make test-kernel installs what it needs)"; fi

# The kernel tier: the tests labelled "kernel", inside a VM on Debian's kernel (root only).
test-kernel: deps deps-kernel
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEL_WERROR=ON
	cmake --build $(TEST_BUILD) -j $(JOBS)
	@$(MAKE) --no-print-directory test-kernel-run

deps-kernel:
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(KERNEL_PACKAGES)"

test-kernel-run:
	QUARVEL_GADGET=$(TEST_BUILD)/tests/rigs/gadget/quarvel-gadget \
	    scripts/kernel-vm -- scripts/kernel-ctest $(TEST_BUILD)

bench: build
	@for b in $(BUILD)/bench/*_bench; do echo "== $$b"; QT_QPA_PLATFORM=offscreen $$b; done

# The programs under a real X server, driven through the window system.
smoke: build
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(X_PACKAGES)"
	scripts/smoke-test $(BUILD)

screenshot: build
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(X_PACKAGES) imagemagick"
	scripts/screenshot $(BUILD)

package: deps
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="dpkg-dev file"
	cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=Release -DQUARVEL_TESTS=OFF -DQUARVEL_BENCH=OFF
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	cd $(PACKAGE_BUILD) && cpack

# libFuzzer targets, FUZZ_SECONDS each (default 30).
fuzz: deps
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(FUZZ_PACKAGES)"
	scripts/fuzz

# The whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize: deps
	scripts/sanitize

# Mutation testing of the lines changed since MUTATE_BASE (default main), or of MUTATE_FILES
# (FILE or FILE:FIRST-LAST), running the ctest tests matching MUTATE_TESTS (default all).
MUTATE_BASE  ?= main
MUTATE_BUILD ?= build-mutate
mutate: deps
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="python3"
	@[ -f $(MUTATE_BUILD)/CMakeCache.txt ] || \
	    cmake -S . -B $(MUTATE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEL_WERROR=ON
	scripts/mutate --build $(MUTATE_BUILD) --base $(MUTATE_BASE) \
	    $(if $(MUTATE_TESTS),--tests '$(MUTATE_TESTS)') $(MUTATE_FILES)

# The window and quarvel-ctl watch against misbehaving emulated generators for SOAK_MINUTES
# (default 10). Root only, like the hidraw tests.
SOAK_MINUTES ?= 10
soak: deps
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEL_WERROR=ON
	cmake --build $(TEST_BUILD) -j $(JOBS) --target quarvel-soak
	$(TEST_BUILD)/tests/rigs/soak/quarvel-soak --minutes $(SOAK_MINUTES)

# The Windows programs cross-built with MinGW-w64, tested under Wine, and their installer; the
# Linux build in $(BUILD) gives the bytes they must equal.
windows: deps $(BUILD)/CMakeCache.txt
	@$(MAKE) --no-print-directory deps DEBIAN_PACKAGES="$(WINDOWS_PACKAGES)"
	LINUX_BUILD=$(BUILD) JOBS=$(JOBS) scripts/windows $(WINDOWS_STEPS)

# Cross-build for ARCH (arm64 or armhf) in build-ARCH, its tests under qemu-user, its package.
ARCH ?= arm64
cross:
	JOBS=$(JOBS) scripts/cross $(ARCH)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(TEST_BUILD) $(PACKAGE_BUILD) build-fuzz build-asan $(MUTATE_BUILD) \
	    build-windows build-arm64 build-armhf
