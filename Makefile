# The commands of the README. Each does all set-up on a fresh Debian
# machine (scripts/bootstrap installs what is missing). Also: `make dist`
# (the release files), `make fuzz` (each fuzz target for FUZZ_SECONDS) and
# `make bench` (the benchmarks, built optimised). LANGUAGE=de (or es, fr,
# pt_BR, zh_CN, en) makes the demo speak that language.
.PHONY: all demo demo-linux test fuzz bench bootstrap clean dist dist-test pot

JOBS ?= $(shell nproc)
LANGUAGE ?=
FUZZ_SECONDS ?= 60
BENCHES := $(notdir $(basename $(wildcard bench/*_bench.cpp)))

all: demo

bootstrap:
	scripts/bootstrap

demo: bootstrap
	cmake --preset linux >/dev/null
	cmake --build --preset linux -j $(JOBS) --target orvalin kelvosim
	scripts/demo --language "$(LANGUAGE)" build/linux

# The same session, spoken through a private speech-dispatcher.
demo-linux: bootstrap
	cmake --preset linux >/dev/null
	cmake --build --preset linux -j $(JOBS) --target orvalin kelvosim
	scripts/demo --speech-dispatcher --language "$(LANGUAGE)" build/linux

test: bootstrap
	scripts/test

# The message template from the code, merged into each translation.
pot:
	scripts/po_update

# The release files for Windows and Linux users, in dist/ (see README).
dist: bootstrap
	JOBS=$(JOBS) scripts/dist

# Checks dist/ under Wine in a fresh prefix, and the .deb; part of
# `make test`.
dist-test: dist
	python3 tests/dist/test_dist.py

fuzz: bootstrap
	FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) scripts/fuzz

# A benchmark that fails (SkipWithError) still exits 0; its JSON report
# says so.
bench: bootstrap
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS) --target orvalin kelvosim $(BENCHES)
	failed=0; for b in $(BENCHES); do \
	  ORVALIN_KELVOSIM=$(CURDIR)/build/release/tools/kelvosim/kelvosim \
	    build/release/bench/$$b --benchmark_out=build/release/bench/$$b.json \
	    || failed=1; \
	  if grep -q '"error_occurred": *true' build/release/bench/$$b.json; then \
	    echo "$$b: a benchmark reported an error"; failed=1; fi; \
	done; test $$failed = 0
	bench/startup.py --build build/release
	bench/stage.py --build build/release

clean:
	rm -rf build dist
