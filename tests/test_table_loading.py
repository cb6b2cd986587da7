"""Loading of the three lookup tables, observed through the scratch copy of the
module in fresh child processes (a process loads its tables at most once)."""

from collections import Counter

import pytest

from scratch_module import (
    DIRECTORY,
    ELSEWHERE,
    FLUSH_INDEX,
    GOOD,
    IS_A_DIRECTORY,
    NOT_FOUND,
    OPEN_FLUSH,
    OPEN_OFFSETS,
    OPEN_RANK,
    POISONED,
    RANK_INDEX,
    READ_FLUSH,
    READ_OFFSETS,
    READ_RANK,
    ROW_INDEX,
    UNWRAP,
    assert_panic,
    assert_reports,
    out_of_bounds,
    run_child,
    size_error,
    strace_usable,
    table_file_calls,
    tables,  # noqa: F401  (fixture)
    write_tables,
)

# These tests share the scratch module's table folder: one worker runs them all.
pytestmark = pytest.mark.xdist_group("scratch_tables")


def tables_with(**changes):
    return {**GOOD, **changes}


# (files, failing step, rendering of the error)
LOAD_FAILURES = {
    "all-missing": ({}, OPEN_RANK, NOT_FOUND),
    "rank-missing": (tables_with(rank=None), OPEN_RANK, NOT_FOUND),
    "rank-directory": (tables_with(rank=DIRECTORY), READ_RANK, IS_A_DIRECTORY),
    # The rank file is read before the flush file is even opened.
    "rank-directory-flush-missing": (tables_with(rank=DIRECTORY, flush=None), READ_RANK, IS_A_DIRECTORY),
    "rank-odd-5-bytes": (tables_with(rank=b"\x01" * 5), READ_RANK, size_error(5, 2)),
    "rank-1-byte-rest-missing": ({"rank": b"\x00"}, READ_RANK, size_error(1, 2)),
    # Larger than any first read, so the size check sees the whole file.
    "rank-odd-large": (tables_with(rank=b"\x07" * 200_001), READ_RANK, size_error(200_001, 2)),
    "flush-missing": (tables_with(flush=None), OPEN_FLUSH, NOT_FOUND),
    "flush-and-offsets-missing": (tables_with(flush=None, offsets=None), OPEN_FLUSH, NOT_FOUND),
    "flush-directory": (tables_with(flush=DIRECTORY), READ_FLUSH, IS_A_DIRECTORY),
    "flush-directory-offsets-missing": (tables_with(flush=DIRECTORY, offsets=None), READ_FLUSH, IS_A_DIRECTORY),
    "flush-odd-3-bytes": (tables_with(flush=b"\x01\x02\x03"), READ_FLUSH, size_error(3, 2)),
    "offsets-missing": (tables_with(offsets=None), OPEN_OFFSETS, NOT_FOUND),
    "offsets-directory": (tables_with(offsets=DIRECTORY), READ_OFFSETS, IS_A_DIRECTORY),
    # Offsets are 4-byte entries: a whole number of 2-byte units is not enough.
    "offsets-2-bytes": (tables_with(offsets=b"\x00\x00"), READ_OFFSETS, size_error(2, 4)),
    "offsets-6-bytes": (tables_with(offsets=b"\x00" * 6), READ_OFFSETS, size_error(6, 4)),
    "offsets-odd-large": (tables_with(offsets=b"\x00" * 400_003), READ_OFFSETS, size_error(400_003, 4)),
}


@pytest.mark.parametrize("case", LOAD_FAILURES.values(), ids=LOAD_FAILURES.keys())
def test_failed_load_panics_at_the_failing_step(tables, case):
    files, step, rendering = case
    write_tables(tables, **files)
    out, stderr = run_child("""
        fds_before = sorted(os.listdir("/proc/self/fd"))
        out["first"] = attempt(score, 0, 0)
        out["fds_left_open"] = sorted(set(os.listdir("/proc/self/fd")) - set(fds_before))
    """)
    assert_panic(out["first"], UNWRAP + rendering)
    assert_reports(stderr, [(step, UNWRAP + rendering)])
    # Whatever step failed, the files opened before it are closed again.
    assert out["fds_left_open"] == []


