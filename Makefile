# Front door: `make test` and `make demo` install what they need, build and run.
BUILD ?= build
JOBS  ?= $(shell nproc)

FUZZ_SECONDS ?= 300

.PHONY: test deps native-build native-test tsan-test cross-deps win-test fuzz-build fuzz-test fuzz bench release package deb dist try-tools try demo pictures i686-image i686-test clean

test: deps i686-image native-test tsan-test win-test fuzz-test deb dist i686-test

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
	cmake --build $(BUILD)/tsan -j$(JOBS) --target shell_tests shell_run_tests faults_tests uninstall_run_tests pkgtree
	scripts/tsan-test.sh $(BUILD)/tsan

# The route of the Windows tests, decided once: i686 where the kernel runs
# 32-bit programs (the build as it ships, under 32-bit Wine), else x86_64 (the
# same sources under 64-bit Wine). scripts/windows-arch.sh asks the kernel by
# running a tiny 32-bit program from the build folder; WIN_ARCH=i686 or
# WIN_ARCH=x86_64 on the command line or in the environment overrides it.
ifneq ($(filter-out clean,$(or $(MAKECMDGOALS),test)),)
ifeq ($(origin WIN_ARCH),undefined)
WIN_ARCH := $(shell scripts/windows-arch.sh $(BUILD))
endif
ifeq ($(filter i686 x86_64,$(WIN_ARCH)),)
$(error WIN_ARCH is "$(WIN_ARCH)": i686 or x86_64 (scripts/windows-arch.sh $(BUILD) says which this machine runs))
endif
endif
export WIN_ARCH
WIN_TEST_DIR := $(BUILD)/$(if $(filter i686,$(WIN_ARCH)),win32,win64)

cross-deps:
	@scripts/install-cross-deps.sh $(WIN_TEST_DIR) $(WIN_ARCH)

