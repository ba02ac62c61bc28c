#include "core/support/Sha256.hpp"
#include "core/support/AtomicFile.hpp"
#include "core/support/FileError.hpp"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <array>
#include <memory>

namespace korvel::Sha256 {
namespace {

using Context = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

Context newContext()
{
    Context context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (context)
        EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr);
    return context;
}

std::string finish(EVP_MD_CTX* context)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest {};
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, digest.data(), &length);
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 0x0F];
    }
    return hex;
}

} // namespace

std::string hexOf(std::string_view bytes)
{
    Context context = newContext();
    EVP_DigestUpdate(context.get(), bytes.data(), bytes.size());
    return finish(context.get());
}

std::optional<std::string> hexOfFile(const std::filesystem::path& file) noexcept
{
    int fd = -1;
    try {
        fd = AtomicFile::openForReading(file);
    } catch (const FileError&) {
        return std::nullopt;
    }
    Context context = newContext();
    std::array<char, 1 << 16> buffer {};
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        EVP_DigestUpdate(context.get(), buffer.data(), static_cast<size_t>(n));
    }
    ::close(fd);
    return finish(context.get());
}

} // namespace korvel::Sha256
