// The board sweep beside the deal-by-deal path, one thread, median of 5 runs
// each: range against range on a flop, a turn and preflop, the cost of one
// swept board and of one combo on it, and the floor of one score read per
// combo per board.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "equity_engine/board_sweep.hpp"
#include "equity_engine/equity_runs.hpp"
#include "equity_engine/sweep_equity.hpp"

using namespace tavrix::equity;
using tavrix::CARD_COUNT;
using tavrix::HandValue;

namespace {

const KeepGoing always = [] { return true; };

double cpu_now() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The median CPU time of the last run measured, beside its wall time: on a
// loaded machine the CPU time is what a quiet one would take (one thread).
double last_cpu = 0;

template <typename Run>
double median_seconds(int repeat, Run&& run) {
    std::vector<double> times, cpu;
    for (int i = 0; i < repeat; ++i) {
        const double cpu_start = cpu_now();
        const auto start = std::chrono::steady_clock::now();
        run();
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        cpu.push_back(cpu_now() - cpu_start);
    }
    std::sort(times.begin(), times.end());
    std::sort(cpu.begin(), cpu.end());
    last_cpu = cpu[cpu.size() / 2];
    return times[times.size() / 2];
}

std::uint8_t card(const char* text) {
    const char* ranks = "23456789TJQKA";
    const char* suits = "cdhs";
    return static_cast<std::uint8_t>(4 * (std::strchr(ranks, text[0]) - ranks) + (std::strchr(suits, text[1]) - suits));
}

// Every combo of ranks hi, lo (hi >= lo; suited, offsuit or both) that misses `fixed`.
void add_class(PlayerCombos& player, int hi, int lo, int suited, std::uint64_t fixed) {
    for (int s = 0; s < 4; ++s)
        for (int t = 0; t < 4; ++t) {
            const int a = 4 * hi + s, b = 4 * lo + t;
            if (a <= b || (hi == lo ? false : (suited == 1 && s != t) || (suited == 0 && s == t))) continue;
            const Combo c{static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b)};
            if (c.mask() & fixed) continue;
            player.combos.push_back(c);
            player.weights.push_back(1.0);
        }
}

PlayerCombos random_range(std::uint64_t fixed) {
    PlayerCombos player;
    for (int hi = 12; hi >= 0; --hi)
        for (int lo = hi; lo >= 0; --lo) add_class(player, hi, lo, -1, fixed);
    return player;
}

PlayerCombos premium_range() {  // QQ+, AKs
    PlayerCombos player;
    for (int r = 10; r <= 12; ++r) add_class(player, r, r, -1, 0);
    add_class(player, 12, 11, 1, 0);
    return player;
}

EquityRequest request_of(std::vector<PlayerCombos> players, std::initializer_list<const char*> board) {
    EquityRequest request;
    for (const char* c : board) request.board.push_back(card(c));
    request.players = std::move(players);
    return request;
}

void print(const char* name, double seconds, const char* target = "") {
    std::printf("  %-40s %10.2f ms wall %10.2f ms CPU  %s\n", name, seconds * 1e3, last_cpu * 1e3, target);
}

// Time of one score read per live combo on every swept board: the floor.
double score_floor(const EquityRequest& request, std::uint64_t boards, int repeat) {
    const TableView tables = table_view();
    SweepSlots slots;
    for (const Combo c : request.players[0].combos) slots.add(c);
    std::vector<std::uint8_t> deck;
    const std::uint64_t fixed = request.board_mask();
    for (int c = 0; c < CARD_COUNT; ++c)
        if (!((fixed >> c) & 1)) deck.push_back(static_cast<std::uint8_t>(c));
    volatile std::uint32_t sink = 0;
    return median_seconds(repeat, [&] {
        bool fault = false;
        std::uint32_t sum = 0;
        for (std::uint64_t b = 0; b < boards; ++b) {
            HandValue board = request.board_words();
            for (std::size_t k = request.board.size(); k < 5; ++k)
                board = combine(board, tavrix::CARD_TABLE[deck[(b * 7 + k * 11) % deck.size()]]);
            for (std::size_t s = 0; s < slots.size(); ++s)
                if (!(slots.holes[s].mask & board.mask))
                    sum += tables.score(board.key + slots.holes[s].key, board.mask | slots.holes[s].mask, fault);
        }
        sink = sink + sum;
    });
}

void spot(const char* name, const EquityRequest& request, int repeat, bool deal_path, double target_ms,
          double min_ratio, bool per_board) {
    std::printf("%s\n", name);
    SweepEquity result;
    const double sweep_wall = median_seconds(repeat, [&] { result = sweep_equity(request, false, 1, always); });
    const double sweep = last_cpu;
    char target[96] = "";
    if (target_ms > 0)
        std::snprintf(target, sizeof target, "[%s: at most %g ms CPU]", sweep * 1e3 <= target_ms ? "ok" : "MISSED", target_ms);
    print("board sweep, 1 thread", sweep_wall, target);
    if (deal_path) {
        const double deals_wall = median_seconds(repeat, [&] { exact_equity(request, 1, always); });
        const double deals = last_cpu;
        char ratio[96] = "";
        if (min_ratio > 0)
            std::snprintf(ratio, sizeof ratio, "[%s: sweep %.0f times faster, at least %g]",
                          deals / sweep >= min_ratio ? "ok" : "MISSED", deals / sweep, min_ratio);
        print("deal by deal, 1 thread", deals_wall, ratio);
    }
    if (!per_board) return;
    const double live = 1081;  // the combos of the 47 cards off a complete board
    const double board_us = sweep * 1e6 / static_cast<double>(result.boards_swept);
    const std::uint64_t floor_boards = std::min<std::uint64_t>(result.boards_swept, 20000);
    score_floor(request, floor_boards, repeat);
    const double floor_us = last_cpu * 1e6 / static_cast<double>(floor_boards);
    std::printf("  %llu boards swept: %.2f us per board, %.2f ns per live combo (%.0f live);"
                " one score read per combo: %.2f us per board, so %.1f times the floor\n",
                static_cast<unsigned long long>(result.boards_swept), board_us, board_us * 1e3 / live, live, floor_us,
                board_us / floor_us);
}

}  // namespace

int main(int argc, char** argv) {
    // --quick: skip the deal-by-deal reference of QQ+,AKs preflop (about 3 minutes).
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int repeat = 5;
    std::printf("Board sweep against deal by deal, median of %d runs; targets and ratios on CPU time\n", repeat);
    const EquityRequest flop = request_of({}, {"Ts", "9h", "4c"});
    const EquityRequest turn = request_of({}, {"Ts", "9h", "4c", "5d"});
    EquityRequest flop_job = flop, turn_job = turn;
    flop_job.players = {random_range(flop.board_mask()), random_range(flop.board_mask())};
    turn_job.players = {random_range(turn.board_mask()), random_range(turn.board_mask())};
    sweep_equity(turn_job, false, 1, always);  // loads the tables
    spot("random vs random on Ts9h4c, exact", flop_job, repeat, true, 50, 300, true);
    spot("random vs random on Ts9h4c5d, exact", turn_job, repeat, true, 2, 0, true);
    spot("random vs random preflop, exact (deal by deal: hours)", request_of({random_range(0), random_range(0)}, {}),
         repeat, false, 3000, 0, true);
    spot("QQ+,AKs vs random preflop, exact", request_of({premium_range(), random_range(0)}, {}), repeat, !quick, 3000,
         0, false);
    return 0;
}