def test_missing_table_folder_fails_at_the_first_open(tables):
    tables.rmdir()
    out, stderr = run_child("""
        out["first"] = attempt(score, 0, 0)
    """)
    assert_panic(out["first"], UNWRAP + NOT_FOUND)
    assert_reports(stderr, [(OPEN_RANK, UNWRAP + NOT_FOUND)])


def test_panic_exception_is_a_base_exception_only(tables):
    out, _ = run_child("""
        try:
            score(0, 0)
        except BaseException as error:
            kind = type(error)
            out["name"] = kind.__name__
            out["module"] = kind.__module__
            out["base"] = issubclass(kind, BaseException)
            out["exception"] = issubclass(kind, Exception)
            out["caught_by_except_exception"] = False
        try:
            try:
                score(0, 0)
            except Exception:
                out["caught_by_except_exception"] = True
        except BaseException:
            pass
    """)
    assert out == {
        "name": "PanicException",
        "module": "pyo3_runtime",
        "base": True,
        "exception": False,
        "caught_by_except_exception": False,
    }


# Calls that never reach a scored hand: each must leave the tables unloaded,
# which the valid call after it proves by failing on the missing files with the
# first panic report of the process.
NO_LOAD_CALLS = {
    "empty-list": ("tavrix.evaluate_list([])", "value"),
    "empty-tuple": ("tavrix.evaluate_list(())", "value"),
    "short-pair-after-valid": ("tavrix.evaluate_list([(0, 0), (1,)])", "ValueError"),
    "long-pair-after-valid": ("tavrix.evaluate_list(((0, 0), (1, 2, 3)))", "ValueError"),
    "list-item-after-valid": ("tavrix.evaluate_list([(0, 0), [0, 0]])", "TypeError"),
    "negative-mask-after-valid": ("tavrix.evaluate_list([(0, 0), (0, -1)])", "OverflowError"),
    "wide-key-after-valid": ("tavrix.evaluate_list([(0, 0), (2**64, 0)])", "OverflowError"),
    "str-mask-after-valid": ("tavrix.evaluate_list([(0, 0), (0, '1')])", "TypeError"),
    "str-argument": ("tavrix.evaluate_list('ab')", "TypeError"),
    "evaluate-non-hand": ("tavrix.evaluate((0, 0))", "TypeError"),
    "hand-queries": (
        "[h.get_flush_key() + h.get_rank_key() for h in tavrix.poker_hand.get_cards()]"
        " + [Hand.from_hole_cards(0, 1).count(), Hand.from_bit_mask(0x1F).has_flush()]",
        "value",
    ),
}


@pytest.mark.parametrize("case", NO_LOAD_CALLS.values(), ids=NO_LOAD_CALLS.keys())
def test_calls_without_a_scored_hand_load_nothing(tables, case):
    expression, outcome = case
    out, stderr = run_child(f"""
        out["call"] = attempt(lambda: {expression})
        out["then"] = attempt(score, 0, 0)
    """)
    if outcome == "value":
        assert "value" in out["call"]
    else:
        assert out["call"]["raised"] == outcome
    assert_panic(out["then"], UNWRAP + NOT_FOUND)
    assert_reports(stderr, [(OPEN_RANK, UNWRAP + NOT_FOUND)])


def test_tables_are_read_at_the_first_scored_hand_not_at_import(tables):
    # Nothing exists at import time; the files appear before the first score.
    out, stderr = run_child("""
        out["empty"] = tavrix.evaluate_list([])
        put("h_eval_rank_table.dat", bytes([7, 0, 8, 0]))
        put("h_eval_flush_table.dat", bytes([5, 0]))
        put("h_eval_offsets.dat", bytes(4))
        out["scores"] = [score(0, 0), score(1, 0), score(1 << 63, 0)]
    """)
    assert out == {"empty": [], "scores": [7, 8, 5]}
    assert stderr == ""


def test_tables_are_read_only_once(tables):
    write_tables(tables, **GOOD)
    out, stderr = run_child("""
        out["before"] = [score(0, 0), score(1 << 63, 0)]
        put("h_eval_rank_table.dat", bytes([99, 0]))
        os.remove(os.path.join(TABLES, "h_eval_flush_table.dat"))
        os.remove(os.path.join(TABLES, "h_eval_offsets.dat"))
        out["after"] = [score(0, 0), score(1 << 63, 0)] + tavrix.evaluate_list([(0, 0), (1 << 63, 0)])
    """)
    assert out == {"before": [7, 5], "after": [7, 5, 7, 5]}
    assert stderr == ""


