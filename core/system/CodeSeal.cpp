#include "core/system/CodeSeal.hpp"

#include "core/support/AtomicFile.hpp"
#include "core/support/FileError.hpp"
#include "core/support/JsonText.hpp"
#include "core/support/JsonWriter.hpp"

#include <openssl/evp.h>

#include <atomic>
#include <cerrno>
#include <exception>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <thread>
#include <unistd.h>
#include <vector>

namespace korvel {
namespace {

constexpr int sealFormat = 1;

struct Walk
{
    CodeSeal::Entries entries;
    std::vector<std::pair<std::string, std::filesystem::path>> files; // relative path, full path
};

std::string hex(const unsigned char* bytes, unsigned size)
{
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xf];
    }
    return text;
}

// SHA-256 of a file's contents, streamed through one reusable buffer.
std::string sha256(const std::filesystem::path& file, std::vector<char>& buffer)
{
    const int fd = AtomicFile::openForReading(file, O_NOFOLLOW);
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        ::close(fd);
        throw std::runtime_error("SHA-256 is not available");
    }
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            FileError::throwRead(file, error);
        }
        if (n == 0)
            break;
        EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(n));
    }
    ::close(fd);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned size = 0;
    EVP_DigestFinal_ex(context.get(), digest, &size);
    return hex(digest, size);
}

Walk walk(const std::filesystem::path& bundle)
{
    Walk result;
    const std::string seal = CodeSeal::sealFile(bundle).string();
    const size_t prefix = bundle.string().size() + 1;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(bundle)) {
        const std::filesystem::file_status status = entry.symlink_status();
        const std::string& full = entry.path().native();
        if (full == seal)
            continue;
        const std::string relative = full.substr(prefix);
        if (std::filesystem::is_symlink(status))
            result.entries[relative] = "symlink:" + std::filesystem::read_symlink(entry.path()).string();
        else if (std::filesystem::is_regular_file(status))
            result.files.emplace_back(relative, entry.path());
        // Folders are sealed through what they hold; sockets and pipes have no content to seal.
    }
    return result;
}

// Two workers over the list: reading and hashing big bundles is the whole cost of signing.
std::vector<std::string> hashAll(const std::vector<std::pair<std::string, std::filesystem::path>>& files)
{
    std::vector<std::string> digests(files.size());
    std::atomic<size_t> next {0};
    std::atomic<bool> stop {false};
    std::exception_ptr errors[2];
    const auto work = [&](std::exception_ptr& error) {
        try {
            std::vector<char> buffer(1 << 18);
            for (size_t i = 0; !stop.load() && (i = next++) < files.size();)
                digests[i] = sha256(files[i].second, buffer);
        } catch (...) {
            error = std::current_exception();
            stop = true;
        }
    };
    std::thread helper;
    if (files.size() > 1)
        helper = std::thread(work, std::ref(errors[1]));
    work(errors[0]);
    if (helper.joinable())
        helper.join();
    for (const std::exception_ptr& error : errors) {
        if (error)
            std::rethrow_exception(error);
    }
    return digests;
}

nlohmann::json toJson(const CodeSeal::Entries& entries)
{
    nlohmann::json files = nlohmann::json::object();
    for (const auto& [path, value] : entries) {
        const size_t colon = value.find(':');
        files[path] = {{value.substr(0, colon), value.substr(colon + 1)}};
    }
    return {{"format", sealFormat}, {"files", files}};
}

std::optional<CodeSeal::Entries> fromJson(const std::string& text)
{
    const nlohmann::json seal = JsonText::parse(text);
    // The format number exactly: value() would throw for a string and round 1.5 down to a format we know.
    if (!seal.is_object() || !seal.contains("format") || !seal["format"].is_number_integer() ||
        seal["format"].get<int64_t>() != sealFormat || !seal.contains("files") || !seal["files"].is_object())
        return std::nullopt;
    CodeSeal::Entries entries;
    for (const auto& [path, entry] : seal["files"].items()) {
        if (!entry.is_object() || entry.size() != 1 || !entry.begin().value().is_string())
            return std::nullopt;
        entries[path] = entry.begin().key() + ":" + entry.begin().value().get<std::string>();
    }
    return entries;
}

// The first path, in sorted order, that is missing, added or different.
std::optional<std::string> firstDifference(const CodeSeal::Entries& sealed, const CodeSeal::Entries& actual)
{
    auto s = sealed.begin();
    auto a = actual.begin();
    while (s != sealed.end() || a != actual.end()) {
        if (a == actual.end() || (s != sealed.end() && s->first < a->first))
            return "file missing: " + s->first;
        if (s == sealed.end() || a->first < s->first)
            return "file added: " + a->first;
        if (s->second != a->second)
            return "file modified: " + s->first;
        ++s;
        ++a;
    }
    return std::nullopt;
}

std::string unrecognized(const std::filesystem::path& bundle)
{
    return bundle.string() + ": bundle format unrecognized, invalid, or unsuitable";
}

int usage()
{
    std::cerr << "usage: codesign --force --deep --sign - PATH\n"
                 "       codesign --verify --deep --strict PATH\n";
    return 2;
}

} // namespace

std::filesystem::path CodeSeal::sealFile(const std::filesystem::path& bundle)
{
    return bundle / "Contents" / "_CodeSignature" / "CodeResources";
}

CodeSeal::Entries CodeSeal::compute(const std::filesystem::path& bundle)
{
    Walk found = walk(bundle);
    const std::vector<std::string> digests = hashAll(found.files);
    for (size_t i = 0; i < digests.size(); ++i)
        found.entries[found.files[i].first] = "sha256:" + digests[i];
    return std::move(found.entries);
}

void CodeSeal::sign(const std::filesystem::path& bundle)
{
    if (!std::filesystem::is_directory(bundle / "Contents"))
        throw std::runtime_error(unrecognized(bundle));
    const Entries entries = compute(bundle);
    std::error_code error;
    std::filesystem::create_directories(sealFile(bundle).parent_path(), error);
    if (error)
        FileError::throwWrite(sealFile(bundle).parent_path(), error.value());
    JsonWriter::writeFile(toJson(entries), sealFile(bundle));
}

std::optional<std::string> CodeSeal::verify(const std::filesystem::path& bundle)
{
    if (!std::filesystem::is_directory(bundle / "Contents"))
        return unrecognized(bundle);
    std::string text;
    try {
        text = AtomicFile::read(sealFile(bundle));
    } catch (const FileError&) {
        return bundle.string() + ": code object is not signed at all";
    }
    const std::optional<Entries> sealed = fromJson(text);
    if (!sealed)
        return bundle.string() + ": the signature seal is damaged";
    if (const std::optional<std::string> difference = firstDifference(*sealed, compute(bundle)))
        return bundle.string() + ": a sealed resource is missing or invalid: " + *difference;
    return std::nullopt;
}

int CodeSeal::main(const std::vector<std::string>& arguments)
{
    using Arguments = std::vector<std::string>;
    if (arguments.size() != 5 && arguments.size() != 4)
        return usage();
    std::string path = arguments.back();
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const std::filesystem::path bundle = path;
    const Arguments options(arguments.begin(), arguments.end() - 1);
    if (options == Arguments {"--force", "--deep", "--sign", "-"}) {
        sign(bundle);
        return 0;
    }
    if (options == Arguments {"--verify", "--deep", "--strict"}) {
        if (const std::optional<std::string> failure = verify(bundle)) {
            std::cerr << *failure << "\n";
            return 1;
        }
        return 0;
    }
    return usage();
}

} // namespace korvel
