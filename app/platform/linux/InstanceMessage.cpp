#include "app/platform/linux/InstanceMessage.hpp"

#include "core/support/JsonText.hpp"
#include "core/support/JsonWriter.hpp"

#include <stdexcept>

namespace korvel::InstanceMessage {

std::string encode(const nlohmann::json& message)
{
    const std::string body = JsonWriter::format(message);
    if (body.size() > maximumSize)
        throw std::runtime_error("The message for the running Korvel is too large.");
    const auto size = static_cast<std::uint32_t>(body.size());
    std::string frame;
    frame.reserve(4 + body.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        frame += static_cast<char>((size >> shift) & 0xff);
    return frame + body;
}

std::optional<nlohmann::json> take(std::string& buffer)
{
    if (buffer.size() < 4)
        return std::nullopt;
    std::uint32_t size = 0;
    for (int i = 0; i < 4; ++i)
        size = (size << 8) | static_cast<unsigned char>(buffer[static_cast<size_t>(i)]);
    if (size > maximumSize)
        throw std::runtime_error("A message on the Korvel socket is too large.");
    if (buffer.size() < 4 + size)
        return std::nullopt;
    nlohmann::json message = JsonText::parse(std::string_view(buffer).substr(4, size));
    buffer.erase(0, 4 + size);
    if (!message.is_object() || !message.contains("type") || !message["type"].is_string())
        throw std::runtime_error("A message on the Korvel socket is not a request Korvel knows.");
    return message;
}

} // namespace korvel::InstanceMessage
