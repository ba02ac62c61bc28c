#include "app/platform/linux/KeyCombination.hpp"

#include <QKeySequence>

#include <array>
#include <stdexcept>
#include <utility>

namespace korvel {
namespace {

struct NamedKey
{
    int key;
    std::uint32_t keysym;
    const char* name;
};

// Keys with a keysym of their own besides letters, digits and function keys, which follow a rule.
constexpr std::array namedKeys {NamedKey {Qt::Key_Space, 0x20, "space"}, NamedKey {Qt::Key_Return, 0xff0d, "Return"},
    NamedKey {Qt::Key_Escape, 0xff1b, "Escape"}, NamedKey {Qt::Key_Tab, 0xff09, "Tab"},
    NamedKey {Qt::Key_Backspace, 0xff08, "BackSpace"}, NamedKey {Qt::Key_Insert, 0xff63, "Insert"},
    NamedKey {Qt::Key_Delete, 0xffff, "Delete"}, NamedKey {Qt::Key_Home, 0xff50, "Home"},
    NamedKey {Qt::Key_End, 0xff57, "End"}, NamedKey {Qt::Key_PageUp, 0xff55, "Prior"},
    NamedKey {Qt::Key_PageDown, 0xff56, "Next"}, NamedKey {Qt::Key_Left, 0xff51, "Left"},
    NamedKey {Qt::Key_Up, 0xff52, "Up"}, NamedKey {Qt::Key_Right, 0xff53, "Right"},
    NamedKey {Qt::Key_Down, 0xff54, "Down"}, NamedKey {Qt::Key_Print, 0xff61, "Print"},
    NamedKey {Qt::Key_Pause, 0xff13, "Pause"}, NamedKey {Qt::Key_Comma, 0x2c, "comma"},
    NamedKey {Qt::Key_Period, 0x2e, "period"}, NamedKey {Qt::Key_Slash, 0x2f, "slash"},
    NamedKey {Qt::Key_Semicolon, 0x3b, "semicolon"}, NamedKey {Qt::Key_Apostrophe, 0x27, "apostrophe"},
    NamedKey {Qt::Key_BracketLeft, 0x5b, "bracketleft"}, NamedKey {Qt::Key_BracketRight, 0x5d, "bracketright"},
    NamedKey {Qt::Key_Backslash, 0x5c, "backslash"}, NamedKey {Qt::Key_Minus, 0x2d, "minus"},
    NamedKey {Qt::Key_Equal, 0x3d, "equal"}, NamedKey {Qt::Key_QuoteLeft, 0x60, "grave"}};

// The keysym and its name; keysym 0 for a key we cannot name.
std::pair<std::uint32_t, std::string> keysymOf(int key)
{
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        const char letter = static_cast<char>('a' + (key - Qt::Key_A));
        return {static_cast<std::uint32_t>(letter), std::string(1, letter)};
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return {static_cast<std::uint32_t>(key), std::string(1, static_cast<char>(key))};
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return {0xffbeu + static_cast<std::uint32_t>(key - Qt::Key_F1), "F" + std::to_string(key - Qt::Key_F1 + 1)};
    for (const NamedKey& named : namedKeys)
        if (named.key == key)
            return {named.keysym, named.name};
    return {0, {}};
}

} // namespace

KeyCombination KeyCombination::parse(const std::string& text)
{
    const QKeySequence sequence = QKeySequence::fromString(QString::fromStdString(text), QKeySequence::PortableText);
    if (sequence.count() != 1 || sequence[0].key() == Qt::Key_unknown)
        throw std::invalid_argument("“" + text + "” is not a key combination.");
    const Qt::KeyboardModifiers modifiers = sequence[0].keyboardModifiers();
    const int key = sequence[0].key();
    KeyCombination combination;
    combination.text = text;
    std::tie(combination.keysym, combination.keyName) = keysymOf(key);
    if (combination.keysym == 0 ||
        (modifiers & ~(Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier)))
        throw std::invalid_argument("“" + text + "” cannot be a global shortcut: choose another key.");
    combination.control = modifiers.testFlag(Qt::ControlModifier);
    combination.alt = modifiers.testFlag(Qt::AltModifier);
    combination.shift = modifiers.testFlag(Qt::ShiftModifier);
    combination.meta = modifiers.testFlag(Qt::MetaModifier);
    const bool functionKey = key >= Qt::Key_F1 && key <= Qt::Key_F35;
    if (!functionKey && !combination.control && !combination.alt && !combination.meta)
        throw std::invalid_argument("“" + text + "” would take the key from every program: add Ctrl, Alt or Meta.");
    return combination;
}

std::string KeyCombination::portalTrigger() const
{
    std::string trigger;
    for (const auto& [on, name] :
        {std::pair {control, "CTRL+"}, std::pair {alt, "ALT+"}, std::pair {shift, "SHIFT+"}, std::pair {meta, "LOGO+"}})
        if (on)
            trigger += name;
    return trigger + keyName;
}

} // namespace korvel
