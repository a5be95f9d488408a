# Entry points; see README.md. Everything is built by CMake in build/<tree>.
SHELL := /bin/bash

BUILD        ?= build
JOBS         ?= 2
FUZZ_SECONDS ?= 60
CMAKE        ?= cmake

TREES := win host fuzz bench

CONFIGURE_win   := -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-x86_64.cmake
CONFIGURE_host  := -DOV_TREE=host
CONFIGURE_fuzz  := -DOV_TREE=fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
CONFIGURE_bench := -DOV_TREE=bench

.PHONY: all deps configure build test demo fuzz bench bench-callgrind clean

all: build

deps:
	@bash scripts/ensure-deps.sh

# A tree is configured once (its generated Makefile marks a complete
# configure); later builds re-run CMake by themselves when a CMakeLists.txt
# or cmake/*.cmake changes.
$(BUILD)/%/Makefile: | deps
	$(CMAKE) -S . -B $(BUILD)/$* $(CONFIGURE_$*)

configure: $(foreach t,$(TREES),$(BUILD)/$(t)/Makefile)

# Each tree's build runs its own make, not as a sub-make of this one (which
# would only add "Entering directory" noise; the parallelism is JOBS).
build: deps configure
	@set -e; for t in $(TREES); do \
	   echo "===== build: $$t"; start=$$SECONDS; \
	   env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL $(CMAKE) --build $(BUILD)/$$t --parallel $(JOBS); \
	   echo "===== build: $$t done in $$((SECONDS - start))s"; \
	done

test: build
	@JOBS=$(JOBS) bash scripts/run-tests.sh $(BUILD)

# The main job, shown: the DLL in a package taken through install, repair,
# uninstall and a rolled-back install under Wine, with what each custom
# action did (scripts/demo.sh). Needs only the Windows tree; a private X
# display lets the tray cleanup find its stand-in notification area.
demo: deps $(BUILD)/win/Makefile
	@env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL $(CMAKE) --build $(BUILD)/win --parallel $(JOBS) --target \
	   ovinstutil ov_test_service ov_test_driver ov_com_plain ov_sleeper stand_in_tray
	@bash scripts/with-xvfb.sh bash scripts/demo.sh $(BUILD)/win $(BUILD)/demo

fuzz: build
	@FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/fuzz.sh $(BUILD)/fuzz

bench: build
	$(BUILD)/bench/bench_core
	@$(MAKE) --no-print-directory bench-callgrind

# Instructions per formatted log line under callgrind: repeatable on a busy
# machine, where the timings above are not.
bench-callgrind: build
	bash bench/callgrind.sh $(BUILD)/bench/bench_core

clean:
	rm -rf $(BUILD)
