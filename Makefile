# The commands of the README. Each does all set-up on a fresh Debian
# machine (scripts/bootstrap installs what is missing).
.PHONY: all demo test bootstrap clean dist dist-test

JOBS ?= $(shell nproc)

all: demo

bootstrap:
	scripts/bootstrap

demo: bootstrap
	cmake --preset linux >/dev/null
	cmake --build --preset linux -j $(JOBS) --target orvalin kelvosim
	scripts/demo build/linux

test: bootstrap
	scripts/test

# The release files for Windows users, in dist/ (see README).
dist: bootstrap
	JOBS=$(JOBS) scripts/dist

# Checks dist/ under Wine in a fresh prefix; part of `make test`.
dist-test: dist
	python3 tests/dist/test_dist.py

clean:
	rm -rf build dist
