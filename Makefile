# Top-level orchestration. `make test` runs every test; `make run` boots the
# driver inside real firmware and shows what it did. Each does its own set-up.

BUILD        ?= build
JOBS         ?= 2
FUZZ_SECONDS ?= 30
# notice-insert's property test in make firmware-checks (make fuzz-long runs it FUZZ_SECONDS).
INSERT_FUZZ_SECONDS ?= 60
SCENARIO     ?= plain
PICTURES     ?=
SCREEN       ?=
# make run CODE=MY.fd: boot your own code image (notice-insert's, the driver and pictures inside).
CODE         ?=
# Empty: each case's own firmware (ovmf-2022.11 unless the case says); e2e/run.py --list names them.
FIRMWARE     ?=
OUT          ?= out
CMAKE_GEN    := -G Ninja
# make run and make preview keep the build output here and show one line a step.
BUILD_LOG    := $(BUILD)/build.log
STEP         := scripts/quiet-step.sh $(BUILD_LOG)

HOST_GCC   := $(BUILD)/host-gcc
HOST_CLANG := $(BUILD)/host-clang-make
HOST_ASAN  := $(BUILD)/host-asan
HOST_FUZZ  := $(BUILD)/host-fuzz
IMAGE_DIR  := $(BUILD)/image

# Debian's python3-* packages (Hypothesis) are seen by the system's Python only.
SYSTEM_PYTHON := /usr/bin/python3

NOTICE_PACK := $(HOST_GCC)/tools/notice-pack/notice-pack
NOTICE_SIM  := $(HOST_GCC)/tools/notice-sim/notice-sim
# What make run and make preview need from the host build: no tests, no benchmarks.
HOST_TOOLS  := notice-pack notice-sim demo_pictures
FIRMWARE_OPTION := $(if $(FIRMWARE),--firmware $(FIRMWARE))
# Values are passed as --option=VALUE, so that one starting with "-" reaches the option's own check.
RUN_OPTIONS := --scenario=$(SCENARIO) $(FIRMWARE_OPTION) $(if $(PICTURES),--pictures=$(PICTURES)) \
               $(if $(SCREEN),--screen=$(SCREEN)) $(if $(CODE),--code=$(CODE))
# What make e2e runs, as one batch (two QEMU at a time across the sets);
# E2E_README=README.md also writes the compatibility table into the README.
E2E_SETS    := scenarios scenarios-in-firmware scenarios-2025 secure-strictnx matrix
E2E_README  ?=
E2E_OPTIONS := --build-dir $(IMAGE_DIR) --notice-sim $(NOTICE_SIM) --notice-pack $(NOTICE_PACK) $(FIRMWARE_OPTION)

.PHONY: all deps build-log-note host-build host-tools host host-clang asan fuzz fuzz-long image image-quiet \
        firmware-checks e2e newer-ovmf style format layers test check run sign sign-usage preview clean fuzz-seeds

all: host-build image

deps:
	@scripts/install-deps.sh

# --- host: driver library, simulator, tests, tools ------------------------
# Each build folder is configured once; later builds re-run CMake by themselves
# when a CMakeLists.txt changes (configuring again by hand only draws warnings).
$(HOST_GCC)/build.ninja: | deps
	@$(STEP) "configuring the host build ($(HOST_GCC))" \
	  cmake -S . -B $(HOST_GCC) $(CMAKE_GEN) -DCMAKE_CXX_COMPILER=g++ -DNOTICE_WERROR=ON

host-build: $(HOST_GCC)/build.ninja
	cmake --build $(HOST_GCC) -j$(JOBS)

build-log-note:
	@echo "the build's output goes to $(BUILD_LOG)"

# The host tools alone (notice-pack, notice-sim, the demo pictures), quietly.
host-tools: $(HOST_GCC)/build.ninja
	@$(STEP) "building notice-pack, notice-sim and the demo pictures" \
	  cmake --build $(HOST_GCC) -j$(JOBS) --target $(HOST_TOOLS)

