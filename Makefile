# Everyday commands. Each one installs what is missing on Debian 12, configures and builds.
BUILD      ?= build
TEST_BUILD ?= build-test
JOBS       ?= $(shell nproc)

DEBIAN_PACKAGES = build-essential cmake pkg-config qt6-base-dev libhidapi-dev libgtest-dev \
                  googletest libbenchmark-dev
SUDO = $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: all deps build run test bench format clean

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

test: deps
	cmake -S . -B $(TEST_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEL_WERROR=ON
	cmake --build $(TEST_BUILD) -j $(JOBS)
	cd $(TEST_BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD)/bench/*_bench; do echo "== $$b"; QT_QPA_PLATFORM=offscreen $$b; done

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD) $(TEST_BUILD)
