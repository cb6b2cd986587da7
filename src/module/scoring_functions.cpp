#include "module/scoring_functions.hpp"

#include <array>

#include "boundary/binding.hpp"
#include "boundary/conversion.hpp"
#include "boundary/entry_point.hpp"
#include "module/hand_object.hpp"
#include "hand_evaluator/evaluator.hpp"

namespace tavrix {
namespace {

constexpr std::array<const char*, 1> HAND_PARAMETERS = {"hand"};
constexpr std::array<const char*, 1> LIST_PARAMETERS = {"list"};

// Every score is converted only after the whole batch has been scored.
PyObject* scores_to_list(const InputSizedVector<std::uint16_t>& scores) {
    OwnedRef list(result_or_panic(PyList_New(static_cast<Py_ssize_t>(scores.size()))));
    for (std::size_t i = 0; i < scores.size(); ++i)
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), result_or_panic(PyLong_FromLong(scores[i])));
    return list.release();
}

}  // namespace

PyObject* evaluate(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return run_entry_point<PyObject*>(nullptr, [&] {
        const auto [hand_arg] = bind_arguments(nullptr, "evaluate", HAND_PARAMETERS, args, nargsf, kwnames);
        // The borrow is held through scoring and the creation of the result.
        const SharedHand hand = convert_argument("hand", [&] { return SharedHand(hand_arg); });
        return u32_to_py(score_hand(hand->key, hand->mask));
    });
}

PyObject* evaluate_list(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return run_entry_point<PyObject*>(nullptr, [&] {
        const auto [list_arg] = bind_arguments(nullptr, "evaluate_list", LIST_PARAMETERS, args, nargsf, kwnames);
        const InputSizedVector<KeyMaskPair> pairs = convert_argument("list", [&] { return to_key_mask_pairs(list_arg); });
        InputSizedVector<std::uint16_t> scores(pairs.size());
        for (std::size_t i = 0; i < pairs.size(); ++i) scores[i] = score_hand(pairs[i].key, pairs[i].mask);
        return scores_to_list(scores);
    });
}

}  // namespace tavrix
