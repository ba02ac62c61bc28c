#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace korvel::relay {

// What one client connection's byte streams pass through: complete messages are copied on unchanged, except that
// every xdg_toplevel.set_app_id names `appId`. It follows only the objects that lead to toplevels (the registry,
// xdg_wm_base, xdg_surface, xdg_toplevel) and reads the toplevels' configure events to know whether one of them
// is the compositor's active window. It also reads the tokens with which the client asks for a window to be activated
// (xdg_activation_v1.activate), for the log: which token reached the compositor tells whether one handed to Claude
// was used.
class ToplevelFilter
{
public:
    explicit ToplevelFilter(std::string appId);

    // Moves the complete messages at the front of `input` (client to compositor) to the end of `output`, leaving
    // an incomplete last message in `input`. Throws ProtocolError for a stream that cannot be followed; what was
    // moved before stays moved.
    void requests(std::string& input, std::string& output);
    // The same for compositor to client.
    void events(std::string& input, std::string& output);

    // Whether a toplevel of this connection was last configured as activated.
    bool activated() const { return !activeToplevels.empty(); }
    // The tokens of the activation requests passed since the last call, oldest first.
    std::vector<std::string> takeActivationTokens() { return std::exchange(activationTokens, {}); }

private:
    enum class Kind { Registry, WmBase, XdgSurface, Toplevel, Activation };

    void request(
        uint32_t objectId, uint16_t opcode, std::string_view arguments, std::string_view whole, std::string& output);
    void event(uint32_t objectId, uint16_t opcode, std::string_view arguments);
    void create(uint32_t id, Kind kind);
    void forget(uint32_t id);
    const Kind* kindOf(uint32_t id) const;

    std::string appId;
    std::unordered_map<uint32_t, Kind> objects;
    std::set<uint32_t> activeToplevels;
    std::vector<std::string> activationTokens;
};

} // namespace korvel::relay
