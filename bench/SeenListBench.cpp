// Seen-lists of query keys (14 CNPJ digits + an NSU): load, save, lookups that hit and miss,
// memory per entry, and the load compared with `sort -u` on the same file.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "monitor/TSeenList.h"

namespace {

using quelvo::TSeenList;
using Clock = std::chrono::steady_clock;

// 100 companies, NSUs walked downwards from high numbers, as real lists grow.
std::string Key(size_t i) {
    static const char* kCnpjs[] = {"12345678000195", "11222333000181", "45997418000153",
                                   "60746948000112", "33000167000101"};
    const size_t company = i % 100;
    std::string cnpj = kCnpjs[company % 5];
    cnpj[8] = static_cast<char>('0' + company / 10);
    cnpj[9] = static_cast<char>('0' + company % 10);
    return cnpj + std::to_string(100000 + (i / 100) * 7 + company);
}

struct Data {
    std::string file;
    std::unique_ptr<TSeenList> list;
    size_t textBytes = 0;
};

std::filesystem::path Folder() {
    static const auto dir = [] {
        auto d =
            std::filesystem::temp_directory_path() / ("quelvo-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

Data& DataFor(size_t n) {
    static std::map<size_t, Data> cache;
    auto& d = cache[n];
    if (d.list) {
        return d;
    }
    d.file = (Folder() / ("ConsultadosNums-" + std::to_string(n) + ".dat")).string();
    std::ofstream out(d.file, std::ios::binary);
    for (size_t i = 0; i < n; ++i) {
        const std::string k = Key(i);
        d.textBytes += k.size();
        out << k << "\r\n";
    }
    out.close();
    d.list = std::make_unique<TSeenList>();
    d.list->LoadFromFile(d.file);
    return d;
}

std::map<std::string, double> gResults;  // name -> nanoseconds per operation

double SortUSeconds(const std::string& file) {
    const std::string cmd = "sort -u '" + file + "' > /dev/null";
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        const auto t0 = Clock::now();
        if (std::system(cmd.c_str()) != 0) {
            return 0;
        }
        best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return best;
}

void BM_Load(benchmark::State& state) {
    const size_t n = static_cast<size_t>(state.range(0));
    Data& d = DataFor(n);
    double total = 0;
    size_t runs = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        TSeenList list;
        list.LoadFromFile(d.file);
        benchmark::DoNotOptimize(list.Count());
        total += std::chrono::duration<double>(Clock::now() - t0).count();
        ++runs;
    }
    const double load = total / static_cast<double>(runs);
    const double sortU = SortUSeconds(d.file);
    state.counters["load_ms"] = load * 1e3;
    state.counters["sort_u_ms"] = sortU * 1e3;
    state.counters["load_over_sort_u"] = sortU > 0 ? load / sortU : 0;
    gResults["load_over_sort_u/" + std::to_string(n)] = sortU > 0 ? load / sortU : 0;
}

void BM_Save(benchmark::State& state) {
    Data& d = DataFor(static_cast<size_t>(state.range(0)));
    const std::string out = (Folder() / "save.dat").string();
    for (auto _ : state) {
        d.list->SaveToFile(out);
    }
}

template <bool Hit>
void BM_Lookup(benchmark::State& state) {
    const size_t n = static_cast<size_t>(state.range(0));
    Data& d = DataFor(n);
    std::mt19937 rng(42);
    std::vector<std::string> keys(4096);
    for (auto& k : keys) {
        const size_t i = rng() % n;
        k = Hit ? Key(i) : Key(i) + "9";
    }
    size_t i = 0;
    size_t found = 0;
    for (auto _ : state) {
        found += d.list->Contains(keys[i++ & 4095]);
    }
    if (found != (Hit ? static_cast<size_t>(state.iterations()) : 0)) {
        state.SkipWithError("wrong lookup result");
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_LookupHit(benchmark::State& state) {
    BM_Lookup<true>(state);
}
void BM_LookupMiss(benchmark::State& state) {
    BM_Lookup<false>(state);
}

void BM_Memory(benchmark::State& state) {
    const size_t n = static_cast<size_t>(state.range(0));
    Data& d = DataFor(n);
    size_t heap = 0;
    for (auto _ : state) {
        const size_t before = mallinfo2().uordblks;
        auto list = std::make_unique<TSeenList>();
        list->LoadFromFile(d.file);
        heap = mallinfo2().uordblks - before;
        benchmark::DoNotOptimize(list->Count());
    }
    state.counters["heap_bytes_per_entry"] = static_cast<double>(heap) / static_cast<double>(n);
    state.counters["text_bytes_per_entry"] =
        static_cast<double>(d.textBytes) / static_cast<double>(n);
    state.counters["overhead_per_entry"] =
        static_cast<double>(heap - d.textBytes) / static_cast<double>(n);
}

BENCHMARK(BM_Load)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Save)->Arg(10000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookupHit)->Arg(10000)->Arg(1000000);
BENCHMARK(BM_LookupMiss)->Arg(10000)->Arg(1000000);
BENCHMARK(BM_Memory)->Arg(10000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    std::filesystem::remove_all(Folder(), ec);
    return 0;
}
