// The binding files beside engine_module.cpp: each adds its functions to the
// module through one call made from NB_MODULE.
#pragma once

#include <nanobind/nanobind.h>

namespace tavrix::binding {

void bind_deal(nanobind::module_& m);
// Omaha scoring and equity (omaha_binding.cpp).
void bind_omaha(nanobind::module_& m);
void bind_breakdown(nanobind::module_& m);
// The board sweep: per-combo sums of a heads-up matchup.
void bind_sweep(nanobind::module_& m);
void bind_interpreter_exit(nanobind::module_& m);
void bind_indexer(nanobind::module_& m);
void bind_clustering(nanobind::module_& m);
void bind_strength(nanobind::module_& m);

}  // namespace tavrix::binding
