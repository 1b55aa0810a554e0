# The whole set-up: `make run` and `make test`; `make sanitize` for the
# memory and undefined-behaviour checks of the whole test suite, `make tsan`
# for the data-race check of the threaded tests.
BUILD_DIR ?= build
RELEASE_DIR ?= build-release
SANITIZE_DIR ?= build-sanitize
TSAN_DIR ?= build-tsan
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS ?= $(shell nproc)

# float-cast-overflow is part of clang's "undefined" but not of g++'s.
# The sanitizers slow the programs several times over, so a test that fails
# is run once more (some tests wait for a child process or the window's
# events with a time limit); a sanitizer report in any attempt fails the
# whole run all the same.
SANITIZE_FLAGS = -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=undefined,float-cast-overflow \
	-fno-omit-frame-pointer
SANITIZE_ENV = ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# ThreadSanitizer for the tests that start threads; tsan.supp says which
# reports are left out, and why.
TSAN_FLAGS = -fsanitize=thread -fno-omit-frame-pointer
TSAN_ENV = TSAN_OPTIONS="suppressions=$(CURDIR)/tsan.supp halt_on_error=1 second_deadlock_stack=1"

# libFuzzer with the same sanitizers; the fuzz programs only, built by clang.
FUZZ_FLAGS = -fsanitize=fuzzer-no-link,address,undefined,float-cast-overflow \
	-fno-sanitize-recover=undefined,float-cast-overflow -fno-omit-frame-pointer

.PHONY: deps test run build release install package sanitize tsan fuzz

deps:
	./scripts/install-deps

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

release: deps
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release
	cmake --build $(RELEASE_DIR) -j $(JOBS)

run: release
	./$(RELEASE_DIR)/app/phrasemill

# Installs the Release build under PREFIX (default /usr/local); DESTDIR works
# as usual for staged installs.
PREFIX ?= /usr/local
install: release
	cmake --install $(RELEASE_DIR) --prefix $(PREFIX)

# A Debian package of the Release build, in $(RELEASE_DIR).
package: release
	cd $(RELEASE_DIR) && cpack -G DEB

# The whole test suite under AddressSanitizer (leak checking on) and
# UndefinedBehaviorSanitizer: the first report fails its test.
sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_CXX_FLAGS="$(SANITIZE_FLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(SANITIZE_FLAGS)"
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	cd $(SANITIZE_DIR) && QT_QPA_PLATFORM=offscreen $(SANITIZE_ENV) ctest --output-on-failure -j $(JOBS) \
		--repeat until-pass:2 --output-log sanitize-tests.log
	! grep -E "ERROR: (Address|Leak)Sanitizer|runtime error:" $(SANITIZE_DIR)/sanitize-tests.log

# The tests labelled "threads" (see tests/CMakeLists.txt) under
# ThreadSanitizer; only their programs are built.
tsan: deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_CXX_FLAGS="$(TSAN_FLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(TSAN_FLAGS)"
	cmake --build $(TSAN_DIR) -j $(JOBS) --target threaded_tests
	cd $(TSAN_DIR) && QT_QPA_PLATFORM=offscreen $(TSAN_ENV) ctest --output-on-failure -j $(JOBS) -L threads

# Every fuzz target for FUZZ_SECONDS each (see fuzz/run-fuzzers).
fuzz:
	./scripts/install-deps clang libclang-rt-14-dev
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
		-DPHRASEMILL_GUI=OFF -DPHRASEMILL_TESTS=OFF -DPHRASEMILL_BENCHMARKS=OFF -DPHRASEMILL_FUZZ=ON \
		-DCMAKE_CXX_FLAGS="$(FUZZ_FLAGS)"
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ./fuzz/run-fuzzers $(FUZZ_DIR) $(FUZZ_SECONDS)
