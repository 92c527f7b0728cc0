// The report's output buffer: the report is collected in a buffer of 256 KiB
// and handed to the stream in writes of that size. After the first failed
// write the writer keeps the error and drops the rest.
#pragma once

#include <cstdio>
#include <string_view>
#include <vector>

namespace report {

struct writer {
    std::FILE* file = nullptr;
    std::vector<char> buffer = std::vector<char>(std::size_t{256} * 1024);
    std::size_t used = 0;
    int error = 0; // errno of the first failed write, 0 while none failed
};

// Binds the writer to a report stream that nothing has been written to yet.
void start_writer(writer& out, std::FILE* report);

// Appends `text` to the report.
void put(writer& out, std::string_view text);

// Hands what is left to the stream and closes it. Returns the errno of the
// first failed write or of the close, 0 when the report is complete.
int finish(writer& out);

} // namespace report
