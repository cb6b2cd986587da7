// Clustering of histograms: k-means under the earth mover's distance, with the
// lock released. tavrix_equity.clustering checks arguments and wraps it.
#include <nanobind/nanobind.h>

#include <optional>
#include <string>

#include "equity_binding/bind_parts.hpp"
#include "equity_binding/binding_support.hpp"
#include "equity_engine/emd_kmeans.hpp"

namespace tavrix::binding {

namespace {

using namespace nb::literals;

template <typename Value>
std::optional<equity::BadRow> cluster_unlocked(const BufferView& histograms, const equity::KMeansRequest& request,
                                               std::int32_t* labels, double* centres, unsigned threads) {
    return without_lock([&](const KeepGoing& keep_going) {
        return equity::emd_kmeans(histograms.data<const Value>(), request, labels, centres, threads, keep_going);
    });
}

nb::object emd_kmeans_binding(nb::handle histogram_array, std::size_t clusters, std::uint64_t seed,
                              std::size_t iterations, unsigned threads) {
    const BufferView histograms(histogram_array, "histograms");
    const bool single = histograms.holds<float>();
    if (histograms.ndim() != 2 || !(single || histograms.holds<double>()))
        throw nb::type_error("histograms must be a 2-D float32 or float64 array");
    equity::KMeansRequest request;
    request.rows = histograms.shape(0);
    request.bins = histograms.shape(1);
    request.clusters = clusters;
    request.seed = seed;
    request.iterations = iterations;
    if (clusters < 1 || clusters > request.rows || request.bins < 1)
        throw nb::value_error("k must be between 1 and the number of rows, and histograms need a bin");
    nb::object labels = new_vector(request.rows, "int32");
    nb::object centres = new_matrix(clusters, request.bins, "float64");
    const BufferView label_view(labels, "labels", true), centre_view(centres, "centres", true);
    std::int32_t* label_out = label_view.data<std::int32_t>();
    double* centre_out = centre_view.data<double>();
    const std::optional<equity::BadRow> bad =
        single ? cluster_unlocked<float>(histograms, request, label_out, centre_out, threads)
               : cluster_unlocked<double>(histograms, request, label_out, centre_out, threads);
    if (bad) throw nb::value_error(("histograms row " + std::to_string(bad->row) + ": " + bad->reason).c_str());
    return checked_tuple(labels, centres);
}

}  // namespace

void bind_clustering(nb::module_& m) {
    m.def("emd_kmeans", &emd_kmeans_binding, "histograms"_a, "k"_a, "seed"_a, "iterations"_a, "threads"_a,
          nb::sig("def emd_kmeans(histograms: numpy.typing.NDArray[numpy.float32] | numpy.typing.NDArray[numpy.float64], "
                  "k: int, seed: int, iterations: int, threads: int) -> "
                  "tuple[numpy.typing.NDArray[numpy.int32], numpy.typing.NDArray[numpy.float64]]"),
          "k-means of histograms under the earth mover's distance: (labels, centres as histograms).");
}

}  // namespace tavrix::binding
