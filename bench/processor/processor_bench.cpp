// Round trip of one 640 x 640 x 3 float tensor (4,915,200 bytes) through an external processor
// that echoes it, over each transport. The counter "x_memcpy" is the time per round trip over
// the time of one memcpy of the same bytes.

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "inference/external_process.h"
#include "processor_harness.h"

namespace {

constexpr size_t kTensorBytes = 640 * 640 * 3 * sizeof(float);

std::vector<uint8_t> tensorBytes()
{
    std::vector<uint8_t> bytes(kTensorBytes);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i);
    return bytes;
}

double memcpyMicros()
{
    const std::vector<uint8_t> source = tensorBytes();
    std::vector<uint8_t> target(kTensorBytes);
    double best = 1e300;
    for (int i = 0; i < 20; ++i)
    {
        const auto start = std::chrono::steady_clock::now();
        memcpy(target.data(), source.data(), kTensorBytes);
        benchmark::DoNotOptimize(target.data());
        best = std::min(best, std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

void runRoundTrips(benchmark::State& state, vyai::ExternalProcess& process)
{
    const std::vector<uint8_t> request = tensorBytes();
    const double reference = memcpyMicros();
    double totalMicros = 0;
    for (auto _: state)
    {
        const auto start = std::chrono::steady_clock::now();
        if (process.sendMessage(request) != vyai::SendOutcome::sent)
        {
            state.SkipWithError("request not sent");
            break;
        }
        const vyai::ExternalProcessReply reply = process.waitForOutput(5000);
        if (!reply.ok || reply.length != kTensorBytes)
        {
            state.SkipWithError("no whole reply");
            break;
        }
        benchmark::DoNotOptimize(reply.data[kTensorBytes - 1]);
        process.finishResponse();
        totalMicros += std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    }
    const double roundTrip = state.iterations() ? totalMicros / static_cast<double>(state.iterations()) : 0;
    state.counters["round_trip_us"] = roundTrip;
    state.counters["memcpy_us"] = reference;
    state.counters["x_memcpy"] = roundTrip / reference;
}

void BM_Memcpy(benchmark::State& state)
{
    const std::vector<uint8_t> source = tensorBytes();
    std::vector<uint8_t> target(kTensorBytes);
    for (auto _: state)
    {
        memcpy(target.data(), source.data(), kTensorBytes);
        benchmark::DoNotOptimize(target.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTensorBytes));
}

void BM_SharedMemoryRoundTrip(benchmark::State& state)
{
    auto process = vyai::makeExternalProcess(VY_PROCESSOR, "", {"--mode", "echo"}, QProcessEnvironment());
    if (!process)
    {
        state.SkipWithError("vyprocessor did not start");
        return;
    }
    runRoundTrips(state, *process);
}

void BM_TcpRoundTrip(benchmark::State& state)
{
    vyai::test::ProcessorChild child({"--listen", "0", "--mode", "echo"}, {});
    auto process = vyai::makeExternalProcessTcp(child.announcedPort());
    runRoundTrips(state, *process);
}

} // namespace

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SharedMemoryRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_TcpRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

BENCHMARK_MAIN();
