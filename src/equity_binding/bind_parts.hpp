// The binding files beside engine_module.cpp: each adds its functions to the
// module through one call made from NB_MODULE.
#pragma once

#include <nanobind/nanobind.h>

namespace tavrix::binding {

void bind_indexer(nanobind::module_& m);
void bind_clustering(nanobind::module_& m);
void bind_strength(nanobind::module_& m);

}  // namespace tavrix::binding
