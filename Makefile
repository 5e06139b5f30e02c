# Vornhal: `make run` plays the demo, `make test` runs every test. Both install
# what they need first (Debian 12, apt-get).
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all deps build run test bench images music video format clean

all: build

deps:
	@bash scripts/install-deps.sh

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/src/shell/vornhal

test: build
	bash scripts/run-tests.sh $(BUILD)

bench: build
	bash scripts/run-benchmarks.sh $(BUILD)

# Regenerate the committed data files.
images: build
	./$(BUILD)/tools/images/vornhal-make-images data

music: build
	./$(BUILD)/tools/music/vornhal-make-music data/music.mp3

# The whole show, with its soundtrack, rendered headless.
video: build
	SDL_VIDEODRIVER=offscreen ./$(BUILD)/tools/capture/vornhal-capture video vornhal.mp4

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
