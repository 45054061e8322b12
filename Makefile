# The two commands a person needs: `make run` and `make test`.
# Both install what is missing, configure and build incrementally.

BUILD      := build
PREFIX     ?= /usr/local
ASAN_BUILD := build-asan
TSAN_BUILD := build-tsan
ARM_BUILD  := build-arm64
WEB_BUILD  := build-web
CMAKE_GEN  := -G Ninja

.PHONY: all run test test-arm64 setup build build-asan build-tsan web serve data wav soundtrack-report bench install package clean

all: build

setup:
	@bash tools/setup.sh

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release

$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DMORVANE_SANITIZE=ON

build: setup $(BUILD)/build.ninja
	@cmake --build $(BUILD)

build-asan: setup $(ASAN_BUILD)/build.ninja
	@cmake --build $(ASAN_BUILD)

# Only the live demo is built with ThreadSanitizer.
$(TSAN_BUILD)/build.ninja:
	cmake -S . -B $(TSAN_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVANE_TSAN=ON

build-tsan: setup $(TSAN_BUILD)/build.ninja
	@cmake --build $(TSAN_BUILD) --target morvane

run: build
	./$(BUILD)/morvane

# The optimised build's tests; the unit tests and three whole-show renders
# under AddressSanitizer and UndefinedBehaviorSanitizer; the live demo under
# ThreadSanitizer; the page built for browsers, under node and in Chromium.
test: build build-asan build-tsan web
	ctest --test-dir $(BUILD) --output-on-failure -j2
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j2 -L 'unit|show'
	ctest --test-dir $(TSAN_BUILD) --output-on-failure -L threads
	ctest --test-dir $(WEB_BUILD) --output-on-failure

# The page: the show compiled to WebAssembly by Debian's emscripten, with its
# music player from npm (web/package-lock.json). emcc runs its helpers with
# node; Debian keeps their modules in /usr/share/nodejs.
web: export NODE_PATH := /usr/share/nodejs
web: build
	@cd web && npm ci --no-audit --no-fund --loglevel=error
	emcmake cmake -S . -B $(WEB_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release \
	  -DMORVANE_NATIVE_BUILD=$(CURDIR)/$(BUILD) >/dev/null
	@cmake --build $(WEB_BUILD)

# Serves the page at http://localhost:8000/ until interrupted.
serve: web
	python3 -m http.server --bind 127.0.0.1 --directory $(WEB_BUILD) 8000

# Cross-builds for 64-bit ARM, runs the unit tests under qemu-user and
# compares stills with the native build's. Adds arm64 to the machine's
# package architectures, so plain `make test` leaves it out.
test-arm64: build
	@bash tools/setup_arm64.sh
	cmake -S . -B $(ARM_BUILD) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DMORVANE_NATIVE_RENDER=$(CURDIR)/$(BUILD)/morvane-render
	@cmake --build $(ARM_BUILD)
	ctest --test-dir $(ARM_BUILD) --output-on-failure -j2 -L 'unit|portability'

# Regenerates the stored assets in data/ from their generators in tools/.
data: build
	@cmake --build $(BUILD) --target data

# Renders the soundtrack to build/soundtrack.wav for listening (not committed).
wav: build
	@cmake --build $(BUILD) --target wav

# Prints the soundtrack's loudness, stereo image and scene changes per scene.
soundtrack-report: build
	@cmake --build $(BUILD) --target soundtrack-report

bench: build
	@cmake --build $(BUILD) --target benchmarks

# Installs under $(PREFIX) (default /usr/local), below $(DESTDIR) if set.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# Builds the Debian package into build/package/.
package: build
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(ARM_BUILD) $(WEB_BUILD)