def test_successful_load_leaves_no_file_open(tables):
    write_tables(tables, **GOOD)
    out, _ = run_child("""
        fds_before = sorted(os.listdir("/proc/self/fd"))
        out["score"] = score(0, 0)
        out["fds_left_open"] = sorted(set(os.listdir("/proc/self/fd")) - set(fds_before))
    """)
    assert out == {"score": 7, "fds_left_open": []}


OPEN_READ = {
    "rank": [("open", "rank"), ("read", "rank")],
    "flush": [("open", "flush"), ("read", "flush")],
    "offsets": [("open", "offsets"), ("read", "offsets")],
}
# files -> the table-file system calls of the first scored hand
CALL_ORDERS = {
    "success": (
        GOOD,
        OPEN_READ["rank"] + OPEN_READ["flush"] + OPEN_READ["offsets"]
        + [("close", "offsets"), ("close", "flush"), ("close", "rank")],
    ),
    "read-offsets-fails": (
        tables_with(offsets=DIRECTORY),
        OPEN_READ["rank"] + OPEN_READ["flush"] + OPEN_READ["offsets"]
        + [("close", "offsets"), ("close", "flush"), ("close", "rank")],
    ),
    "open-offsets-fails": (
        tables_with(offsets=None),
        OPEN_READ["rank"] + OPEN_READ["flush"] + [("open-failed", "offsets"), ("close", "flush"), ("close", "rank")],
    ),
    "open-flush-fails": (
        tables_with(flush=None),
        OPEN_READ["rank"] + [("open-failed", "flush"), ("close", "rank")],
    ),
    "read-rank-fails": (tables_with(rank=b"\x00" * 3), OPEN_READ["rank"] + [("close", "rank")]),
}


@pytest.mark.parametrize("case", CALL_ORDERS.values(), ids=CALL_ORDERS.keys())
def test_files_are_opened_read_and_closed_in_order(tables, tmp_path, case):
    if not strace_usable():
        pytest.skip("strace is not available here")
    files, expected = case
    write_tables(tables, **files)
    log = tmp_path / "strace.log"
    run_child("""
        attempt(score, 0, 0)
        attempt(score, 0, 0)
    """, trace_to=log)
    # The second call touches no file, whether the first loaded or failed.
    assert table_file_calls(log.read_text()) == expected


# (rank bytes, flush bytes, offsets bytes): whole numbers of elements, including none.
WHOLE_SIZES = {
    "all-empty": (0, 0, 0),
    "one-each": (2, 2, 4),
    "small": (6, 4, 12),
    "large": (2 * 4000, 2 * 65535, 4 * 1_048_575),
}


@pytest.mark.parametrize("sizes", WHOLE_SIZES.values(), ids=WHOLE_SIZES.keys())
def test_whole_element_sizes_load_with_their_lengths(tables, sizes):
    rank_bytes, flush_bytes, offsets_bytes = sizes
    # Zero bytes everywhere: every offset is 0 and every score is 0.
    write_tables(tables, rank=bytes(rank_bytes), flush=bytes(flush_bytes), offsets=bytes(offsets_bytes))
    rank_len, flush_len, offsets_len = rank_bytes // 2, flush_bytes // 2, offsets_bytes // 4
    # Each table's length shows in the index check that just overshoots it.
    out, stderr = run_child("""
        out["flush"] = attempt(score, 1 << 63, 0xFFFF)
        out["rows"] = attempt(score, 0xFFFFFFFF, 0)
        out["rank"] = attempt(score, 0xFFF, 0)
        out["later"] = attempt(tavrix.evaluate_list, [(1 << 63, 0), (0, 0)])
    """)
    expected_reports = [(FLUSH_INDEX, out_of_bounds(flush_len, 65535))]
    assert_panic(out["flush"], out_of_bounds(flush_len, 65535))
    expected_reports.append((ROW_INDEX, out_of_bounds(offsets_len, 1_048_575)))
    assert_panic(out["rows"], out_of_bounds(offsets_len, 1_048_575))
    if offsets_len == 0:
        rank_failure = (ROW_INDEX, out_of_bounds(0, 0))
    else:
        rank_failure = (RANK_INDEX, out_of_bounds(rank_len, 0xFFF))
    expected_reports.append(rank_failure)
    assert_panic(out["rank"], rank_failure[1])
    # The out-of-bounds panics did not poison the loaded tables.
    if flush_len == 0:
        later = (FLUSH_INDEX, out_of_bounds(0, 0))
    elif offsets_len == 0:
        later = (ROW_INDEX, out_of_bounds(0, 0))
    else:
        later = None
        assert out["later"] == {"value": [0, 0]}
    if later:
        assert_panic(out["later"], later[1])
        expected_reports.append(later)
    assert_reports(stderr, expected_reports)


