#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel::fuzz {

// A small mutation fuzzer for Korvel's parsers, without any dependency: each case is a seed input changed a few
// times (bits and bytes, cut, repeated and spliced pieces, the format's own tokens, repetitions that nest deep).
// The parser under test may reject a case with any std::exception; a crash or a sanitizer report ends the run.
// A target reports a wrong result (a value that does not survive its own round trip) by throwing Fault.
struct Fault
{
    std::string what;
};

struct Target
{
    std::vector<std::string> seeds;
    std::vector<std::string> tokens; // pieces of the format, inserted whole
    std::function<void(std::string_view input)> run;
};

//     driver [--cases N] [--seed S]
// Runs N cases (default 1000) from seed S (default 1), prints what it did, and answers the exit status: 0, or 1
// after the first fault, with the input written to fuzz-fault-<driver>.bin in the working folder. While it runs,
// fuzz-case-<driver>.bin holds the current case, so that a crash leaves its input behind.
int main(int argc, char** argv, const Target& target);

} // namespace korvel::fuzz
