#include "tests/fuzz/Fuzzing.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <unistd.h>

namespace korvel::fuzz {
namespace {

class Mutator
{
public:
    Mutator(const Target& target, uint64_t seed)
        : m_target(target)
        , m_random(seed)
    { }

    std::string next()
    {
        std::string input = pick(m_target.seeds);
        const size_t rounds = 1 + below(8);
        for (size_t i = 0; i < rounds; ++i)
            mutate(input);
        return input;
    }

private:
    size_t below(size_t bound)
    {
        return bound == 0 ? 0 : std::uniform_int_distribution<size_t>(0, bound - 1)(m_random);
    }
    const std::string& pick(const std::vector<std::string>& list) { return list[below(list.size())]; }

    void mutate(std::string& input)
    {
        const size_t at = below(input.size() + 1);
        switch (below(9)) {
        case 0: // flip a bit
            if (!input.empty())
                input[at % input.size()] ^= static_cast<char>(1 << below(8));
            break;
        case 1: // an interesting byte
            if (!input.empty()) {
                static constexpr char bytes[] = {'\0', '\x7f', '\x80', '\xff', '\x0f', '\x10', '\xA1', '\xD1', '%'};
                input[at % input.size()] = bytes[below(sizeof bytes)];
            }
            break;
        case 2: // cut a piece out
            input.erase(at, below(input.size() - at + 1));
            break;
        case 3: // cut the end off
            input.resize(at);
            break;
        case 4: { // repeat a piece
            const std::string piece = input.substr(at, below(16) + 1);
            for (size_t i = below(4) + 1; i > 0; --i)
                input.insert(at, piece);
            break;
        }
        case 5: // a token of the format
            if (!m_target.tokens.empty())
                input.insert(at, pick(m_target.tokens));
            break;
        case 6: { // a token many times over: nesting, long runs
            if (m_target.tokens.empty())
                break;
            const std::string& token = pick(m_target.tokens);
            std::string run;
            for (size_t i = size_t {1} << below(15); i > 0; --i)
                run += token;
            input.insert(at, run);
            break;
        }
        case 7: { // splice in a piece of another seed
            const std::string& other = pick(m_target.seeds);
            const size_t from = below(other.size() + 1);
            input.insert(at, other.substr(from, below(other.size() - from + 1)));
            break;
        }
        default: // a random byte inserted
            input.insert(input.begin() + static_cast<std::ptrdiff_t>(at), static_cast<char>(below(256)));
        }
    }

    const Target& m_target;
    std::mt19937_64 m_random;
};

uint64_t option(int argc, char** argv, const char* name, uint64_t fallback)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], name) == 0)
            return std::strtoull(argv[i + 1], nullptr, 10);
    return fallback;
}

} // namespace

int main(int argc, char** argv, const Target& target)
{
    const uint64_t cases = option(argc, argv, "--cases", 1000), seed = option(argc, argv, "--seed", 1);
    const std::string name = std::strrchr(argv[0], '/') ? std::strrchr(argv[0], '/') + 1 : argv[0];
    Mutator mutator(target, seed);
    const std::string lastCase = "fuzz-case-" + name + ".bin";
    const int caseFile = ::open(lastCase.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    uint64_t rejected = 0;
    for (uint64_t i = 0; i < cases; ++i) {
        const std::string input = i < target.seeds.size() ? target.seeds[i] : mutator.next();
        // What a crash or a sanitizer report leaves behind: the case that caused it.
        ::pwrite(caseFile, input.data(), input.size(), 0);
        ::ftruncate(caseFile, static_cast<off_t>(input.size()));
        try {
            target.run(input);
        } catch (const Fault& fault) {
            std::ofstream("fuzz-fault-" + name + ".bin", std::ios::binary) << input;
            std::printf("%s: fault in case %llu (seed %llu): %s\n", name.c_str(), static_cast<unsigned long long>(i),
                static_cast<unsigned long long>(seed), fault.what.c_str());
            return 1;
        } catch (const std::exception&) {
            ++rejected;
        }
    }
    ::close(caseFile);
    std::remove(lastCase.c_str());
    std::printf("%s: %llu cases from seed %llu, %llu rejected, no fault\n", name.c_str(),
        static_cast<unsigned long long>(cases), static_cast<unsigned long long>(seed),
        static_cast<unsigned long long>(rejected));
    return 0;
}

} // namespace korvel::fuzz