host: host-build
	ctest --test-dir $(HOST_GCC) --output-on-failure -j$(JOBS)

# With CMake's default generator (Unix Makefiles), so that the plain
# `cmake -S . -B DIR && cmake --build DIR` build is tested too; the other
# builds use Ninja.
host-clang: deps
	cmake -S . -B $(HOST_CLANG) -G "Unix Makefiles" -DCMAKE_CXX_COMPILER=clang++ -DNOTICE_WERROR=ON
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

# Rewrites the generated seed folders under fuzz/corpus/ (fuzz/corpus/README.md);
# the host tests check that the checked-in seeds are what the generator writes.
fuzz-seeds: $(HOST_GCC)/build.ninja
	cmake --build $(HOST_GCC) -j$(JOBS) --target fuzz-seeds
	$(HOST_GCC)/tools/fuzz-seeds/fuzz-seeds --out fuzz/corpus

# Not part of `make test`: every fuzz target for FUZZ_SECONDS each (say 1200),
# keeping what it finds in build/host-fuzz/fuzz-corpus/ for the next run;
# prints each target's executions and coverage. Then notice-insert's property
# test for FUZZ_SECONDS, keeping failing examples in the same folder.
fuzz-long: deps
	cmake -S . -B $(HOST_FUZZ) $(CMAKE_GEN) -DCMAKE_CXX_COMPILER=clang++ -DNOTICE_FUZZ=ON
	cmake --build $(HOST_FUZZ) -j$(JOBS)
	scripts/fuzz-smoke.sh --long $(HOST_FUZZ) $(FUZZ_SECONDS)
	$(SYSTEM_PYTHON) tools/notice-insert/fuzz_notice_insert.py --seconds $(FUZZ_SECONDS) \
	  --database $(HOST_FUZZ)/fuzz-corpus/notice-insert

# --- the driver image -------------------------------------------------------
$(IMAGE_DIR)/build.ninja: | deps
	@$(STEP) "configuring the image build ($(IMAGE_DIR))" \
	  cmake -S . -B $(IMAGE_DIR) $(CMAKE_GEN) -DCMAKE_TOOLCHAIN_FILE=cmake/efi-x64.cmake -DNOTICE_WERROR=ON

image: $(IMAGE_DIR)/build.ninja
	cmake --build $(IMAGE_DIR) -j$(JOBS)
	scripts/check-image.sh $(IMAGE_DIR)/notice.efi
	scripts/check-reproducible-image.sh $(IMAGE_DIR)
	python3 scripts/test_check_image.py $(IMAGE_DIR)/notice.efi
	python3 scripts/test_pack_image_headers.py $(IMAGE_DIR)/notice.efi

image-quiet: $(IMAGE_DIR)/build.ninja
	@$(STEP) "building the driver image and the test application" cmake --build $(IMAGE_DIR) -j$(JOBS)
	@$(STEP) "checking the driver image" scripts/check-image.sh $(IMAGE_DIR)/notice.efi

# --- real firmware ----------------------------------------------------------
# Packaging and image-builder checks: our volume and the patched OVMF images
# must parse with UEFIExtract and give back every file byte for byte; then
# notice-insert's property test on damaged OVMF images, INSERT_FUZZ_SECONDS;
# and notice-pack's flash-room warning must agree with notice-insert.
firmware-checks: host-build image
	python3 -m unittest discover -s e2e -p 'test_*.py'
	python3 -m unittest discover -s tools/notice-insert -p 'test_*.py'
	$(SYSTEM_PYTHON) tools/notice-insert/fuzz_notice_insert.py --seconds $(INSERT_FUZZ_SECONDS) --seed 1
	python3 -m unittest discover -s e2e/firmware -p 'test_*.py'
	python3 e2e/firmware/make_images.py --notice-pack $(NOTICE_PACK) --driver $(IMAGE_DIR)/notice.efi \
	  --out $(BUILD)/firmware
	python3 e2e/firmware/check_image.py --dir $(BUILD)/firmware --driver $(IMAGE_DIR)/notice.efi
	python3 e2e/firmware/check_flash_room.py --notice-pack $(NOTICE_PACK) --driver $(IMAGE_DIR)/notice.efi

