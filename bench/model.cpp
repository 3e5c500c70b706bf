// Decoding a quotas and a usage answer against simdjson's own parse of the same bytes (the copy
// into a padded buffer included), in interleaved pairs, at 1x, 10x and 100x the realistic data;
// the former reader beside it, against the same baseline. The answers have the spare capacity
// the client's buffers have (those of 1 MiB or more are parsed in place). The floor beside them:
// making the same records from ready values (a copy, and its release), without any JSON; and
// the parse with every tape word and string byte read back.
#include <benchmark/benchmark.h>

#include <simdjson.h>

#include <cstring>

#include "bench/pairs.h"
#include "bench/ratio.h"
#include "bench/reference_reader.h"
#include "model/wire.h"

using namespace tessel;

namespace {

const std::string& quotasAnswer(int scale) {
    static std::map<int, std::string> answers;
    std::string& text = answers[scale];
    if (text.empty()) {
        text = Wire::encode(QuotaEnvelope{bench::realisticSnapshot(scale).quotas});
        text.reserve(text.size() + Wire::padding);
    }
    return text;
}

const std::string& usageAnswer(int scale) {
    static std::map<int, std::string> answers;
    std::string& text = answers[scale];
    if (text.empty()) {
        text = Wire::encode(bench::realisticSnapshot(scale).usage.at("month"));
        text.reserve(text.size() + Wire::padding);
    }
    return text;
}

// The floor: simdjson's DOM parse, its parser kept from one call to the next.
auto domParse(const std::string& text) {
    return [&text] {
        static simdjson::dom::parser parser;
        const simdjson::padded_string padded(text);
        benchmark::DoNotOptimize(parser.parse(padded).error());
    };
}

// The floor of a reader of the tape: the same parse, then every tape word and string byte read
// back once.
auto parseAndRead(const std::string& text) {
    return [&text] {
        static simdjson::dom::parser parser;
        const simdjson::padded_string padded(text);
        simdjson::dom::element root;
        if (parser.parse(padded).get(root))
            return;
        const std::uint64_t* tape = parser.doc.tape.get();
        const std::uint8_t* strings = parser.doc.string_buf.get();
        constexpr std::uint64_t payload = 0x00FF'FFFF'FFFF'FFFF;
        std::uint64_t sum = 0;
        for (std::size_t i = 0, end = (tape[0] & payload) + 1; i < end; ++i) {
            const std::uint64_t word = tape[i];
            const char type = static_cast<char>(word >> 56);
            sum += word;
            if (type == 'l' || type == 'u' || type == 'd') {
                sum += tape[++i];
            } else if (type == '"') {
                const std::uint8_t* at = strings + (word & payload);
                std::uint32_t length;
                std::memcpy(&length, at, sizeof length);
                // A word at a time, as a reader copies them (the buffer has spare bytes).
                for (std::uint32_t k = 0; k < length; k += 8) {
                    std::uint64_t bytes;
                    std::memcpy(&bytes, at + sizeof length + k, sizeof bytes);
                    sum += bytes;
                }
            }
        }
        benchmark::DoNotOptimize(sum);
    };
}

template <class T> void decode(benchmark::State& state, const std::string& text) {
    bench::interleaved(state, domParse(text),
                       [&text] { benchmark::DoNotOptimize(Wire::decode<T>(text)); });
    state.counters["bytes"] = static_cast<double>(text.size());
}

template <class T> void recordsAlone(benchmark::State& state, const std::string& text) {
    const T records = Wire::decode<T>(text);
    bench::interleaved(state, domParse(text), [&records] {
        T copy = records;
        benchmark::DoNotOptimize(copy);
    });
}

template <class T> void formerDecode(benchmark::State& state, const std::string& text) {
    bench::interleaved(state, domParse(text),
                       [&text] { benchmark::DoNotOptimize(reference::decode<T>(text)); });
}

int scale(const benchmark::State& state) {
    return static_cast<int>(state.range(0));
}

void Decode_Quotas(benchmark::State& state) {
    decode<QuotaEnvelope>(state, quotasAnswer(scale(state)));
}
void Decode_Usage(benchmark::State& state) {
    decode<Usage>(state, usageAnswer(scale(state)));
}
void TapeRead_Quotas(benchmark::State& state) {
    bench::interleaved(state, domParse(quotasAnswer(scale(state))),
                       parseAndRead(quotasAnswer(scale(state))));
}
void TapeRead_Usage(benchmark::State& state) {
    bench::interleaved(state, domParse(usageAnswer(scale(state))),
                       parseAndRead(usageAnswer(scale(state))));
}
void RecordsAlone_Quotas(benchmark::State& state) {
    recordsAlone<QuotaEnvelope>(state, quotasAnswer(scale(state)));
}
void RecordsAlone_Usage(benchmark::State& state) {
    recordsAlone<Usage>(state, usageAnswer(scale(state)));
}
void FormerDecode_Quotas(benchmark::State& state) {
    formerDecode<QuotaEnvelope>(state, quotasAnswer(scale(state)));
}
void FormerDecode_Usage(benchmark::State& state) {
    formerDecode<Usage>(state, usageAnswer(scale(state)));
}

} // namespace

BENCHMARK(Decode_Quotas)->Arg(1)->Arg(10)->Arg(100)->Iterations(11);
BENCHMARK(Decode_Usage)->Arg(1)->Arg(10)->Arg(100)->Iterations(11);
BENCHMARK(TapeRead_Quotas)->Arg(1)->Arg(10)->Arg(100)->Iterations(11);
BENCHMARK(TapeRead_Usage)->Arg(1)->Arg(10)->Arg(100)->Iterations(11);
BENCHMARK(RecordsAlone_Quotas)->Arg(1)->Arg(10)->Arg(100)->Iterations(11);
BENCHMARK(RecordsAlone_Usage)->Arg(1)->Arg(10)->Arg(100)->Iterations(11);
BENCHMARK(FormerDecode_Quotas)->Arg(1)->Arg(10)->Arg(100)->Iterations(7);
BENCHMARK(FormerDecode_Usage)->Arg(1)->Arg(10)->Arg(100)->Iterations(7);

int main(int argc, char** argv) {
    return tessel::bench::runWithRatios(argc, argv);
}
