// Google Benchmark timings of the whole generation against a parse of the same
// bytes with expat alone.
//
//   qm_bench [benchmark flags] FILE...
//
// Each FILE (a protocol description) gets three benchmarks: generate/NAME,
// expat_parse/NAME (empty element handlers) and expat_tokenize/NAME (no
// handlers). Without files, a realistic random description of about 1 MB is
// made in memory.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_common.hpp"
#include "describe.hpp"
#include "driver/driver.hpp"

namespace {

struct Input {
  std::string name;
  std::string text;
};

void generate(benchmark::State& state, const Input* input) {
  for (auto _ : state) {
    auto generated = qm::generate_from_text(input->text, "/bench/protocol.xml");
    if (!generated) {
      state.SkipWithError(generated.reason().c_str());
      return;
    }
    benchmark::DoNotOptimize(generated->text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input->text.size()));
}

void parse(benchmark::State& state, const Input* input, bool handlers) {
  for (auto _ : state) {
    if (!qm::bench::expat_parse_only(input->text, handlers)) {
      state.SkipWithError("not well-formed XML");
      return;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input->text.size()));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  std::vector<Input> inputs;
  inputs.reserve(static_cast<std::size_t>(argc));
  for (int i = 1; i < argc; ++i) {
    auto text = qm::bench::read_whole_file(argv[i]);
    if (!text) {
      std::fprintf(stderr, "qm_bench: cannot read %s\n", argv[i]);
      return 1;
    }
    std::string name = argv[i];
    if (const auto slash = name.rfind('/'); slash != std::string::npos) name.erase(0, slash + 1);
    inputs.push_back({name, std::move(*text)});
  }
  if (inputs.empty()) {
    qm::describe::Options options;
    options.start = 1;
    options.profile = qm::describe::Profile::Realistic;
    options.size = 1 << 20;
    inputs.push_back({"realistic-1MiB", qm::describe::random_description(options)});
  }
  for (const Input& input : inputs) {
    benchmark::RegisterBenchmark(("generate/" + input.name).c_str(), generate, &input)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("expat_parse/" + input.name).c_str(), parse, &input, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("expat_tokenize/" + input.name).c_str(), parse, &input, false)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
