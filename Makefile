# Two entry points: `make run` and `make test`. Both install what is missing
# first, so they work on a fresh Debian 12 machine.

JOBS      ?= $(shell nproc)
BUILD     ?= build
RELEASE   := $(BUILD)/release
TESTTREE  := $(BUILD)/test
FUZZTREE  := $(BUILD)/fuzz
FUZZ_SECONDS ?= 5

.PHONY: all deps run test build-release build-test build-fuzz unit fuzz clean

all: build-release

deps:
	@bash tools/install-deps.sh

build-release: deps
	cmake -S . -B $(RELEASE) -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build $(RELEASE) -j $(JOBS)

run: build-release
	bash tools/run.sh $(RELEASE)

# Figures of the renderer on the sample documents (release build).
.PHONY: bench
bench: build-release
	ZQ_BINARY_DIR=$(CURDIR)/$(RELEASE) ZQ_SOURCE_DIR=$(CURDIR) $(RELEASE)/bin/render_bench
	ZQ_BINARY_DIR=$(CURDIR)/$(RELEASE) ZQ_SOURCE_DIR=$(CURDIR) $(RELEASE)/bin/road_bench
	$(RELEASE)/bin/control_records_bench
	$(RELEASE)/bin/font_bench
	$(RELEASE)/bin/settings_bench
	ZQ_BINARY_DIR=$(CURDIR)/$(RELEASE) ZQ_SOURCE_DIR=$(CURDIR) $(RELEASE)/bin/postinst_bench
	$(RELEASE)/bin/user_bench

build-test: deps
	cmake -S . -B $(TESTTREE) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZQ_SANITIZE=ON -DZQ_WERROR=ON
	cmake --build $(TESTTREE) -j $(JOBS)

build-fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZTREE) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZQ_FUZZ=ON
	cmake --build $(FUZZTREE) -j $(JOBS) --target fuzzers

# LeakSanitizer's stop-the-world tracer now and then crashes at a test
# program's exit after every test passed ("Tracer caught signal 11"): a
# fault of the sanitizer's runtime, not of the program. When that is what
# failed, the failed programs run once more; any other failure stands.
unit: build-test
	cd $(TESTTREE) && { ctest --output-on-failure -j $(JOBS) || { \
	    grep -q "LeakSanitizer has encountered a fatal error" Testing/Temporary/LastTest.log && \
	    echo "the leak checker itself crashed; running the failed test programs again" && \
	    ctest --output-on-failure --rerun-failed; }; }

fuzz: build-fuzz
	bash tools/run-fuzzers.sh $(FUZZTREE) $(FUZZ_SECONDS)

test: unit fuzz

clean:
	rm -rf $(BUILD)
