# Top-level orchestration. `make test` runs every test; `make run` boots the
# driver inside real firmware and shows what it did. Each does its own set-up.

BUILD        ?= build
JOBS         ?= 2
FUZZ_SECONDS ?= 30
SCENARIO     ?= plain
OUT          ?= out
CMAKE_GEN    := -G Ninja

HOST_GCC   := $(BUILD)/host-gcc
HOST_CLANG := $(BUILD)/host-clang
HOST_ASAN  := $(BUILD)/host-asan
HOST_FUZZ  := $(BUILD)/host-fuzz
IMAGE_DIR  := $(BUILD)/image

NOTICE_PACK := $(HOST_GCC)/tools/notice-pack/notice-pack
NOTICE_SIM  := $(HOST_GCC)/tools/notice-sim/notice-sim

.PHONY: all deps host-build host host-clang asan fuzz fuzz-long image firmware-checks e2e test run sign preview clean

all: host-build image

deps:
	@scripts/install-deps.sh

# --- host: driver library, simulator, tests, tools ------------------------
host-build: deps
	cmake -S . -B $(HOST_GCC) $(CMAKE_GEN) -DCMAKE_CXX_COMPILER=g++ -DNOTICE_WERROR=ON
	cmake --build $(HOST_GCC) -j$(JOBS)

host: host-build
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

# Not part of `make test`: every fuzz target for FUZZ_SECONDS each (say 1200),
# keeping what it finds in build/host-fuzz/fuzz-corpus/ for the next run;
# prints each target's executions and coverage.
fuzz-long: deps
	cmake -S . -B $(HOST_FUZZ) $(CMAKE_GEN) -DCMAKE_CXX_COMPILER=clang++ -DNOTICE_FUZZ=ON
	cmake --build $(HOST_FUZZ) -j$(JOBS)
	scripts/fuzz-smoke.sh --long $(HOST_FUZZ) $(FUZZ_SECONDS)

# --- the driver image -------------------------------------------------------
image: deps
	cmake -S . -B $(IMAGE_DIR) $(CMAKE_GEN) -DCMAKE_TOOLCHAIN_FILE=cmake/efi-x64.cmake -DNOTICE_WERROR=ON
	cmake --build $(IMAGE_DIR) -j$(JOBS)
	scripts/check-image.sh $(IMAGE_DIR)/notice.efi

# --- real firmware ----------------------------------------------------------
# Packaging and image-builder checks: our volume and the patched OVMF images
# must parse with UEFIExtract and give back every file byte for byte.
firmware-checks: host-build image
	python3 -m unittest discover -s e2e -p 'test_*.py'
	python3 -m unittest discover -s e2e/firmware -p 'test_*.py'
	python3 e2e/firmware/make_images.py --notice-pack $(NOTICE_PACK) --driver $(IMAGE_DIR)/notice.efi \
	  --out $(BUILD)/firmware
	python3 e2e/firmware/check_image.py --dir $(BUILD)/firmware --driver $(IMAGE_DIR)/notice.efi

# Every scenario twice: the driver loaded from disk by the test application,
# and the driver dispatched from inside the firmware; each checked against
# the simulator on the same machine state.
e2e: host-build image
	python3 e2e/run.py --build-dir $(IMAGE_DIR) --all --notice-sim $(NOTICE_SIM)
	python3 e2e/run.py --build-dir $(IMAGE_DIR) --driver-in-firmware --notice-pack $(NOTICE_PACK) \
	  --notice-sim $(NOTICE_SIM) --all

test: host host-clang asan fuzz image firmware-checks e2e
	@echo "make test: all stages passed"

# Boots the firmware with the driver and the demo pictures; leaves
# $(OUT)/screen.png and $(OUT)/console.log.
run: host-build image
	python3 e2e/make_run.py --build-dir $(IMAGE_DIR) --host-build $(HOST_GCC) --out $(OUT) --scenario $(SCENARIO)

# The same machine on the simulator alone, in virtual time.
preview: host-build
	$(NOTICE_SIM) --out $(OUT)/preview

sign: image
	@test -n "$(KEY)" -a -n "$(CERT)" || { echo "usage: make sign KEY=key.pem CERT=cert.pem" >&2; exit 2; }
	e2e/sign.sh $(KEY) $(CERT) $(IMAGE_DIR)/notice.efi $(IMAGE_DIR)/notice.signed.efi

clean:
	rm -rf $(BUILD) $(OUT)
