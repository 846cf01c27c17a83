#pragma once
// Runs of `xvelm convert` inside the test process, with what they printed.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "../../tools/xvelm/convert_verb.hxx"

namespace convert_run {

struct ConvertRun {
    int status = -1;
    std::string out, err;
};

// A file's whole text (empty when it cannot be read).
inline std::string fileText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string streamText(FILE* f)
{
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;)
        text.push_back(static_cast<char>(c));
    return text;
}

inline ConvertRun runConvert(const std::string& in, const std::string& out, const char* heal = nullptr)
{
    std::unique_ptr<FILE, int (*)(FILE*)> o(std::tmpfile(), &std::fclose);
    std::unique_ptr<FILE, int (*)(FILE*)> e(std::tmpfile(), &std::fclose);
    ConvertRun run;
    run.status = xvelm::convert(in.c_str(), out.c_str(), heal, o.get(), e.get());
    run.out = streamText(o.get());
    run.err = streamText(e.get());
    return run;
}

// The line a failed run ends with (progress lines come before it).
inline std::string lastLine(const std::string& text)
{
    std::string t = text;
    while (!t.empty() && t.back() == '\n')
        t.pop_back();
    const auto at = t.find_last_of('\n');
    return at == std::string::npos ? t : t.substr(at + 1);
}

inline std::filesystem::path convertScratch()
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("convert_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return dir;
}

// The lines of the error stream that are the driver's own messages.
inline int driverMessages(const std::string& err)
{
    int n = 0;
    for (std::size_t at = 0; at < err.size();) {
        n += err.compare(at, 7, "xvelm: ") == 0;
        const std::size_t next = err.find('\n', at);
        at = next == std::string::npos ? err.size() : next + 1;
    }
    return n;
}

} // namespace convert_run
