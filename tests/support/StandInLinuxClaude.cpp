#include "tests/support/StandInLinuxClaude.hpp"

#include "tests/support/SolidBitmap.hpp"
#include "tests/support/StandInClaude.hpp"
#include "tests/support/TempDir.hpp"

#include <nlohmann/json.hpp>

#include <fstream>

namespace korvel::test {
namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& file, const std::string& bytes, fs::perms mode = fs::perms(0644))
{
    fs::create_directories(file.parent_path());
    const fs::path fresh = file.string() + ".new";
    std::ofstream(fresh, std::ios::binary) << bytes;
    fs::permissions(fresh, mode);
    fs::rename(fresh, file); // a new inode, as dpkg installs files
}

std::string readFile(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string littleEndian(std::uint32_t value)
{
    return {static_cast<char>(value & 0xff), static_cast<char>(value >> 8 & 0xff),
        static_cast<char>(value >> 16 & 0xff), static_cast<char>(value >> 24 & 0xff)};
}

void writeRecord(const fs::path& root, const std::string& version)
{
    const fs::path admin = StandInLinuxClaude::adminDir(root);
    writeFile(admin / "status",
        "Package: adduser\nStatus: install ok installed\nVersion: 3.134\n\n"
        "Package: claude-desktop\nStatus: install ok installed\nPriority: optional\nArchitecture: amd64\n"
        "Version: " +
            version + "\nDescription: Claude Desktop\n\n");
    const fs::path program = StandInLinuxClaude::program(root);
    const std::string target = fs::is_symlink(program) ? fs::canonical(program).string() + "\n" : "";
    writeFile(admin / "info/claude-desktop.list",
        "/.\n" + StandInLinuxClaude::installFolder(root).string() + "\n" + program.string() + "\n" + target);
}

void writeFiles(const fs::path& root, const std::string& version)
{
    const fs::path folder = StandInLinuxClaude::installFolder(root);
    writeFile(folder / "resources/app.asar",
        StandInLinuxClaude::asar({{"package.json", R"({"name": "claude-desktop", "version": ")" + version + "\"}"},
            {".vite/build/index.js", "// main"}}));
    writeFile(root / "usr/share/applications/claude-desktop.desktop",
        "[Desktop Entry]\nType=Application\nName=Claude\nExec=" + (root / "usr/bin/claude-desktop").string() +
            " %u\nIcon=claude-desktop\nMimeType=x-scheme-handler/claude;\n");
    writeFile(root / "usr/share/icons/hicolor/256x256/apps/claude-desktop.png",
        *solidBitmap(256, 256, 0xffd97757).encodePng());
    writeFile(
        root / "usr/share/icons/hicolor/32x32/apps/claude-desktop.png", *solidBitmap(32, 32, 0xff000000).encodePng());
    writeRecord(root, version);
}

} // namespace

fs::path StandInLinuxClaude::create(const fs::path& root, const std::string& version, const fs::path& program)
{
    const fs::path folder = installFolder(root);
    fs::create_directories(folder);
    if (program.empty()) {
        TempDir scratch;
        const fs::path bundle = StandInClaude::create(scratch.path());
        writeFile(StandInLinuxClaude::program(root), readFile(StandInClaude::executable(bundle)), fs::perms(0755));
    } else {
        fs::create_symlink(program, StandInLinuxClaude::program(root));
    }
    fs::create_directories(root / "usr/bin");
    fs::create_symlink(StandInLinuxClaude::program(root), root / "usr/bin/claude-desktop");
    writeFiles(root, version);
    return folder;
}

void StandInLinuxClaude::upgrade(const fs::path& root, const std::string& version)
{
    if (!fs::is_symlink(program(root)))
        writeFile(program(root), readFile(program(root)), fs::perms(0755));
    writeFiles(root, version);
}

std::string StandInLinuxClaude::asar(const std::map<std::string, std::string>& files)
{
    nlohmann::json index = nlohmann::json::object();
    std::string data;
    for (const auto& [path, bytes] : files) {
        nlohmann::json* node = &index;
        size_t start = 0;
        for (size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1)
            node = &(*node)["files"][path.substr(start, slash - start)];
        (*node)["files"][path.substr(start)] = {{"size", bytes.size()}, {"offset", std::to_string(data.size())}};
        data += bytes;
    }
    return asarWithIndex(index.dump(), data);
}

std::string StandInLinuxClaude::asarWithIndex(const std::string& indexText, const std::string& data)
{
    std::string text = indexText;
    const std::uint32_t padded = static_cast<std::uint32_t>((text.size() + 3) / 4 * 4);
    text.resize(padded, '\0');
    // A pickle with the index pickle's size, then the index pickle: payload size, text length, text.
    return littleEndian(4) + littleEndian(padded + 8) + littleEndian(padded + 4) +
        littleEndian(static_cast<std::uint32_t>(indexText.size())) + text + data;
}

} // namespace korvel::test
