# The two commands of the README. Each does all set-up on a fresh Debian
# machine (scripts/bootstrap installs what is missing).
.PHONY: all demo test bootstrap clean

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

clean:
	rm -rf build
