# The two commands a person needs: `make run` and `make test`.
# Both install what is missing, configure and build incrementally.

BUILD      := build
ASAN_BUILD := build-asan
CMAKE_GEN  := -G Ninja

.PHONY: all run test setup build build-asan data wav soundtrack-report bench clean

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

run: build
	./$(BUILD)/morvane

test: build build-asan
	ctest --test-dir $(BUILD) --output-on-failure -j2
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j2 -L unit

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

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