# The Windows programs, cross-built, and their tests under Wine: the bench
# (Xvfb and a throwaway prefix) is stopped at the end, also when a test fails.
# The native pkgtree makes the demo package the end-to-end cases install.
win-test: cross-deps native-build
	@note=$$(scripts/windows-arch.sh --note $(WIN_ARCH)); [ -z "$$note" ] || echo "win-test: $$note"
	cmake -S . -B $(WIN_TEST_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$(WIN_ARCH).cmake -DCMAKE_BUILD_TYPE=Debug \
	  -DSETUP_NATIVE_PKGTREE=$(abspath $(BUILD)/native/bin/pkgtree) >/dev/null
	cmake --build $(WIN_TEST_DIR) -j$(JOBS)
	scripts/wine-session.sh run $(WIN_TEST_DIR)/wine-session $(WIN_ARCH) ctest --test-dir $(WIN_TEST_DIR) --output-on-failure -j$(JOBS)

# libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer):
# `make test` gives each 30 seconds over the committed corpus, `make fuzz` longer.
fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSETUP_FUZZ=ON -DSETUP_BUILD_TESTS=OFF >/dev/null
	cmake --build $(BUILD)/fuzz -j$(JOBS) --target fuzz_expand fuzz_merge fuzz_env fuzz_inf fuzz_tree fuzz_manifest fuzz_unpack

fuzz-test: fuzz-build
	scripts/fuzz.sh $(BUILD)/fuzz 30

fuzz: fuzz-build
	scripts/fuzz.sh $(BUILD)/fuzz $(FUZZ_SECONDS)

# The installer against the alternatives on a real GCC package (the i686
# cross toolchain): natively pkgtree expand against the pure libbzip2 decode;
# under Wine setup.exe against pkgtree.exe and a solid bzip2 installer made by
# makensis (installed for the bench only), silent and showing each file, the
# one-file package's unpacking against its install (at most 10 %), and 10 000
# small files. The Windows programs are built optimised, as they ship, apart
# from the Debug test build, for the route of WIN_ARCH: i686 under 32-bit Wine, or where the kernel runs
# no 32-bit programs x86_64 under 64-bit Wine against a 64-bit peer. Always on
# this machine's own Wine: emulated timings are not speed.
BENCH_WIN_DIR = $(BUILD)/$(if $(filter i686,$(WIN_ARCH)),win32-bench,win64-bench)
bench: deps
	@scripts/bench-under-wine.sh --route $(WIN_ARCH) $(BUILD)
	@scripts/install-cross-deps.sh $(BENCH_WIN_DIR) $(WIN_ARCH)
	cmake -S . -B $(BUILD)/bench -DCMAKE_BUILD_TYPE=Release -DSETUP_BUILD_BENCH=ON -DSETUP_BUILD_TESTS=OFF >/dev/null
	cmake --build $(BUILD)/bench -j$(JOBS)
	scripts/bench.sh $(BUILD)/bench
	cmake -S . -B $(BENCH_WIN_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$(WIN_ARCH).cmake -DCMAKE_BUILD_TYPE=Release \
	  -DSETUP_NATIVE_PKGTREE=$(abspath $(BUILD)/bench/bin/pkgtree) >/dev/null
	cmake --build $(BENCH_WIN_DIR) -j$(JOBS) --target setup pkgtree robot progman_standin unpacker
	scripts/bench-under-wine.sh $(BENCH_WIN_DIR) $(BUILD)/bench/bin/pkgtree $(BUILD)/bench/bench-data/plain \
	  $(BUILD)/bench/bench-data/package $(BUILD)/bench/wine

# The programs as they ship, optimised, their build output in a log shown
# only on failure: setup.exe, uninstall.exe and pkgtree.exe cross-built (their
# application manifests read back and checked), and the native pkgtree
# installed with those two (the .deb's contents).
VERSION := $(shell grep -m1 '^project' CMakeLists.txt | grep -o 'VERSION [0-9.]*' | cut -d' ' -f2)
QUIET = scripts/quietly.sh $(BUILD)/release.log

release:
	@scripts/install-deps.sh --build-only
	@scripts/install-cross-deps.sh --build-only $(BUILD)/win32-release
	@rm -f $(BUILD)/release.log
	@$(QUIET) cmake -S . -B $(BUILD)/win32-release -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DSETUP_BUILD_TESTS=OFF
	@$(QUIET) cmake --build $(BUILD)/win32-release -j$(JOBS) --target setup pkgtree uninstall unpacker
	@tests/win32/application_manifest.sh i686-w64-mingw32-windres $(BUILD)/win32-release/bin
	@$(QUIET) cmake -S . -B $(BUILD)/release -DCMAKE_BUILD_TYPE=Release -DSETUP_BUILD_TESTS=OFF \
	  -DSETUP_WINDOWS_SETUP_EXE=$(abspath $(BUILD)/win32-release/bin/setup.exe)
	@$(QUIET) cmake --build $(BUILD)/release -j$(JOBS)

# A package ready to ship (docs/making-packages.md):
# `pkgtree package` of the release build; its arguments are looked at first.
# UNINSTALLER=1 makes the package carry uninstall.exe (--uninstaller);
# SIGN=COMMAND signs its setup.exe and uninstall.exe (--sign COMMAND, "{}" for
# the file), passed on through the environment, never through make's own lines;
# ONE_FILE=1 makes OUT one program to ship (--one-file), signed last with SIGN.
export SIGN
package:
	@if [ -z "$(PLAIN)" ] || [ -z "$(ENV)" ] || [ -z "$(INF)" ] || [ -z "$(OUT)" ]; then \
	  echo "usage: make package PLAIN=DIR ENV=FILE INF=FILE OUT=DIR|FILE.exe [UNINSTALLER=1] [SIGN=COMMAND] [ONE_FILE=1]" >&2; exit 2; fi
	@[ -d "$(PLAIN)" ] || { echo "make package: PLAIN=$(PLAIN) is not a folder" >&2; exit 1; }
	@for f in "$(ENV)" "$(INF)"; do [ -f "$$f" ] || { echo "make package: $$f is not a file" >&2; exit 1; }; done
	@$(MAKE) --no-print-directory release
	$(BUILD)/release/bin/pkgtree package --setup $(BUILD)/win32-release/bin/setup.exe \
	  $(if $(filter-out 0,$(UNINSTALLER)),--uninstaller) $(if $(filter-out 0,$(ONE_FILE)),--one-file) \
	  $(if $(SIGN),--sign "$$SIGN") "$(PLAIN)" "$(ENV)" "$(INF)" "$(OUT)"

# The Debian package of the native programs (CPack), its dependencies from
# dpkg-shlibdeps, then lintian on it: any error fails.
deb: release
	@scripts/install-deps.sh --deb
	@$(QUIET) cpack --config $(BUILD)/release/CPackConfig.cmake -B $(abspath $(BUILD))
	@rm -rf $(BUILD)/_CPack_Packages
	lintian --fail-on error --tag-display-limit 0 $(BUILD)/gcc-setup_$(VERSION)_amd64.deb
	@echo "deb: $(BUILD)/gcc-setup_$(VERSION)_amd64.deb"

# For package makers on Windows: pkgtree.exe, setup.exe and uninstall.exe side by side.
dist: release
	@$(QUIET) cpack --config $(BUILD)/win32-release/CPackConfig.cmake -B $(abspath $(BUILD))
	@rm -rf $(BUILD)/_CPack_Packages
	@echo "dist: $(BUILD)/gcc-setup-$(VERSION)-win32.zip"

# Any package folder, or one-file package, installed under Wine as a user
# would (docs/making-packages.md), by the Release robot and
# Program Manager stand-in; the prefix is kept for a look inside.
ifneq ($(filter try,$(MAKECMDGOALS)),)
ifeq ($(PACKAGE)$(FILE),)
$(error usage: make try PACKAGE=DIR | make try FILE=FILE.exe)
endif
endif
# Where the kernel runs no 32-bit programs, the tools are built for x86_64 with
# a setup.exe that try.sh runs in place of the package's own (and an
# uninstall.exe that the demo runs in place of the installed one), and an
# unpacker that try.sh puts before a one file's archive in place of its own.
TRY_DIR = $(WIN_TEST_DIR)-try
try-tools: deps
	@scripts/install-cross-deps.sh $(TRY_DIR) $(WIN_ARCH)
	cmake -S . -B $(TRY_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-$(WIN_ARCH).cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(TRY_DIR) -j$(JOBS) --target robot progman_standin $(if $(filter i686,$(WIN_ARCH)),,setup uninstall unpacker)

try: try-tools
	scripts/try.sh $(WIN_ARCH) $(TRY_DIR)/bin "$(or $(FILE),$(PACKAGE))" $(BUILD)/try

# The demo: its compiler built from the tcc source, the package made by
# `make package UNINSTALLER=1 ONE_FILE=1 SIGN=...` as a maintainer makes one,
# one signed file (signed with a throwaway test certificate), its signature
# verified, `make try FILE=` on it (the unpacker's window pictured too), then
# a log off, a compile in a console and the removal by uninstall.exe /S (see
# docs/testing.md).
DEMO_FILE = $(BUILD)/demo/gcc-demo.exe
DEMO_CERTIFICATE = $(abspath $(BUILD)/demo/test-certificate)
demo: try-tools
	scripts/build-tcc.sh $(BUILD)/tcc $(WIN_ARCH)
	tests/e2e/make-demo-package.sh --layout $(BUILD)/tcc/tree $(BUILD)/demo
	scripts/test-certificate.sh $(DEMO_CERTIFICATE)
	$(MAKE) --no-print-directory package PLAIN=$(BUILD)/demo/plain ENV=$(BUILD)/demo/env \
	  INF=$(BUILD)/demo/inf OUT=$(DEMO_FILE) UNINSTALLER=1 ONE_FILE=1 \
	  SIGN='$(abspath scripts/test-certificate.sh) --sign $(DEMO_CERTIFICATE) {}'
	osslsigncode verify -CAfile $(DEMO_CERTIFICATE)/test-ca.pem $(DEMO_FILE)
	scripts/try.sh $(WIN_ARCH) $(TRY_DIR)/bin $(DEMO_FILE) $(BUILD)/demo/run scripts/demo.sh

# The README's pictures: the demo's headless run (no DISPLAY, so the robot
# drives the wizard and each page is pictured), its pictures copied into docs/
# without their dates, so that a page drawn the same gives the same file.
# Each of PICTURES must be made.
PICTURES = 0-unpacking 1-licence 2-folder 3-installing 4-finished 5-compiled
DEMO_RUN = $(BUILD)/demo/run
pictures:
	@rm -f $(DEMO_RUN)/*.png
	env -u DISPLAY -u XAUTHORITY $(MAKE) --no-print-directory demo
	@for p in $(PICTURES); do [ -s $(DEMO_RUN)/$$p.png ] || \
	  { echo "make pictures: the demo made no $$p.png in $(DEMO_RUN)" >&2; exit 1; }; done
	@. scripts/imagemagick.sh && convert=$$(imagemagick convert) && \
	for p in $(PICTURES); do "$$convert" $(DEMO_RUN)/$$p.png -strip docs/$$p.png && echo "docs/$$p.png" || exit 1; done

# The 32-bit programs as they ship (the Release setup.exe, uninstall.exe and pkgtree.exe,
# the demo's compiler built for i686, an i686 Release robot and Program
# Manager stand-in; the package with uninstall.exe signed with a throwaway
# test certificate), run by tests/e2e/i686_cases.sh: under this machine's
# 32-bit Wine on the i686 route, in an emulated machine whose kernel runs
# 32-bit code on the x86_64 route (scripts/i686-stage.sh, scripts/guest).
# On the x86_64 route `make test` has the emulated machine's disks made from
# its start, in the background at the lowest priority (mostly downloads);
# i686-test waits for them and then makes the prefix in the guest.
I686_DIR = $(BUILD)/i686
I686_TOOLS = $(BUILD)/win32-try
i686-image: deps
ifeq ($(WIN_ARCH),x86_64)
	@scripts/install-cross-deps.sh $(I686_TOOLS) $(WIN_ARCH) --guest
	@scripts/guest/image.sh --background $$PPID
endif

i686-test: deps i686-image
	@scripts/install-cross-deps.sh $(I686_TOOLS) $(WIN_ARCH) --guest
	cmake -S . -B $(I686_TOOLS) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(I686_TOOLS) -j$(JOBS) --target robot progman_standin
	scripts/build-tcc.sh $(I686_DIR)/tcc i686
	tests/e2e/make-demo-package.sh --layout $(I686_DIR)/tcc/tree $(I686_DIR)/demo
	$(MAKE) --no-print-directory package PLAIN=$(I686_DIR)/demo/plain ENV=$(I686_DIR)/demo/env \
	  INF=$(I686_DIR)/demo/inf OUT=$(I686_DIR)/demo/package
	scripts/test-certificate.sh $(I686_DIR)/certificate
	$(MAKE) --no-print-directory package PLAIN=$(I686_DIR)/demo/plain ENV=$(I686_DIR)/demo/env \
	  INF=$(I686_DIR)/demo/inf OUT=$(I686_DIR)/demo/uninstaller-package UNINSTALLER=1 \
	  SIGN='$(CURDIR)/scripts/test-certificate.sh --sign $(abspath $(I686_DIR)/certificate) {}'
	scripts/i686-stage.sh $(WIN_ARCH) $(BUILD)/win32-release/bin $(I686_TOOLS)/bin $(I686_DIR)/demo $(I686_DIR)/run

clean:
	rm -rf $(BUILD)
	@echo "The emulated machine of i686-test is cached in $$(scripts/guest/image.sh --where); rm -rf it to remove it."
