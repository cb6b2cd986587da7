# make build: .venv with pinned tools, table generator, tables, module installed into .venv
# make test:  build, then the whole test suite
# make demo:  build, then the equity demo (pure Python, then the tavrix-equity command)
# make bench: build, then the scoring, equity, indexing and hand-strength benchmarks
# make bench-buckets: build, then the indexing benchmark and emd_kmeans on the flop table's shape
# make strength-tables: build, then the hand-strength tables of every round, timed
# make check-deep: build, then the hardening checks (sanitizers, long fuzzing, threads,
#             out of memory, matrix faults, valgrind); about 20 minutes
# make wheel: the tavrix-equity wheel in dist/, repaired to a manylinux tag and checked
SHELL := /bin/bash
VENV := .venv
PY := $(VENV)/bin/python
PIP := PIP_ROOT_USER_ACTION=ignore $(PY) -m pip --disable-pip-version-check --no-input -q
DEPS_STAMP := $(VENV)/.deps-installed
MODULE_STAMP := $(VENV)/.tavrix-installed
SOURCES := CMakeLists.txt pyproject.toml $(shell find src generator tests/cpp bench -name "*.[ch]pp" -o -name "*.map" -o -name CMakeLists.txt 2>/dev/null) \
           $(shell find python -type f -not -path "*/__pycache__/*" 2>/dev/null)
