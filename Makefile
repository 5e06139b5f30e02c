# Vornhal, for those who have make: `make run` plays the demo, `make test` runs every
# test. Both are the README's commands (scripts/play.sh, scripts/test.sh), which install
# what is missing first (Debian 12, apt-get). The builds are the CMake presets', in
# build/ (CMakePresets.json), with as many jobs as the machine has cores.
export CMAKE_BUILD_PARALLEL_LEVEL ?= $(shell nproc)

.PHONY: all build run test fresh-check bench images music icons video package install format clean

all: build

build:
	bash scripts/install-deps.sh play test
	cmake --preset default
	cmake --build --preset default

run:
	bash scripts/play.sh

test:
	bash scripts/test.sh

# The README's commands on a fresh minimal Debian 12 root (root, network).
fresh-check:
	bash scripts/fresh-check.sh

bench: build
	bash scripts/run-benchmarks.sh build

# The Debian package (build-package/vornhal_VERSION_ARCH.deb), and a plain install
# under PREFIX (default /usr/local).
package:
	bash scripts/package.sh

PREFIX ?= /usr/local
install: build
	cmake --install build --prefix $(PREFIX)

# Regenerate the committed data files and the icons made from the show.
images: build
	./build/tools/images/vornhal-make-images data

music: build
	./build/tools/music/vornhal-make-music data/music.mp3

icons: build
	bash scripts/make-icons.sh build

# The whole show, with its soundtrack, rendered headless.
video: build
	SDL_VIDEODRIVER=offscreen ./build/tools/capture/vornhal-capture video vornhal.mp4

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build build-asan build-tsan build-fuzz build-package
