// Feeds arbitrary bytes to the text writer as a demo, and checks that the
// text is bounded and reads back as the very same bytes; then feeds the
// same bytes to the text reader as a text, which must either read them or
// say where and why not.
#include "demo_text.h"
#include "fuzz_streams.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// A text may not grow beyond this many bytes per demo byte (plus the
// header's lines): an empty block's line, under 50 bytes with its comment
// for a 4-byte word, is the most.
constexpr std::size_t max_growth = 16;
constexpr std::size_t fixed_allowance = std::size_t{4} * 1024;

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_text: %s\n", what);
        std::abort();
    }
}

// What `write` makes of `input`: its status, and the bytes it wrote.
template <typename Write> int made_of(std::string_view input, std::string& output, Write write)
{
    std::FILE* in = fuzz_streams::open_input(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
    require(in != nullptr, "cannot open the input as a stream");
    std::FILE* out = fuzz_streams::open_collector(output);
    require(out != nullptr, "cannot open the output stream");
    return write(in, out);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view demo(reinterpret_cast<const char*>(data), size);
    std::string text;
    const int written =
        made_of(demo, text, [](std::FILE* in, std::FILE* out) { return demo_text::write_text(in, out); });
    require(written == 0, "write_text did not return 0");
    require(text.size() <= max_growth * size + fixed_allowance, "the text outgrew its bound");

    std::string back;
    report::outcome read;
    const int read_back =
        made_of(text, back, [&](std::FILE* in, std::FILE* out) { return demo_text::write_demo(in, out, "t", &read); });
    require(read_back == 0 && read.problem.empty(), "the text of a demo was not read back");
    require(back == demo, "the text did not give the demo's bytes back");

    std::string any;
    report::outcome as_text;
    const int status = made_of(
        demo, any, [&](std::FILE* in, std::FILE* out) { return demo_text::write_demo(in, out, "t", &as_text); });
    require((status == 0) == as_text.problem.empty(), "write_demo's status and its problem disagree");
    require(as_text.problem.empty() || as_text.problem.starts_with("t:"), "a problem does not say where");
    return 0;
}
