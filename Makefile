# Front door: `make test` and `make demo` install what they need, build and run.
BUILD ?= build
JOBS  ?= $(shell nproc)

FUZZ_SECONDS ?= 300

.PHONY: test deps native-build native-test tsan-test cross-deps win-test fuzz-build fuzz-test fuzz bench package try-tools try demo clean

test: deps native-test tsan-test win-test fuzz-test

deps:
	@scripts/install-deps.sh

# Our tests run under AddressSanitizer and UndefinedBehaviorSanitizer.
native-build: deps
	cmake -S . -B $(BUILD)/native -DCMAKE_BUILD_TYPE=Debug -DSETUP_SANITIZE=ON >/dev/null
	cmake --build $(BUILD)/native -j$(JOBS)

native-test: native-build
	ctest --test-dir $(BUILD)/native --output-on-failure -j$(JOBS)

# ThreadSanitizer over the runs that start threads; only their programs are built.
tsan-test: deps
	cmake -S . -B $(BUILD)/tsan -DCMAKE_BUILD_TYPE=Debug -DSETUP_TSAN=ON >/dev/null
	cmake --build $(BUILD)/tsan -j$(JOBS) --target shell_tests shell_run_tests faults_tests pkgtree
	scripts/tsan-test.sh $(BUILD)/tsan

cross-deps:
	@scripts/install-cross-deps.sh $(BUILD)/win32

# The Windows programs, cross-built, and their tests under Wine: the bench
# (Xvfb and a throwaway prefix) is stopped at the end, also when a test fails.
# The native pkgtree makes the demo package the end-to-end cases install.
win-test: cross-deps native-build
	cmake -S . -B $(BUILD)/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Debug \
	  -DSETUP_NATIVE_PKGTREE=$(abspath $(BUILD)/native/bin/pkgtree) >/dev/null
	cmake --build $(BUILD)/win32 -j$(JOBS)
	scripts/wine-bench.sh run $(BUILD)/win32/wine-bench ctest --test-dir $(BUILD)/win32 --output-on-failure -j$(JOBS)

# libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer):
# `make test` gives each 30 seconds over the committed corpus, `make fuzz` longer.
fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSETUP_FUZZ=ON -DSETUP_BUILD_TESTS=OFF >/dev/null
	cmake --build $(BUILD)/fuzz -j$(JOBS) --target fuzz_expand fuzz_merge fuzz_env fuzz_inf

fuzz-test: fuzz-build
	scripts/fuzz.sh $(BUILD)/fuzz 30

fuzz: fuzz-build
	scripts/fuzz.sh $(BUILD)/fuzz $(FUZZ_SECONDS)

# The installer against the alternatives on a real GCC package (the i686
# cross toolchain): natively pkgtree expand against the pure libbzip2 decode;
# under Wine setup.exe against pkgtree.exe and a solid bzip2 installer made by
# makensis (installed for the bench only), and 10 000 small files. The Windows
# programs are built optimised, as they ship, apart from the Debug test build.
bench: deps
	@scripts/install-cross-deps.sh $(BUILD)/win32-bench
	cmake -S . -B $(BUILD)/bench -DCMAKE_BUILD_TYPE=Release -DSETUP_BUILD_BENCH=ON -DSETUP_BUILD_TESTS=OFF >/dev/null
	cmake --build $(BUILD)/bench -j$(JOBS)
	scripts/bench.sh $(BUILD)/bench
	cmake -S . -B $(BUILD)/win32-bench -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DSETUP_NATIVE_PKGTREE=$(abspath $(BUILD)/bench/bin/pkgtree) >/dev/null
	cmake --build $(BUILD)/win32-bench -j$(JOBS) --target setup pkgtree robot progman_standin
	scripts/bench-wine.sh $(BUILD)/win32-bench $(BUILD)/bench/bin/pkgtree $(BUILD)/bench/bench-data/plain \
	  $(BUILD)/bench/bench-data/package $(BUILD)/bench/wine

# A package ready to ship (README.md, "Making and shipping a package"): the
# optimised setup.exe and pkgtree, PLAIN compressed into OUT/source on every
# core, env and inf beside it, then verified and checked.
package: deps
	@if [ -z "$(PLAIN)" ] || [ -z "$(ENV)" ] || [ -z "$(INF)" ] || [ -z "$(OUT)" ]; then \
	  echo "usage: make package PLAIN=DIR ENV=FILE INF=FILE OUT=DIR" >&2; exit 2; fi
	@scripts/install-cross-deps.sh $(BUILD)/win32-release
	cmake -S . -B $(BUILD)/release -DCMAKE_BUILD_TYPE=Release -DSETUP_BUILD_TESTS=OFF >/dev/null
	cmake --build $(BUILD)/release -j$(JOBS) --target pkgtree
	cmake -S . -B $(BUILD)/win32-release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DSETUP_BUILD_TESTS=OFF >/dev/null
	cmake --build $(BUILD)/win32-release -j$(JOBS) --target setup
	scripts/make-package.sh $(BUILD)/release/bin/pkgtree $(BUILD)/win32-release/bin/setup.exe \
	  "$(PLAIN)" "$(ENV)" "$(INF)" "$(OUT)"

# Any package folder installed under Wine as a user would (README.md,
# "Making and shipping a package"), by the Release robot and Program Manager
# stand-in; the prefix is kept for a look inside.
ifneq ($(filter try,$(MAKECMDGOALS)),)
ifeq ($(PACKAGE),)
$(error usage: make try PACKAGE=DIR)
endif
endif
try-tools: deps
	@scripts/install-cross-deps.sh $(BUILD)/win32-try
	cmake -S . -B $(BUILD)/win32-try -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD)/win32-try -j$(JOBS) --target robot progman_standin

try: try-tools
	scripts/try.sh $(BUILD)/win32-try/bin "$(PACKAGE)" $(BUILD)/try

# The demo: its compiler built from the tcc source, the package made by
# `make package` as a maintainer makes one, `make try` on it, then a log off
# and a compile in a console (see README.md).
demo: try-tools
	scripts/build-tcc.sh $(BUILD)/tcc
	tests/e2e/make-demo-package.sh --layout $(BUILD)/tcc/tree $(BUILD)/demo
	$(MAKE) --no-print-directory package PLAIN=$(BUILD)/demo/plain ENV=$(BUILD)/demo/env \
	  INF=$(BUILD)/demo/inf OUT=$(BUILD)/demo/package
	scripts/try.sh $(BUILD)/win32-try/bin $(BUILD)/demo/package $(BUILD)/demo/run scripts/demo.sh

clean:
	rm -rf $(BUILD)
