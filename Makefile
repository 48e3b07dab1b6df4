# Top-level orchestration. `make test` runs every test; `make run` builds the
# image and shows what the driver does. Each does its own set-up.

BUILD       ?= build
JOBS        ?= 2
FUZZ_SECONDS ?= 30
CMAKE_GEN   := -G Ninja

HOST_GCC   := $(BUILD)/host-gcc
HOST_CLANG := $(BUILD)/host-clang
HOST_ASAN  := $(BUILD)/host-asan
HOST_FUZZ  := $(BUILD)/host-fuzz
IMAGE_DIR  := $(BUILD)/image

.PHONY: all deps host host-clang asan fuzz image e2e test run clean

all: host image

deps:
	@scripts/install-deps.sh

host: deps
	cmake -S . -B $(HOST_GCC) $(CMAKE_GEN) -DCMAKE_CXX_COMPILER=g++ -DNOTICE_WERROR=ON
	cmake --build $(HOST_GCC) -j$(JOBS)
	ctest --test-dir $(HOST_GCC) --output-on-failure -j$(JOBS)

host-clang: deps
	cmake -S . -B $(HOST_CLANG) $(CMAKE_GEN) -DCMAKE_CXX_COMPILER=clang++ -DNOTICE_WERROR=ON
	cmake --build $(HOST_CLANG) -j$(JOBS)
	ctest --test-dir $(HOST_CLANG) --output-on-failure -j$(JOBS)

asan: deps
	cmake -S . -B $(HOST_ASAN) $(CMAKE_GEN) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug -DNOTICE_SANITIZE=ON
	cmake --build $(HOST_ASAN) -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --test-dir $(HOST_ASAN) --output-on-failure -j$(JOBS)

fuzz: deps
	cmake -S . -B $(HOST_FUZZ) $(CMAKE_GEN) -DCMAKE_CXX_COMPILER=clang++ -DNOTICE_FUZZ=ON
	cmake --build $(HOST_FUZZ) -j$(JOBS)
	scripts/fuzz-smoke.sh $(HOST_FUZZ) $(FUZZ_SECONDS)

image: deps
	cmake -S . -B $(IMAGE_DIR) $(CMAKE_GEN) -DCMAKE_TOOLCHAIN_FILE=cmake/efi-x64.cmake -DNOTICE_WERROR=ON
	cmake --build $(IMAGE_DIR) -j$(JOBS)
	scripts/check-image.sh $(IMAGE_DIR)/notice.efi

e2e: image
	python3 e2e/run.py --build $(IMAGE_DIR)

test: host host-clang asan fuzz image e2e
	@echo "make test: all stages passed"

run: image
	python3 e2e/run.py --build $(IMAGE_DIR)

clean:
	rm -rf $(BUILD) out