def test_table_files_are_little_endian(tables):
    write_tables(tables, rank=b"\x01\x02", flush=b"\x01\x02", offsets=b"\x00\x00\x00\x00\x01\x02\x03\x04")
    out, stderr = run_child("""
        out["flush"] = attempt(score, 1 << 63, 0)
        out["rank"] = attempt(score, 0, 0)
        out["displaced"] = attempt(score, 0x1000, 0)
    """)
    assert out["flush"] == {"value": 513}
    assert out["rank"] == {"value": 513}
    # Row 1's displacement is 0x04030201: index 0x1000 + 0x04030201.
    assert_panic(out["displaced"], out_of_bounds(1, 0x04031201))
    assert_reports(stderr, [(RANK_INDEX, out_of_bounds(1, 0x04031201))])


POISON_CAUSES = {
    "rank-missing": (tables_with(rank=None), OPEN_RANK, NOT_FOUND),
    "flush-odd": (tables_with(flush=b"\x00" * 7), READ_FLUSH, size_error(7, 2)),
    "offsets-directory": (tables_with(offsets=DIRECTORY), READ_OFFSETS, IS_A_DIRECTORY),
}
FIRST_CALLS = {
    "evaluate": "attempt(score, 0, 0)",
    "evaluate_list": "attempt(tavrix.evaluate_list, [(1 << 63, 0), (0, 0)])",
}


@pytest.mark.parametrize("first_call", FIRST_CALLS.values(), ids=FIRST_CALLS.keys())
@pytest.mark.parametrize("cause", POISON_CAUSES.values(), ids=POISON_CAUSES.keys())
def test_failed_load_poisons_the_tables_for_good(tables, cause, first_call):
    files, step, rendering = cause
    write_tables(tables, **files)
    # The files are repaired between the failure and the later calls.
    out, stderr = run_child(f"""
        out["first"] = {first_call}
        import shutil
        for name in os.listdir(TABLES):
            path = os.path.join(TABLES, name)
            shutil.rmtree(path) if os.path.isdir(path) else os.remove(path)
        put("h_eval_rank_table.dat", bytes([7, 0]))
        put("h_eval_flush_table.dat", bytes([5, 0]))
        put("h_eval_offsets.dat", bytes(4))
        out["evaluate"] = attempt(score, 0, 0)
        out["evaluate_list"] = attempt(tavrix.evaluate_list, [(0, 0)])
        out["empty"] = attempt(tavrix.evaluate_list, [])
    """)
    assert_panic(out["first"], UNWRAP + rendering)
    assert_panic(out["evaluate"], POISONED)
    assert_panic(out["evaluate_list"], POISONED)
    assert out["empty"] == {"value": []}
    assert_reports(stderr, [(step, UNWRAP + rendering), (ELSEWHERE, POISONED), (ELSEWHERE, POISONED)])


THREADS = 8
RACE = f"""
    import threading
    barrier = threading.Barrier({THREADS})
    results = []
    def worker():
        barrier.wait()
        results.append(attempt(score, 0, 0))
    workers = [threading.Thread(target=worker) for _ in range({THREADS})]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    out["results"] = results
"""


def test_threads_racing_on_a_good_load_all_score(tables):
    write_tables(tables, **GOOD)
    out, stderr = run_child(RACE)
    assert out["results"] == [{"value": 7}] * THREADS
    assert stderr == ""


def test_threads_racing_on_a_failed_load_see_one_cause(tables):
    write_tables(tables, **tables_with(flush=None))
    out, stderr = run_child(RACE)
    cause = UNWRAP + NOT_FOUND
    messages = Counter(r["message"] for r in out["results"])
    assert messages == {cause: 1, POISONED: THREADS - 1}
    for result in out["results"]:
        assert_panic(result, result["message"])
    assert_reports(stderr, [(OPEN_FLUSH, cause)] + [(ELSEWHERE, POISONED)] * (THREADS - 1))