SOURCES += $(wildcard tavrix-stubs/*.pyi)
TABLES := tables/h_eval_rank_table.dat tables/h_eval_flush_table.dat tables/h_eval_offsets.dat
# A second copy of the module whose table directory is a scratch folder, so tests
# can feed it crafted table files without touching tables/.
SCRATCH := build/scratch
SCRATCH_STAMP := $(SCRATCH)/.built
# make build keeps the tables in the tree; a plain pip install puts them into
# the environment it installs into.
IN_TREE_TABLES := -C cmake.define.TAVRIX_TABLE_DIR=$(abspath tables)
# The project's own builds treat warnings as errors; a user's pip install does not.
WERROR := -C cmake.define.TAVRIX_WERROR=ON

.PHONY: build test demo bench bench-buckets bench-matrix matrix strength-tables clean check-deep wheel FORCE

build: $(MODULE_STAMP)

$(DEPS_STAMP): requirements-dev.txt scripts/find-python
	@python=$$(scripts/find-python) || exit 1; \
	if [ ! -x $(PY) ]; then echo "creating $(VENV) with $$python"; "$$python" -m venv $(VENV) || exit 1; fi
	$(PIP) install -r requirements-dev.txt
	@touch $@

# Rebuild when a source changes or when a table file has gone missing.
$(MODULE_STAMP): $(DEPS_STAMP) $(SOURCES) $(if $(wildcard $(TABLES)),,FORCE)
	$(PIP) install --no-deps --no-build-isolation --force-reinstall $(IN_TREE_TABLES) $(WERROR) .
	@touch $@

$(SCRATCH_STAMP): $(DEPS_STAMP) $(SOURCES)
	$(VENV)/bin/cmake -S . -B $(SCRATCH) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	    -DTAVRIX_GENERATE_TABLES=OFF -DTAVRIX_TABLE_DIR=$(abspath $(SCRATCH))/tables \
	    -DTAVRIX_EMBED_TABLES=OFF -DTAVRIX_WERROR=ON -DPython_EXECUTABLE=$(abspath $(PY)) > /dev/null
	$(VENV)/bin/cmake --build $(SCRATCH) --target tavrix _engine tavrix_core_tests > /dev/null
	@touch $@

# C++ engine tests and benchmarks, reading the real tables in tables/.
NATIVE := build/native
NATIVE_STAMP := $(NATIVE)/.built

$(NATIVE_STAMP): $(MODULE_STAMP)
	$(VENV)/bin/cmake -S . -B $(NATIVE) -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) \
	    -DTAVRIX_GENERATE_TABLES=OFF -DTAVRIX_WERROR=ON -DPython_EXECUTABLE=$(abspath $(PY)) > /dev/null
	$(VENV)/bin/cmake --build $(NATIVE) --target tavrix_engine_tests tavrix_omaha_tests tavrix_sweep_tests tavrix_score_bench tavrix_equity_bench tavrix_omaha_bench tavrix_sweep_bench tavrix_indexer_bench > /dev/null
	@touch $@

# The tavrix-equity wheel: built by the standard frontend in its isolated
# environment (tavrix-equity/pyproject.toml), repaired to a manylinux tag,
# then checked: tags, contents, no path of this machine. make wheel prints
# its name and size.
WHEEL_BUILD := build/wheel
WHEEL_STAMP := $(WHEEL_BUILD)/.built

$(WHEEL_STAMP): $(DEPS_STAMP) $(SOURCES) $(wildcard tavrix-equity/*) scripts/check_wheel.py
	rm -rf $(WHEEL_BUILD) dist/tavrix_equity-*.whl
	mkdir -p $(WHEEL_BUILD)
	$(PY) -m build --wheel --outdir $(WHEEL_BUILD) $(WERROR) tavrix-equity > $(WHEEL_BUILD)/build.log 2>&1 \
	    || { tail -n 40 $(WHEEL_BUILD)/build.log; exit 1; }
	PATH=$(abspath $(VENV)/bin):$$PATH auditwheel repair --wheel-dir dist $(WHEEL_BUILD)/tavrix_equity-*.whl > $(WHEEL_BUILD)/repair.log 2>&1 \
	    || { cat $(WHEEL_BUILD)/repair.log; exit 1; }
	@touch $@

wheel: $(WHEEL_STAMP)
	$(PY) scripts/check_wheel.py dist/tavrix_equity-*.whl

test: build $(SCRATCH_STAMP) $(NATIVE_STAMP) wheel
	$(PY) -m mypy --strict examples/ python/tavrix_equity
	TAVRIX_SCRATCH_MODULE_DIR=$(abspath $(SCRATCH)) TAVRIX_NATIVE_DIR=$(abspath $(NATIVE)) $(PY) -m pytest -q -n 2 --dist loadgroup tests

# The pure-Python example, then the same job through the tavrix-equity command.
demo: build
	$(PY) examples/equity.py
	@echo
	$(VENV)/bin/tavrix-equity AsKs QhQd

# eval7 and phevaluator are references in the benchmarks only, never dependencies.
BENCH_STAMP := $(VENV)/.bench-deps-installed
$(BENCH_STAMP): $(DEPS_STAMP) Makefile
	$(PIP) install eval7==0.1.11 phevaluator==0.6.0
	@touch $@

# Throughput: the C++ core and engine alone, then the Python entry points side
# by side with their references, the board sweep beside the deal-by-deal path,
# deal_cards beside plain numpy deals, Omaha, and the preflop matrix (about 15
# minutes on a loaded 2-core machine).
bench: build $(NATIVE_STAMP) $(BENCH_STAMP)
	$(NATIVE)/tavrix_score_bench
	$(PY) bench/bench_scoring.py
	$(NATIVE)/tavrix_equity_bench
	$(NATIVE)/tavrix_sweep_bench
	$(PY) bench/bench_equity.py
	$(PY) bench/bench_deal.py
	$(NATIVE)/tavrix_omaha_bench
	$(PY) bench/bench_omaha.py
	$(PY) bench/bench_range_reading.py
	$(PY) bench/bench_sweep.py
	$(PY) bench/bench_matrix.py --speedup --dask --full
	$(NATIVE)/tavrix_indexer_bench
	$(PY) bench/bench_buckets.py
	$(PY) bench/bench_strength.py

# emd_kmeans on the flop table's shape (1,286,792 x 50 into 200 clusters),
# median of 5 runs: a few minutes.
bench-buckets: build
	$(PY) bench/bench_buckets.py --kmeans

# The preflop matrix alone: speed-ups of 2 local workers and of a 2-worker
# Dask LocalCluster over 1 on all 169 classes (make bench runs these too).
bench-matrix: build
	$(PY) bench/bench_matrix.py --speedup --dask

matrix: build
	$(PY) bench/bench_matrix.py --full --out build/preflop_matrix.npy

# The hand-strength tables of every round on 2 local workers, each timed
# (22 GB of disk in build/strength: the turn histograms take 11 GB, the river table 9.7 GB).
STRENGTH_OUT := build/strength
strength-tables: build
	mkdir -p $(STRENGTH_OUT)
	for round in preflop flop turn river; do \
	    $(VENV)/bin/tavrix-equity strength $$round --out $(STRENGTH_OUT) --workers 2 \
	        --checkpoint $(STRENGTH_OUT)/$$round.checkpoint || exit 1; \
	done

clean:
	rm -rf build tables $(VENV)

FORCE:

# The sanitizer run: both extensions, the scratch copy and the C++ tests built
# with AddressSanitizer and UndefinedBehaviorSanitizer, and the whole test suite
# run by an interpreter that loads them (scripts/sanitize.py says how); then the
# long hardening checks (tests/hardening with TAVRIX_DEEP=1) on the normal build.
SANITIZE := build/sanitize
SANITIZE_SCRATCH := build/sanitize-scratch
SANITIZE_STAMP := $(SANITIZE)/.built
SANITIZE_CMAKE := -G Ninja -DCMAKE_MAKE_PROGRAM=$(abspath $(VENV)/bin/ninja) -DTAVRIX_SANITIZE=ON -DTAVRIX_WERROR=ON \
    -DTAVRIX_GENERATE_TABLES=OFF -DPython_EXECUTABLE=$(abspath $(PY))

$(SANITIZE_STAMP): $(MODULE_STAMP)
	$(VENV)/bin/cmake -S . -B $(SANITIZE) $(SANITIZE_CMAKE) -DTAVRIX_TABLE_DIR=$(abspath tables) > /dev/null
	$(VENV)/bin/cmake --build $(SANITIZE) --target tavrix _engine tavrix_engine_tests tavrix_omaha_tests tavrix_sweep_tests > /dev/null
	$(VENV)/bin/cmake -S . -B $(SANITIZE_SCRATCH) $(SANITIZE_CMAKE) \
	    -DTAVRIX_TABLE_DIR=$(abspath $(SANITIZE_SCRATCH))/tables -DTAVRIX_EMBED_TABLES=OFF > /dev/null
	$(VENV)/bin/cmake --build $(SANITIZE_SCRATCH) --target tavrix _engine tavrix_core_tests > /dev/null
	@touch $@

check-deep: build $(SCRATCH_STAMP) $(NATIVE_STAMP) $(SANITIZE_STAMP)
	$(PY) scripts/sanitize.py setup $(SANITIZE) $(SANITIZE_SCRATCH)
	TAVRIX_SCRATCH_MODULE_DIR=$(abspath $(SANITIZE_SCRATCH)) TAVRIX_NATIVE_DIR=$(abspath $(SANITIZE)) \
	    $(SANITIZE)/venv/bin/python -m pytest -q -p no:cacheprovider -n 2 --dist loadgroup tests
	$(PY) scripts/sanitize.py report $(SANITIZE)
	TAVRIX_DEEP=1 TAVRIX_SCRATCH_MODULE_DIR=$(abspath $(SCRATCH)) TAVRIX_NATIVE_DIR=$(abspath $(NATIVE)) \
	    $(PY) -m pytest -q -rs -n 2 tests/hardening
