"""Buckets: k-means of histograms under the earth mover's distance, and quantile buckets."""

import signal
import subprocess
import sys
import time

import numpy as np
import pytest

from tavrix_equity import emd_kmeans, quantile_buckets


def grouped_histograms(rows_per_group=300, bins=12, seed=0):
    """Three groups of noisy histograms peaked in bins 1, 6 and 10, shuffled."""
    rng = np.random.default_rng(seed)
    peaks = [1, 6, 10]
    rows = []
    for peak in peaks:
        rows.append(np.eye(bins)[peak] + rng.random((rows_per_group, bins)) * 0.05)
    data = np.concatenate(rows)
    truth = np.repeat(np.arange(len(peaks)), rows_per_group)
    order = rng.permutation(len(data))
    return (data / data.sum(axis=1, keepdims=True))[order], truth[order]


def emd(a, b):
    return np.abs(np.cumsum(a, axis=-1) - np.cumsum(b, axis=-1)).sum(axis=-1)


def total_distance(data, labels, centres):
    return emd(data, centres[labels]).sum()


def test_recovers_known_groups():
    data, truth = grouped_histograms()
    labels, centres = emd_kmeans(data, 3, seed=4)
    assert labels.dtype == np.int32 and labels.shape == (900,)
    assert centres.dtype == np.float64 and centres.shape == (3, 12)
    # The same partition as the truth, whatever the cluster numbers.
    pairs = set(zip(truth.tolist(), labels.tolist()))
    assert len(pairs) == 3 and len({label for _, label in pairs}) == 3
    # Centres are histograms (not cumulative) that peak where their group does.
    np.testing.assert_allclose(centres.sum(axis=1), 1, atol=1e-5)
    assert (centres >= -1e-7).all()
    assert sorted(np.argmax(centres, axis=1).tolist()) == [1, 6, 10]
    # Each row is labelled with its nearest centre.
    distances = emd(data[:, None, :], centres[None, :, :])
    np.testing.assert_array_equal(labels, np.argmin(distances, axis=1))


@pytest.mark.parametrize("dtype", [np.float32, np.float64])
def test_deterministic_whatever_the_threads(dtype):
    rng = np.random.default_rng(3)
    data = rng.dirichlet(np.full(20, 0.4), 5_000).astype(dtype)
    labels, centres = emd_kmeans(data, 17, seed=11, iterations=6, threads=1)
    for threads in (2, 5):
        other_labels, other_centres = emd_kmeans(data, 17, seed=11, iterations=6, threads=threads)
        np.testing.assert_array_equal(other_labels, labels)
        np.testing.assert_array_equal(other_centres, centres)
    different, _ = emd_kmeans(data, 17, seed=12, iterations=6)
    assert not np.array_equal(different, labels)
    # Median updates never increase the total distance.
    costs = [total_distance(data, *emd_kmeans(data, 17, seed=11, iterations=n)) for n in (0, 1, 3, 6)]
    assert all(later <= earlier + 1e-6 for earlier, later in zip(costs, costs[1:]))
    assert costs[-1] < costs[0]


def test_edge_cases():
    data, _ = grouped_histograms(rows_per_group=4)
    labels, centres = emd_kmeans(data, len(data), seed=2)
    # As many clusters as rows: every row its own centre.
    assert sorted(labels.tolist()) == list(range(len(data)))
    np.testing.assert_allclose(centres[labels], data, atol=1e-6)
    labels, centres = emd_kmeans(np.ones((6, 3)), 2)
    assert set(labels.tolist()) <= {0, 1}
    labels, centres = emd_kmeans([[0.5, 0.5]], 1)
    assert labels.tolist() == [0] and centres.tolist() == [[0.5, 0.5]]


@pytest.mark.parametrize("histograms, k, message", [
    (np.ones((4, 3)), 0, "k must be at least 1, not 0"),
    (np.ones((4, 3)), 5, "k = 5 asks for more clusters than the 4 rows"),
    (np.ones((0, 3)), 1, "more clusters than the 0 rows"),
    (np.ones(4), 1, r"2-D array of shape \(n, bins\)"),
    (np.ones((4, 0)), 1, "at least one bin"),
    ([[0.5, 0.5], [0.2, np.nan]], 1, "histograms row 1: nan in bin 1 is not finite"),
    ([[0.5, 0.5], [1, 0], [np.inf, 0]], 1, "histograms row 2: inf in bin 0 is not finite"),
    ([[0.5, 0.5], [-0.25, 1.25]], 1, "histograms row 1: negative value -0.25"),
])
def test_bad_histograms(histograms, k, message):
    with pytest.raises(ValueError, match=message):
        emd_kmeans(histograms, k)


@pytest.mark.parametrize("keyword, value, error", [
    ("seed", -1, ValueError), ("iterations", -1, ValueError), ("threads", 0, ValueError), ("seed", 1.5, TypeError),
])
def test_bad_options(keyword, value, error):
    with pytest.raises(error):
        emd_kmeans(np.ones((3, 2)), 1, **{keyword: value})


def test_quantile_buckets():
    rng = np.random.default_rng(5)
    values = rng.random(1_000)
    labels = quantile_buckets(values, 8)
    assert labels.dtype == np.int32 and np.bincount(labels).tolist() == [125] * 8
    # Labels rise with the value.
    assert (np.diff(labels[np.argsort(values)]) >= 0).all()
    assert quantile_buckets([3.0, 1.0, 2.0], 3).tolist() == [2, 0, 1]
    # Ties share the bucket of the first of them.
    assert quantile_buckets([0.1, 0.5, 0.5, 0.5, 0.9, 1.0], 3).tolist() == [0, 0, 0, 0, 2, 2]
    assert quantile_buckets(np.arange(10), 1).tolist() == [0] * 10


@pytest.mark.parametrize("values, k, message", [
    ([1.0, 2.0], 0, "k must be at least 1"),
    ([1.0, 2.0], 3, "k = 3 asks for more buckets than the 2 values"),
    ([1.0, np.nan, 2.0], 2, "value nan at position 1 is not finite"),
    ([[1.0, 2.0]], 1, "1-D array"),
])
def test_bad_quantile_input(values, k, message):
    with pytest.raises(ValueError, match=message):
        quantile_buckets(values, k)


def test_ctrl_c_stops_a_long_clustering():
    code = (
        "import time, numpy as np\n"
        "from tavrix_equity import emd_kmeans\n"
        "data = np.random.default_rng(0).random((400_000, 50), dtype=np.float32)\n"
        "print('ready', flush=True)\n"
        "try:\n"
        "    emd_kmeans(data, 2_000, iterations=1_000)\n"
        "except KeyboardInterrupt:\n"
        "    print('interrupted', flush=True)\n"
        "print(emd_kmeans([[1.0, 0.0], [0.0, 1.0]], 2)[0].tolist())\n"
    )
    with subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True) as child:
        try:
            assert child.stdout.readline().strip() == "ready"
            time.sleep(0.5)
            sent = time.perf_counter()
            child.send_signal(signal.SIGINT)
            out, _ = child.communicate(timeout=60)
        finally:
            child.kill()  # a child that ignored the signal must not outlive the test
    assert time.perf_counter() - sent < 5
    assert out.splitlines()[0] == "interrupted" and out.splitlines()[1] in ("[0, 1]", "[1, 0]")
