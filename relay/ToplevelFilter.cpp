#include "relay/ToplevelFilter.hpp"

#include "relay/WireMessage.hpp"

namespace korvel::relay {

namespace {

constexpr uint32_t displayId = 1;

// Opcodes of the core protocol and xdg-shell that the filter follows.
namespace Display {
constexpr uint16_t getRegistry = 1; // request
constexpr uint16_t deleteId = 1; // event
} // namespace Display
namespace Registry {
constexpr uint16_t bind = 0;
}
namespace WmBase {
constexpr uint16_t destroy = 0;
constexpr uint16_t getXdgSurface = 2;
} // namespace WmBase
namespace XdgSurface {
constexpr uint16_t destroy = 0;
constexpr uint16_t getToplevel = 1;
} // namespace XdgSurface
namespace Toplevel {
constexpr uint16_t destroy = 0;
constexpr uint16_t setAppId = 3;
constexpr uint16_t configure = 0; // event
constexpr uint32_t activatedState = 4;
} // namespace Toplevel
namespace Activation {
constexpr uint16_t destroy = 0;
constexpr uint16_t activate = 2;
} // namespace Activation

// Moves every complete message of `input` through `handle`, which answers the bytes to pass on.
template<typename Handle>
void pass(std::string& input, std::string& output, Handle handle)
{
    size_t offset = 0;
    try {
        while (const auto message = WireMessage::header(std::string_view(input).substr(offset))) {
            if (input.size() - offset < message->size)
                break;
            const std::string_view whole = std::string_view(input).substr(offset, message->size);
            handle(*message, whole.substr(WireMessage::headerSize), whole, output);
            offset += message->size;
        }
    } catch (...) {
        input.erase(0, offset);
        throw;
    }
    input.erase(0, offset);
}

} // namespace

ToplevelFilter::ToplevelFilter(std::string appId)
    : appId(std::move(appId))
{ }

void ToplevelFilter::requests(std::string& input, std::string& output)
{
    pass(input, output,
        [this](const WireMessage& message, std::string_view arguments, std::string_view whole, std::string& out) {
            request(message.objectId, message.opcode, arguments, whole, out);
        });
}

void ToplevelFilter::events(std::string& input, std::string& output)
{
    pass(input, output,
        [this](const WireMessage& message, std::string_view arguments, std::string_view whole, std::string& out) {
            event(message.objectId, message.opcode, arguments);
            out += whole;
        });
}

void ToplevelFilter::request(
    uint32_t objectId, uint16_t opcode, std::string_view arguments, std::string_view whole, std::string& output)
{
    WireReader reader(arguments);
    if (objectId == displayId && opcode == Display::getRegistry) {
        create(reader.word(), Kind::Registry);
        output += whole;
        return;
    }
    const Kind* kind = kindOf(objectId);
    if (!kind) {
        output += whole;
        return;
    }
    switch (*kind) {
    case Kind::Registry:
        if (opcode == Registry::bind) {
            reader.word(); // the global's name
            const auto interface = reader.string();
            reader.word(); // version
            const uint32_t id = reader.word();
            if (interface == "xdg_wm_base")
                create(id, Kind::WmBase);
            else if (interface == "xdg_activation_v1")
                create(id, Kind::Activation);
            else
                forget(id);
        }
        break;
    case Kind::WmBase:
        if (opcode == WmBase::getXdgSurface)
            create(reader.word(), Kind::XdgSurface);
        else if (opcode == WmBase::destroy)
            forget(objectId);
        break;
    case Kind::XdgSurface:
        if (opcode == XdgSurface::getToplevel)
            create(reader.word(), Kind::Toplevel);
        else if (opcode == XdgSurface::destroy)
            forget(objectId);
        break;
    case Kind::Toplevel:
        if (opcode == Toplevel::setAppId) {
            reader.string(); // only checked: the profile's id replaces it
            std::string replaced;
            WireWriter::string(replaced, appId);
            output += WireMessage::encode(objectId, opcode, replaced);
            return;
        }
        if (opcode == Toplevel::destroy)
            forget(objectId);
        break;
    case Kind::Activation:
        if (opcode == Activation::activate) {
            if (const auto token = reader.string())
                activationTokens.emplace_back(*token);
        } else if (opcode == Activation::destroy) {
            forget(objectId);
        }
        break;
    }
    output += whole;
}

void ToplevelFilter::event(uint32_t objectId, uint16_t opcode, std::string_view arguments)
{
    WireReader reader(arguments);
    if (objectId == displayId && opcode == Display::deleteId) {
        forget(reader.word());
        return;
    }
    const Kind* kind = kindOf(objectId);
    if (!kind || *kind != Kind::Toplevel || opcode != Toplevel::configure)
        return;
    reader.word(); // width
    reader.word(); // height
    const std::string_view states = reader.array();
    if (states.size() % 4 != 0)
        throw ProtocolError("toplevel state array of " + std::to_string(states.size()) + " bytes");
    bool active = false;
    for (size_t offset = 0; offset < states.size(); offset += 4)
        active = active || WireReader(states.substr(offset, 4)).word() == Toplevel::activatedState;
    if (active)
        activeToplevels.insert(objectId);
    else
        activeToplevels.erase(objectId);
}

void ToplevelFilter::create(uint32_t id, Kind kind)
{
    forget(id);
    objects[id] = kind;
}

void ToplevelFilter::forget(uint32_t id)
{
    objects.erase(id);
    activeToplevels.erase(id);
}

const ToplevelFilter::Kind* ToplevelFilter::kindOf(uint32_t id) const
{
    const auto found = objects.find(id);
    return found == objects.end() ? nullptr : &found->second;
}

} // namespace korvel::relay