# Every scenario twice (the driver loaded from disk by the test application,
# and dispatched from inside the firmware) on Debian 12's and Debian 13's
# OVMF, the Secure Boot ones on the strict-NX build too; each checked against
# the simulator on the same machine state. Then the compatibility matrix
# (OVMF 2022.11 and 2025.02, U-Boot: displays, resolutions, storage layouts
# and controllers, two displays, two volumes, two triggers), written to
# $(BUILD)/matrix.json and .md. One batch, two QEMU at a time; FIRMWARE=NAME
# boots every OVMF case on that build, each distinct run once (e2e/run.py --list).
# Last, each memory-protection probe where its finding shows (--lean: once where
# the firmware protects, once where it does not; 20 short runs).
e2e: host-build image newer-ovmf
	python3 e2e/run.py $(E2E_OPTIONS) $(foreach set,$(E2E_SETS),--set $(set)) \
	  --json $(BUILD)/matrix.json --table $(BUILD)/matrix.md $(if $(E2E_README),--update-readme $(E2E_README))
	python3 e2e/protection_probes.py --lean --build-dir $(IMAGE_DIR) --notice-pack $(NOTICE_PACK) \
	  --json $(BUILD)/protection-probes.json

# Debian 13's OVMF, unpacked into build/debian-firmware once (make deps fetches it too).
newer-ovmf:
	@scripts/fetch-newer-ovmf.sh

# The tree's one layout (.clang-format, pyproject.toml, .flake8): `make style`
# checks it, `make format` applies it.
style: deps
	@scripts/style.sh

format: deps
	@scripts/style.sh --fix

# Every include in the driver points to its own folder or a lower layer
# (scripts/check-layers.py holds the layers; CONTRIBUTING.md shows them).
layers:
	@python3 scripts/check-layers.py
	@python3 scripts/test_check_layers.py

# Each stage prints its name and wall time; the first failing stage stops the run.
TEST_STAGES := style layers host host-clang asan fuzz image firmware-checks e2e
test:
	@MAKE="$(MAKE)" scripts/run-stages.sh $(TEST_STAGES)

# The fast loop before a commit: the layout and layer checks, the host build
# and its unit tests, and the runner's own unit tests (no sanitizers, no firmware).
check: style layers host
	python3 -m unittest discover -s e2e -p 'test_*.py'
	python3 -m unittest discover -s tools/notice-insert -p 'test_*.py'

# Boots the firmware (FIRMWARE=NAME, an OVMF build, or CODE=IMAGE, your own code image) with the
# driver and the demo pictures (or PICTURES=DIR: notice1.bmp ... notice6.bmp) on a SCREEN=WxH display;
# leaves $(OUT)/screen.png and $(OUT)/console.log. Builds only what it runs.
run: build-log-note host-tools image-quiet
	@python3 e2e/make_run.py --build-dir $(IMAGE_DIR) --host-build $(HOST_GCC) --out $(OUT) $(RUN_OPTIONS)

# The same machine and pictures on the simulator alone, in virtual time.
preview: build-log-note host-tools
	@python3 e2e/make_run.py --preview --build-dir $(IMAGE_DIR) --host-build $(HOST_GCC) --out $(OUT) $(RUN_OPTIONS)

# The usage is checked before anything is built.
sign: $(if $(and $(KEY),$(CERT)),image,sign-usage)
	e2e/sign.sh $(KEY) $(CERT) $(IMAGE_DIR)/notice.efi $(IMAGE_DIR)/notice.signed.efi

sign-usage:
	@echo "usage: make sign KEY=key.pem CERT=cert.pem (the key and certificate to sign $(IMAGE_DIR)/notice.efi with)" >&2
	@exit 2

clean:
	rm -rf $(BUILD) $(OUT)
